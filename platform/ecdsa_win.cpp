// ECDSA P-256 verification with CNG (bcrypt.dll, delay-loaded by the installer).
#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "platform/ecdsa.h"
#include "platform/win_handle.h"

namespace platform {

bool VerifyP256(const P256PublicKey& publicKey, const Sha256Digest& digest, const P256Signature& signature) {
    UniqueBcryptAlgorithm algorithm;
    if (::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) return false;
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, publicKey.data(), publicKey.size());
    // The import checks that the point lies on the curve.
    UniqueBcryptKey key;
    if (::BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(), blob, sizeof blob, 0) != 0)
        return false;
    // CNG takes non-const buffers for input it only reads.
    Sha256Digest hash = digest;
    P256Signature sig = signature;
    return ::BCryptVerifySignature(key.get(), nullptr, hash.data(), static_cast<ULONG>(hash.size()), sig.data(),
                                   static_cast<ULONG>(sig.size()), 0) == 0;
}

}  // namespace platform
