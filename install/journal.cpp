#include "install/journal.h"

#include <cstring>
#include <memory>

#include "common/byte_order.h"
#include "common/paths.h"
#include "common/text.h"
#include "install/install_log.h"
#include "install/safe_path.h"
#include "platform/error.h"
#include "platform/text.h"

namespace {

// The first format carries no binding to its folder; journals it wrote are still recovered.
constexpr char kJournalMagicUnbound[8] = {'P', 'T', 'J', 'R', 'N', 'L', '0', '1'};
constexpr char kJournalMagic[8] = {'P', 'T', 'J', 'R', 'N', 'L', '0', '2'};
constexpr size_t kMagicBytes = sizeof(kJournalMagic);
constexpr size_t kBindingBytes = 16;

// A Swap record ends with the replaced file's device and identity.
constexpr size_t kIdentityBytes = 16;

int PathsOf(char step) {
    switch (step) {
        case 'D':
        case 'N':
        case 'T':
            return 1;
        case 'B':
        case 'S':
            return 2;
        case 'C':
            return 0;
        default:
            return -1;
    }
}

enum class Field { Ok, CutShort, Bad };

// One path field at `at`: length u32 (1 to kMaxJournalPathBytes), then that many bytes of UTF-8.
Field ReadPath(const unsigned char* data, size_t size, size_t& at, std::wstring& path) {
    if (size - at < 4) return Field::CutShort;
    uint32_t length = LoadU32(data + at);
    if (length - 1 >= kMaxJournalPathBytes) return Field::Bad;
    if (size - at - 4 < length) return Field::CutShort;
    path = Utf8ToWide(std::string(reinterpret_cast<const char*>(data + at + 4), length));
    at += 4 + length;
    return IsSafeRelativePath(path) ? Field::Ok : Field::Bad;
}

// The magic and, in the current format, the folder binding; `at` is then where records begin.
// A run killed as it began leaves the header cut short: nothing was done yet.
enum class Header { Ok, CutShort, Bad };
Header ReadHeader(const char* data, size_t size, size_t& at, JournalBinding& binding) {
    binding = JournalBinding();
    size_t magic = size < kMagicBytes ? size : kMagicBytes;
    bool current = std::memcmp(data, kJournalMagic, magic) == 0;
    if (!current && std::memcmp(data, kJournalMagicUnbound, magic) != 0) return Header::Bad;
    if (size < kMagicBytes) return Header::CutShort;
    at = kMagicBytes;
    if (!current) return Header::Ok;
    if (size < kMagicBytes + kBindingBytes) return Header::CutShort;
    binding.present = true;
    binding.device = LoadU64(reinterpret_cast<const unsigned char*>(data) + at);
    binding.identity = LoadU64(reinterpret_cast<const unsigned char*>(data) + at + 8);
    at += kBindingBytes;
    return Header::Ok;
}

}  // namespace

// Layout of the journal file, integers little-endian, written front to back and never rewritten:
//   header  magic "PTJRNL02" (8 bytes), then the game folder's device and identity, u64 each
//           (the first format, "PTJRNL01", has the magic alone)
//   record  step (1 byte: 'D', 'N', 'T', 'B', 'S' or 'C', see JournalStep), then the step's paths:
//           one for D, N and T, two (the file, then its backup) for B and S, none for C; S then
//           holds the replaced file's device and identity, u64 each;
//   path    length u32 (1 to kMaxJournalPathBytes), UTF-8 bytes, relative to the game folder.
// A record is noted before its step is taken, so a killed run leaves at most one record (or the
// header) cut short, at the end. Nothing may follow C. The file is read only when it is at most
// kMaxJournalBytes.
bool ParseJournal(const char* data, size_t size, std::vector<JournalRecord>& records, JournalBinding* binding) {
    records.clear();
    JournalBinding ignored;
    JournalBinding& bound = binding ? *binding : ignored;
    if (size > kMaxJournalBytes) return false;
    size_t at = 0;
    Header header = ReadHeader(data, size, at, bound);
    if (header != Header::Ok) return header == Header::CutShort;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    while (at < size) {
        if (!records.empty() && records.back().step == JournalStep::Committed) return false;
        char step = static_cast<char>(bytes[at]);
        int paths = PathsOf(step);
        if (paths < 0) return false;
        JournalRecord record{static_cast<JournalStep>(step), std::wstring(), std::wstring()};
        size_t next = at + 1;
        Field field = Field::Ok;
        if (paths >= 1) field = ReadPath(bytes, size, next, record.path);
        if (field == Field::Ok && paths == 2) field = ReadPath(bytes, size, next, record.backup);
        if (field == Field::Ok && record.step == JournalStep::Swap) {
            if (size - next < kIdentityBytes) return true;
            record.facts.device = LoadU64(bytes + next);
            record.facts.identity = LoadU64(bytes + next + 8);
            next += kIdentityBytes;
        }
        if (field == Field::CutShort) return true;
        if (field == Field::Bad) return false;
        records.push_back(std::move(record));
        at = next;
    }
    return true;
}

