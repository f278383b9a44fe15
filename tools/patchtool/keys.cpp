#include "tools/patchtool/keys.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <random>

#include "common/text.h"
#include "platform/base64.h"
#include "platform/fs.h"
#include "platform/owned_file.h"

namespace {

// SubjectPublicKeyInfo of a P-256 key up to the point's X || Y.
constexpr uint8_t kSpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06,
                                   0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
constexpr size_t kMaxKeyFileSize = 16384;

}  // namespace

std::string EncodePemBlock(const std::string& der, const char* label) {
    std::string base64 = EncodeBase64(der);
    std::string out = std::string("-----BEGIN ") + label + "-----\n";
    for (size_t at = 0; at < base64.size(); at += 64) out += base64.substr(at, 64) + "\n";
    return out + "-----END " + label + "-----\n";
}

bool DecodePemBlock(const std::string& pem, const char* label, std::string& der) {
    std::string begin = std::string("-----BEGIN ") + label + "-----";
    std::string end = std::string("-----END ") + label + "-----";
    size_t from = pem.find(begin);
    if (from == std::string::npos) return false;
    from += begin.size();
    size_t to = pem.find(end, from);
    if (to == std::string::npos) return false;
    std::string body;
    for (size_t i = from; i < to; ++i)
        if (pem[i] != '\r' && pem[i] != '\n' && pem[i] != ' ' && pem[i] != '\t') body.push_back(pem[i]);
    return !body.empty() && platform::DecodeBase64(body.c_str(), der);
}

std::string EncodePublicKeyPem(const platform::P256PublicKey& key) {
    std::string der(reinterpret_cast<const char*>(kSpkiPrefix), sizeof kSpkiPrefix);
    der.append(reinterpret_cast<const char*>(key.data()), key.size());
    return EncodePemBlock(der, "PUBLIC KEY");
}

bool DecodePublicKeyPem(const std::string& pem, platform::P256PublicKey& key) {
    std::string der;
    return DecodePemBlock(pem, "PUBLIC KEY", der) && DecodePublicKeyDer(der, key);
}

bool DecodePublicKeyDer(const std::string& der, platform::P256PublicKey& key) {
    if (der.size() != sizeof kSpkiPrefix + key.size() || std::memcmp(der.data(), kSpkiPrefix, sizeof kSpkiPrefix) != 0)
        return false;
    std::memcpy(key.data(), der.data() + sizeof kSpkiPrefix, key.size());
    return true;
}

bool ReadPublicKeyFile(const std::wstring& path, platform::P256PublicKey& key) {
    platform::File file;
    uint64_t size = 0;
    if (!file.OpenRead(path, platform::Share::ReadOnly) || !file.GetSize(size) || size > kMaxKeyFileSize) return false;
    std::string text(static_cast<size_t>(size), '\0');
    size_t got = 0;
    if (size > 0 && (!file.Read(&text[0], text.size(), got) || got != text.size())) return false;
    return DecodePublicKeyPem(text, key);
}

bool WriteNewKeyFile(const std::wstring& path, const std::string& pem, bool secret) {
    static std::mt19937 generator{std::random_device{}()};
    wchar_t unique[24];
    std::swprintf(unique, std::size(unique), L".%08X.tmp", static_cast<unsigned>(generator()));
    const std::wstring temporary = path + unique;
    platform::OwnedFile file;
    if (!file.CreateNew(temporary, secret)) return false;
    // Forced to the disk before it takes the name: a key lost to a power cut cannot be made again.
    bool written = file.Write(pem.data(), pem.size()) && file.Flush();
    written = file.Close() && written;
    if (written && platform::RenameNoReplace(temporary, path)) return true;
    platform::DeletePath(temporary);
    return false;
}
