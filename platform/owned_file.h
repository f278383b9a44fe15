#pragma once
// Files the installer keeps in places others may write to (the temporary folder, a publisher's key
// folder): opened only when they are plainly ours, created only under a name nothing holds yet.
// The installer runs elevated, so a link planted where such a file goes would let another program
// choose which file it writes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Owner of one such file; closed by the destructor unless Close() was called.
class OwnedFile {
public:
    OwnedFile();
    ~OwnedFile();
    OwnedFile(const OwnedFile&) = delete;
    OwnedFile& operator=(const OwnedFile&) = delete;
    OwnedFile(OwnedFile&& other) noexcept;
    OwnedFile& operator=(OwnedFile&& other) noexcept;

    // Opens `path` for reading and rewriting through one handle, creating an ordinary new file when
    // nothing stands there; nothing is truncated. A link at the last segment of the path is never
    // followed (natively O_NOFOLLOW; Windows opens the reparse point itself). Refused, with the file
    // unchanged and nothing left open, when what stands there is a link or reparse point, not a
    // regular file on a disk, a file with other hard links, or a file whose owner is another user
    // (Windows: neither the token's user nor the default owner it gives new files).
    bool OpenForUpdate(const std::wstring& path);
    // Creates a new file only when nothing, not even a dangling link, has that name. `ownerOnly`:
    // readable and writable by the current user alone (natively mode 0600; Windows a protected
    // access list that grants the current user alone), for secrets; else an ordinary new file's
    // permissions.
    bool CreateNew(const std::wstring& path, bool ownerOnly);

    bool IsOpen() const;
    // Reads up to `size` bytes; `got` < `size` only at the end of the file. False on a read error.
    bool Read(void* buffer, size_t size, size_t& got);
    // Moves the position forward by `distance` bytes from where it stands.
    bool Skip(uint64_t distance);
    bool GetSize(uint64_t& size);
    // Empties the file; the next write goes to its start.
    bool Truncate();
    // Writes all bytes at the position or fails. Counted by the write fault seam, as File::Write is.
    bool Write(const void* data, size_t size);
    // Forces written data to the disk.
    bool Flush();
    // Closes the handle and reports whether the system accepted the close.
    bool Close();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Gives the file at `from` the name `to` in one step, only when nothing (a dangling link included)
// has that name: an existing file is never replaced, however late it appeared. Both in one folder.
// False with both names as they were.
bool RenameNoReplace(const std::wstring& from, const std::wstring& to);

}  // namespace platform
