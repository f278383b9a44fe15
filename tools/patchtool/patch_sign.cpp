#include "tools/patchtool/patch_sign.h"

#include <cstring>

#include "banner/assets.h"
#include "common/paths.h"
#include "common/text.h"
#include "install/key_slot.h"
#include "install/payload.h"
#include "install/signature.h"
#include "manifest/manifest.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "tools/patchtool/keys.h"

namespace {

constexpr uint64_t kMaxExecutableSize = 512ull << 20;
constexpr uint64_t kMaxManifestSize = 64ull << 20;
constexpr uint64_t kMaxKeyFileSize = 16384;

std::string Narrow(const std::wstring& text) {
    return platform::ConvertWideToUtf8(text);
}

bool ReadFileBytes(const std::wstring& path, uint64_t limit, std::string& out) {
    platform::File file;
    uint64_t size = 0;
    if (!file.OpenRead(path, platform::Share::ReadOnly) || !file.GetSize(size) || size > limit) return false;
    out.assign(static_cast<size_t>(size), '\0');
    size_t got = 0;
    return size == 0 || (file.Read(&out[0], out.size(), got) && got == out.size());
}

// Writes beside the final name, then puts the file in place: never a half-written output.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::wstring part = path + L".part";
    platform::File out;
    bool ok = out.OpenWrite(part) && out.Write(bytes.data(), bytes.size()) && out.Close() &&
              platform::ReplacePath(part, path);
    if (!ok) platform::DeletePath(part);
    return ok;
}

bool DigestBytes(const std::string& bytes, platform::Sha256Digest& digest) {
    platform::Sha256 sha;
    return sha.Begin() && sha.Update(bytes.data(), bytes.size()) && sha.Finish(digest);
}

bool DigestFileAt(const std::wstring& path, platform::Sha256Digest& digest) {
    std::string bytes;
    return ReadFileBytes(path, ~0ull, bytes) && DigestBytes(bytes, digest);
}

// Everything but the signature, from the files as they are in `folder`.
bool DescribePatch(const std::wstring& folder, PatchSignature& signature, std::string& problem) {
    std::string manifestBytes;
    if (!ReadFileBytes(JoinPath(folder, kManifestFileName), kMaxManifestSize, manifestBytes) ||
        !DigestBytes(manifestBytes, signature.manifest)) {
        problem = "patch_manifest.dat cannot be read";
        return false;
    }
    std::wstring assets = JoinPath(folder, kAssetArchiveName);
    signature.hasAssets = platform::GetPathKind(assets) != platform::PathKind::Missing;
    if (signature.hasAssets && !DigestFileAt(assets, signature.assets)) {
        problem = "patch_assets.dat cannot be read";
        return false;
    }
    PatchManifest manifest;
    ManifestParser parser(manifest);
    parser.Feed(manifestBytes.data(), manifestBytes.size());
    parser.Finish();
    for (const std::string& source : LocalBannerSources(manifest)) {
        SignedFile banner{source, {}};
        if (source.size() > kMaxSignedNameLength ||
            !DigestFileAt(JoinPath(folder, Utf8ToWide(source)), banner.digest)) {
            problem = "local banner '" + source + "' cannot be read";
            return false;
        }
        signature.banners.push_back(banner);
    }
    std::wstring payload = JoinPath(folder, kPayloadFileName);
    platform::File probe;
    if (!probe.OpenRead(payload, platform::Share::ReadOnly) || !probe.GetSize(signature.payloadSize) ||
        !DigestPayloadEntries(payload, signature.payloadHead, signature.payloadEntries)) {
        problem = "patch_payload.dat cannot be read or is malformed";
        return false;
    }
    return true;
}

}  // namespace

bool GenerateKeyFiles(const std::wstring& name, platform::P256PublicKey& key, std::string& problem) {
    std::wstring privatePath = name + L".key";
    std::wstring publicPath = name + L".pub";
    for (const std::wstring& path : {privatePath, publicPath}) {
        if (platform::GetPathKind(path) != platform::PathKind::Missing) {
            problem = Narrow(path) + " exists already; keys are never overwritten";
            return false;
        }
    }
    std::string pem;
    if (!GenerateKeyPair(pem, key)) {
        problem = "the key pair could not be generated";
        return false;
    }
    // The checks above only give a clear message early: the writes themselves never replace a file.
    if (!WriteNewKeyFile(privatePath, pem, true)) {
        problem = Narrow(privatePath) + " cannot be written, or exists already";
        return false;
    }
    if (!WriteNewKeyFile(publicPath, EncodePublicKeyPem(key), false)) {
        platform::DeletePath(privatePath);
        problem = Narrow(publicPath) + " cannot be written, or exists already";
        return false;
    }
    return true;
}

bool SignPatchFolder(const std::wstring& outDir, const std::wstring& keyPath, platform::P256PublicKey& signer,
                     std::string& problem) {
    std::string pem;
    if (!ReadFileBytes(keyPath, kMaxKeyFileSize, pem)) {
        problem = Narrow(keyPath) + ": private key cannot be read";
        return false;
    }
    PatchSignature signature;
    if (!DescribePatch(outDir, signature, problem)) return false;
    // The signer field is part of what is signed, so the public half comes first.
    if (!PrivateKeyPublicHalf(pem, signature.signer)) {
        problem = Narrow(keyPath) + ": not a P-256 private key in PKCS#8 PEM";
        return false;
    }
    std::string signedPart = EncodeSignedPart(signature);
    platform::Sha256Digest digest{};
    if (!DigestBytes(signedPart, digest) || !SignDigest(pem, digest, signature.signature, signer)) {
        problem = "signing failed";
        return false;
    }
    signedPart.append(reinterpret_cast<const char*>(signature.signature.data()), signature.signature.size());
    if (!WriteFileBytes(JoinPath(outDir, kSignatureFileName), signedPart)) {
        problem = "patch_signature.dat cannot be written";
        return false;
    }
    return true;
}

