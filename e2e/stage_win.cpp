#include "e2e/stage_win.h"

#include <filesystem>
#include <fstream>

#include "platform/text.h"

namespace e2e {

namespace {

std::wstring NewScratchRoot() {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(static_cast<DWORD>(std::size(temp)), temp);
    for (unsigned attempt = 0;; ++attempt) {
        std::wstring candidate = std::wstring(temp) + L"pi-e2e-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(::GetTickCount()) + L"-" + std::to_wstring(attempt);
        if (::CreateDirectoryW(candidate.c_str(), nullptr)) return candidate;
        if (attempt > 100) return std::wstring();
    }
}

}  // namespace

Stage::Stage(const std::wstring& installerExe) : root_(NewScratchRoot()) {
    if (root_.empty()) return;
    std::error_code ec;
    for (const std::wstring& dir : {app(), game(), cwd()}) std::filesystem::create_directories(dir, ec);
    ok_ = !ec && ::CopyFileW(installerExe.c_str(), exe().c_str(), FALSE) &&
          WriteFileAt(cwd() + L"\\patch_manifest.dat", BuildManifest({{"WindowTitle", "DECOY"}}));
}

Stage::~Stage() {
    if (root_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

bool Stage::WritePatch(const DemoPatch& patch) {
    return WriteFileAt(app() + L"\\patch_manifest.dat", BuildManifest(patch.manifest)) &&
           WriteFileAt(app() + L"\\patch_payload.dat", BuildPayloadArchive(patch.payload)) &&
           WriteFileAt(game() + L"\\" + NativeName(patch.gameFileName), patch.gameFile);
}

bool WriteFileAt(const std::wstring& path, const std::string& bytes) {
    std::filesystem::path target(path);
    std::error_code ec;
    std::filesystem::create_directories(target.parent_path(), ec);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

bool WriteSparseFile(const std::wstring& path, uint64_t size) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    const bool ok = ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
    ::CloseHandle(file);
    return ok;
}

bool ReadFileAt(const std::wstring& path, std::string& bytes) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::wstring NativeName(const std::string& utf8Name) {
    std::wstring name = platform::ConvertUtf8ToWide(utf8Name.data(), utf8Name.size());
    for (wchar_t& c : name) {
        if (c == L'/') c = L'\\';
    }
    return name;
}

InstallerProcess::~InstallerProcess() {
    if (!process_) return;
    if (Running()) {
        ::TerminateProcess(process_, 99);
        ::WaitForSingleObject(process_, 5000);
    }
    ::CloseHandle(process_);
}

bool InstallerProcess::Start(const Stage& stage) { return Start(stage.exe(), stage.cwd()); }

bool InstallerProcess::Start(const std::wstring& exe, const std::wstring& workingDirectory) {
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          workingDirectory.c_str(), &startup, &info)) {
        return false;
    }
    ::CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = info.dwProcessId;
    return true;
}

bool InstallerProcess::WaitForExit(DWORD timeoutMs, DWORD& exitCode) {
    if (!process_ || ::WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return false;
    return ::GetExitCodeProcess(process_, &exitCode) != 0;
}

bool InstallerProcess::Running() const {
    return process_ && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

}  // namespace e2e
