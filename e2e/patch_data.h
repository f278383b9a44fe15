#pragma once
// Builds the installer's data files from plain descriptions: the manifest, the payload archive and
// a stand-in game folder. Used by the end-to-end scenarios and to make the demo patch.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/archive_builders.h"

namespace e2e {

// Key and UTF-8 value; written as "key=" + Base64(value) lines.
using ManifestEntries = std::vector<std::pair<std::string, std::string>>;

// Name (UTF-8, "/" or "\" separated, relative to the game folder) and data.
using PayloadFile = test::PayloadItem;

std::string BuildManifest(const ManifestEntries& entries);
std::string BuildPayloadArchive(const std::vector<PayloadFile>& files);

// SHA-256 of `bytes` as 64 hexadecimal digits, upper case.
std::string Sha256Hex(const std::string& bytes);

// `size` bytes that look like a binary, the same for the same seed.
std::string PseudoRandomBytes(uint32_t seed, size_t size);

// A 24-bit BMP file of one colour (0xRRGGBB).
std::string SolidBmp(int width, int height, uint32_t rgb);

// The patch every scenario starts from: a game whose identifying file is bin/game.exe, and a
// payload of a few files (text, binary larger than one copy chunk, empty, non-ASCII names).
struct DemoPatch {
    std::string gameFileName = "bin/game.exe";
    std::string gameFile;           // content of the identifying file
    ManifestEntries manifest;       // without LanguageIndex; scenarios add or replace entries
    std::vector<PayloadFile> payload;
};
DemoPatch MakeDemoPatch();

// Sets `key` to `value`, replacing an entry of the same key.
void SetEntry(ManifestEntries& entries, const std::string& key, const std::string& value);
void RemoveEntry(ManifestEntries& entries, const std::string& key);

}  // namespace e2e
