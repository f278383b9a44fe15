#pragma once
// Image files made by the tests themselves: uncompressed 24-bit BMP, which both GDI+ and stb_image
// read, recognised by its content whatever the file is called.
#include <cstdint>
#include <functional>
#include <string>

namespace test {

struct Rgb {
    uint8_t r, g, b;
};

// Each pixel's colour from `colour(x, y)`, y counted from the top.
std::string MakeBmp(uint32_t width, uint32_t height, const std::function<Rgb(uint32_t, uint32_t)>& colour);
std::string MakeSolidBmp(uint32_t width, uint32_t height, Rgb colour);

}  // namespace test
