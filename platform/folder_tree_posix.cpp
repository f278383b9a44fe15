// POSIX FolderTree: every folder on the way opened relative to the one above it, never following a
// link, and every act done with the *at() calls within the folder that holds the name.
#include "platform/folder_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <unordered_map>

#include "platform/file_state_posix.h"
#include "platform/posix_path.h"

namespace platform {
namespace {

// Folders held open at once; a tree of more folders closes them all and walks again, so that a
// payload of thousands of folders cannot run out of descriptors.
constexpr size_t kMaxHeldFolders = 256;

// The umask, read without changing it (umask() can only set it, which another thread's create could
// see for a moment). All bits when unknown, so that every mode is set again.
mode_t ProcessUmask() {
    std::FILE* status = std::fopen("/proc/self/status", "re");
    if (!status) return 0777;
    char line[128];
    unsigned int mask = 0777;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
    }
    std::fclose(status);
    return static_cast<mode_t>(mask & 0777);
}

// A file made now would have this owner and group: no chown needed to carry them over.
bool OwnedByUs(uid_t owner, gid_t group) {
    static const uid_t kUser = ::geteuid();
    static const gid_t kGroup = ::getegid();
    return owner == kUser && group == kGroup;
}

// Gives the open file the owner and mode of the file `st` or `facts` describe. The owner first:
// changing it may clear set-id bits, which the mode then puts back. A user who may not give a file
// away keeps their own ownership, as cp -p does.
bool CarryOwnerAndMode(int fd, uid_t owner, gid_t group, mode_t mode) {
    if (!OwnedByUs(owner, group) && ::fchown(fd, owner, group) != 0 && errno != EPERM) return false;
    return ::fchmod(fd, mode & 07777) == 0;
}

void FillFacts(const struct stat& st, FileFacts& facts) {
    facts.device = static_cast<uint64_t>(st.st_dev);
    facts.identity = static_cast<uint64_t>(st.st_ino);
    facts.mode = static_cast<uint32_t>(st.st_mode & 07777);
    facts.owner = static_cast<uint32_t>(st.st_uid);
    facts.group = static_cast<uint32_t>(st.st_gid);
    facts.swappable = S_ISREG(st.st_mode);
}

}  // namespace

struct FolderTree::State {
    std::wstring root;
    int rootFd = -1;
    uint64_t device = 0;
    uint64_t identity = 0;
    // Folders below the root already walked, by their path relative to it ("a/b").
    std::unordered_map<std::string, int> held;

    void LetGo() {
        for (auto& folder : held) ::close(folder.second);
        held.clear();
    }
    ~State() {
        LetGo();
        if (rootFd >= 0) ::close(rootFd);
    }

    // The folder `folder` (relative, "/" between segments, empty for the root), walked segment by
    // segment from the deepest one held. -1 with errno set when a segment is missing, a link or
    // not a directory.
    int Folder(const std::string& folder) {
        if (folder.empty()) return rootFd;
        auto found = held.find(folder);
        if (found != held.end()) return found->second;
        if (held.size() >= kMaxHeldFolders) LetGo();
        size_t slash = folder.find_last_of('/');
        int parent = Folder(slash == std::string::npos ? std::string() : folder.substr(0, slash));
        if (parent < 0) return -1;
        const char* name = folder.c_str() + (slash == std::string::npos ? 0 : slash + 1);
        int fd;
        do {
            fd = ::openat(parent, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) return -1;
        // O_PATH with O_NOFOLLOW may hand back the link itself: only a directory is walked into.
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
            ::close(fd);
            errno = ELOOP;
            return -1;
        }
        held.emplace(folder, fd);
        return fd;
    }

    // Forgets the folder and everything held below it (it is about to be removed).
    void Forget(const std::string& folder) {
        for (auto it = held.begin(); it != held.end();) {
            const std::string& key = it->first;
            if (key == folder || (key.size() > folder.size() && key.compare(0, folder.size(), folder) == 0 &&
                                  key[folder.size()] == '/')) {
                ::close(it->second);
                it = held.erase(it);
            } else {
                ++it;
            }
        }
    }
};

namespace {

// "a/./b" is "a/b": a "." segment names the folder it stands in, and held folders are keyed by
// the plain name.
std::string WithoutDotSegments(const std::string& path) {
    std::string plain;
    plain.reserve(path.size());
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (!(end - start == 1 && path[start] == '.')) {
            if (!plain.empty()) plain += '/';
            plain.append(path, start, end - start);
        }
        start = end + 1;
    }
    return plain;
}

