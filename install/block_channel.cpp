#include "install/block_channel.h"

#include <chrono>
#include <new>

bool BlockChannel::Allocate(size_t blockCount, size_t blockSize) {
    pool_.resize(blockCount);
    for (Block& block : pool_) {
        block.bytes.reset(new (std::nothrow) uint8_t[blockSize]);
        if (!block.bytes) {
            pool_.clear();
            free_.clear();
            return false;
        }
        free_.push_back(&block);
    }
    blockSize_ = blockSize;
    return true;
}

void BlockChannel::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.clear();
    sent_.clear();
    for (Block& block : pool_) free_.push_back(&block);
    finished_ = false;
    stopped_ = false;
}

Block* BlockChannel::WaitFor(std::deque<Block*>& queue, bool endOnFinish, const WhileWaiting& whileWaiting) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (stopped_) return nullptr;
        if (!queue.empty()) {
            Block* block = queue.front();
            queue.pop_front();
            return block;
        }
        if (endOnFinish && finished_) return nullptr;
        if (!whileWaiting) {
            changed_.wait(lock);
        } else if (changed_.wait_for(lock, std::chrono::milliseconds(kWaitSliceMs)) == std::cv_status::timeout) {
            // Called unlocked: it may take its time (a window repainting) without holding the other side.
            lock.unlock();
            whileWaiting();
            lock.lock();
        }
    }
}

Block* BlockChannel::TakeFree(const WhileWaiting& whileWaiting) {
    Block* block = WaitFor(free_, false, whileWaiting);
    if (block) block->size = 0;
    return block;
}

void BlockChannel::Send(Block* block) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sent_.push_back(block);
    }
    changed_.notify_all();
}

void BlockChannel::Finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
    }
    changed_.notify_all();
}

Block* BlockChannel::Receive(const WhileWaiting& whileWaiting) {
    return WaitFor(sent_, true, whileWaiting);
}

void BlockChannel::Release(Block* block) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(block);
    }
    changed_.notify_all();
}

void BlockChannel::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

bool BlockChannel::stopped() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopped_;
}
