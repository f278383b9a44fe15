#pragma once
// A bounded hand-over of byte blocks from one thread to another, for the stages of an entry's
// extraction (reading the archive, decoding, hashing and writing the made file) that run side by
// side. The blocks are allocated once and go round: the producer takes a free one, fills it and
// sends it; the consumer receives it, uses it and releases it. Memory is the pool, whatever the
// entry's size, and a fast stage waits for a slow one instead of running ahead of it.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct Block {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;  // bytes used
};

class BlockChannel {
public:
    // Called, on the thread that waits, about every kWaitSliceMs while it waits: the installer's
    // thread keeps its window answering while a slow disk holds the other stage back.
    using WhileWaiting = std::function<void()>;
    static constexpr int kWaitSliceMs = 50;

    // False when the pool cannot be allocated.
    bool Allocate(size_t blockCount, size_t blockSize);
    bool allocated() const { return !pool_.empty(); }
    // Every block free again and the channel open, for the next entry. Only while no other thread
    // uses the channel.
    void Reset();
    size_t blockSize() const { return blockSize_; }

    // Producer: a free block (size 0), or null once the channel is stopped.
    Block* TakeFree(const WhileWaiting& whileWaiting = nullptr);
    void Send(Block* block);
    // No more blocks will be sent: the consumer receives what is queued, then null.
    void Finish();

    // Consumer: the next block sent, or null at the end (after Finish) or once the channel is stopped.
    Block* Receive(const WhileWaiting& whileWaiting = nullptr);
    void Release(Block* block);

    // Either side gives up: every wait ends and returns null from now on.
    void Stop();
    bool stopped();

private:
    Block* WaitFor(std::deque<Block*>& queue, bool endOnFinish, const WhileWaiting& whileWaiting);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Block> pool_;
    std::deque<Block*> free_;
    std::deque<Block*> sent_;
    size_t blockSize_ = 0;
    bool finished_ = false;
    bool stopped_ = false;
};
