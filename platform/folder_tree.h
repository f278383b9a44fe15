#pragma once
// The game folder held open for one install, its rollback or its recovery. Every call names a path
// relative to the folder ("\" or "/" between segments) and reaches it without passing through a
// link, junction or other reparse point at any segment, the last one included, checked as the call
// acts rather than in an earlier pass: a folder swapped for a link after the pre-flight fails the
// next call that goes through it. Natively each folder on the way is opened relative to the one
// above it (O_NOFOLLOW) and the *at() calls act within it. On Windows every folder on the way is
// held open without delete sharing from the first call that reaches it to the end, so none of them
// can be renamed, removed or replaced by a link meanwhile, and the path-based calls act on what
// was checked.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/fs.h"

namespace platform {

enum class TreeKind {
    Missing,      // nothing at the name, or a folder on the way is missing
    File,         // a regular file
    Folder,       // a plain directory
    Other,        // a link, reparse point, device, FIFO or socket: never acted through or moved
    Unreachable,  // a folder on the way is a link or not a directory, or cannot be opened
};

class FolderTree {
public:
    FolderTree();
    ~FolderTree();
    FolderTree(const FolderTree&) = delete;
    FolderTree& operator=(const FolderTree&) = delete;

    // Opens the folder itself (which the user chose, so a link to it is followed) and keeps it open.
    bool Open(const std::wstring& root);
    bool IsOpen() const;
    const std::wstring& root() const;
    // The folder's volume and its identity on it (POSIX st_dev and st_ino; Windows the volume's
    // serial number and the file ID), so that a journal can be bound to the folder it was made in.
    uint64_t device() const;
    uint64_t identity() const;

    // What stands at the name; `facts` (may be null) receives a file's identity, mode and owner.
    TreeKind KindOf(const std::wstring& relative, FileFacts* facts = nullptr);
    // True when a regular file stands at the name and is the one `facts` was taken of.
    bool IsSameFile(const std::wstring& relative, const FileFacts& facts);
    // Makes the last segment as a folder; its parent must exist.
    MakeDirResult MakeFolder(const std::wstring& relative);
    // Removes the last segment when it is an empty plain folder.
    bool RemoveEmptyFolder(const std::wstring& relative);
    // Deletes the name when it is a regular file or a link (the link itself, never what it leads
    // to); a folder is refused.
    bool Remove(const std::wstring& relative);
    // Moves `from` to `to` within the tree, replacing a regular file there when `replace`, else
    // failing when anything stands at `to`. No link is followed at either name; with `replace`,
    // which puts a previous file back, anything but a regular file at `from` is refused.
    bool Move(const std::wstring& from, const std::wstring& to, bool replace);
    // Exchanges two names in one step, following no link at either (Linux file systems that can;
    // see FolderCanSwap).
    bool SwapFiles(const std::wstring& first, const std::wstring& second);
    // Creates a new file where nothing stands, as File::CreateExclusive, or as File::CreateLike
    // when `like` is given.
    bool CreateNew(File& file, const std::wstring& relative, const FileFacts* like = nullptr);
    // Creates a file without a name in the folder that is to hold `relative` (natively O_TMPFILE),
    // to be written and then given its name by LinkUnnamed: a file killed half way leaves nothing
    // behind, and a new name costs one directory update instead of a create and a rename. False
    // where the system or the file system has no such files (Windows, some file systems): the
    // caller then writes under a temporary name.
    bool CreateUnnamed(File& file, const std::wstring& relative);
    // Gives the open unnamed file the name `relative`, only when nothing has that name.
    bool LinkUnnamed(File& file, const std::wstring& relative);
    // Opens a regular file for reading (as File::OpenRead with Share::ReadOnly); a link, FIFO or
    // device at the name is refused.
    bool OpenFileRead(File& file, const std::wstring& relative);
    // Puts the regular file `replacement` in place of the regular file `target`, keeping the
    // target's previous file at `backup` (see platform::ReplaceKeepingBackup). The replacement is
    // given the target's mode and owner through its own handle, never by path.
    bool ReplaceKeepingBackup(const std::wstring& replacement, const std::wstring& target, const std::wstring& backup);
    // Closes every folder handle below the root (Windows: so that a folder of ours can be removed).
    void LetFoldersGo();

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Test seams. The hook is called with the name each FolderTree call is about to act on, before it
// acts, until it is cleared with nullptr: a test changes the folder there, between the pre-flight
// and the writes, as another program could. The move fault makes every move (Move, SwapFiles,
// ReplaceKeepingBackup) fail after `movesBefore` more have succeeded, as a rename refused by the
// system would; ClearMoveFaultForTest ends it.
using TreeActHook = void (*)(const std::wstring& relative, void* context);
void SetTreeActHookForTest(TreeActHook hook, void* context);
void FailMovesAfterForTest(uint64_t movesBefore);
void ClearMoveFaultForTest();
// Inside the platform layer: calls the hook when one is set; true when this move is to fail.
void FireTreeActHook(const std::wstring& relative);
bool MoveFaultStrikes();

}  // namespace platform
