#include "install/payload.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "common/byte_order.h"
#include "common/paths.h"
#include "common/text.h"
#include "install/entry_content.h"
#include "install/install_log.h"
#include "install/journal.h"
#include "install/preflight.h"
#include "install/progress.h"
#include "install/signature.h"
#include "platform/error.h"
#include "platform/folder_tree.h"
#include "platform/fs.h"
#include "platform/path_split.h"

const wchar_t kPayloadFileName[] = L"patch_payload.dat";

namespace {

// One entry of a signed patch: its digest as it streams by, and where it stands in the archive.
struct EntryCheck {
    PayloadEntryDigest digest;
    uint32_t index = 0;
    bool mismatch = false;  // the entry is not the signed one
};

// True when the patch is unsigned, or the entry's bytes are the signed ones. Called once the data
// is written and closed, before the entry is put in place.
bool EntryIsSigned(EntryCheck* check) {
    if (!check || check->digest.Matches(gPatchSignature, check->index)) return true;
    check->mismatch = true;
    return false;
}

// Writes one entry by its planned steps, each noted before it is taken: the missing folders above
// it, then the new content written beside its target and put in place whole once checked: a new
// file by a rename that never replaces, an existing file by one exchange of the two names where
// the file system has it (the new content's name then holds the previous file), else by
// ReplaceKeepingBackup. No unchecked byte ever stands under a game file's name, and a signed
// patch's entry is checked against its digest before it is put in place. Every call goes through
// the held folder, so a folder swapped for a link since the pre-flight stops the entry.
bool WriteEntry(PayloadReader& reader, const PayloadEntry& entry, platform::FolderTree& tree, ContentWriter& writer,
                InstallJournal& journal, size_t firstStep, size_t endStep, EntryCheck* check, ContentFault& fault) {
    if (check && !check->digest.Begin(entry.storedHeader)) return false;
    // A removal of a file that is not there, or not the old version's, has no step.
    if (firstStep == endStep) return entry.kind == EntryKind::Removal && EntryIsSigned(check);
    // The archive may have changed since it was checked: its entry must be the one planned.
    const std::vector<JournalRecord>& steps = journal.planned();
    const JournalRecord& last = steps[endStep - 1];
    if (last.path != entry.name) return false;
    if (!journal.NoteThrough(endStep)) return false;
    if (entry.kind == EntryKind::Removal)
        return last.step == JournalStep::Replace && EntryIsSigned(check) && tree.Move(entry.name, last.backup, false);
    size_t step = firstStep;
    for (; step < endStep && steps[step].step == JournalStep::MadeFolder; ++step) {
        if (tree.MakeFolder(steps[step].path) == platform::MakeDirResult::Failed) return false;
    }
    platform::File out;
    // The close is checked: a write error can surface only when the last data is handed over.
    if (last.step == JournalStep::Swap) {
        return tree.CreateNew(out, last.backup, &last.facts) &&
               WriteEntryContent(reader, entry, tree, out, writer, fault) &&
               (last.facts.inMemory || out.StartFlush()) && out.Close() && EntryIsSigned(check) &&
               tree.SwapFiles(last.backup, entry.name);
    }
    // A new file is written without a name where the file system allows, and named once checked.
    if (last.step == JournalStep::NewFile && tree.CreateUnnamed(out, entry.name)) {
        return WriteEntryContent(reader, entry, tree, out, writer, fault) && EntryIsSigned(check) &&
               tree.LinkUnnamed(out, entry.name) && out.Close();
    }
    const std::wstring& temp = steps[step].path;
    if (!tree.CreateNew(out, temp) || !WriteEntryContent(reader, entry, tree, out, writer, fault) || !out.Close() ||
        !EntryIsSigned(check))
        return false;
    if (last.step == JournalStep::NewFile) return tree.Move(temp, entry.name, false);
    return tree.ReplaceKeepingBackup(temp, entry.name, last.backup);
}

// A delta is made from the gamer's file, which must be the very version the patch updates: every
// file that is not is listed, with what was expected and found, before the install stops.
bool PreflightDelta(PreflightState& state, const PayloadEntry& entry) {
    bool same = false;
    int64_t found = -1;
    if (!FileIsVersion(JoinPath(state.gameFolder, entry.name), entry.oldSize, entry.oldDigest, same, found) || !same) {
        state.oldVersionDiffers.push_back(entry.rawName);
        std::string seen = found < 0 ? "no such file" : std::to_string(found) + " bytes";
        if (found == static_cast<int64_t>(entry.oldSize)) seen += " of other content";
        LogEntryFailed(entry.rawName + " (not the version this patch updates: expected " +
                           std::to_string(entry.oldSize) + " bytes, found " + seen + ")",
                       0);
        // Planned all the same, so that the steps of every later entry stay where they belong.
        state.firstRecord.push_back(state.records.size());
        return true;
    }
    if (PreflightEntry(state, entry.name, entry.fileSize)) return true;
    LogEntryFailed(entry.rawName, platform::LastSystemError());
    return false;
}

// One entry's targets, by its kind; its steps are planned on the way.
bool PreflightOne(PreflightState& state, const PayloadEntry& entry) {
    platform::ClearSystemError();
    bool kept = false;
    switch (entry.kind) {
        case EntryKind::Stored:
        case EntryKind::Compressed:
            if (PreflightEntry(state, entry.name, entry.fileSize)) return true;
            break;
        case EntryKind::Removal:
            if (!PreflightRemoval(state, entry.name, entry.oldSize, entry.oldDigest, kept)) break;
            if (kept) LogEntryFailed(entry.rawName + " (kept: not the old version's file, so not removed)", 0);
            return true;
        case EntryKind::Delta:
            return PreflightDelta(state, entry);
    }
    LogEntryFailed(entry.rawName, platform::LastSystemError());
    return false;
}

// Pre-flight over the whole archive and every target: magic, counts, headers, names and data
// lengths as ListPayload checks them, then each target and the free space (see preflight.h).
// The steps of each entry are planned on the way (see PreflightEntry).
// `producedBytes` is what the entries make in all, the measure of the extraction's progress.
bool PreflightArchive(const std::wstring& archivePath, PreflightState& state, uint32_t& entryCount,
                      uint64_t& producedBytes) {
    PayloadReader reader;
    platform::ClearSystemError();
    if (!reader.Open(archivePath)) {
        LogEntryFailed("payload archive header", platform::LastSystemError());
        return false;
    }
    entryCount = reader.entryCount();
    producedBytes = 0;
    // A record or two per entry, the folders' few more: reserved once rather than grown.
    state.firstRecord.reserve(entryCount);
    state.records.reserve(entryCount + entryCount / 4);
    PayloadEntry entry;
    for (uint32_t i = 0; i < entryCount; ++i) {
        if (!reader.Next(entry) || !reader.SkipData()) {
            LogEntryRefused(i, entry.rawName);
            return false;
        }
        if (!PreflightOne(state, entry)) return false;
        // Saturating: the sizes are the archive's word, checked only one by one.
        producedBytes += std::min(entry.fileSize, UINT64_MAX - producedBytes);
    }
    platform::ClearSystemError();
    if (entryCount != 0 && !PreflightSpace(state, entryCount)) {
        LogEntryFailed("free space for the payload", platform::LastSystemError());
        return false;
    }
    return true;
}

// `check` is null for an unsigned patch.
bool WriteEntries(const std::wstring& archivePath, platform::FolderTree& tree, const std::vector<size_t>& firstStep,
                  uint64_t producedBytes, InstallJournal& journal, EntryCheck* check, ExtractReport& out) {
    uint32_t expectedCount = static_cast<uint32_t>(firstStep.size());
    PayloadReader reader;
    platform::ClearSystemError();
    if (!reader.Open(archivePath) || reader.entryCount() != expectedCount) {
        LogEntryFailed("payload archive header", platform::LastSystemError());
        return false;
    }
    uint32_t entryCount = reader.entryCount();
    // One copy buffer and one decoder for the whole run: memory stays the same whatever the
    // payload holds.
    ContentWriter writer;
    writer.signedDigest = check ? &check->digest : nullptr;
    writer.entryCount = entryCount;
    writer.producedTotal = producedBytes;
    PayloadEntry entry;
    for (uint32_t i = 0; i < entryCount; ++i) {
        ReportWork(WorkProgress::Phase::Extracting, writer.producedBefore, producedBytes, i, entryCount);
        // The name is not checked again: WriteEntry takes it only when it is the planned one.
        if (!reader.Next(entry, false)) {
            LogEntryRefused(i, entry.rawName);
            return false;
        }
        if (check) check->index = i;
        writer.entryIndex = i;
        platform::ClearSystemError();
        size_t endStep = i + 1 < entryCount ? firstStep[i + 1] : journal.planned().size();
        ContentFault fault = ContentFault::None;
        if (!WriteEntry(reader, entry, tree, writer, journal, firstStep[i], endStep, check, fault)) {
            // The system's code is taken before the undo's calls can overwrite it.
            bool mismatch = check && check->mismatch;
            out.entry =
                entry.rawName + (mismatch                                    ? " (not the signed content)"
                                 : fault == ContentFault::Damaged            ? " (damaged in the patch)"
                                 : fault == ContentFault::NotTheDeclaredFile ? " (not the file the patch declares)"
                                                                             : "");
            out.systemError = mismatch || fault != ContentFault::None ? 0 : platform::LastSystemError();
            LogEntryFailed(out.entry, out.systemError);
            return false;
        }
        if (entry.kind != EntryKind::Removal && reader.dataLeft() != 0) {
            LogEntryRefused(i, entry.rawName);
            return false;
        }
        LogEntryWritten(entry.rawName, entry.fileSize);
        writer.producedBefore += std::min(entry.fileSize, producedBytes - writer.producedBefore);
        ReportWork(WorkProgress::Phase::Extracting, writer.producedBefore, producedBytes, i + 1, entryCount);
    }
    return true;
}

}  // namespace