bool RemoveStaleSignature(const std::wstring& outDir, std::string& problem) {
    std::wstring stale = JoinPath(outDir, kSignatureFileName);
    if (platform::GetPathKind(stale) == platform::PathKind::Missing || platform::DeletePath(stale)) return true;
    problem = "patch_signature.dat: an old one in the output folder cannot be removed";
    return false;
}

SlotState FindKeySlot(const std::string& exe, size_t& keyOffset, platform::P256PublicKey& key) {
    const std::string marker(KEY_SLOT_MARKER, KEY_SLOT_MARKER_SIZE);
    size_t found = exe.find(marker);
    if (found == std::string::npos || exe.size() - found - marker.size() < key.size()) return SlotState::NoSlot;
    if (exe.find(marker, found + 1) != std::string::npos) return SlotState::Several;
    keyOffset = found + marker.size();
    std::memcpy(key.data(), exe.data() + keyOffset, key.size());
    for (uint8_t b : key)
        if (b != 0) return SlotState::Stamped;
    return SlotState::Empty;
}

bool StampInstaller(const std::wstring& installer, const platform::P256PublicKey& key, const std::wstring& out,
                    std::string& problem) {
    std::string exe;
    if (!ReadFileBytes(installer, kMaxExecutableSize, exe)) {
        problem = Narrow(installer) + " cannot be read";
        return false;
    }
    size_t offset = 0;
    platform::P256PublicKey held{};
    switch (FindKeySlot(exe, offset, held)) {
        case SlotState::NoSlot:
            problem = Narrow(installer) + " has no key slot: not a PatchInstaller.exe";
            return false;
        case SlotState::Several:
            problem = Narrow(installer) + " has more than one key slot marker";
            return false;
        case SlotState::Stamped:
            if (held != key) {
                problem = Narrow(installer) + " is stamped with another key (" + KeyFingerprint(held) + ")";
                return false;
            }
            break;
        case SlotState::Empty:
            break;
    }
    std::memcpy(&exe[offset], key.data(), key.size());
    if (!WriteFileBytes(out, exe)) {
        problem = Narrow(out) + " cannot be written";
        return false;
    }
    return true;
}

std::string DescribeInstaller(const std::wstring& path) {
    std::string exe;
    if (!ReadFileBytes(path, kMaxExecutableSize, exe)) return "cannot be read";
    size_t offset = 0;
    platform::P256PublicKey key{};
    switch (FindKeySlot(exe, offset, key)) {
        case SlotState::NoSlot:
            return "no key slot (not a PatchInstaller.exe)";
        case SlotState::Several:
            return "more than one key slot marker";
        case SlotState::Empty:
            return "not stamped: accepts unsigned patches";
        case SlotState::Stamped:
            return "stamped with key " + KeyFingerprint(key) + ": accepts only patches signed by it";
    }
    return "unknown";
}

std::string DescribeSignature(const std::wstring& folder) {
    std::wstring path = JoinPath(folder, kSignatureFileName);
    if (platform::GetPathKind(path) == platform::PathKind::Missing) return "not signed";
    PatchSignature signature;
    platform::Sha256Digest digest{};
    if (!ReadPatchSignature(path, signature, digest)) return "patch_signature.dat is damaged";
    std::string line = "signed by key " + KeyFingerprint(signature.signer);
    if (!platform::VerifyP256(signature.signer, digest, signature.signature))
        return line + ", but the signature does not match it: altered";
    std::string manifestBytes;
    ReadFileBytes(JoinPath(folder, kManifestFileName), kMaxManifestSize, manifestBytes);
    const platform::P256PublicKey signer = signature.signer;
    SignatureCheck check = CheckSignedPatch(folder, manifestBytes, signer, signature);
    if (check != SignatureCheck::Ok) return line + ", but " + SignatureCheckText(check);
    if (!CheckPayloadEntries(JoinPath(folder, kPayloadFileName), signature))
        return line + ", but a file in patch_payload.dat differs from the signed one";
    return line;
}

bool CheckPatchWithKey(const std::wstring& folder, const std::wstring& keyPath, std::string& problem,
                       PatchSignature* forExtraction) {
    platform::P256PublicKey key{};
    if (!ReadPublicKeyFile(keyPath, key)) {
        problem = Narrow(keyPath) + ": not a P-256 public key in PEM";
        return false;
    }
    std::string manifestBytes;
    ReadFileBytes(JoinPath(folder, kManifestFileName), kMaxManifestSize, manifestBytes);
    PatchSignature signature;
    SignatureCheck check = CheckSignedPatch(folder, manifestBytes, key, signature);
    if (check != SignatureCheck::Ok) {
        problem = SignatureCheckText(check);
        return false;
    }
    if (forExtraction) {
        *forExtraction = std::move(signature);
        return true;
    }
    if (!CheckPayloadEntries(JoinPath(folder, kPayloadFileName), signature)) {
        problem = "a file in patch_payload.dat differs from the signed one";
        return false;
    }
    return true;
}
