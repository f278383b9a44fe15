#include "tools/patchtool/image_info.h"

#include <cstdlib>

namespace {

uint32_t Be16(const std::string& s, size_t at) {
    return (static_cast<uint8_t>(s[at]) << 8) | static_cast<uint8_t>(s[at + 1]);
}

uint32_t Be32(const std::string& s, size_t at) {
    return (Be16(s, at) << 16) | Be16(s, at + 2);
}

uint32_t Le16(const std::string& s, size_t at) {
    return static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8);
}

uint32_t Le32(const std::string& s, size_t at) {
    return Le16(s, at) | (Le16(s, at + 2) << 16);
}

// Walks the JPEG marker segments up to the first start-of-frame, which holds the size.
void SniffJpeg(const std::string& s, ImageInfo& info) {
    size_t at = 2;
    while (at + 9 <= s.size()) {
        if (static_cast<uint8_t>(s[at]) != 0xFF) return;
        uint8_t marker = static_cast<uint8_t>(s[at + 1]);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        bool isFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (isFrame) {
            info.height = Be16(s, at + 5);
            info.width = Be16(s, at + 7);
            return;
        }
        at += 2 + Be16(s, at + 2);
    }
}

}  // namespace

ImageInfo SniffImage(const std::string& s) {
    ImageInfo info;
    if (s.size() >= 24 && s.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0 && s.compare(12, 4, "IHDR") == 0) {
        info.type = "PNG";
        info.width = Be32(s, 16);
        info.height = Be32(s, 20);
    } else if (s.size() >= 10 && (s.compare(0, 6, "GIF87a") == 0 || s.compare(0, 6, "GIF89a") == 0)) {
        info.type = "GIF";
        info.width = Le16(s, 6);
        info.height = Le16(s, 8);
    } else if (s.size() >= 26 && s.compare(0, 2, "BM") == 0) {
        info.type = "BMP";
        info.width = Le32(s, 18);
        // A negative height means rows stored top-down; the size is its magnitude.
        int32_t height = static_cast<int32_t>(Le32(s, 22));
        info.height = height < 0 ? 0u - static_cast<uint32_t>(height) : static_cast<uint32_t>(height);
    } else if (s.size() >= 3 && s.compare(0, 3, "\xFF\xD8\xFF") == 0) {
        info.type = "JPEG";
        SniffJpeg(s, info);
    }
    return info;
}
