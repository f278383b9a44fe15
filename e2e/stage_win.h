#pragma once
// A scratch copy of the installer with its data files, a stand-in game folder, and the running
// installer process.
#include <windows.h>

#include <cstdint>
#include <string>

#include "e2e/patch_data.h"

namespace e2e {

// A new folder below the temporary folder, removed with everything in it by the destructor:
//   app\   PatchInstaller.exe and the data files beside it
//   game\  the stand-in game folder
//   cwd\   the installer's working directory, holding a decoy manifest that must never be read
class Stage {
public:
    explicit Stage(const std::wstring& installerExe);
    ~Stage();
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;

    bool ok() const { return ok_; }
    const std::wstring& root() const { return root_; }
    std::wstring app() const { return root_ + L"\\app"; }
    std::wstring game() const { return root_ + L"\\game"; }
    std::wstring cwd() const { return root_ + L"\\cwd"; }
    std::wstring exe() const { return app() + L"\\PatchInstaller.exe"; }

    // Writes the manifest and the payload beside the executable and the identifying game file.
    bool WritePatch(const DemoPatch& patch);

private:
    std::wstring root_;
    bool ok_ = false;
};

// Writes `bytes` to `path`, creating missing folders on the way.
bool WriteFileAt(const std::wstring& path, const std::string& bytes);
bool ReadFileAt(const std::wstring& path, std::string& bytes);
// `size` zero bytes that cost no disk, for a game file that takes long to hash.
bool WriteSparseFile(const std::wstring& path, uint64_t size);
// The folder as a wide Windows path with "\" separators; "/" in a UTF-8 name become "\".
std::wstring NativeName(const std::string& utf8Name);

class InstallerProcess {
public:
    InstallerProcess() = default;
    ~InstallerProcess();  // terminates the process if it still runs
    InstallerProcess(const InstallerProcess&) = delete;
    InstallerProcess& operator=(const InstallerProcess&) = delete;

    bool Start(const Stage& stage);
    bool Start(const std::wstring& exe, const std::wstring& workingDirectory);
    DWORD pid() const { return pid_; }
    // Waits for the process to end; false (and `exitCode` untouched) when it did not in time.
    bool WaitForExit(DWORD timeoutMs, DWORD& exitCode);
    bool Running() const;

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

}  // namespace e2e
