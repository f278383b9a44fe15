#pragma once
// Signed patches on the publisher's side: `patchtool keygen`, `build --sign`, `stamp`, and the
// signature checks of `inspect`, `verify --key` and `apply --key`.
#include <string>

#include "install/signature.h"
#include "platform/ecdsa.h"

// Writes NAME.key (private, owner-only where the system has modes) and NAME.pub. Refuses to
// replace an existing key file.
bool GenerateKeyFiles(const std::wstring& name, platform::P256PublicKey& key, std::string& problem);

// Signs the patch written in `outDir` with the private key at `keyPath`: writes
// patch_signature.dat over the manifest, the asset archive, the local banners and every payload
// entry as they are on disk now.
bool SignPatchFolder(const std::wstring& outDir, const std::wstring& keyPath, platform::P256PublicKey& signer,
                     std::string& problem);

// Removes a patch_signature.dat left by an earlier signed build: an unsigned build has none.
bool RemoveStaleSignature(const std::wstring& outDir, std::string& problem);

enum class SlotState { NoSlot, Several, Empty, Stamped };

// Finds the key slot in an executable's bytes. For Empty and Stamped, `keyOffset` is where the key
// begins and `key` what it holds.
SlotState FindKeySlot(const std::string& exe, size_t& keyOffset, platform::P256PublicKey& key);

// Writes a copy of `installer` to `out` with `key` in its slot. Refuses a file without a slot (or
// with several markers) and a slot that holds another key; `out` is then not written.
bool StampInstaller(const std::wstring& installer, const platform::P256PublicKey& key, const std::wstring& out,
                    std::string& problem);

// One line for `inspect` on an executable: stamped with which key, not stamped, or no slot.
std::string DescribeInstaller(const std::wstring& path);

// One line for `inspect` on a patch folder: signed by which key (and whether the signature is the
// signer's own), not signed, or a damaged signature file.
std::string DescribeSignature(const std::wstring& folder);

// The check of a stamped installer, plus every payload entry, with the public key at `keyPath`.
// False with `problem` set when anything is not as signed. With `forExtraction` the payload
// entries are left to the extraction, which checks each before it is put in place, so the payload
// is read once: the signature goes there, for gPatchSignature.
bool CheckPatchWithKey(const std::wstring& folder, const std::wstring& keyPath, std::string& problem,
                       PatchSignature* forExtraction = nullptr);
