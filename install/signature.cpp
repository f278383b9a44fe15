#include "install/signature.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "banner/assets.h"
#include "banner/banners.h"
#include "common/byte_order.h"
#include "common/paths.h"
#include "common/text.h"
#include "install/payload.h"
#include "platform/fs.h"
#include "platform/text.h"

const wchar_t kSignatureFileName[] = L"patch_signature.dat";
bool gPatchSigned = false;
PatchSignature gPatchSignature;

namespace {

constexpr char kSignatureMagic[8] = {'P', 'T', 'S', 'I', 'G', 'N', 'A', '1'};
// The largest file the layout allows must be one the reader takes.
static_assert(kMaxSignatureFileSize == sizeof kSignatureMagic + 4 + 64 + 32 + 4 + 32 + 4 +
                                           kMaxBanners * (4 + kMaxSignedNameLength + 32) + 8 + kPayloadHeadSize + 4 +
                                           size_t{kMaxPayloadEntries} * 32 + 64,
              "kMaxSignatureFileSize is the sum of the largest fields");
constexpr size_t kChunk = 65536;

template <typename Bytes>
void PutBytes(std::string& out, const Bytes& bytes) {
    out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

uint64_t LoadLe(const uint8_t* bytes, int count) {
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

// Bounds-checked cursor over the signature file's bytes.
struct Cursor {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    bool Take(void* out, size_t count) {
        if (count > size - at) return false;
        std::memcpy(out, data + at, count);
        at += count;
        return true;
    }
    bool U32(uint32_t& value) {
        uint8_t raw[4];
        if (!Take(raw, 4)) return false;
        value = static_cast<uint32_t>(LoadLe(raw, 4));
        return true;
    }
    bool U64(uint64_t& value) {
        uint8_t raw[8];
        if (!Take(raw, 8)) return false;
        value = LoadLe(raw, 8);
        return true;
    }
};

bool Digest(const void* data, size_t size, platform::Sha256Digest& digest) {
    platform::Sha256 sha;
    return sha.Begin() && sha.Update(data, size) && sha.Finish(digest);
}

bool DigestFile(const std::wstring& path, platform::Sha256Digest& digest) {
    platform::File file;
    if (!file.OpenRead(path, platform::Share::ReadOnly)) return false;
    platform::Sha256 sha;
    if (!sha.Begin()) return false;
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    for (;;) {
        size_t got = 0;
        if (!file.Read(buffer.get(), kChunk, got)) return false;
        if (got == 0) break;
        if (!sha.Update(buffer.get(), got)) return false;
    }
    return sha.Finish(digest);
}

bool ReadWholeFile(const std::wstring& path, size_t limit, std::string& out) {
    platform::File file;
    uint64_t size = 0;
    if (!file.OpenRead(path, platform::Share::ReadOnly) || !file.GetSize(size) || size > limit) return false;
    out.resize(static_cast<size_t>(size));
    size_t got = 0;
    if (size > 0 && (!file.Read(&out[0], out.size(), got) || got != out.size())) return false;
    size_t extra = 0;
    char probe;
    return file.Read(&probe, 1, extra) && extra == 0;
}

bool ParseBanners(Cursor& in, std::vector<SignedFile>& banners) {
    uint32_t count = 0;
    if (!in.U32(count) || count > static_cast<uint32_t>(kMaxBanners)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length = 0;
        if (!in.U32(length) || length == 0 || length > kMaxSignedNameLength) return false;
        SignedFile file;
        file.name.resize(length);
        if (!in.Take(&file.name[0], length) || !in.Take(file.digest.data(), file.digest.size())) return false;
        banners.push_back(std::move(file));
    }
    return true;
}

bool ParsePayloadPart(Cursor& in, PatchSignature& out) {
    uint32_t count = 0;
    if (!in.U64(out.payloadSize) || !in.Take(out.payloadHead.data(), out.payloadHead.size()) || !in.U32(count))
        return false;
    if (count > kMaxPayloadEntries || count != LoadLe(out.payloadHead.data() + 8, 4)) return false;
    // Checked against what is left before anything is allocated for it.
    if (static_cast<uint64_t>(count) * 32 > in.size - in.at) return false;
    out.payloadEntries.resize(count);
    for (platform::Sha256Digest& digest : out.payloadEntries)
        if (!in.Take(digest.data(), digest.size())) return false;
    return true;
}

bool DigestOneEntry(PayloadReader& in, char* buffer, platform::Sha256Digest& digest) {
    PayloadEntry entry;
    PayloadEntryDigest digester;
    // The names are not judged here: the extraction refuses an unsafe one before writing anything.
    if (!in.Next(entry, false) || !digester.Begin(entry.storedHeader)) return false;
    while (in.dataLeft() > 0) {
        size_t got = 0;
        if (!in.ReadData(buffer, kChunk, got) || !digester.Update(buffer, got)) return false;
    }
    return digester.Finish(digest);
}

}  // namespace

std::string EncodeSignedPart(const PatchSignature& signature) {
    std::string out(kSignatureMagic, sizeof kSignatureMagic);
    AppendU32(out, kSignatureVersion);
    PutBytes(out, signature.signer);
    PutBytes(out, signature.manifest);
    AppendU32(out, signature.hasAssets ? 1 : 0);
    if (signature.hasAssets) PutBytes(out, signature.assets);
    AppendU32(out, static_cast<uint32_t>(signature.banners.size()));
    for (const SignedFile& banner : signature.banners) {
        AppendU32(out, static_cast<uint32_t>(banner.name.size()));
        out += banner.name;
        PutBytes(out, banner.digest);
    }
    AppendU64(out, signature.payloadSize);
    PutBytes(out, signature.payloadHead);
    AppendU32(out, static_cast<uint32_t>(signature.payloadEntries.size()));
    for (const platform::Sha256Digest& digest : signature.payloadEntries) PutBytes(out, digest);
    return out;
}

bool ParsePatchSignature(const uint8_t* data, size_t size, PatchSignature& out, platform::Sha256Digest& signedDigest) {
    out = PatchSignature();
    if (size > kMaxSignatureFileSize || size < out.signature.size()) return false;
    Cursor in{data, size - out.signature.size()};
    char magic[sizeof kSignatureMagic];
    uint32_t version = 0;
    uint32_t assetFlag = 0;
    if (!in.Take(magic, sizeof magic) || std::memcmp(magic, kSignatureMagic, sizeof magic) != 0) return false;
    if (!in.U32(version) || version != kSignatureVersion) return false;
    if (!in.Take(out.signer.data(), out.signer.size()) || !in.Take(out.manifest.data(), out.manifest.size()))
        return false;
    if (!in.U32(assetFlag) || assetFlag > 1) return false;
    out.hasAssets = assetFlag == 1;
    if (out.hasAssets && !in.Take(out.assets.data(), out.assets.size())) return false;
    if (!ParseBanners(in, out.banners) || !ParsePayloadPart(in, out)) return false;
    // The signature must follow the last digest directly and end the file.
    if (in.at != in.size) return false;
    std::memcpy(out.signature.data(), data + in.at, out.signature.size());
    return Digest(data, in.at, signedDigest);
}

bool ReadPatchSignature(const std::wstring& path, PatchSignature& out, platform::Sha256Digest& signedDigest) {
    std::string bytes;
    if (!ReadWholeFile(path, kMaxSignatureFileSize, bytes)) return false;
    return ParsePatchSignature(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out, signedDigest);
}

std::vector<std::string> LocalBannerSources(const PatchManifest& manifest) {
    auto get = [&](const std::string& key) {
        auto found = manifest.find(key);
        return found == manifest.end() ? std::wstring() : found->second;
    };
    std::vector<std::string> sources;
    std::wstring countText = get("BannerCount");
    int32_t count = countText.empty() ? 0 : ParseLenientInt32(countText);
    if (count > kMaxBanners) count = kMaxBanners;
    for (int32_t n = 1; n <= count; ++n) {
        std::string prefix = "Banner" + std::to_string(n);
        std::wstring mode = get(prefix + ".Mode");
        std::wstring source = get(prefix + ".Source");
        if (source.empty() || EqualsIgnoreAsciiCase(mode, L"Url") || EqualsIgnoreAsciiCase(mode, L"Asset")) continue;
        sources.push_back(platform::ConvertWideToUtf8(source));
    }
    return sources;
}

bool DigestPayloadEntries(const std::wstring& archivePath, std::array<uint8_t, kPayloadHeadSize>& head,
                          std::vector<platform::Sha256Digest>& entries) {
    entries.clear();
    PayloadReader in;
    if (!in.Open(archivePath)) return false;
    head = in.header();
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    for (uint32_t i = 0; i < in.entryCount(); ++i) {
        platform::Sha256Digest digest{};
        if (!DigestOneEntry(in, buffer.get(), digest)) return false;
        entries.push_back(digest);
    }
    return true;
}

const char* SignatureCheckText(SignatureCheck check) {
    switch (check) {
        case SignatureCheck::Ok:
            return "signature good";
        case SignatureCheck::Missing:
            return "patch_signature.dat is missing or unreadable";
        case SignatureCheck::Malformed:
            return "patch_signature.dat is damaged";
        case SignatureCheck::WrongKey:
            return "the signature is not made by this key, or the signature file was altered";
        case SignatureCheck::ManifestDiffers:
            return "patch_manifest.dat differs from the signed one";
        case SignatureCheck::AssetsDiffer:
            return "patch_assets.dat differs from the signed one (or is missing or extra)";
        case SignatureCheck::BannerDiffers:
            return "a banner file beside the installer differs from the signed one";
        case SignatureCheck::PayloadDiffers:
            return "patch_payload.dat differs from the signed one";
    }
    return "unknown";
}

namespace {

bool BannersMatch(const std::wstring& folder, const PatchManifest& manifest, const PatchSignature& signature) {
    std::vector<std::string> sources = LocalBannerSources(manifest);
    if (sources.size() != signature.banners.size()) return false;
    for (size_t i = 0; i < sources.size(); ++i) {
        const SignedFile& banner = signature.banners[i];
        platform::Sha256Digest digest{};
        if (banner.name != sources[i] || !DigestFile(JoinPath(folder, Utf8ToWide(banner.name)), digest) ||
            digest != banner.digest)
            return false;
    }
    return true;
}

bool PayloadFrameMatches(const std::wstring& path, const PatchSignature& signature) {
    platform::File file;
    uint64_t size = 0;
    std::array<uint8_t, kPayloadHeadSize> head{};
    size_t got = 0;
    return file.OpenRead(path, platform::Share::ReadOnly) && file.GetSize(size) && size == signature.payloadSize &&
           file.Read(head.data(), head.size(), got) && got == head.size() && head == signature.payloadHead;
}

}  // namespace

SignatureCheck CheckSignedPatch(const std::wstring& folder, const std::string& manifestBytes,
                                const platform::P256PublicKey& key, PatchSignature& signature) {
    std::string bytes;
    if (!ReadWholeFile(JoinPath(folder, kSignatureFileName), kMaxSignatureFileSize, bytes))
        return SignatureCheck::Missing;
    PatchSignature parsed;
    platform::Sha256Digest signedDigest{};
    if (!ParsePatchSignature(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), parsed, signedDigest))
        return SignatureCheck::Malformed;
    if (!platform::VerifyP256(key, signedDigest, parsed.signature)) return SignatureCheck::WrongKey;
    platform::Sha256Digest digest{};
    if (!Digest(manifestBytes.data(), manifestBytes.size(), digest) || digest != parsed.manifest)
        return SignatureCheck::ManifestDiffers;
    std::wstring assetPath = JoinPath(folder, kAssetArchiveName);
    if (parsed.hasAssets ? !DigestFile(assetPath, digest) || digest != parsed.assets
                         : platform::GetPathKind(assetPath) != platform::PathKind::Missing)
        return SignatureCheck::AssetsDiffer;
    PatchManifest manifest;
    ManifestParser parser(manifest);
    parser.Feed(manifestBytes.data(), manifestBytes.size());
    parser.Finish();
    if (!BannersMatch(folder, manifest, parsed)) return SignatureCheck::BannerDiffers;
    if (!PayloadFrameMatches(JoinPath(folder, kPayloadFileName), parsed)) return SignatureCheck::PayloadDiffers;
    signature = std::move(parsed);
    return SignatureCheck::Ok;
}

SignatureCheck LoadSignedPatch(const std::wstring& folder, const platform::P256PublicKey& key) {
    std::string manifestBytes;
    platform::File file;
    if (file.OpenRead(JoinPath(folder, kManifestFileName), platform::Share::ReadOnly)) {
        std::unique_ptr<char[]> buffer(new char[kChunk]);
        size_t got = 0;
        // No more than the manifest reader itself would ever look at.
        while (manifestBytes.size() < kMaxManifestFileBytes && file.Read(buffer.get(), kChunk, got) && got > 0)
            manifestBytes.append(buffer.get(), std::min(got, kMaxManifestFileBytes - manifestBytes.size()));
    }
    ManifestParser parser(gPatchManifest);
    parser.Feed(manifestBytes.data(), manifestBytes.size());
    parser.Finish();
    SignatureCheck check = CheckSignedPatch(folder, manifestBytes, key, gPatchSignature);
    gPatchSigned = check == SignatureCheck::Ok;
    return check;
}

bool PayloadEntryDigest::Begin(const std::string& storedHeader) {
    ok_ = sha_.Begin() && sha_.Update(storedHeader.data(), storedHeader.size());
    return ok_;
}

bool PayloadEntryDigest::Update(const void* data, size_t size) {
    ok_ = ok_ && sha_.Update(data, size);
    return ok_;
}

bool PayloadEntryDigest::Finish(platform::Sha256Digest& digest) {
    bool ok = ok_ && sha_.Finish(digest);
    ok_ = false;
    return ok;
}

bool PayloadEntryDigest::Matches(const PatchSignature& signature, uint32_t index) {
    platform::Sha256Digest digest{};
    return Finish(digest) && index < signature.payloadEntries.size() && digest == signature.payloadEntries[index];
}

bool CheckPayloadEntries(const std::wstring& archivePath, const PatchSignature& signature) {
    std::array<uint8_t, kPayloadHeadSize> head{};
    std::vector<platform::Sha256Digest> entries;
    return DigestPayloadEntries(archivePath, head, entries) && head == signature.payloadHead &&
           entries == signature.payloadEntries;
}

std::string KeyFingerprint(const platform::P256PublicKey& key) {
    static const char kDigits[] = "0123456789abcdef";
    platform::Sha256Digest digest{};
    if (!Digest(key.data(), key.size(), digest)) return std::string();
    std::string out;
    for (size_t i = 0; i < 8; ++i) {
        if (i > 0 && i % 2 == 0) out.push_back(':');
        out.push_back(kDigits[digest[i] >> 4]);
        out.push_back(kDigits[digest[i] & 15]);
    }
    return out;
}
