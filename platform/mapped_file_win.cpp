// Mapped files on Windows: CreateFileMappingW over the whole file and one view of it. The file
// is opened with read and write sharing, as a running game may hold it. The file and mapping
// handles are closed once the view exists: the view keeps the section alive, and while it is open
// the system refuses to truncate, replace or delete the file.
#include <windows.h>

#include <cstdint>

#include "platform/file_state_win.h"
#include "platform/mapped_file.h"
#include "platform/win_handle.h"

namespace platform {

void MappedFile::Close() {
    if (data_ != nullptr) ::UnmapViewOfFile(data_);
    data_ = nullptr;
    size_ = 0;
}

bool MappedFile::Open(const std::wstring& path) {
    Close();
    UniqueFile file(::CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) return false;
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(file.get(), &length) || length.QuadPart < 0) return false;
    uint64_t bytes = static_cast<uint64_t>(length.QuadPart);
    if (bytes == 0) return true;  // CreateFileMappingW refuses an empty file
    if (bytes > SIZE_MAX) return false;
    // Size 0 maps the file as it is now; asking for more would make the system grow it.
    UniqueHandle section(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!section) return false;
    void* view = ::MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) return false;
    data_ = static_cast<const uint8_t*>(view);
    size_ = bytes;
    return true;
}

}  // namespace platform
