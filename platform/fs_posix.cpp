// POSIX file system layer. Paths arrive in the Windows form the rest of the system builds ("\" as
// separator), so both separators are turned into "/" before they reach the C library.
#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/text.h"

namespace platform {
namespace {

std::string NativePath(const std::wstring& path) {
    std::string native = ConvertWideToUtf8(path);
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

int OpenFd(const std::wstring& path, int flags, mode_t mode = 0644) {
    int fd;
    do {
        fd = ::open(NativePath(path).c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
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

bool ReplacePath(const std::wstring& from, const std::wstring& to) {
    std::string target = NativePath(to);
    if (::rename(NativePath(from).c_str(), target.c_str()) != 0) return false;
    // The rename is durable once the directory that holds it is synced.
    size_t slash = target.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;
    ::fsync(fd);
    ::close(fd);
    return true;
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

struct File::State {
    int fd = -1;
};

File::File() : state_(new State) {}
File::~File() { Close(); }
File::File(File&& other) noexcept : state_(std::move(other.state_)) { other.state_.reset(new State); }
File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        state_.swap(other.state_);
    }
    return *this;
}

bool File::OpenRead(const std::wstring& path, Share /*share*/) {
    // POSIX has no share modes; a reader never blocks writers here.
    Close();
    int fd = OpenFd(path, O_RDONLY);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return false;
    }
    state_->fd = fd;
    return true;
}

bool File::OpenWrite(const std::wstring& path) {
    Close();
    state_->fd = OpenFd(path, O_WRONLY | O_CREAT | O_TRUNC);
    return state_->fd >= 0;
}

bool File::CreateNew(const std::wstring& path) {
    Close();
    state_->fd = OpenFd(path, O_WRONLY | O_CREAT | O_EXCL, 0600);
    return state_->fd >= 0;
}

bool File::IsOpen() const { return state_->fd >= 0; }

bool File::Read(void* buffer, size_t size, size_t& got) {
    got = 0;
    if (state_->fd < 0) return false;
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
    if (state_->fd < 0) return false;
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
    if (state_->fd < 0 || distance > static_cast<uint64_t>(LLONG_MAX)) return false;
    return ::lseek(state_->fd, static_cast<off_t>(distance), SEEK_CUR) >= 0;
}

bool File::GetSize(uint64_t& size) {
    struct stat st;
    if (state_->fd < 0 || ::fstat(state_->fd, &st) != 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool File::Flush() { return state_->fd >= 0 && ::fsync(state_->fd) == 0; }

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
DirectoryReader::DirectoryReader(DirectoryReader&& other) noexcept : state_(std::move(other.state_)) {
    other.state_.reset(new State);
}
DirectoryReader& DirectoryReader::operator=(DirectoryReader&& other) noexcept {
    if (this != &other) state_.swap(other.state_);
    return *this;
}

bool DirectoryReader::Open(const std::wstring& directory) {
    if (state_->dir) ::closedir(state_->dir);
    state_->path = NativePath(directory);
    state_->dir = ::opendir(state_->path.c_str());
    return state_->dir != nullptr;
}

bool DirectoryReader::Next(DirEntry& entry) {
    if (!state_->dir) return false;
    errno = 0;
    struct dirent* d = ::readdir(state_->dir);
    if (!d) return false;
    entry.name = ConvertUtf8ToWide(d->d_name, std::char_traits<char>::length(d->d_name));
    struct stat st;
    std::string full = state_->path + "/" + d->d_name;
    entry.isDirectory = false;
    entry.isLink = false;
    if (::lstat(full.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            struct stat target;
            entry.isLink = true;
            entry.isDirectory = ::stat(full.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
        } else {
            entry.isDirectory = S_ISDIR(st.st_mode);
        }
    }
    return true;
}

}  // namespace platform
