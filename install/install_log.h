#pragma once
// The install log: one UTF-8 text file in the user's temporary folder to which every install
// appends a run, so that support can see why an install failed. A run records the time, the
// installer's version and the install language; the chosen folder and the folder the payload went
// to; each file record checked, with what was expected and what was found; each entry written, or
// the failing entry with the system's error code and message; whether the folder was restored; and
// the result. Nothing else about the user is written.
//
// Logging never changes an outcome: a log that cannot be opened or written is skipped silently,
// and every Log* call does nothing while no run is open. The installer and `patchtool apply --log`
// open it; the verification and the extraction report to it, like they report to the work
// observer. One thread, so the open run is plain process-wide state (install_log.cpp owns it).
//
// The log lies where other programs may write, and the installer runs elevated: it is rewritten
// only when it is plainly ours (no link, no other name, our owner), else this run goes to a fresh
// file beside it. Every name and text in a line is escaped (a control character, a line or
// paragraph separator and each byte of invalid UTF-8 as \xNN, a backslash as \\), so no name can
// begin a line of its own, and cut to kInstallLogMaxTextBytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "install/verify.h"

constexpr char kInstallerVersion[] = "1.0.0";
// Runs are whole: when the kept runs would grow beyond this, the oldest are dropped first.
constexpr uint64_t kInstallLogKeepBytes = 256 * 1024;
// One run lists at most this many written entries (a payload may hold 200000); the rest is counted.
constexpr uint32_t kInstallLogMaxEntryLines = 2000;
// A name or text is cut to this many bytes of the log (after escaping) and ends in "…" there; the
// install itself always uses the whole name.
constexpr size_t kInstallLogMaxTextBytes = 400;
// Written entries are listed only while the run is smaller than this, and at most this many failed
// undo steps: with the other lines of a run, it stays within kInstallLogKeepBytes, so the next
// run keeps it whole. The rest is counted.
constexpr uint64_t kInstallLogListBytes = 128 * 1024;
constexpr uint32_t kInstallLogMaxUndoLines = 100;
// Every run begins with a line that begins with this.
constexpr char kInstallLogRunMarker[] = "==== ";

// `directory` + the window title + ".log", with the characters a file name cannot hold replaced
// by "_". Empty when `directory` is empty.
std::wstring InstallLogPath(const std::wstring& directory, const std::wstring& windowTitle);

// Opens a run at `path`: the kept older runs, then this run's header and the chosen folder. When
// something other than a file of ours stands at `path` (a link, a file with other hard links or of
// another user, a folder), it is left untouched and the run goes alone to a new file beside it,
// "<name>-<8 hexadecimal digits><extension>". `writtenPath` (may be null) receives the file
// written, empty when none. False when no file could be written; no run is open then.
bool BeginInstallLog(const std::wstring& path, const char* languageCode, const std::wstring& chosenFolder,
                     std::wstring* writtenPath = nullptr);
bool InstallLogOpen();

void LogRecordCheck(const std::string& suffix, RecordCheck check, const RecordFindings& findings);
void LogExtractionStart(const std::wstring& archivePath, const std::wstring& targetFolder);
void LogEntryWritten(const std::string& name, uint64_t size);
// `systemError` 0 means no system call failed (the archive itself was at fault).
void LogEntryFailed(const std::string& name, uint32_t systemError);
// An entry header the reader refused: cut short, a length out of range or an unsafe name.
void LogEntryRefused(uint32_t entryIndex, const std::string& name);
// For an extraction that can put the folder back as it was after a failure.
void LogFolderRestored(bool restored);
// One step of a rollback or of a recovery that failed: `what` names the step and its path (for
// example "restore data/a.pak from .pi12-3.tmp"). `systemError` as for LogEntryFailed.
void LogUndoStepFailed(const std::string& what, uint32_t systemError);
// A record of the journal that was refused: `record` says which and why.
void LogJournalRefused(const std::string& record);
// The extraction stopped before its first write (the pre-flight refused it).
void LogNothingWritten();
void LogResult(const std::string& result);

// Writes what is pending and closes the run. True when the whole run reached the file.
bool EndInstallLog();
