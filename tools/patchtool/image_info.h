#pragma once
// Recognises the common raster formats from their first bytes, for `patchtool inspect`.
#include <cstdint>
#include <string>

struct ImageInfo {
    std::string type;  // "PNG", "JPEG", "GIF", "BMP"; empty when not recognised
    uint32_t width = 0;
    uint32_t height = 0;  // both 0 when the header that holds them is not within the bytes given
};

// `head` is the start of the file (the first 64 KiB suffice for every format here).
ImageInfo SniffImage(const std::string& head);
