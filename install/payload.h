#pragma once
// The payload archive "patch_payload.dat" (its layout: payload_reader.h) and its extraction into
// the game folder.
#include <cstdint>
#include <string>
#include <vector>

#include "install/payload_reader.h"
#include "install/safe_path.h"

extern const wchar_t kPayloadFileName[];  // "patch_payload.dat"

// What an extraction that did not install came to, for the caller to tell the user.
enum class ExtractFailure {
    None,
    Refused,            // stopped before its first write: the archive, a target, the journal or the space
    NotSigned,          // an entry of a signed patch is not the signed content; the folder is as it was
    WriteFailed,        // a step failed and every step taken was undone: the folder is as it was
    NotRestored,        // a step failed and undoing it failed too: the journal and backups stay for a rerun
    JournalRefused,     // a journal left in the folder was refused whole; nothing was changed
    OldVersionDiffers,  // a file a delta is made from is missing or not the version the patch
                        // updates; nothing was written (`oldVersionDiffers` names every one)
};

struct ExtractReport {
    ExtractFailure failure = ExtractFailure::None;
    std::string entry;         // the failing entry as the archive names it, or what else failed
    uint32_t systemError = 0;  // 0 when no system call failed (the archive or a check was at fault)
    // NotRestored: what is not as it was, relative to the game folder ("\" between folders).
    std::vector<std::wstring> leftBehind;
    // OldVersionDiffers: each file (as the archive names it) that is not the old version.
    std::vector<std::string> oldVersionDiffers;
};

// Writes every entry of the archive into the game folder, in archive order, creating folders on
// the way, all or nothing. First a journal that a killed run left in the folder is acted on
// (RecoverGameFolder). Then the whole archive and every target are checked before the first byte
// is written (names by IsSafeRelativePath, data within the file, targets replaceable, no link on
// the way, path length, free space). Then every step is noted in the journal before it is taken,
// so a failure while writing puts back every replaced file, removes every created file and
// folder, and leaves no file of the install behind. Replaced files keep their attributes (mode and
// owner natively). Never writes outside `gameFolder`. True when every entry was written (also for
// an archive without entries, which touches nothing); false otherwise, with `report` (may be null)
// saying how far it came. When a signed patch was loaded (gPatchSigned), the archive must hold
// exactly the signed entries and each entry's bytes are checked against its signed digest before
// it is put in place. Each step is reported to the install log when one is open.
bool ExtractPayload(const std::wstring& archivePath, const std::wstring& gameFolder, ExtractReport* report = nullptr);

// Creates the directory and every missing one above it, top down, without recursion. True when the
// directory exists afterwards or something of that name already stood there (a plain file in the
// way is caught when the file below it is opened).
bool CreateDirectoryTree(const std::wstring& path);

// Lists the entries without extracting, with the same checks as ExtractPayload (magic, counts,
// lengths, unsafe names, data running past the end of the file). False on a malformed archive;
// `entries` then holds the entries read before the fault.
bool ListPayload(const std::wstring& archivePath, std::vector<PayloadEntry>& entries);
