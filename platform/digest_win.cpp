// SHA-256 through CryptoAPI (the AES provider type carries SHA-2).
#include <windows.h>
#include <wincrypt.h>

#include "platform/digest.h"
#include "platform/win_handle.h"

namespace platform {

struct Sha256::State {
    UniqueCryptProvider provider;
    UniqueCryptHash hash;  // made from `provider`, so released before it
    void Release() {
        hash.reset();
        provider.reset();
    }
};

Sha256::Sha256() : state_(new State) {}
Sha256::~Sha256() = default;

bool Sha256::Begin() {
    state_->Release();
    HCRYPTPROV provider = 0;
    if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
    state_->provider.reset(provider);
    HCRYPTHASH hash = 0;
    if (!::CryptCreateHash(state_->provider.get(), CALG_SHA_256, 0, 0, &hash)) return false;
    state_->hash.reset(hash);
    return true;
}

bool Sha256::Update(const void* data, size_t size) {
    const BYTE* in = static_cast<const BYTE*>(data);
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(size > 0x40000000 ? 0x40000000 : size);
        if (!state_->hash || !::CryptHashData(state_->hash.get(), in, chunk, 0)) return false;
        in += chunk;
        size -= chunk;
    }
    return state_->hash.valid();
}

bool Sha256::Finish(Sha256Digest& digest) {
    DWORD length = static_cast<DWORD>(digest.size());
    bool ok = state_->hash && ::CryptGetHashParam(state_->hash.get(), HP_HASHVAL, digest.data(), &length, 0) &&
              length == digest.size();
    state_->Release();
    return ok;
}

}  // namespace platform
