#pragma once
// Text helpers shared by every module: UTF-8 input, lenient numbers and keyword comparison.
#include <cstdint>
#include <string>

// UTF-8 bytes (taken by length, NUL bytes included) to wide text; each ill-formed sequence becomes
// U+FFFD. Empty input gives the empty string.
std::wstring Utf8ToWide(const std::string& bytes);

// The C runtime's lenient decimal conversion: leading white space, an optional sign, then digits up
// to the first other character. No digits give 0; values beyond the type's range saturate.
int32_t ParseLenientInt32(const std::wstring& text);
int64_t ParseLenientInt64(const std::wstring& text);

// Equal ignoring the case of the ASCII letters only; other characters and the lengths must match.
bool EqualsIgnoreAsciiCase(const std::wstring& a, const std::wstring& b);

// Canonical Base64 (RFC 4648 alphabet, with padding) of raw bytes; what manifest values are.
std::string EncodeBase64(const std::string& bytes);
