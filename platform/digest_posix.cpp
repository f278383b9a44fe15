// SHA-256 from OpenSSL's libcrypto for builds without CryptoAPI.
#include <openssl/evp.h>

#include "platform/digest.h"

namespace platform {

struct Sha256::State {
    EVP_MD_CTX* context = nullptr;
    ~State() {
        if (context) EVP_MD_CTX_free(context);
    }
};

Sha256::Sha256() : state_(new State) {}
Sha256::~Sha256() = default;

bool Sha256::Begin() {
    if (!state_->context) state_->context = EVP_MD_CTX_new();
    return state_->context && EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) == 1;
}

bool Sha256::Update(const void* data, size_t size) {
    return state_->context && EVP_DigestUpdate(state_->context, data, size) == 1;
}

bool Sha256::Finish(Sha256Digest& digest) {
    unsigned int length = 0;
    return state_->context && EVP_DigestFinal_ex(state_->context, digest.data(), &length) == 1 &&
           length == digest.size();
}

}  // namespace platform
