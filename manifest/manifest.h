#pragma once
// The patch manifest: "patch_manifest.dat" beside the executable, lines of key "=" Base64 value.
#include <cstddef>
#include <string>
#include <unordered_map>

// Narrow key (exact bytes) to decoded UTF-16 value.
using PatchManifest = std::unordered_map<std::string, std::wstring>;

// The process-wide manifest: filled once by LoadPatchManifest, read-only afterwards.
extern PatchManifest gPatchManifest;

extern const wchar_t kManifestFileName[];  // "patch_manifest.dat"

// Bounds on untrusted input, far above any real manifest (a few kilobytes), so that a damaged or
// hostile file costs bounded memory: a longer line is skipped as malformed, and bytes beyond the
// file limit are not read.
constexpr size_t kMaxManifestLineBytes = size_t(1) << 20;
constexpr size_t kMaxManifestFileBytes = size_t(16) << 20;

// Reads the manifest beside the executable into gPatchManifest. A missing or unreadable file leaves
// the map empty; nothing is reported.
void LoadPatchManifest();

// Reads one manifest file into `manifest` (entries are added or replaced). False when the file
// cannot be opened. Only the first kMaxManifestFileBytes are read, like a file cut short by a read
// error; a line that the limit cuts is dropped.
bool LoadPatchManifestFile(const std::wstring& path, PatchManifest& manifest);

// Base64 of UTF-8 to UTF-16; empty when the value cannot be decoded. A NUL byte ends the value.
std::wstring DecodeManifestValue(const std::string& value);

// Streaming line parser, so the file is read once and never held whole. Feed the bytes in any
// pieces; Finish takes the last line when it has no LF.
//
// Format: lines end at LF, one CR before it is removed. Empty lines, lines without "=" and lines
// starting with "=" are skipped. Key = bytes before the first "=", untrimmed; value = the rest,
// Base64 of UTF-8. A later line replaces an earlier one with the same key. A line of more than
// kMaxManifestLineBytes (before its LF) is skipped whole without being held.
class ManifestParser {
public:
    explicit ManifestParser(PatchManifest& manifest) : manifest_(manifest) {}
    void Feed(const char* data, size_t size);
    void Finish();
    // Bytes held for the line not yet ended: never much above kMaxManifestLineBytes.
    size_t HeldBytes() const { return pending_.capacity(); }

private:
    void TakeLine(std::string& line);
    void Hold(const char* from, const char* to);
    PatchManifest& manifest_;
    std::string pending_;
    bool overlong_ = false;  // the line being read passed the limit: its bytes are dropped
};

// Exact-key lookup: a copy of the value, empty when the key is absent.
std::wstring ManifestGet(const std::string& key);

// `key` + "." + the install language's code first, then `key` itself.
std::wstring ManifestGetLocalized(const char* key);

// Sets gInstallLanguage from the manifest's LanguageIndex: 0..4, anything else gives 0.
void SettleInstallLanguage();
