#include "support/temp_env.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>

#include "platform/text.h"
#endif

namespace test {
namespace {

#ifdef _WIN32
bool GetVariable(std::wstring& value) {
    wchar_t buffer[32768];
    DWORD n = ::GetEnvironmentVariableW(L"TMP", buffer, 32768);
    if (n == 0 || n >= 32768) return false;
    value.assign(buffer, n);
    return true;
}
void SetVariable(const std::wstring* value) {
    ::SetEnvironmentVariableW(L"TMP", value ? value->c_str() : nullptr);
}
#else
bool GetVariable(std::wstring& value) {
    const char* text = std::getenv("TMPDIR");
    if (text == nullptr) return false;
    std::string s = text;
    value = platform::ConvertUtf8ToWide(s.data(), s.size());
    return true;
}
void SetVariable(const std::wstring* value) {
    if (value == nullptr) {
        ::unsetenv("TMPDIR");
        return;
    }
    std::string native = platform::ConvertWideToUtf8(*value);
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    ::setenv("TMPDIR", native.c_str(), 1);
}
#endif

}  // namespace

void SetTempFolderVariable(const std::wstring& path) {
    SetVariable(&path);
}

ScopedTempFolder::ScopedTempFolder() {
    hadOld_ = GetVariable(old_);
    SetVariable(&folder_.path());
}

ScopedTempFolder::~ScopedTempFolder() {
    SetVariable(hadOld_ ? &old_ : nullptr);
}

}  // namespace test
