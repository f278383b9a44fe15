#include <windows.h>
#include <wincrypt.h>

#include "platform/base64.h"

namespace platform {

bool DecodeBase64(const char* text, std::string& out) {
    // Length 0: CryptoAPI reads up to the terminating NUL.
    DWORD size = 0;
    if (!::CryptStringToBinaryA(text, 0, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr)) return false;
    std::string bytes(size, '\0');
    if (size > 0 && !::CryptStringToBinaryA(text, 0, CRYPT_STRING_BASE64, reinterpret_cast<BYTE*>(&bytes[0]), &size,
                                            nullptr, nullptr)) {
        return false;
    }
    bytes.resize(size);
    out.swap(bytes);
    return true;
}

}  // namespace platform
