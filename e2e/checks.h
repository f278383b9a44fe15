#pragma once
// Records the checks of one scenario: prints every failure at once and a summary at the end.
#include <cstdio>
#include <string>
#include <type_traits>

#include "e2e/win_probe_win.h"

namespace e2e {

class Checks {
public:
    explicit Checks(std::string scenario) : scenario_(std::move(scenario)) {}

    bool Expect(bool ok, const std::string& what) {
        ++count_;
        if (!ok) {
            ++failures_;
            std::printf("FAIL [%s] %s\n", scenario_.c_str(), what.c_str());
            std::fflush(stdout);
        }
        return ok;
    }

    template <typename T>
    bool Equal(const T& got, const T& want, const std::string& what) {
        return Expect(got == want, what + ": got " + Show(got) + ", want " + Show(want));
    }
    bool Equal(const std::wstring& got, const wchar_t* want, const std::string& what) {
        return Equal(got, std::wstring(want), what);
    }

    // Prints the summary; true when nothing failed.
    bool Finish() const {
        std::printf("%s [%s] %d checks, %d failed\n", failures_ == 0 ? "PASS" : "FAIL", scenario_.c_str(), count_,
                    failures_);
        return failures_ == 0 && count_ > 0;
    }

private:
    static std::string Show(const std::wstring& s) { return "\"" + Utf8(s) + "\""; }
    static std::string Show(const std::string& s) { return "\"" + s + "\""; }
    static std::string Show(bool b) { return b ? "true" : "false"; }
    template <typename T, typename = std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>>
    static std::string Show(T n) {
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "%lld (0x%llX)", static_cast<long long>(n),
                      static_cast<unsigned long long>(n));
        return buffer;
    }

    std::string scenario_;
    int count_ = 0;
    int failures_ = 0;
};

}  // namespace e2e
