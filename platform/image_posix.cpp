// Image decoding with stb_image (Debian's libstb-dev), which recognises the format by its content.
// The whole image is decoded, so a truncated or corrupt file is refused as GDI+ would refuse it;
// only the size is kept, as nothing draws natively.
#include <cstdio>

#include "platform/image.h"
#include "platform/owner_state.h"
#include "platform/posix_path.h"

#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

namespace platform {

struct Image::State {
    bool loaded = false;
    uint32_t width = 0;
    uint32_t height = 0;
};

Image::Image() : state_(new State) {}
Image::~Image() = default;
Image::Image(Image&& other) noexcept : state_(std::move(other.state_)) {}
Image& Image::operator=(Image&& other) noexcept {
    if (this != &other) state_.swap(other.state_);
    return *this;
}

bool Image::Load(const std::wstring& path) {
    Reset();
    EnsureState(state_);
    std::FILE* file = std::fopen(NativePath(path).c_str(), "rb");
    if (file == nullptr) return false;
    int width = 0;
    int height = 0;
    int channels = 0;
    stbi_uc* pixels = stbi_load_from_file(file, &width, &height, &channels, 0);
    std::fclose(file);
    if (pixels == nullptr) return false;
    stbi_image_free(pixels);
    state_->loaded = true;
    state_->width = static_cast<uint32_t>(width);
    state_->height = static_cast<uint32_t>(height);
    return true;
}

void Image::Reset() {
    if (state_) *state_ = State();
}

bool Image::IsLoaded() const {
    return state_ && state_->loaded;
}
uint32_t Image::Width() const {
    return IsLoaded() ? state_->width : 0;
}
uint32_t Image::Height() const {
    return IsLoaded() ? state_->height : 0;
}

}  // namespace platform