namespace {

using platform::FolderTree;
using platform::TreeKind;

const char* StepWord(JournalStep step) {
    switch (step) {
        case JournalStep::MadeFolder:
            return "made folder";
        case JournalStep::NewFile:
            return "new file";
        case JournalStep::TempFile:
            return "temporary file";
        case JournalStep::Replace:
            return "replaced file";
        case JournalStep::Swap:
            return "exchanged file";
        case JournalStep::Committed:
            return "commit mark";
    }
    return "step";
}

std::string Describe(size_t index, const JournalRecord& record, const char* why) {
    std::string text = "record " + std::to_string(index + 1) + " (" + StepWord(record.step);
    if (!record.path.empty()) text += " " + platform::ConvertWideToUtf8(record.path);
    if (!record.backup.empty()) text += ", backup " + platform::ConvertWideToUtf8(record.backup);
    return text + "): " + why;
}

// The kinds a record's names may hold when a recovery starts: what the install itself would have
// left there, or nothing. Anything else (a link, a folder where a file was noted, a folder above it
// that is a link) means the journal does not describe this folder.
bool FileOrMissing(TreeKind kind) {
    return kind == TreeKind::File || kind == TreeKind::Missing;
}

const char* RefusalOf(FolderTree& tree, const JournalRecord& record) {
    TreeKind path = record.path.empty() ? TreeKind::Missing : tree.KindOf(record.path);
    TreeKind backup = record.backup.empty() ? TreeKind::Missing : tree.KindOf(record.backup);
    if (path == TreeKind::Unreachable || backup == TreeKind::Unreachable) return "a folder on its way is a link";
    if (record.step == JournalStep::MadeFolder)
        return path == TreeKind::Folder || path == TreeKind::Missing ? nullptr : "not a folder";
    if (!FileOrMissing(path)) return "its file is a link or not a plain file";
    if (!FileOrMissing(backup)) return "its backup is a link or not a plain file";
    return nullptr;
}

// Checks the whole journal against the folder before any step is taken.
bool JournalFitsFolder(FolderTree& tree, const JournalBinding& binding, const std::vector<JournalRecord>& records,
                       RecoveryReport& report) {
    if (binding.present && (binding.device != tree.device() || binding.identity != tree.identity())) {
        report.refusedRecord = "the journal was written in another folder";
        return false;
    }
    for (size_t i = 0; i < records.size(); ++i) {
        if (const char* why = RefusalOf(tree, records[i])) {
            report.refusedRecord = Describe(i, records[i], why);
            return false;
        }
    }
    return true;
}

// The step taken back, or nothing when it never happened. False when it cannot be undone.
bool UndoStep(FolderTree& tree, const JournalRecord& record) {
    switch (record.step) {
        case JournalStep::TempFile:
        case JournalStep::NewFile: {
            TreeKind kind = tree.KindOf(record.path);
            return kind == TreeKind::Missing || (kind == TreeKind::File && tree.Remove(record.path));
        }
        case JournalStep::Replace:
            // No backup: the file was never moved aside, so it still is the previous one.
            return tree.KindOf(record.backup) == TreeKind::Missing || tree.Move(record.backup, record.path, true);
        case JournalStep::Swap: {
            TreeKind kind = tree.KindOf(record.backup);
            if (kind == TreeKind::Missing) return true;
            // Once swapped, the previous file stands aside; until then that name holds new content.
            if (tree.IsSameFile(record.backup, record.facts)) return tree.Move(record.backup, record.path, true);
            return kind == TreeKind::File && tree.Remove(record.backup);
        }
        case JournalStep::MadeFolder:
            // A folder that someone filled meanwhile is theirs now; it stays.
            if (tree.KindOf(record.path) == TreeKind::Folder) tree.RemoveEmptyFolder(record.path);
            return true;
        case JournalStep::Committed:
            return true;
    }
    return false;
}

// After Committed: the backups and temporary files go, the installed files stay.
bool CleanUpStep(FolderTree& tree, const JournalRecord& record) {
    bool backup = record.step == JournalStep::Replace || record.step == JournalStep::Swap;
    const std::wstring* leftover = backup                                 ? &record.backup
                                   : record.step == JournalStep::TempFile ? &record.path
                                                                          : nullptr;
    if (!leftover) return true;
    TreeKind kind = tree.KindOf(*leftover);
    return kind == TreeKind::Missing || (kind == TreeKind::File && tree.Remove(*leftover));
}

void NoteFailedStep(const JournalRecord& record, size_t index, RecoveryReport& report) {
    uint32_t error = platform::LastSystemError();
    report.failedSteps.push_back(Describe(index, record, error ? "the system refused it" : "not as the journal says"));
    LogUndoStepFailed(report.failedSteps.back(), error);
    if (record.step == JournalStep::MadeFolder) return;
    report.leftBehind.push_back(record.path);
    if (!record.backup.empty()) report.leftBehind.push_back(record.backup);
}

// The journal's bytes, read through the held folder: never a link, a FIFO or a device.
bool ReadWholeJournal(FolderTree& tree, std::string& bytes) {
    platform::File file;
    uint64_t size = 0;
    if (!tree.OpenFileRead(file, kJournalFileName) || !file.GetSize(size) || size > kMaxJournalBytes) return false;
    bytes.assign(static_cast<size_t>(size), '\0');
    size_t got = 0;
    return file.Read(&bytes[0], bytes.size(), got) && got == bytes.size();
}

}  // namespace

