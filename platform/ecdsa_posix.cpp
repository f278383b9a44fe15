// ECDSA P-256 verification with OpenSSL's libcrypto.
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/ecdsa.h"

namespace platform {
namespace {

// SubjectPublicKeyInfo of a P-256 key up to the point: the DER form OpenSSL reads directly.
constexpr uint8_t kSpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06,
                                   0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct SigFree {
    void operator()(ECDSA_SIG* sig) const { ECDSA_SIG_free(sig); }
};

// r and s as the DER structure OpenSSL verifies; empty on failure.
std::string DerSignature(const P256Signature& signature) {
    std::unique_ptr<ECDSA_SIG, SigFree> sig(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
    BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return std::string();
    }
    unsigned char* der = nullptr;
    int length = i2d_ECDSA_SIG(sig.get(), &der);
    if (length <= 0) return std::string();
    std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(length));
    OPENSSL_free(der);
    return out;
}

}  // namespace

bool VerifyP256(const P256PublicKey& publicKey, const Sha256Digest& digest, const P256Signature& signature) {
    unsigned char spki[sizeof kSpkiPrefix + 64];
    std::memcpy(spki, kSpkiPrefix, sizeof kSpkiPrefix);
    std::memcpy(spki + sizeof kSpkiPrefix, publicKey.data(), publicKey.size());
    const unsigned char* in = spki;
    // d2i_PUBKEY checks that the point lies on the curve.
    std::unique_ptr<EVP_PKEY, PkeyFree> key(d2i_PUBKEY(nullptr, &in, sizeof spki));
    if (!key) return false;
    std::string der = DerSignature(signature);
    if (der.empty()) return false;
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) != 1) return false;
    return EVP_PKEY_verify(ctx.get(), reinterpret_cast<const unsigned char*>(der.data()), der.size(), digest.data(),
                           digest.size()) == 1;
}

}  // namespace platform
