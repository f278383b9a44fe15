// SHA-256 through CryptoAPI (the AES provider type carries SHA-2).
#include <windows.h>
#include <wincrypt.h>

#include "platform/digest.h"

namespace platform {

struct Sha256::State {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    void Release() {
        if (hash) ::CryptDestroyHash(hash);
        if (provider) ::CryptReleaseContext(provider, 0);
        hash = 0;
        provider = 0;
    }
    ~State() { Release(); }
};

Sha256::Sha256() : state_(new State) {}
Sha256::~Sha256() = default;

bool Sha256::Begin() {
    state_->Release();
    if (!::CryptAcquireContextW(&state_->provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        state_->provider = 0;
        return false;
    }
    if (!::CryptCreateHash(state_->provider, CALG_SHA_256, 0, 0, &state_->hash)) {
        state_->hash = 0;
        return false;
    }
    return true;
}

bool Sha256::Update(const void* data, size_t size) {
    const BYTE* in = static_cast<const BYTE*>(data);
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(size > 0x40000000 ? 0x40000000 : size);
        if (!state_->hash || !::CryptHashData(state_->hash, in, chunk, 0)) return false;
        in += chunk;
        size -= chunk;
    }
    return state_->hash != 0;
}

bool Sha256::Finish(Sha256Digest& digest) {
    DWORD length = static_cast<DWORD>(digest.size());
    bool ok = state_->hash && ::CryptGetHashParam(state_->hash, HP_HASHVAL, digest.data(), &length, 0) &&
              length == digest.size();
    state_->Release();
    return ok;
}

}  // namespace platform
