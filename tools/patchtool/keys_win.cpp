// Key generation and signing with CNG for patchtool.exe. CNG's own blobs are not PKCS#8, so the
// one fixed PKCS#8 form of a P-256 key (the form OpenSSL writes too: parameters in the algorithm
// identifier, the public key included) is written and read here byte for byte.
#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "tools/patchtool/keys.h"

#include "platform/win_handle.h"

namespace {

using Algorithm = platform::UniqueBcryptAlgorithm;
using Key = platform::UniqueBcryptKey;

// PKCS#8 PrivateKeyInfo of a P-256 key: this prefix, d (32 bytes), kMiddle, X and Y (32 each).
constexpr uint8_t kPrefix[] = {0x30, 0x81, 0x87, 0x02, 0x01, 0x00, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86,
                               0x48, 0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d,
                               0x03, 0x01, 0x07, 0x04, 0x6d, 0x30, 0x6b, 0x02, 0x01, 0x01, 0x04, 0x20};
constexpr uint8_t kMiddle[] = {0xa1, 0x44, 0x03, 0x42, 0x00, 0x04};
constexpr size_t kPkcs8Size = sizeof kPrefix + 32 + sizeof kMiddle + 64;

// CNG's private blob: header, X, Y, d.
struct PrivateBlob {
    BCRYPT_ECCKEY_BLOB header;
    uint8_t x[32];
    uint8_t y[32];
    uint8_t d[32];
};

bool OpenP256(Algorithm& algorithm) {
    return ::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) == 0;
}

std::string EncodePkcs8(const PrivateBlob& blob) {
    std::string der(reinterpret_cast<const char*>(kPrefix), sizeof kPrefix);
    der.append(reinterpret_cast<const char*>(blob.d), 32);
    der.append(reinterpret_cast<const char*>(kMiddle), sizeof kMiddle);
    der.append(reinterpret_cast<const char*>(blob.x), 32);
    der.append(reinterpret_cast<const char*>(blob.y), 32);
    return der;
}

bool DecodePkcs8(const std::string& der, PrivateBlob& blob) {
    const char* bytes = der.data();
    if (der.size() != kPkcs8Size || std::memcmp(bytes, kPrefix, sizeof kPrefix) != 0 ||
        std::memcmp(bytes + sizeof kPrefix + 32, kMiddle, sizeof kMiddle) != 0)
        return false;
    blob.header = {BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
    std::memcpy(blob.d, bytes + sizeof kPrefix, 32);
    std::memcpy(blob.x, bytes + sizeof kPrefix + 32 + sizeof kMiddle, 32);
    std::memcpy(blob.y, bytes + sizeof kPrefix + 64 + sizeof kMiddle, 32);
    return true;
}

void PublicHalf(const PrivateBlob& blob, platform::P256PublicKey& publicKey) {
    std::memcpy(publicKey.data(), blob.x, 32);
    std::memcpy(publicKey.data() + 32, blob.y, 32);
}

}  // namespace

bool GenerateKeyPair(std::string& privatePem, platform::P256PublicKey& publicKey) {
    Algorithm algorithm;
    Key key;
    if (!OpenP256(algorithm) || ::BCryptGenerateKeyPair(algorithm.get(), key.put(), 256, 0) != 0 ||
        ::BCryptFinalizeKeyPair(key.get(), 0) != 0)
        return false;
    PrivateBlob blob{};
    ULONG got = 0;
    if (::BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, reinterpret_cast<PUCHAR>(&blob), sizeof blob,
                          &got, 0) != 0 ||
        got != sizeof blob || blob.header.cbKey != 32)
        return false;
    privatePem = EncodePemBlock(EncodePkcs8(blob), "PRIVATE KEY");
    PublicHalf(blob, publicKey);
    SecureZeroMemory(&blob, sizeof blob);
    return true;
}

bool PrivateKeyPublicHalf(const std::string& privatePem, platform::P256PublicKey& publicKey) {
    std::string der;
    PrivateBlob blob{};
    if (!DecodePemBlock(privatePem, "PRIVATE KEY", der) || !DecodePkcs8(der, blob)) return false;
    PublicHalf(blob, publicKey);
    SecureZeroMemory(&blob, sizeof blob);
    return true;
}

bool SignDigest(const std::string& privatePem, const platform::Sha256Digest& digest, platform::P256Signature& signature,
                platform::P256PublicKey& publicKey) {
    std::string der;
    PrivateBlob blob{};
    if (!DecodePemBlock(privatePem, "PRIVATE KEY", der) || !DecodePkcs8(der, blob)) return false;
    Algorithm algorithm;
    Key key;
    bool imported =
        OpenP256(algorithm) && ::BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, key.put(),
                                                     reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0) == 0;
    PublicHalf(blob, publicKey);
    SecureZeroMemory(&blob, sizeof blob);
    if (!imported) return false;
    platform::Sha256Digest hash = digest;
    ULONG got = 0;
    return ::BCryptSignHash(key.get(), nullptr, hash.data(), static_cast<ULONG>(hash.size()), signature.data(),
                            static_cast<ULONG>(signature.size()), &got, 0) == 0 &&
           got == signature.size();
}
