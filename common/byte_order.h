#pragma once
// Little-endian integers, the byte order of every field of the patch's archives: loaded by the
// readers, appended by patchtool's writers and the tests' archive builders.
#include <cstdint>
#include <string>

inline uint32_t LoadU32(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline uint64_t LoadU64(const unsigned char* bytes) {
    return static_cast<uint64_t>(LoadU32(bytes)) | static_cast<uint64_t>(LoadU32(bytes + 4)) << 32;
}

inline void AppendU32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

inline void AppendU64(std::string& out, uint64_t value) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}
