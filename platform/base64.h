#pragma once
#include <string>

namespace platform {

// Decodes standard Base64 (RFC 4648 alphabet with padding) given as a NUL-terminated string.
// False when the text is not Base64 that the platform's decoder accepts; `out` is then unchanged.
bool DecodeBase64(const char* text, std::string& out);

}  // namespace platform
