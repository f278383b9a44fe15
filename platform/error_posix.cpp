#include "platform/error.h"

#include <cerrno>
#include <cstring>

namespace platform {

uint32_t LastSystemError() {
    return static_cast<uint32_t>(errno);
}

void ClearSystemError() {
    errno = 0;
}

void SetSystemError(uint32_t code) {
    errno = static_cast<int>(code);
}

std::string SystemErrorMessage(uint32_t code) {
    if (code == 0) return std::string();
    return std::strerror(static_cast<int>(code));
}

}  // namespace platform
