// Image decoding through the GDI+ flat API. GdipLoadImageFromFile reads the format from the content
// and keeps the file open until GdipDisposeImage.
#include "platform/image_win.h"

#include "platform/owner_state.h"

namespace platform {

struct Image::State {
    Gdiplus::GpImage* image = nullptr;
};

Image::Image() : state_(new State) {}
Image::~Image() {
    Reset();
}
Image::Image(Image&& other) noexcept : state_(std::move(other.state_)) {}
Image& Image::operator=(Image&& other) noexcept {
    if (this != &other) {
        Reset();
        state_.swap(other.state_);
    }
    return *this;
}

bool Image::Load(const std::wstring& path) {
    Reset();
    EnsureState(state_);
    Gdiplus::GpImage* image = nullptr;
    Gdiplus::GpStatus status = Gdiplus::DllExports::GdipLoadImageFromFile(path.c_str(), &image);
    if (status != Gdiplus::Ok) {
        if (image != nullptr) Gdiplus::DllExports::GdipDisposeImage(image);
        return false;
    }
    state_->image = image;
    return image != nullptr;
}

void Image::Reset() {
    if (state_ && state_->image != nullptr) {
        Gdiplus::DllExports::GdipDisposeImage(state_->image);
        state_->image = nullptr;
    }
}

bool Image::IsLoaded() const {
    return state_ && state_->image != nullptr;
}

uint32_t Image::Width() const {
    UINT width = 0;
    if (!IsLoaded() || Gdiplus::DllExports::GdipGetImageWidth(state_->image, &width) != Gdiplus::Ok) {
        return 0;
    }
    return width;
}

uint32_t Image::Height() const {
    UINT height = 0;
    if (!IsLoaded() || Gdiplus::DllExports::GdipGetImageHeight(state_->image, &height) != Gdiplus::Ok) {
        return 0;
    }
    return height;
}

Gdiplus::GpImage* GdiplusImageOf(const Image& image) {
    return image.IsLoaded() ? image.state()->image : nullptr;
}

}  // namespace platform
