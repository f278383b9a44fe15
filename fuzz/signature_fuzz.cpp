// Fuzz target of the signature file reader. Whatever it accepts must come back byte for byte from
// the writer's encoding plus the signature, with the digest taken over exactly the signed bytes:
// so the reader neither skips nor invents a field, and never reads outside the input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "install/signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PatchSignature signature;
    platform::Sha256Digest digest{};
    if (!ParsePatchSignature(data, size, signature, digest)) return 0;
    std::string encoded = EncodeSignedPart(signature);
    if (encoded.size() + signature.signature.size() != size || std::memcmp(encoded.data(), data, encoded.size()) != 0)
        std::abort();
    if (std::memcmp(signature.signature.data(), data + encoded.size(), signature.signature.size()) != 0) std::abort();
    platform::Sha256 sha;
    platform::Sha256Digest expected{};
    if (!sha.Begin() || !sha.Update(data, encoded.size()) || !sha.Finish(expected) || expected != digest) std::abort();
    if (signature.banners.size() > 3 || signature.payloadEntries.size() > 200000) std::abort();
    return 0;
}
