#include "install/journal.h"

#include <cstring>
#include <memory>

#include "common/byte_order.h"
#include "common/paths.h"
#include "common/text.h"
#include "install/payload.h"
#include "platform/text.h"

namespace {

constexpr char kJournalMagic[8] = {'P', 'T', 'J', 'R', 'N', 'L', '0', '1'};

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

}  // namespace

// Layout of the journal file, integers little-endian, written front to back and never rewritten:
//   header  magic "PTJRNL01" (8 bytes)
//   record  step (1 byte: 'D', 'N', 'T', 'B', 'S' or 'C', see JournalStep), then the step's paths:
//           one for D, N and T, two (the file, then its backup) for B and S, none for C; S then
//           holds the replaced file's device and identity, u64 each;
//   path    length u32 (1 to kMaxJournalPathBytes), UTF-8 bytes, relative to the game folder.
// A record is noted before its step is taken, so a killed run leaves at most one record (or the
// magic) cut short, at the end. Nothing may follow C. The file is read only when it is at most kMaxJournalBytes.
bool ParseJournal(const char* data, size_t size, std::vector<JournalRecord>& records) {
    records.clear();
    if (size > kMaxJournalBytes) return false;
    // A run killed as it began leaves the magic cut short: nothing was done yet.
    if (size < sizeof(kJournalMagic)) return std::memcmp(data, kJournalMagic, size) == 0;
    if (std::memcmp(data, kJournalMagic, sizeof(kJournalMagic)) != 0) return false;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    size_t at = sizeof(kJournalMagic);
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

bool NoLinkOnTheWay(const std::wstring& gameFolder, const std::wstring& relative) {
    for (size_t at = relative.find_first_of(L"\\/"); at != std::wstring::npos;
         at = relative.find_first_of(L"\\/", at + 1)) {
        if (platform::IsLink(JoinPath(gameFolder, relative.substr(0, at)))) return false;
    }
    return true;
}

namespace {

// The step taken back, or nothing when it never happened. False when it cannot be undone.
bool UndoStep(const std::wstring& gameFolder, const JournalRecord& record) {
    std::wstring path = JoinPath(gameFolder, record.path);
    switch (record.step) {
        case JournalStep::TempFile:
        case JournalStep::NewFile:
            return !platform::PathExists(path) || platform::DeletePath(path);
        case JournalStep::Replace: {
            std::wstring backup = JoinPath(gameFolder, record.backup);
            // No backup: the file was never moved aside, so it still is the previous one.
            return !platform::PathExists(backup) || platform::ReplacePath(backup, path);
        }
        case JournalStep::Swap: {
            std::wstring aside = JoinPath(gameFolder, record.backup);
            if (!platform::PathExists(aside)) return true;
            // Once swapped, the previous file stands aside; until then that name holds new content.
            if (platform::IsSameFile(aside, record.facts)) return platform::ReplacePath(aside, path);
            return platform::DeletePath(aside);
        }
        case JournalStep::MadeFolder:
            // A folder that someone filled meanwhile is theirs now; it stays.
            if (platform::GetPathKind(path) == platform::PathKind::Directory && !platform::IsLink(path)) {
                platform::RemoveEmptyDirectory(path);
            }
            return true;
        case JournalStep::Committed:
            return true;
    }
    return false;
}

// After Committed: the backups and temporary files go, the installed files stay.
bool CleanUpStep(const std::wstring& gameFolder, const JournalRecord& record) {
    bool backup = record.step == JournalStep::Replace || record.step == JournalStep::Swap;
    const std::wstring* leftover = backup                                 ? &record.backup
                                   : record.step == JournalStep::TempFile ? &record.path
                                                                          : nullptr;
    if (!leftover) return true;
    std::wstring path = JoinPath(gameFolder, *leftover);
    return !platform::PathExists(path) || platform::DeletePath(path);
}

bool LinksStayOutOfTheWay(const std::wstring& gameFolder, const std::vector<JournalRecord>& records) {
    for (const JournalRecord& record : records) {
        if (!NoLinkOnTheWay(gameFolder, record.path)) return false;
        if (!record.backup.empty() && !NoLinkOnTheWay(gameFolder, record.backup)) return false;
    }
    return true;
}

bool ReadWholeJournal(const std::wstring& path, std::string& bytes) {
    platform::File file;
    uint64_t size = 0;
    if (!file.OpenRead(path, platform::Share::ReadOnly) || !file.GetSize(size) || size > kMaxJournalBytes) return false;
    bytes.assign(static_cast<size_t>(size), '\0');
    size_t got = 0;
    return file.Read(&bytes[0], bytes.size(), got) && got == bytes.size();
}

}  // namespace

bool UndoJournalRecords(const std::wstring& gameFolder, const std::vector<JournalRecord>& records) {
    if (!LinksStayOutOfTheWay(gameFolder, records)) return false;
    bool committed = !records.empty() && records.back().step == JournalStep::Committed;
    bool ok = true;
    if (committed) {
        for (const JournalRecord& record : records) ok = CleanUpStep(gameFolder, record) && ok;
        return ok;
    }
    // Last first, and on past a step that fails: each undone step is one file less to lose.
    for (size_t i = records.size(); i-- > 0;) ok = UndoStep(gameFolder, records[i]) && ok;
    return ok;
}

bool HasLeftoverJournal(const std::wstring& gameFolder) {
    return platform::PathExists(JoinPath(gameFolder, kJournalFileName));
}

bool RecoverGameFolder(const std::wstring& gameFolder, RecoveryReport* report) {
    RecoveryReport ignored;
    RecoveryReport& out = report ? *report : ignored;
    out = RecoveryReport();
    std::wstring journalPath = JoinPath(gameFolder, kJournalFileName);
    if (!platform::PathExists(journalPath)) return true;
    std::string bytes;
    std::vector<JournalRecord> records;
    if (!ReadWholeJournal(journalPath, bytes) || !ParseJournal(bytes.data(), bytes.size(), records)) {
        out.refused = true;
        out.refusedRecord = "the journal cannot be read or is malformed";
        return false;
    }
    if (!UndoJournalRecords(gameFolder, records)) {
        out.leftBehind.push_back(kJournalFileName);
        return false;
    }
    return platform::DeletePath(journalPath);
}

namespace {

// Bytes of records handed to the system in one write: on 20,000 small files a write per step cost
// as much as the files' own data; a larger batch would only hold more in memory.
constexpr size_t kBatchBytes = 64 * 1024;

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

bool InstallJournal::Begin(const std::wstring& gameFolder, std::vector<JournalRecord> planned) {
    folder_ = gameFolder;
    records_ = std::move(planned);
    noted_ = 0;
    bytes_ = sizeof(kJournalMagic);
    std::wstring path = JoinPath(gameFolder, kJournalFileName);
    if (!file_.CreateExclusive(path)) return false;
    if (file_.Write(kJournalMagic, sizeof(kJournalMagic))) return true;
    file_.Close();
    platform::DeletePath(path);
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
    // One write: a kill leaves the batch whole or cut short at its end, and the system holds it
    // before any step of it is taken. Not forced to the disk, as no file of the install is (see
    // ReplacePath in fs_posix.cpp): measured on 1 GiB replacing existing files on this disk, one
    // flush made the install three times as slow, as it waits for every file written before it.
    if (bytes_ + batch.size() > kMaxJournalBytes || !file_.Write(batch.data(), batch.size())) return false;
    bytes_ += batch.size();
    noted_ = last;
    return true;
}

bool InstallJournal::Commit() {
    // Without the mark a later recovery would take the install back: it counts as failed.
    std::string mark(1, static_cast<char>(JournalStep::Committed));
    if (noted_ != records_.size() || bytes_ + 1 > kMaxJournalBytes || !file_.Write(mark.data(), mark.size()))
        return false;
    file_.Close();
    // Every temporary file of a complete install was renamed over its target: only the backups go.
    // This run made every folder on their way, so no link check; a recovery makes its own.
    bool cleaned = true;
    for (const JournalRecord& record : records_) {
        if (record.step == JournalStep::Replace || record.step == JournalStep::Swap)
            cleaned = platform::DeletePath(JoinPath(folder_, record.backup)) && cleaned;
    }
    if (cleaned) platform::DeletePath(JoinPath(folder_, kJournalFileName));
    return true;
}

bool InstallJournal::Undo() {
    file_.Close();
    records_.resize(noted_);
    if (!UndoJournalRecords(folder_, records_)) return false;
    return platform::DeletePath(JoinPath(folder_, kJournalFileName));
}
