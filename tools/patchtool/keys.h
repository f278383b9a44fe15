#pragma once
// The publisher's key pair: NAME.key, the private key as PKCS#8 PEM ("BEGIN PRIVATE KEY", readable
// by OpenSSL too), and NAME.pub, the public key as SubjectPublicKeyInfo PEM ("BEGIN PUBLIC KEY").
// Only P-256 keys are used: the installer verifies with the system's CNG.
#include <string>

#include "platform/digest.h"
#include "platform/ecdsa.h"

// PEM text of a public key, and back. Decoding refuses anything but a P-256 key.
std::string EncodePublicKeyPem(const platform::P256PublicKey& key);
bool DecodePublicKeyPem(const std::string& pem, platform::P256PublicKey& key);
// The DER form inside the PEM (SubjectPublicKeyInfo); false for anything but a P-256 key.
bool DecodePublicKeyDer(const std::string& der, platform::P256PublicKey& key);

// The body of a PEM block with the given label, Base64-decoded; false when there is no such
// block or its body is not Base64.
bool DecodePemBlock(const std::string& pem, const char* label, std::string& der);
// A PEM block: the label's BEGIN line, the Base64 text in lines of 64, the END line.
std::string EncodePemBlock(const std::string& der, const char* label);

bool ReadPublicKeyFile(const std::wstring& path, platform::P256PublicKey& key);

// Writes a key file that does not exist yet: under a temporary name beside `path` first, renamed
// to `path` only when nothing has that name by then, so that a failure leaves no partial key and an
// existing file is never replaced, however late it appeared. False with nothing left behind.
// `secret`: readable by its owner alone (natively mode 0600; Windows a protected access list that
// grants the current user alone, whatever the folder would pass on).
bool WriteNewKeyFile(const std::wstring& path, const std::string& pem, bool secret);

// Platform half (keys_posix.cpp with libcrypto, keys_win.cpp with CNG).
// A new P-256 key pair: the private key as PKCS#8 PEM, and its public key.
bool GenerateKeyPair(std::string& privatePem, platform::P256PublicKey& publicKey);
// The public half of a PKCS#8 PEM private key; false when the text is not a P-256 private key.
bool PrivateKeyPublicHalf(const std::string& privatePem, platform::P256PublicKey& publicKey);
// Signs a SHA-256 digest with a PKCS#8 PEM private key; `publicKey` receives the key's public
// half. False when the text is not a P-256 private key.
bool SignDigest(const std::string& privatePem, const platform::Sha256Digest& digest, platform::P256Signature& signature,
                platform::P256PublicKey& publicKey);
