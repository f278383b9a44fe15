#pragma once
// The install journal: what an extraction is about to do to the game folder, written before each
// step, so that a failed run is undone by itself and a killed one by the next install or apply.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/folder_tree.h"
#include "platform/fs.h"

// Lies in the game folder while an extraction runs, and after a run that was killed.
constexpr wchar_t kJournalFileName[] = L"patch_install.journal";
// A journal never grows beyond this; a larger file is not read.
constexpr uint64_t kMaxJournalBytes = 64ull * 1024 * 1024;
// Longest path in a record, in bytes of UTF-8 (an entry name and a suffix of ours).
constexpr uint32_t kMaxJournalPathBytes = 32768 + 64;

enum class JournalStep : char {
    MadeFolder = 'D',  // a folder is about to be created
    NewFile = 'N',     // a file is about to be created where nothing stood
    TempFile = 'T',    // a temporary file of ours is about to be created
    Replace = 'B',     // the file is about to be replaced; its previous file is kept at `backup`
    Swap = 'S',        // the new content is about to be written at `backup` and exchanged with the
                       // file, which then stands there; the file's identity tells the two apart
    Committed = 'C',   // every entry is written: backups and temporary files may go
};

struct JournalRecord {
    JournalStep step;
    std::wstring path;    // relative to the game folder, "\" between folders
    std::wstring backup;  // Replace and Swap only, relative to the game folder
    // Swap: the file about to be replaced (its device and identity are noted in the journal), and
    // the owner and mode its replacement takes.
    platform::FileFacts facts;
};

// The folder a journal was written in: a journal found in another folder (copied there, or the
// folder replaced) is refused. Journals of the first format carry none.
struct JournalBinding {
    bool present = false;
    uint64_t device = 0;
    uint64_t identity = 0;
};

// Reads a journal's bytes. True with every complete record when the file is well formed; a record
// cut short at the very end is a step that never started and is dropped. False for anything else:
// a wrong magic, an unknown step, a path that IsSafeRelativePath refuses (so recovery can never
// reach outside the game folder), a record after Committed, or more than kMaxJournalBytes.
// `binding` (may be null) receives the folder the journal names.
bool ParseJournal(const char* data, size_t size, std::vector<JournalRecord>& records,
                  JournalBinding* binding = nullptr);

// Bytes the header and one record take in the journal, so that the pre-flight can refuse a plan
// whose journal would pass kMaxJournalBytes before anything is written.
uint64_t JournalHeaderBytes();
size_t JournalRecordBytes(const JournalRecord& record);

// What a recovery that did not finish came to.
struct RecoveryReport {
    bool refused = false;       // the journal was refused whole: nothing was changed
    std::string refusedRecord;  // which record and why, for the log
    // Undo steps that failed, each "record N (step, path): why" (each is in the install log too).
    std::vector<std::string> failedSteps;
    // An undo step failed: what is not as it was, relative to the game folder.
    std::vector<std::wstring> leftBehind;
};

// Finishes or undoes what a journal left in the game folder says, then deletes the journal. True
// when there was none or the folder is restored (or, after Committed, cleaned); false, with the
// journal kept, when a step cannot be undone or the journal is malformed or refused. `report` (may
// be null) tells which. Before any step the whole journal is checked against the folder: a journal
// of another folder, or one with a step that would act through a link, on a link, or on anything
// but the kind of file it noted, is refused whole and nothing is changed. Each step is checked
// again as it is taken (see platform::FolderTree).
bool RecoverGameFolder(const std::wstring& gameFolder, RecoveryReport* report = nullptr);
// The same within a folder held open already.
bool RecoverFolder(platform::FolderTree& tree, RecoveryReport& report);

// True when a journal lies in the folder.
bool HasLeftoverJournal(const std::wstring& gameFolder);

// The journal of one extraction. Every step is noted before it is taken: the steps are planned
// before the first is taken and noted in batches, one write for many steps, forced to the disk
// before the first of them is taken, so that after a power cut the journal still describes every
// rename the disk may hold. A note that cannot be written stops the extraction before that step.
// A kill between the note and the step leaves a record of a step that never happened, which the
// undo finds nothing to take back for.
class InstallJournal {
public:
    // Creates the journal in the held folder, bound to it, for the planned steps; false when one
    // exists already or it cannot be created. Nothing is noted yet.
    bool Begin(platform::FolderTree& tree, std::vector<JournalRecord> planned);
    // Notes the planned steps up to (not including) `end`, and as many after it as one batch takes,
    // unless they are noted already.
    bool NoteThrough(size_t end);
    // The planned steps, noted or not.
    const std::vector<JournalRecord>& planned() const { return records_; }
    // Notes Committed (forced to the disk), removes the backups and temporary files, and deletes the
    // journal. A clean-up that fails keeps the journal, so the next recovery finishes it; the install
    // stands either way. False when the mark cannot be noted: nothing is removed and the caller
    // undoes the install.
    bool Commit();
    // Undoes every noted step, last first, and deletes the journal when all were undone; `report`
    // tells what failed otherwise.
    bool Undo(RecoveryReport& report);

private:
    platform::FolderTree* tree_ = nullptr;
    platform::File file_;
    std::vector<JournalRecord> records_;
    size_t noted_ = 0;
    uint64_t bytes_ = 0;
};

// Undoes the records, last first, in the held folder (see RecoverGameFolder), on past a step that
// fails; `report` lists what failed. After Committed, removes the backups and temporary files.
bool UndoJournalRecords(platform::FolderTree& tree, const std::vector<JournalRecord>& records, RecoveryReport& report);
