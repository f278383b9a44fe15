#include "install/archive_reader.h"

#include <cstring>

bool ArchiveReader::Open(const std::wstring& path) {
    return file_.OpenRead(path, platform::Share::All) && file_.GetSize(size_);
}

bool ArchiveReader::ReadExact(void* out, size_t count) {
    char* to = static_cast<char*>(out);
    while (count > 0) {
        size_t got = 0;
        if (!ReadSome(to, count, got)) return false;
        to += got;
        count -= got;
    }
    return true;
}

bool ArchiveReader::ReadSome(void* out, size_t count, size_t& got) {
    got = 0;
    if (begin_ == end_) {
        // A read of a quarter buffer or more goes straight to the caller; a smaller one refills the
        // buffer, so that a run of small fields costs one system call.
        if (count >= kBufferSize / 4) {
            if (!file_.Read(out, count, got) || got == 0) return false;
            position_ += got;
            return true;
        }
        size_t filled = 0;
        if (!file_.Read(buffer_.get(), kBufferSize, filled) || filled == 0) return false;
        begin_ = 0;
        end_ = filled;
    }
    got = count < end_ - begin_ ? count : end_ - begin_;
    std::memcpy(out, buffer_.get() + begin_, got);
    begin_ += got;
    position_ += got;
    return true;
}

bool ArchiveReader::Skip(uint64_t count) {
    if (count > size_ - position_) return false;
    uint64_t buffered = end_ - begin_;
    if (count <= buffered) {
        begin_ += static_cast<size_t>(count);
    } else {
        begin_ = end_ = 0;
        if (!file_.Skip(count - buffered)) return false;
    }
    position_ += count;
    return true;
}
