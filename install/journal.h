#pragma once
// The install journal: what an extraction is about to do to the game folder, written before each
// step, so that a failed run is undone by itself and a killed one by the next install or apply.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// Reads a journal's bytes. True with every complete record when the file is well formed; a record
// cut short at the very end is a step that never started and is dropped. False for anything else:
// a wrong magic, an unknown step, a path that IsSafeRelativePath refuses (so recovery can never
// reach outside the game folder), a record after Committed, or more than kMaxJournalBytes.
bool ParseJournal(const char* data, size_t size, std::vector<JournalRecord>& records);

// What a recovery that did not finish came to.
struct RecoveryReport {
    bool refused = false;       // the journal was refused whole: nothing was changed
    std::string refusedRecord;  // which record, for the log ("record 3: ...")
    // An undo step failed: what is not as it was, relative to the game folder.
    std::vector<std::wstring> leftBehind;
};

// Finishes or undoes what a journal left in the game folder says, then deletes the journal. True
// when there was none or the folder is restored (or, after Committed, cleaned); false, with the
// journal kept, when a step cannot be undone or the journal is malformed or refused. `report` (may
// be null) tells which.
bool RecoverGameFolder(const std::wstring& gameFolder, RecoveryReport* report = nullptr);

// True when a journal lies in the folder.
bool HasLeftoverJournal(const std::wstring& gameFolder);

// The journal of one extraction. Every step is noted (and handed to the system) before it is taken;
// a note that cannot be written stops the extraction before that step. The steps are planned
// before the first is taken, and noted in batches: one write for many steps, handed to the system
// before the first of them is taken. A kill between the note and the step leaves a record of a step
// that never happened, which the undo finds nothing to take back for.
class InstallJournal {
public:
    // Creates the journal for the planned steps; false when one exists already or it cannot be
    // created. Nothing is noted yet.
    bool Begin(const std::wstring& gameFolder, std::vector<JournalRecord> planned);
    // Notes the planned steps up to (not including) `end`, and as many after it as one batch takes,
    // unless they are noted already.
    bool NoteThrough(size_t end);
    // The planned steps, noted or not.
    const std::vector<JournalRecord>& planned() const { return records_; }
    // Notes Committed, removes the backups and temporary files, and deletes the journal. A clean-up
    // that fails keeps the journal, so the next recovery finishes it; the install stands either way.
    // False when the mark cannot be noted: nothing is removed and the caller undoes the install.
    bool Commit();
    // Undoes every noted step, last first, and deletes the journal when all were undone.
    bool Undo();

private:
    platform::File file_;
    std::wstring folder_;
    std::vector<JournalRecord> records_;
    size_t noted_ = 0;
    uint64_t bytes_ = 0;
};

// Undoes the records, last first, in the game folder (see RecoverGameFolder).
bool UndoJournalRecords(const std::wstring& gameFolder, const std::vector<JournalRecord>& records);

// True when no directory link stands between the game folder and the file `relative` names (the
// game folder itself and the last segment are not looked at).
bool NoLinkOnTheWay(const std::wstring& gameFolder, const std::wstring& relative);
