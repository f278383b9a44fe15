#pragma once
// File system access for the portable modules. The Windows build calls the Win32 file API with
// UTF-16 paths; the POSIX build converts paths to UTF-8 and calls the C library.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

enum class PathKind { Missing, File, Directory };

// What GetFileAttributesW tells about a path: missing (or unreadable), a directory, or anything else.
PathKind GetPathKind(const std::wstring& path);

enum class MakeDirResult { Created, AlreadyExists, Failed };

// One CreateDirectoryW; "already exists" is also what a plain file in the way gives.
MakeDirResult MakeDirectory(const std::wstring& path);

bool DeletePath(const std::wstring& path);

// Puts `from` in place of `to` (replacing it) in one step: a reader sees the old file or the new one,
// never a mix. Both must be on one volume. The rename is not forced to the disk (see fs_posix.cpp).
bool ReplacePath(const std::wstring& from, const std::wstring& to);

// True when the path, with `extra` more ASCII characters after it, is longer than any path the
// system can open (POSIX: PATH_MAX bytes of UTF-8; Windows: 32767 UTF-16 units), so no file or
// directory of that name can exist or be made.
bool IsPathTooLong(const std::wstring& path, size_t extra = 0);

// What CanReplaceFile learned of an existing target, so that the write need not ask again.
struct FileFacts {
    uint64_t device = 0;  // the volume and the file on it (POSIX st_dev and st_ino)
    uint64_t identity = 0;
    uint32_t mode = 0;  // POSIX permission bits, set-id and sticky bits included
    uint32_t owner = 0;
    uint32_t group = 0;
    bool swappable = false;  // a plain file (not a link) that FolderTree::SwapFiles could exchange
    // Files made in its folder get the mode asked for less the umask (no default access list).
    // Found by CanReplaceFile when it checks the folder; with `folderChecked` the caller sets it.
    bool plainFolder = false;
    // On a file system held in memory only, where there is nothing to flush (see StartFlush).
    bool inMemory = false;
};

// True when a file may be written at `path`: nothing is there yet, not even the folder above it
// (`exists` false), or a plain file
// that is neither read-only nor held by another program so that it cannot be written, renamed or
// deleted (`exists` true). False for a link or other reparse point (never written through nor replaced), a directory, a
// read-only or locked file (on Windows also one held open without delete sharing, as a running game holds its data),
// and a name the file system refuses. Natively the folder holding the file must be writable too, since it is renamed; a
// caller that found so for an earlier file of the same folder passes `folderChecked`. `facts`
// (may be null) receives what is known of an existing file; Windows leaves it as it is.
bool CanReplaceFile(const std::wstring& path, bool& exists, bool folderChecked = false, FileFacts* facts = nullptr);

// True when files in `folder` can exchange names in one step (FolderTree::SwapFiles), with `device` the
// folder's volume and `inMemory` whether it lives in memory only: Linux file systems known to do
// so. Always false on Windows, which has no such call; there FolderTree::ReplaceKeepingBackup is the one way.
bool FolderCanSwap(const std::wstring& folder, uint64_t& device, bool& inMemory);

// True when the path itself is a symbolic link, a junction or another reparse point; the link is
// not followed. False when it is missing or anything else.
bool IsLink(const std::wstring& path);

// True when something stands at `path` (a dangling link included).
bool PathExists(const std::wstring& path);

// Removes an empty directory; false when it is not empty or cannot be removed.
bool RemoveEmptyDirectory(const std::wstring& path);

// Bytes the current user may still write on the volume that holds `path`.
bool GetFreeBytes(const std::wstring& path, uint64_t& bytes);

// Whether the file system compares names without regard to letter case (Windows) or exactly.
bool NamesIgnoreCase();

// Test seam for the faults that only show while writing. After `writesBefore` more successful
// File::Write calls, the next ones fail: WriteError fails one call, DiskFull every later call until
// the seam is cleared with WriteFault::None, Kill ends the process at once (exit code 86) as a
// crash or a kill from outside would, with nothing undone.
enum class WriteFault { None, WriteError, DiskFull, Kill };
void InjectWriteFault(WriteFault fault, uint64_t writesBefore);
// File::Write calls made since the program started; a test sizes its fault table with it.
uint64_t CountedWrites();

// The full path of the running executable, as long as the platform reports it; empty on failure.
std::wstring ExecutablePath();

enum class Share {
    ReadOnly,  // others may read while we read; a file open for writing elsewhere cannot be opened
    All,       // others may read, write and delete meanwhile
};

// Owner of one open file; closed by the destructor unless Close() was called.
class File {
public:
    File();
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    // Opens a regular file on a disk, never blocking on the way: anything else (a FIFO, a device,
    // a directory) fails.
    bool OpenRead(const std::wstring& path, Share share);
    // Creates the file or truncates it.
    bool OpenWrite(const std::wstring& path);
    // Creates the file only if no file of that name exists.
    bool CreateNew(const std::wstring& path);
    // Creates the file only if nothing of that name exists, with the permissions of an ordinary new
    // file (CreateNew's are private to the user, for temporary files).
    bool CreateExclusive(const std::wstring& path);
    // Creates a new file with an unused name in the directory of `target`, to be filled and then
    // put in place of the target with ReplacePath (same directory, so the same volume). The file
    // gets the permissions of an ordinary new file; `tempPath` receives its name.
    bool CreateReplacementFor(const std::wstring& target, std::wstring& tempPath);

    bool IsOpen() const;
    // Reads up to `size` bytes; `got` < `size` only at the end of the file. False on a read error.
    bool Read(void* buffer, size_t size, size_t& got);
    // Writes all bytes or fails.
    bool Write(const void* data, size_t size);
    // Moves the read position forward by `distance` bytes from where it stands.
    bool Skip(uint64_t distance);
    bool GetSize(uint64_t& size);
    // Forces written data to the disk.
    bool Flush();
    // Forces the data (and the size), not every time stamp, to the disk: fdatasync natively.
    bool FlushData();
    // Starts writing the data to the disk without waiting for it, as ext4 does by itself for a
    // file renamed over another: done before the file takes another's place by an exchange, which
    // file systems do not treat so, so that a power cut soon after finds data, not an empty file.
    bool StartFlush();
    // Closes the handle and reports whether the system accepted the close.
    bool Close();

    struct State;

private:
    friend struct FileAccess;  // the platform layer's FolderTree hands a File what it opened
    std::unique_ptr<State> state_;
};

struct DirEntry {
    std::wstring name;
    bool isDirectory = false;
    // A regular file (through a link, what the link leads to); false for a FIFO, a device, a
    // socket or a dangling link, which our readers must not open.
    bool isFile = false;
    // A directory link (reparse point, symbolic link): listed, never followed by our searches.
    bool isLink = false;
};

// Enumerates one directory in the order the file system delivers, "." and ".." included on
// Windows (callers skip them).
class DirectoryReader {
public:
    DirectoryReader();
    ~DirectoryReader();
    DirectoryReader(const DirectoryReader&) = delete;
    DirectoryReader& operator=(const DirectoryReader&) = delete;
    DirectoryReader(DirectoryReader&& other) noexcept;
    DirectoryReader& operator=(DirectoryReader&& other) noexcept;

    bool Open(const std::wstring& directory);
    // False when there are no more entries (or reading failed).
    bool Next(DirEntry& entry);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
