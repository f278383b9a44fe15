#pragma once
// Sequential reader of an archive file, shared by the payload's pre-flight, its extraction and the
// benchmark's reference path, so that they read alike.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/fs.h"

// Small reads (headers, small entries) come out of a 64 KiB buffer. Entry data is taken with
// ReadSome: what the buffer still holds first, then straight into the caller's memory, so that a
// large entry is not copied twice.
class ArchiveReader {
public:
    // Others may read and write the archive meanwhile, as with any plain stream.
    bool Open(const std::wstring& path);

    // All `count` bytes or false (a short read at the end of the file is a failure).
    bool ReadExact(void* out, size_t count);

    // Between 1 and `count` bytes (count > 0) into `out`, `got` telling how many: the buffered bytes
    // when there are any, else one read of the file. False at the end of the file or on an error.
    bool ReadSome(void* out, size_t count, size_t& got);

    // Moves forward without reading; false when that would pass the end of the file.
    bool Skip(uint64_t count);

    uint64_t position() const { return position_; }
    uint64_t size() const { return size_; }

private:
    static constexpr size_t kBufferSize = 65536;
    platform::File file_;
    std::unique_ptr<char[]> buffer_{new char[kBufferSize]};
    size_t begin_ = 0;
    size_t end_ = 0;
    uint64_t position_ = 0;
    uint64_t size_ = 0;
};
