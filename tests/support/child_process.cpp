#include "support/child_process.h"

#include <cstdlib>

#include "platform/fs.h"

#ifdef _WIN32
#include <windows.h>

namespace test {

int RunSelfWith(const std::string& name, const std::string& value) {
    std::wstring exe = platform::ExecutablePath();
    std::wstring commandLine = L"\"" + exe + L"\" --gtest_list_tests";
    ::SetEnvironmentVariableA(name.c_str(), value.c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    BOOL started = ::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                    &startup, &process);
    ::SetEnvironmentVariableA(name.c_str(), nullptr);
    if (!started) return -1;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace test

#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/text.h"

extern char** environ;

namespace test {

int RunSelfWith(const std::string& name, const std::string& value) {
    std::string exe = platform::ConvertWideToUtf8(platform::ExecutablePath());
    ::setenv(name.c_str(), value.c_str(), 1);
    char listFlag[] = "--gtest_list_tests";
    char* argv[] = {&exe[0], listFlag, nullptr};
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, environ);
    ::unsetenv(name.c_str());
    if (rc != 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace test
#endif
