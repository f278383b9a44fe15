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
#include <cstdint>
#include <string>

#include "install/verify.h"

constexpr char kInstallerVersion[] = "1.0.0";
// Runs are whole: when the kept runs would grow beyond this, the oldest are dropped first.
constexpr uint64_t kInstallLogKeepBytes = 256 * 1024;
// One run lists at most this many written entries (a payload may hold 200000); the rest is counted.
constexpr uint32_t kInstallLogMaxEntryLines = 2000;
// Every run begins with a line that begins with this.
constexpr char kInstallLogRunMarker[] = "==== ";

// `directory` + the window title + ".log", with the characters a file name cannot hold replaced
// by "_". Empty when `directory` is empty.
std::wstring InstallLogPath(const std::wstring& directory, const std::wstring& windowTitle);

// Opens a run at `path`: the kept older runs, then this run's header and the chosen folder. False
// when the file cannot be written; no run is open then.
bool BeginInstallLog(const std::wstring& path, const char* languageCode, const std::wstring& chosenFolder);
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
// The extraction stopped before its first write (the pre-flight refused it).
void LogNothingWritten();
void LogResult(const std::string& result);

// Writes what is pending and closes the run. True when the whole run reached the file.
bool EndInstallLog();