bool CreateDirectoryTree(const std::wstring& path) {
    // A name of 32768 bytes can describe some 16000 levels. When the whole path is too long for the
    // system, the deepest level could never be made: fail before creating any of them.
    if (path.empty() || platform::IsPathTooLong(path)) return false;
    if (platform::GetPathKind(path) == platform::PathKind::Directory) return true;
    // Walk up to the first directory that exists, remembering where each missing level ends, then
    // create them top down, without recursion. One buffer holds every prefix.
    std::vector<size_t> missingEnds{path.size()};
    std::wstring prefix;
    prefix.reserve(path.size());
    size_t end = path.size();
    for (;;) {
        size_t separator = path.find_last_of(L"\\/", end - 1);
        if (separator == std::wstring::npos || separator == 0) break;
        prefix.assign(path, 0, separator);
        if (platform::GetPathKind(prefix) == platform::PathKind::Directory) break;
        missingEnds.push_back(separator);
        end = separator;
    }
    for (size_t i = missingEnds.size(); i-- > 0;) {
        prefix.assign(path, 0, missingEnds[i]);
        if (platform::MakeDirectory(prefix) == platform::MakeDirResult::Failed) return false;
    }
    return true;
}

namespace {

// The journal a plan needs, header and commit mark included.
uint64_t PlannedJournalBytes(const std::vector<JournalRecord>& records) {
    uint64_t bytes = JournalHeaderBytes() + 1;
    for (const JournalRecord& record : records) bytes += JournalRecordBytes(record);
    return bytes;
}

bool Fail(ExtractReport& out, ExtractFailure failure, const std::string& what, uint32_t systemError) {
    out.failure = failure;
    out.entry = what;
    out.systemError = systemError;
    LogEntryFailed(what, systemError);
    return false;
}

}  // namespace

