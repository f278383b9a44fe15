#pragma once
// A whole file mapped read-only. The pages belong to the system's file cache, shared with every
// other reader and dropped under memory pressure, so mapping a large old file does not count as the
// installer's private memory the way reading it into a buffer would.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;

    // Maps the regular file at `path` for reading, releasing any earlier mapping first. False (and
    // nothing mapped) when it cannot be opened or mapped. An empty file succeeds with data() null
    // and size() 0: neither system maps zero bytes. The file must not shrink while it is mapped
    // (reading a page past its new end faults); the installer holds the game's files for the run.
    // Close it before replacing or deleting the file: Windows refuses both while a view is open.
    bool Open(const std::wstring& path);
    void Close();

    const uint8_t* data() const { return data_; }
    uint64_t size() const { return size_; }

private:
    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
};

}  // namespace platform
