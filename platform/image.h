#pragma once
// A decoded image file. The format is recognised from the content, never from the name (banner
// temporary files have no extension). Windows decodes with GDI+, which must have been started
// (GdiplusStartup) before Load and still be running when the image is released; the native build
// decodes with stb_image (PNG, JPEG, BMP, GIF and a few more).
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Owner of one decoded image: move only; the destructor or Reset releases it. A moved-from image
// holds nothing and may be loaded again. On Windows the file
// stays open while the image lives, so release the image before deleting its file.
class Image {
public:
    Image();
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    Image(Image&& other) noexcept;
    Image& operator=(Image&& other) noexcept;

    // Decodes the file, replacing any image held before. False (and nothing held) when the file is
    // missing or is not an image the decoder accepts.
    bool Load(const std::wstring& path);
    void Reset();
    bool IsLoaded() const;
    // Size in pixels; 0 when nothing is held or the decoder cannot say.
    uint32_t Width() const;
    uint32_t Height() const;

    struct State;
    // For the platform's drawing code (see image_win.h); not for portable code.
    State* state() const { return state_.get(); }

private:
    std::unique_ptr<State> state_;
};

}  // namespace platform
