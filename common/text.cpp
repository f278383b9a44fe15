#include "common/text.h"

#include <limits>

#include "platform/text.h"

std::wstring Utf8ToWide(const std::string& bytes) {
    if (bytes.empty()) return std::wstring();
    return platform::ConvertUtf8ToWide(bytes.data(), bytes.size());
}

namespace {

// White space as the C locale's isspace knows it; the same set on every build.
bool IsAsciiSpace(wchar_t c) {
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

template <typename T>
T ParseLenient(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && IsAsciiSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    // Accumulate towards the sign's side so that the most negative value is reachable.
    constexpr T kMax = std::numeric_limits<T>::max();
    constexpr T kMin = std::numeric_limits<T>::min();
    T value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        T digit = static_cast<T>(text[i] - L'0');
        if (negative) {
            if (value < (kMin + digit) / 10) return kMin;
            value = static_cast<T>(value * 10 - digit);
        } else {
            if (value > (kMax - digit) / 10) return kMax;
            value = static_cast<T>(value * 10 + digit);
        }
    }
    return value;
}

wchar_t FoldAscii(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

}  // namespace

int32_t ParseLenientInt32(const std::wstring& text) {
    return ParseLenient<int32_t>(text);
}
int64_t ParseLenientInt64(const std::wstring& text) {
    return ParseLenient<int64_t>(text);
}

bool EqualsIgnoreAsciiCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

std::string EncodeBase64(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        size_t left = bytes.size() - i;
        uint32_t group = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 16;
        if (left > 1) group |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
        if (left > 2) group |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 2]));
        out.push_back(kAlphabet[(group >> 18) & 63]);
        out.push_back(kAlphabet[(group >> 12) & 63]);
        out.push_back(left > 1 ? kAlphabet[(group >> 6) & 63] : '=');
        out.push_back(left > 2 ? kAlphabet[group & 63] : '=');
    }
    return out;
}
