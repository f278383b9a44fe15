// UTF-8 conversion for builds without MultiByteToWideChar. Wide strings hold code points here.
#include "platform/text.h"

#include <clocale>
#include <cstdint>
#include <cwctype>

namespace platform {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

// Valid range of the first continuation byte after a lead byte (Unicode table of well-formed
// UTF-8 byte sequences); later continuation bytes are always 80..BF.
bool SecondByteRange(uint8_t lead, uint8_t& low, uint8_t& high, int& length) {
    low = 0x80;
    high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead == 0xE0) {
        length = 3;
        low = 0xA0;
    } else if (lead >= 0xE1 && lead <= 0xEC)
        length = 3;
    else if (lead == 0xED) {
        length = 3;
        high = 0x9F;
    } else if (lead >= 0xEE && lead <= 0xEF)
        length = 3;
    else if (lead == 0xF0) {
        length = 4;
        low = 0x90;
    } else if (lead >= 0xF1 && lead <= 0xF3)
        length = 4;
    else if (lead == 0xF4) {
        length = 4;
        high = 0x8F;
    } else
        return false;
    return true;
}

}  // namespace

std::wstring ConvertUtf8ToWide(const char* bytes, size_t length) {
    std::wstring out;
    out.reserve(length);
    const uint8_t* in = reinterpret_cast<const uint8_t*>(bytes);
    size_t i = 0;
    while (i < length) {
        uint8_t lead = in[i];
        if (lead < 0x80) {
            out.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        uint8_t low, high;
        int need;
        if (!SecondByteRange(lead, low, high, need)) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        uint32_t cp = lead & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
        size_t j = i + 1;
        int have = 1;
        while (have < need && j < length) {
            uint8_t b = in[j];
            if (b < low || b > high) break;
            cp = (cp << 6) | (b & 0x3F);
            low = 0x80;
            high = 0xBF;
            ++j;
            ++have;
        }
        // A complete sequence gives its code point; an incomplete one (its maximal subpart) one U+FFFD.
        out.push_back(have == need ? static_cast<wchar_t>(cp) : kReplacement);
        i = j;
    }
    return out;
}

std::string ConvertWideToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        uint32_t cp = static_cast<uint32_t>(wc);
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::wstring UpperCaseAsFileNames(const std::wstring& text) {
    // The C library's Unicode table, whatever locale the process runs in: glibc's built-in
    // C.UTF-8 holds the simple case mappings of the Unicode version it ships.
    static const locale_t kUtf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    std::wstring upper = text;
    if (!kUtf8) return upper;
    for (wchar_t& c : upper) {
        if (c > 0xFFFF) continue;
        wint_t mapped = ::towupper_l(static_cast<wint_t>(c), kUtf8);
        // Windows keeps only the mappings that lead back: "ı", "ſ" or "µ" stay as
        // they are, because their upper case is the upper case of another letter (measured on
        // Wine's table, which gives exactly the Unicode mappings less these).
        if (mapped > 0xFFFF || ::towlower_l(mapped, kUtf8) != static_cast<wint_t>(c)) continue;
        c = static_cast<wchar_t>(mapped);
    }
    return upper;
}

}  // namespace platform
