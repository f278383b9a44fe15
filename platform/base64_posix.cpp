// Base64 for builds without CryptoAPI: canonical RFC 4648 only. Length a multiple of four, padding
// only at the end, unused bits of the last group zero; anything else is refused.
#include "platform/base64.h"

#include <cstdint>
#include <cstring>

namespace platform {
namespace {

int Sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

bool DecodeBase64(const char* text, std::string& out) {
    size_t length = std::strlen(text);
    if (length % 4 != 0) return false;
    std::string bytes;
    bytes.reserve(length / 4 * 3);
    for (size_t i = 0; i < length; i += 4) {
        bool last = i + 4 == length;
        int pad = 0;
        if (last && text[i + 3] == '=') pad = text[i + 2] == '=' ? 2 : 1;
        uint32_t group = 0;
        for (int k = 0; k < 4; ++k) {
            int value = k >= 4 - pad ? 0 : Sextet(text[i + k]);
            if (value < 0) return false;
            group = (group << 6) | static_cast<uint32_t>(value);
        }
        if ((pad == 2 && (group & 0xFFFF) != 0) || (pad == 1 && (group & 0xFF) != 0)) return false;
        bytes.push_back(static_cast<char>(group >> 16));
        if (pad < 2) bytes.push_back(static_cast<char>((group >> 8) & 0xFF));
        if (pad < 1) bytes.push_back(static_cast<char>(group & 0xFF));
    }
    out.swap(bytes);
    return true;
}

}  // namespace platform
