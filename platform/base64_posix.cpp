// Base64 for builds without CryptoAPI. It accepts exactly what CryptStringToBinaryA with
// CRYPT_STRING_BASE64 accepts (measured under Wine), so that patchtool on Linux judges a manifest
// value as the installer will:
// - tab, LF, CR and blank are skipped anywhere; any other byte outside the alphabet and "=" fails;
// - an "=" where a group of four begins ends the text: whatever follows is not looked at;
// - an "=" inside a group starts its padding; after it only "=" and white space may come, and the
//   text ends when the group is full. A group whose padding stops short of four fails;
// - without padding the last group may be cut short: one or two characters give one byte, three
//   give two; the bits that do not fill a byte are dropped, whatever their value.
#include "platform/base64.h"

#include <cstdint>

namespace platform {
namespace {

constexpr int kSkip = -1;
constexpr int kPad = -2;
constexpr int kBad = -3;

int Classify(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    if (c == '=') return kPad;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') return kSkip;
    return kBad;
}

// Appends the bytes of a group of `count` sextets (1 to 4) held in the high bits of `group`.
void EmitGroup(uint32_t group, int count, std::string& bytes) {
    bytes.push_back(static_cast<char>(group >> 16));
    if (count >= 3) bytes.push_back(static_cast<char>((group >> 8) & 0xFF));
    if (count == 4) bytes.push_back(static_cast<char>(group & 0xFF));
}

}  // namespace

bool DecodeBase64(const char* text, std::string& out) {
    std::string bytes;
    uint32_t group = 0;
    int count = 0;   // sextets and padding characters in the current group
    int filled = 0;  // of which sextets
    bool padding = false;
    for (; *text; ++text) {
        int value = Classify(*text);
        if (value == kBad) return false;
        if (value == kSkip) continue;
        if (value == kPad) {
            if (count == 0) break;
            padding = true;
            if (++count == 4) break;
            continue;
        }
        if (padding) return false;
        group |= static_cast<uint32_t>(value) << (18 - 6 * count);
        ++filled;
        if (++count == 4) {
            EmitGroup(group, 4, bytes);
            group = 0;
            count = filled = 0;
        }
    }
    if (padding && count != 4) return false;
    if (filled > 0) EmitGroup(group, filled, bytes);
    out.swap(bytes);
    return true;
}

}  // namespace platform
