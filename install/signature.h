#pragma once
// Signed patches. A publisher signs a patch with `patchtool build --sign`, which writes
// "patch_signature.dat" beside the other data files; an installer that carries the publisher's
// public key (stamped into it) accepts only data files that this signature covers.
//
// Layout of patch_signature.dat, integers little-endian, read whole (at most
// kMaxSignatureFileSize bytes), every size bounded before it is used:
//   magic        "PTSIGNA1" (8 bytes)
//   version      u32, 1
//   signer       64 bytes: X || Y of the public key that signed. Shown by patchtool; the
//                installer verifies with its own key and never trusts this field
//   manifest     32 bytes: SHA-256 of patch_manifest.dat
//   assetFlag    u32: 1 when patch_assets.dat belongs to the patch, 0 when it must not exist
//   assets       32 bytes: SHA-256 of patch_assets.dat (present only when assetFlag is 1)
//   bannerCount  u32 (0 to 3), then per banner read from a file beside the installer:
//                nameLength u32 (1 to 1024), name (UTF-8: the banner's Source exactly as the
//                manifest gives it), 32 bytes SHA-256 of that file
//   payloadSize  u64: size of patch_payload.dat in bytes
//   payloadHead  12 bytes: the archive's header as written (magic and entry count)
//   entryCount   u32 (0 to 200000), equal to the count in payloadHead
//   entries      entryCount digests of 32 bytes, in archive order: SHA-256 of the entry as stored
//                (nameLength, name, dataSize and data bytes), so each entry is checked as it is
//                extracted, before it is put in place, without a second pass over the archive
//   signature    64 bytes: ECDSA P-256 r || s over the SHA-256 of every byte before it
// Nothing follows the signature.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "manifest/manifest.h"
#include "platform/digest.h"
#include "platform/ecdsa.h"

extern const wchar_t kSignatureFileName[];  // "patch_signature.dat"
constexpr uint32_t kSignatureVersion = 1;
constexpr uint32_t kMaxSignedNameLength = 1024;
constexpr size_t kPayloadHeadSize = 12;

struct SignedFile {
    std::string name;  // UTF-8, relative to the installer's folder
    platform::Sha256Digest digest;
};

struct PatchSignature {
    platform::P256PublicKey signer{};
    platform::Sha256Digest manifest{};
    bool hasAssets = false;
    platform::Sha256Digest assets{};
    std::vector<SignedFile> banners;
    uint64_t payloadSize = 0;
    std::array<uint8_t, kPayloadHeadSize> payloadHead{};
    std::vector<platform::Sha256Digest> payloadEntries;
    platform::P256Signature signature{};
};

// 8 + 4 + 64 + 32 + 4 + 32 + 4 + 3 * (4 + 1024 + 32) + 8 + 12 + 4 + 200000 * 32 + 64.
constexpr size_t kMaxSignatureFileSize = 6403416;

// Every field but the signature, in file order: the bytes that are signed.
std::string EncodeSignedPart(const PatchSignature& signature);

// Reads a signature file's bytes. False on anything malformed (then `out` is unspecified);
// `signedDigest` receives the SHA-256 of the bytes before the signature.
bool ParsePatchSignature(const uint8_t* data, size_t size, PatchSignature& out, platform::Sha256Digest& signedDigest);

// Reads `path` (at most kMaxSignatureFileSize bytes) and parses it.
bool ReadPatchSignature(const std::wstring& path, PatchSignature& out, platform::Sha256Digest& signedDigest);

// The Source of every banner the installer reads from a file beside itself, in banner order:
// banners 1 to BannerCount (at most 3) whose mode is neither "Url" nor "Asset" and whose source
// is not empty, by the banner loader's own rules.
std::vector<std::string> LocalBannerSources(const PatchManifest& manifest);

// Reads the payload archive once and gives its header and the digest of each entry as stored.
// False when the file cannot be read or is not a well-formed archive of at most
// kMaxPayloadEntries entries.
bool DigestPayloadEntries(const std::wstring& archivePath, std::array<uint8_t, kPayloadHeadSize>& head,
                          std::vector<platform::Sha256Digest>& entries);

enum class SignatureCheck {
    Ok,
    Missing,    // no readable patch_signature.dat
    Malformed,  // not a signature file this installer reads
    WrongKey,   // the signature is not the installer's key's
    ManifestDiffers,
    AssetsDiffer,    // changed, missing, or present though the patch has none
    BannerDiffers,   // a local banner changed or missing, or not the banners the manifest names
    PayloadDiffers,  // size or header of patch_payload.dat
};

// What a check result means, for patchtool's messages.
const char* SignatureCheckText(SignatureCheck check);

// Checks the signature file in `folder` with `key`, then every file the installer reads before
// its window: `manifestBytes` (patch_manifest.dat as the caller read it, so that what is checked
// is what is used), the asset archive and the local banners, and the payload's size and header.
// The payload entries are checked as they are extracted (PayloadEntryDigest). `signature` is
// filled when the result is Ok.
SignatureCheck CheckSignedPatch(const std::wstring& folder, const std::string& manifestBytes,
                                const platform::P256PublicKey& key, PatchSignature& signature);

// Set once at start-up by a stamped installer whose patch passed its check (LoadSignedPatch);
// read by the install sequence, which checks the payload entries against it. Unset otherwise.
extern bool gPatchSigned;
extern PatchSignature gPatchSignature;

// Start-up of a stamped installer: reads patch_manifest.dat in `folder` once, fills
// gPatchManifest from those bytes (also when the check then fails, so that the error box can speak
// the install language), and checks the signed patch with `key`. On Ok sets gPatchSigned and
// gPatchSignature.
SignatureCheck LoadSignedPatch(const std::wstring& folder, const platform::P256PublicKey& key);

// The per-entry check of the payload. For entry `index` (0-based, archive order) the extraction
// calls Begin with the entry's raw name and data size as read, Update with its data as it streams
// by, and Matches before the entry is put in place; false means the entry is not the signed one
// and must not be put in place.
class PayloadEntryDigest {
public:
    // `storedHeader`: the entry's header bytes as the archive holds them (PayloadEntry).
    bool Begin(const std::string& storedHeader);
    bool Update(const void* data, size_t size);
    bool Matches(const PatchSignature& signature, uint32_t index);
    // The entry's digest itself (instead of Matches), for the signing side.
    bool Finish(platform::Sha256Digest& digest);

private:
    platform::Sha256 sha_;
    bool ok_ = false;
};

// Reads the whole archive and compares every entry with its signed digest. For callers whose
// extraction does not check entries as it goes.
bool CheckPayloadEntries(const std::wstring& archivePath, const PatchSignature& signature);

// A short, stable name of a public key for people: the first 8 bytes of its SHA-256 in
// hexadecimal, in pairs separated by ":".
std::string KeyFingerprint(const platform::P256PublicKey& key);