bool UndoJournalRecords(FolderTree& tree, const std::vector<JournalRecord>& records, RecoveryReport& report) {
    bool committed = !records.empty() && records.back().step == JournalStep::Committed;
    bool ok = true;
    for (size_t n = 0; n < records.size(); ++n) {
        // Last first, and on past a step that fails: each undone step is one file less to lose.
        size_t i = committed ? n : records.size() - 1 - n;
        platform::ClearSystemError();
        if (committed ? CleanUpStep(tree, records[i]) : UndoStep(tree, records[i])) continue;
        NoteFailedStep(records[i], i, report);
        ok = false;
    }
    return ok;
}

bool HasLeftoverJournal(const std::wstring& gameFolder) {
    return platform::PathExists(JoinPath(gameFolder, kJournalFileName));
}

bool RecoverFolder(FolderTree& tree, RecoveryReport& report) {
    report = RecoveryReport();
    TreeKind kind = tree.KindOf(kJournalFileName);
    if (kind == TreeKind::Missing) return true;
    std::string bytes;
    std::vector<JournalRecord> records;
    JournalBinding binding;
    if (kind != TreeKind::File || !ReadWholeJournal(tree, bytes) ||
        !ParseJournal(bytes.data(), bytes.size(), records, &binding)) {
        report.refused = true;
        report.refusedRecord = "the journal is not a plain file, cannot be read or is malformed";
        LogJournalRefused(report.refusedRecord);
        return false;
    }
    if (!JournalFitsFolder(tree, binding, records, report)) {
        report.refused = true;
        LogJournalRefused(report.refusedRecord);
        return false;
    }
    if (!UndoJournalRecords(tree, records, report)) {
        report.leftBehind.push_back(kJournalFileName);
        return false;
    }
    return tree.Remove(kJournalFileName);
}

