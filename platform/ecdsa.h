#pragma once
// ECDSA on the NIST P-256 curve with SHA-256: the check that a patch's signature file was made by
// the publisher whose public key the installer carries.
#include <array>
#include <cstdint>

#include "platform/digest.h"

namespace platform {

// The public point as X then Y, each 32 bytes big-endian (the uncompressed form without its 0x04).
using P256PublicKey = std::array<uint8_t, 64>;
// r then s, each 32 bytes big-endian.
using P256Signature = std::array<uint8_t, 64>;

// True only when `signature` is a valid signature of the SHA-256 digest `digest` by `publicKey`.
// A key that is not a point of the curve, r or s of 0 or not below the group order, and any
// failure of the library all give false.
bool VerifyP256(const P256PublicKey& publicKey, const Sha256Digest& digest, const P256Signature& signature);

}  // namespace platform