// A relative name split into the folder that holds it and its last segment.
struct Place {
    std::string folder;
    std::string name;
    int dir = -1;

    Place(FolderTree::State& state, const std::wstring& relative) {
        std::string native = WithoutDotSegments(NativePath(relative));
        size_t slash = native.find_last_of('/');
        if (slash == std::string::npos) {
            name = native;
        } else {
            folder = native.substr(0, slash);
            name = native.substr(slash + 1);
        }
        if (name.empty() || name == "." || name == "..") {
            errno = EINVAL;
            return;
        }
        dir = state.Folder(folder);
    }
    bool ok() const { return dir >= 0; }
};

// What stands at the place, the link itself not followed.
TreeKind KindAt(const Place& place, struct stat& st) {
    if (!place.ok()) return errno == ENOENT ? TreeKind::Missing : TreeKind::Unreachable;
    if (::fstatat(place.dir, place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? TreeKind::Missing : TreeKind::Unreachable;
    if (S_ISREG(st.st_mode)) return TreeKind::File;
    if (S_ISDIR(st.st_mode)) return TreeKind::Folder;
    return TreeKind::Other;
}

bool IsRegularFile(const Place& place) {
    struct stat st;
    if (KindAt(place, st) == TreeKind::File) return true;
    if (place.ok() && errno != ENOENT) errno = ELOOP;
    return false;
}

}  // namespace

FolderTree::FolderTree() : state_(new State) {}
FolderTree::~FolderTree() = default;

bool FolderTree::Open(const std::wstring& root) {
    state_.reset(new State);
    state_->root = root;
    state_->rootFd = ::open(NativePath(root).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (state_->rootFd < 0 || ::fstat(state_->rootFd, &st) != 0) return false;
    state_->device = static_cast<uint64_t>(st.st_dev);
    state_->identity = static_cast<uint64_t>(st.st_ino);
    return true;
}

bool FolderTree::IsOpen() const {
    return state_->rootFd >= 0;
}
const std::wstring& FolderTree::root() const {
    return state_->root;
}
uint64_t FolderTree::device() const {
    return state_->device;
}
uint64_t FolderTree::identity() const {
    return state_->identity;
}

TreeKind FolderTree::KindOf(const std::wstring& relative, FileFacts* facts) {
    FireTreeActHook(relative);
    Place place(*state_, relative);
    struct stat st;
    TreeKind kind = KindAt(place, st);
    if (kind == TreeKind::File && facts) FillFacts(st, *facts);
    return kind;
}

bool FolderTree::IsSameFile(const std::wstring& relative, const FileFacts& facts) {
    FileFacts found;
    return KindOf(relative, &found) == TreeKind::File && found.device == facts.device &&
           found.identity == facts.identity;
}

MakeDirResult FolderTree::MakeFolder(const std::wstring& relative) {
    FireTreeActHook(relative);
    Place place(*state_, relative);
    if (!place.ok()) return MakeDirResult::Failed;
    if (::mkdirat(place.dir, place.name.c_str(), 0755) == 0) return MakeDirResult::Created;
    return errno == EEXIST ? MakeDirResult::AlreadyExists : MakeDirResult::Failed;
}

bool FolderTree::RemoveEmptyFolder(const std::wstring& relative) {
    FireTreeActHook(relative);
    Place place(*state_, relative);
    if (!place.ok()) return false;
    state_->Forget(place.folder.empty() ? place.name : place.folder + "/" + place.name);
    return ::unlinkat(place.dir, place.name.c_str(), AT_REMOVEDIR) == 0;
}

bool FolderTree::Remove(const std::wstring& relative) {
    FireTreeActHook(relative);
    Place place(*state_, relative);
    // unlinkat without AT_REMOVEDIR never removes a folder and removes a link, not its target.
    return place.ok() && ::unlinkat(place.dir, place.name.c_str(), 0) == 0;
}

bool FolderTree::Move(const std::wstring& from, const std::wstring& to, bool replace) {
    FireTreeActHook(from);
    if (MoveFaultStrikes()) {
        errno = EIO;
        return false;
    }
    Place source(*state_, from);
    Place target(*state_, to);
    if (!source.ok() || !target.ok()) return false;
    // A rename moves the names themselves and follows no link at either end. A new name takes what
    // this run just wrote there; only the moves that put a previous file back check what they move.
    if (!replace)
        return ::renameat2(source.dir, source.name.c_str(), target.dir, target.name.c_str(), RENAME_NOREPLACE) == 0;
    if (!IsRegularFile(source)) return false;
    // Over a regular file or nothing; a link or folder at the target stays where it is.
    struct stat st;
    TreeKind kind = KindAt(target, st);
    if (kind != TreeKind::File && kind != TreeKind::Missing) {
        errno = ELOOP;
        return false;
    }
    return ::renameat(source.dir, source.name.c_str(), target.dir, target.name.c_str()) == 0;
}

bool FolderTree::SwapFiles(const std::wstring& first, const std::wstring& second) {
    FireTreeActHook(first);
    if (MoveFaultStrikes()) {
        errno = EIO;
        return false;
    }
    Place one(*state_, first);
    Place other(*state_, second);
    // The exchange follows no link at either name; what it swaps was planned and written by this run.
    if (!one.ok() || !other.ok()) return false;
    return ::renameat2(one.dir, one.name.c_str(), other.dir, other.name.c_str(), RENAME_EXCHANGE) == 0;
}

bool FolderTree::CreateNew(File& file, const std::wstring& relative, const FileFacts* like) {
    FireTreeActHook(relative);
    file.Close();
    Place place(*state_, relative);
    if (!place.ok()) return false;
    mode_t mode = like ? static_cast<mode_t>(like->mode & 0777) : 0644;
    int fd;
    do {
        fd = ::openat(place.dir, place.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    SetFileDescriptor(file, fd);
    if (!like) return true;
    static const mode_t kUmask = ProcessUmask();
    // The open gave the mode exactly unless the umask or a default access list took bits away, or
    // the mode has bits an open never sets; then, and for another owner, the mode is set again.
    bool ours = OwnedByUs(like->owner, like->group);
    if (ours && like->plainFolder && (like->mode & 07000) == 0 && (like->mode & kUmask) == 0) return true;
    return CarryOwnerAndMode(fd, like->owner, like->group, static_cast<mode_t>(like->mode));
}

bool FolderTree::CreateUnnamed(File& file, const std::wstring& relative) {
    FireTreeActHook(relative);
    file.Close();
    Place place(*state_, relative);
    if (!place.ok()) return false;
    int fd;
    do {
        fd = ::openat(place.dir, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    SetFileDescriptor(file, fd);
    return true;
}

bool FolderTree::LinkUnnamed(File& file, const std::wstring& relative) {
    FireTreeActHook(relative);
    if (MoveFaultStrikes()) {
        errno = EIO;
        return false;
    }
    Place place(*state_, relative);
    int fd = FileAccess::Descriptor(file);
    if (!place.ok() || fd < 0) return false;
    // The descriptor itself where the system lets us (a privilege before Linux 6.10), else through
    // its /proc name, which costs a walk through procfs.
    if (::linkat(fd, "", place.dir, place.name.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOENT && errno != EPERM) return false;
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, self, place.dir, place.name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

bool FolderTree::OpenFileRead(File& file, const std::wstring& relative) {
    FireTreeActHook(relative);
    file.Close();
    Place place(*state_, relative);
    if (!place.ok()) return false;
    // Without blocking, so that a FIFO cannot hang the open; then only a regular file is kept.
    int fd = ::openat(place.dir, place.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        errno = ELOOP;
        return false;
    }
    SetFileDescriptor(file, fd);
    return true;
}

// A hard link keeps the previous file as the backup while the target never goes missing; where
// the file system has no hard links, the target is renamed aside instead.
bool FolderTree::ReplaceKeepingBackup(const std::wstring& replacement, const std::wstring& target,
                                      const std::wstring& backup) {
    FireTreeActHook(replacement);
    if (MoveFaultStrikes()) {
        errno = EIO;
        return false;
    }
    Place from(*state_, replacement);
    Place to(*state_, target);
    Place aside(*state_, backup);
    struct stat st;
    if (!IsRegularFile(from) || !aside.ok() || KindAt(to, st) != TreeKind::File) {
        if (errno == 0 || errno == ENOENT) errno = ELOOP;
        return false;
    }
    // The mode and owner go through the replacement's own handle: a name swapped meanwhile is not
    // what is changed.
    int fd = ::openat(from.dir, from.name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    bool carried = CarryOwnerAndMode(fd, st.st_uid, st.st_gid, st.st_mode);
    ::close(fd);
    if (!carried) return false;
    if (::linkat(to.dir, to.name.c_str(), aside.dir, aside.name.c_str(), 0) != 0) {
        if (::renameat2(to.dir, to.name.c_str(), aside.dir, aside.name.c_str(), RENAME_NOREPLACE) != 0) return false;
    }
    return ::renameat(from.dir, from.name.c_str(), to.dir, to.name.c_str()) == 0;
}

void FolderTree::LetFoldersGo() {
    state_->LetGo();
}

}  // namespace platform