bool RecoverGameFolder(const std::wstring& gameFolder, RecoveryReport* report) {
    RecoveryReport ignored;
    RecoveryReport& out = report ? *report : ignored;
    out = RecoveryReport();
    if (!platform::PathExists(JoinPath(gameFolder, kJournalFileName))) return true;
    FolderTree tree;
    if (!tree.Open(gameFolder)) {
        out.leftBehind.push_back(kJournalFileName);
        return false;
    }
    return RecoverFolder(tree, out);
}

namespace {

// Bytes of records handed to the system, and forced to the disk, in one go: on 20,000 small files a
// write per step cost as much as the files' own data, and each forced batch waits for the disk (a
// megabyte holds the records of some 15,000 small new files).
constexpr size_t kBatchBytes = 1024 * 1024;

bool AppendRecord(std::string& out, const JournalRecord& record) {
    out.push_back(static_cast<char>(record.step));
    for (const std::wstring* text : {&record.path, &record.backup}) {
        if (text->empty()) continue;
        std::string utf8 = platform::ConvertWideToUtf8(*text);
        if (utf8.empty() || utf8.size() > kMaxJournalPathBytes) return false;
        AppendU32(out, static_cast<uint32_t>(utf8.size()));
        out += utf8;
    }
    if (record.step == JournalStep::Swap) {
        AppendU64(out, record.facts.device);
        AppendU64(out, record.facts.identity);
    }
    return true;
}

}  // namespace

size_t JournalRecordBytes(const JournalRecord& record) {
    size_t bytes = 1 + (record.step == JournalStep::Swap ? kIdentityBytes : 0);
    for (const std::wstring* text : {&record.path, &record.backup}) {
        if (!text->empty()) bytes += 4 + platform::ConvertWideToUtf8(*text).size();
    }
    return bytes;
}

uint64_t JournalHeaderBytes() {
    return kMagicBytes + kBindingBytes;
}

bool InstallJournal::Begin(FolderTree& tree, std::vector<JournalRecord> planned) {
    tree_ = &tree;
    records_ = std::move(planned);
    noted_ = 0;
    std::string header(kJournalMagic, kMagicBytes);
    AppendU64(header, tree.device());
    AppendU64(header, tree.identity());
    bytes_ = header.size();
    if (!tree.CreateNew(file_, kJournalFileName)) return false;
    if (file_.Write(header.data(), header.size())) return true;
    file_.Close();
    tree.Remove(kJournalFileName);
    return false;
}

bool InstallJournal::NoteThrough(size_t end) {
    if (end <= noted_) return true;
    if (end > records_.size()) return false;
    std::string batch;
    size_t last = noted_;
    while (last < records_.size() && (last < end || batch.size() < kBatchBytes)) {
        if (!AppendRecord(batch, records_[last])) return false;
        ++last;
    }
    // One write: a kill leaves the batch whole or cut short at its end. Forced to the disk before
    // any step of it is taken, so that no rename the disk holds after a power cut is missing from
    // the journal; once a batch, not once a step.
    if (bytes_ + batch.size() > kMaxJournalBytes || !file_.Write(batch.data(), batch.size()) || !file_.FlushData())
        return false;
    bytes_ += batch.size();
    noted_ = last;
    return true;
}

bool InstallJournal::Commit() {
    // Without the mark a later recovery would take the install back: it counts as failed. On the
    // disk before any backup goes, so that a power cut cannot find backups gone and no mark.
    std::string mark(1, static_cast<char>(JournalStep::Committed));
    if (noted_ != records_.size() || bytes_ + 1 > kMaxJournalBytes || !file_.Write(mark.data(), mark.size()) ||
        !file_.FlushData())
        return false;
    file_.Close();
    // Every temporary file of a complete install was renamed over its target: only the backups go.
    bool cleaned = true;
    for (const JournalRecord& record : records_) {
        if (record.step == JournalStep::Replace || record.step == JournalStep::Swap)
            cleaned = tree_->Remove(record.backup) && cleaned;
    }
    if (cleaned) tree_->Remove(kJournalFileName);
    return true;
}

bool InstallJournal::Undo(RecoveryReport& report) {
    file_.Close();
    records_.resize(noted_);
    if (!UndoJournalRecords(*tree_, records_, report)) {
        report.leftBehind.push_back(kJournalFileName);
        return false;
    }
    return tree_->Remove(kJournalFileName);
}
