#include "support/test_images.h"

#include "common/byte_order.h"

namespace test {
namespace {

void AppendU16(std::string& out, uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

}  // namespace

std::string MakeBmp(uint32_t width, uint32_t height, const std::function<Rgb(uint32_t, uint32_t)>& colour) {
    uint32_t stride = (width * 3 + 3) & ~3u;
    uint32_t pixelBytes = stride * height;
    std::string out = "BM";
    AppendU32(out, 54 + pixelBytes);
    AppendU32(out, 0);
    AppendU32(out, 54);
    AppendU32(out, 40);  // BITMAPINFOHEADER
    AppendU32(out, width);
    AppendU32(out, height);  // positive: rows stored bottom-up
    AppendU16(out, 1);
    AppendU16(out, 24);
    AppendU32(out, 0);
    AppendU32(out, pixelBytes);
    AppendU32(out, 2835);
    AppendU32(out, 2835);
    AppendU32(out, 0);
    AppendU32(out, 0);
    for (uint32_t row = 0; row < height; ++row) {
        uint32_t y = height - 1 - row;
        for (uint32_t x = 0; x < width; ++x) {
            Rgb c = colour(x, y);
            out.push_back(static_cast<char>(c.b));
            out.push_back(static_cast<char>(c.g));
            out.push_back(static_cast<char>(c.r));
        }
        out.append(stride - width * 3, '\0');
    }
    return out;
}

std::string MakeSolidBmp(uint32_t width, uint32_t height, Rgb colour) {
    return MakeBmp(width, height, [colour](uint32_t, uint32_t) { return colour; });
}

}  // namespace test