bool ExtractPayload(const std::wstring& archivePath, const std::wstring& gameFolder, ExtractReport* report) {
    ExtractReport ignored;
    ExtractReport& out = report ? *report : ignored;
    out = ExtractReport();
    LogExtractionStart(archivePath, gameFolder);
    // Held from here to the end: every step, of the install and of its undo, acts through it.
    platform::FolderTree tree;
    platform::ClearSystemError();
    if (!tree.Open(gameFolder)) return Fail(out, ExtractFailure::Refused, "game folder", platform::LastSystemError());
    // What a killed run left is put right first, so that the checks below see the game's own files.
    RecoveryReport recovery;
    if (!RecoverFolder(tree, recovery)) {
        out.leftBehind = std::move(recovery.leftBehind);
        return Fail(out, recovery.refused ? ExtractFailure::JournalRefused : ExtractFailure::NotRestored,
                    recovery.refused ? "journal refused: " + recovery.refusedRecord
                                     : std::string("folder left by an interrupted install"),
                    0);
    }
    uint32_t entryCount = 0;
    uint64_t producedBytes = 0;
    PreflightState plan;
    plan.gameFolder = gameFolder;
    plan.runTag = NewRunTag();
    plan.canSwap = platform::FolderCanSwap(gameFolder, plan.swapDevice, plan.swapInMemory);
    out.failure = ExtractFailure::Refused;
    if (!PreflightArchive(archivePath, plan, entryCount, producedBytes)) {
        LogNothingWritten();
        return false;
    }
    if (!plan.oldVersionDiffers.empty()) {
        out.failure = ExtractFailure::OldVersionDiffers;
        out.entry = plan.oldVersionDiffers.front();
        out.oldVersionDiffers = std::move(plan.oldVersionDiffers);
        LogNothingWritten();
        return false;
    }
    if (PlannedJournalBytes(plan.records) > kMaxJournalBytes) {
        Fail(out, ExtractFailure::Refused, "install journal (the patch names too many files, or too long names)", 0);
        LogNothingWritten();
        return false;
    }
    // A signed patch holds exactly the signed entries: one dropped after start-up is a changed patch.
    if (gPatchSigned && entryCount != gPatchSignature.payloadEntries.size()) {
        Fail(out, ExtractFailure::NotSigned, "payload entry count (not the signed one)", 0);
        LogNothingWritten();
        return false;
    }
    out.failure = ExtractFailure::None;
    if (entryCount == 0) return true;
    InstallJournal journal;
    platform::ClearSystemError();
    if (!journal.Begin(tree, std::move(plan.records)))
        return Fail(out, ExtractFailure::Refused, "install journal", platform::LastSystemError());
    EntryCheck check;
    if (WriteEntries(archivePath, tree, plan.firstRecord, producedBytes, journal, gPatchSigned ? &check : nullptr,
                     out) &&
        journal.Commit()) {
        out = ExtractReport();
        return true;
    }
    if (out.entry.empty()) {
        out.entry = "install journal";
        out.systemError = platform::LastSystemError();
    }
    bool restored = journal.Undo(recovery);
    out.leftBehind = std::move(recovery.leftBehind);
    out.failure = !restored        ? ExtractFailure::NotRestored
                  : check.mismatch ? ExtractFailure::NotSigned
                                   : ExtractFailure::WriteFailed;
    LogFolderRestored(restored);
    return false;
}

bool ListPayload(const std::wstring& archivePath, std::vector<PayloadEntry>& entries) {
    entries.clear();
    PayloadReader reader;
    if (!reader.Open(archivePath)) return false;
    for (uint32_t i = 0; i < reader.entryCount(); ++i) {
        PayloadEntry entry;
        if (!reader.Next(entry) || !reader.SkipData()) return false;
        entries.push_back(std::move(entry));
    }
    return true;
}
