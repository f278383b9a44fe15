// POSIX file system layer. Paths arrive in the Windows form the rest of the system builds ("\" as
// separator), so both separators are turned into "/" before they reach the C library.
#include "platform/fs.h"
#include "platform/owner_state.h"
#include "platform/path_split.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/file_state_posix.h"
#include "platform/fs_fault.h"
#include "platform/posix_path.h"
#include "platform/text.h"

namespace platform {
namespace {

int OpenFd(const std::wstring& path, int flags, mode_t mode = 0644) {
    int fd;
    do {
        fd = ::open(NativePath(path).c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A default access list decides a new file's mode instead of the umask.
bool HasNoDefaultAcl(const char* folder) {
    return ::getxattr(folder, "system.posix_acl_default", nullptr, 0) < 0 && (errno == ENODATA || errno == ENOTSUP);
}

}  // namespace

PathKind GetPathKind(const std::wstring& path) {
    struct stat st;
    if (::stat(NativePath(path).c_str(), &st) != 0) return PathKind::Missing;
    return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::File;
}

MakeDirResult MakeDirectory(const std::wstring& path) {
    if (::mkdir(NativePath(path).c_str(), 0755) == 0) return MakeDirResult::Created;
    return errno == EEXIST ? MakeDirResult::AlreadyExists : MakeDirResult::Failed;
}

bool DeletePath(const std::wstring& path) {
    return ::unlink(NativePath(path).c_str()) == 0;
}

// No fsync of the file or of the directory: the installer, like tar, leaves durability to the
// file system. Measured on 20,000 small files a sync per file made extraction many times slower
// (see bench/run-bench.sh), and on ext4 a rename over an existing file already flushes its data
// first (auto_da_alloc), which is the case that protects the game's own files.
bool ReplacePath(const std::wstring& from, const std::wstring& to) {
    return ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

bool IsPathTooLong(const std::wstring& path, size_t extra) {
    // Every code point takes at least one byte: only a long text needs converting.
    if (path.size() + extra < PATH_MAX / 4) return false;
    return NativePath(path).size() + extra >= PATH_MAX;
}

bool CanReplaceFile(const std::wstring& path, bool& exists, bool folderChecked, FileFacts* facts) {
    const std::string native = NativePath(path);
    struct stat st;
    exists = false;
    if (::lstat(native.c_str(), &st) != 0) return errno == ENOENT;
    exists = true;
    // A link at the name is neither written through nor replaced: nothing acts on a link.
    if (S_ISLNK(st.st_mode)) {
        errno = ELOOP;
        return false;
    }
    // errno is set as opening it for writing would set it, so the caller can tell the reason.
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    // A file without any write permission is what the read-only attribute is on Windows; refused
    // even for root, who could write it anyway.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        errno = EACCES;
        return false;
    }
    if (::access(native.c_str(), W_OK) != 0) return false;
    if (facts) {
        facts->device = static_cast<uint64_t>(st.st_dev);
        facts->identity = static_cast<uint64_t>(st.st_ino);
        facts->mode = static_cast<uint32_t>(st.st_mode & 07777);
        facts->owner = static_cast<uint32_t>(st.st_uid);
        facts->group = static_cast<uint32_t>(st.st_gid);
        facts->swappable = S_ISREG(st.st_mode);
    }
    if (folderChecked) return true;
    // The file is renamed aside and another put in its place: its folder must allow that.
    size_t slash = native.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return false;
    if (facts) facts->plainFolder = HasNoDefaultAcl(folder.c_str());
    return true;
}

bool FolderCanSwap(const std::wstring& folder, uint64_t& device, bool& inMemory) {
    std::string native = NativePath(folder);
    struct statfs fs;
    struct stat st;
    if (::statfs(native.c_str(), &fs) != 0 || ::stat(native.c_str(), &st) != 0) return false;
    device = static_cast<uint64_t>(st.st_dev);
    constexpr unsigned long kTmpfs = 0x01021994;
    inMemory = static_cast<unsigned long>(fs.f_type) == kTmpfs;
    // The local file systems whose rename exchanges two names in one step. Others (network, FUSE,
    // FAT, NTFS drivers) keep the link-and-rename way, which every POSIX file system has.
    static const unsigned long kSwapping[] = {
        0xEF53,  // ext2, ext3, ext4
        kTmpfs,
        0x58465342,  // xfs
        0x9123683E,  // btrfs
        0xF2F52010,  // f2fs
    };
    for (unsigned long magic : kSwapping) {
        if (static_cast<unsigned long>(fs.f_type) == magic) return true;
    }
    return false;
}

bool IsLink(const std::wstring& path) {
    struct stat st;
    return ::lstat(NativePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool PathExists(const std::wstring& path) {
    struct stat st;
    return ::lstat(NativePath(path).c_str(), &st) == 0;
}

bool RemoveEmptyDirectory(const std::wstring& path) {
    return ::rmdir(NativePath(path).c_str()) == 0;
}

bool GetFreeBytes(const std::wstring& path, uint64_t& bytes) {
    struct statvfs vfs;
    if (::statvfs(NativePath(path).c_str(), &vfs) != 0) return false;
    bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    return true;
}

bool NamesIgnoreCase() {
    return false;
}

std::wstring ExecutablePath() {
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", &buffer[0], buffer.size());
        if (n < 0) return std::wstring();
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            return ConvertUtf8ToWide(buffer.data(), buffer.size());
        }
        buffer.resize(buffer.size() * 2);
    }
}

File::File() : state_(new State) {}
File::~File() {
    Close();
}
File::File(File&& other) noexcept : state_(std::move(other.state_)) {}
File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        state_.swap(other.state_);
    }
    return *this;
}

bool File::OpenRead(const std::wstring& path, Share /*share*/) {
    // POSIX has no share modes; a reader never blocks writers here. The files read are untrusted
    // paths: opened without blocking, so a FIFO without a writer cannot hang the open, and then
    // refused unless regular, so neither can a FIFO, a device or a socket hang the reads.
    Close();
    EnsureState(state_);
    int fd = OpenFd(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return false;
    }
    state_->fd = fd;
    return true;
}

bool File::OpenWrite(const std::wstring& path) {
    Close();
    EnsureState(state_);
    state_->fd = OpenFd(path, O_WRONLY | O_CREAT | O_TRUNC);
    return state_->fd >= 0;
}

bool File::CreateNew(const std::wstring& path) {
    Close();
    EnsureState(state_);
    state_->fd = OpenFd(path, O_WRONLY | O_CREAT | O_EXCL, 0600);
    return state_->fd >= 0;
}

bool File::CreateExclusive(const std::wstring& path) {
    Close();
    EnsureState(state_);
    state_->fd = OpenFd(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
    return state_->fd >= 0;
}

bool File::CreateReplacementFor(const std::wstring& target, std::wstring& tempPath) {
    static unsigned counter = 0;
    EnsureState(state_);
    size_t separator = LastPathSeparator(target);
    std::wstring directory = separator == std::wstring::npos ? std::wstring() : target.substr(0, separator + 1);
    static const std::wstring kProcessTag = L".pi" + std::to_wstring(::getpid()) + L"-";
    std::wstring prefix = directory + kProcessTag;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring candidate = prefix + std::to_wstring(counter++) + L".tmp";
        Close();
        state_->fd = OpenFd(candidate, O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (state_->fd >= 0) {
            tempPath = candidate;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

bool File::IsOpen() const {
    return state_ && state_->fd >= 0;
}

bool File::Read(void* buffer, size_t size, size_t& got) {
    got = 0;
    if (!IsOpen()) return false;
    char* out = static_cast<char*>(buffer);
    while (got < size) {
        ssize_t n = ::read(state_->fd, out + got, size - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return true;
}

bool File::Write(const void* data, size_t size) {
    if (!IsOpen() || WriteFaultStrikes()) return false;
    const char* in = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(state_->fd, in, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        in += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool File::Skip(uint64_t distance) {
    if (!IsOpen() || distance > static_cast<uint64_t>(LLONG_MAX)) return false;
    return ::lseek(state_->fd, static_cast<off_t>(distance), SEEK_CUR) >= 0;
}

bool File::GetSize(uint64_t& size) {
    struct stat st;
    if (!IsOpen() || ::fstat(state_->fd, &st) != 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool File::Flush() {
    return IsOpen() && ::fsync(state_->fd) == 0;
}

bool File::FlushData() {
    return IsOpen() && ::fdatasync(state_->fd) == 0;
}

bool File::StartFlush() {
    return IsOpen() && ::sync_file_range(state_->fd, 0, 0, SYNC_FILE_RANGE_WRITE) == 0;
}

bool File::Close() {
    if (!state_ || state_->fd < 0) return true;
    int fd = state_->fd;
    state_->fd = -1;
    return ::close(fd) == 0;
}

struct DirectoryReader::State {
    DIR* dir = nullptr;
    std::string path;
};

DirectoryReader::DirectoryReader() : state_(new State) {}
DirectoryReader::~DirectoryReader() {
    if (state_ && state_->dir) ::closedir(state_->dir);
}
DirectoryReader::DirectoryReader(DirectoryReader&& other) noexcept : state_(std::move(other.state_)) {}
DirectoryReader& DirectoryReader::operator=(DirectoryReader&& other) noexcept {
    if (this != &other) state_.swap(other.state_);
    return *this;
}

bool DirectoryReader::Open(const std::wstring& directory) {
    EnsureState(state_);
    if (state_->dir) ::closedir(state_->dir);
    state_->path = NativePath(directory);
    state_->dir = ::opendir(state_->path.c_str());
    return state_->dir != nullptr;
}

bool DirectoryReader::Next(DirEntry& entry) {
    if (!state_ || !state_->dir) return false;
    errno = 0;
    struct dirent* d = ::readdir(state_->dir);
    if (!d) return false;
    entry.name = ConvertUtf8ToWide(d->d_name, std::char_traits<char>::length(d->d_name));
    struct stat st;
    std::string full = state_->path + "/" + d->d_name;
    entry.isDirectory = false;
    entry.isFile = false;
    entry.isLink = false;
    if (::lstat(full.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            entry.isLink = true;
            // A link is what it leads to; a dangling one is neither.
            if (::stat(full.c_str(), &st) != 0) return true;
        }
        entry.isDirectory = S_ISDIR(st.st_mode);
        entry.isFile = S_ISREG(st.st_mode);
    }
    return true;
}

}  // namespace platform
