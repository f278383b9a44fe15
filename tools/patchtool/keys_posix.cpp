// Key generation and signing with OpenSSL's libcrypto.
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>

#include "tools/patchtool/keys.h"

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct SigFree {
    void operator()(ECDSA_SIG* sig) const { ECDSA_SIG_free(sig); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// The key's public half, when it is a P-256 key.
bool PublicHalf(EVP_PKEY* key, platform::P256PublicKey& publicKey) {
    unsigned char* der = nullptr;
    int length = i2d_PUBKEY(key, &der);
    if (length <= 0) return false;
    std::string bytes(reinterpret_cast<char*>(der), static_cast<size_t>(length));
    OPENSSL_free(der);
    return DecodePublicKeyDer(bytes, publicKey);
}

}  // namespace

bool GenerateKeyPair(std::string& privatePem, platform::P256PublicKey& publicKey) {
    Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!key || !bio || !PublicHalf(key.get(), publicKey)) return false;
    if (PEM_write_bio_PKCS8PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) return false;
    char* data = nullptr;
    long size = BIO_get_mem_data(bio.get(), &data);
    if (size <= 0) return false;
    privatePem.assign(data, static_cast<size_t>(size));
    return true;
}

namespace {

Pkey ReadPrivateKey(const std::string& privatePem) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(privatePem.data(), static_cast<int>(privatePem.size())));
    return Pkey(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

}  // namespace

bool PrivateKeyPublicHalf(const std::string& privatePem, platform::P256PublicKey& publicKey) {
    Pkey key = ReadPrivateKey(privatePem);
    return key && PublicHalf(key.get(), publicKey);
}

bool SignDigest(const std::string& privatePem, const platform::Sha256Digest& digest, platform::P256Signature& signature,
                platform::P256PublicKey& publicKey) {
    Pkey key = ReadPrivateKey(privatePem);
    if (!key || !PublicHalf(key.get(), publicKey)) return false;
    std::unique_ptr<EVP_PKEY_CTX, CtxFree> ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    size_t length = 0;
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_sign(ctx.get(), nullptr, &length, digest.data(), digest.size()) != 1)
        return false;
    std::string der(length, '\0');
    if (EVP_PKEY_sign(ctx.get(), reinterpret_cast<unsigned char*>(&der[0]), &length, digest.data(), digest.size()) != 1)
        return false;
    const unsigned char* in = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<ECDSA_SIG, SigFree> sig(d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(length)));
    if (!sig) return false;
    return BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), signature.data(), 32) == 32 &&
           BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), signature.data() + 32, 32) == 32;
}
