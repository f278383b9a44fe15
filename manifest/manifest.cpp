#include "manifest/manifest.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "common/install_language.h"
#include "common/paths.h"
#include "common/text.h"
#include "platform/base64.h"
#include "platform/fs.h"

PatchManifest gPatchManifest;

const wchar_t kManifestFileName[] = L"patch_manifest.dat";

std::wstring DecodeManifestValue(const std::string& value) {
    std::string bytes;
    if (!platform::DecodeBase64(value.c_str(), bytes)) return std::wstring();
    return Utf8ToWide(bytes);
}

void ManifestParser::TakeLine(std::string& line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t equals = line.find('=');
    if (line.empty() || equals == std::string::npos || equals == 0) return;
    manifest_[line.substr(0, equals)] = DecodeManifestValue(line.substr(equals + 1));
}

void ManifestParser::Hold(const char* from, const char* to) {
    if (overlong_) return;
    size_t size = static_cast<size_t>(to - from);
    if (size > kMaxManifestLineBytes - pending_.size()) {
        // The memory goes too, so a long line does not stay paid for until the end of the file.
        std::string().swap(pending_);
        overlong_ = true;
        return;
    }
    pending_.append(from, to);
}

void ManifestParser::Feed(const char* data, size_t size) {
    const char* end = data + size;
    while (data < end) {
        const char* lf = static_cast<const char*>(std::memchr(data, '\n', static_cast<size_t>(end - data)));
        if (!lf) {
            Hold(data, end);
            return;
        }
        Hold(data, lf);
        if (!overlong_) TakeLine(pending_);
        pending_.clear();
        overlong_ = false;
        data = lf + 1;
    }
}

void ManifestParser::Finish() {
    if (!pending_.empty() && !overlong_) TakeLine(pending_);
    pending_.clear();
    overlong_ = false;
}

bool LoadPatchManifestFile(const std::wstring& path, PatchManifest& manifest) {
    platform::File file;
    if (!file.OpenRead(path, platform::Share::All)) return false;
    ManifestParser parser(manifest);
    std::vector<char> buffer(65536);
    size_t total = 0;
    for (;;) {
        size_t got = 0;
        bool ok = file.Read(buffer.data(), buffer.size(), got);
        if (got > kMaxManifestFileBytes - total) {
            // The limit cuts a line whose end was never seen: it is not the line the file holds.
            parser.Feed(buffer.data(), kMaxManifestFileBytes - total);
            return true;
        }
        total += got;
        parser.Feed(buffer.data(), got);
        // A read error ends the file like its end: what was read so far stays.
        if (!ok || got < buffer.size()) break;
    }
    parser.Finish();
    return true;
}

void LoadPatchManifest() {
    LoadPatchManifestFile(JoinPath(GetExeDirectory(), kManifestFileName), gPatchManifest);
}

std::wstring ManifestGet(const std::string& key) {
    auto it = gPatchManifest.find(key);
    return it == gPatchManifest.end() ? std::wstring() : it->second;
}

std::wstring ManifestGetLocalized(const char* key) {
    std::string localized = std::string(key) + "." + LanguageCode(gInstallLanguage);
    std::wstring value = ManifestGet(localized);
    if (!value.empty()) return value;
    return ManifestGet(key);
}

void SettleInstallLanguage() {
    std::wstring value = ManifestGet("LanguageIndex");
    if (value.empty()) {
        gInstallLanguage = kFallbackLanguage;
        return;
    }
    // Taken as unsigned, every negative number is out of range too.
    uint32_t n = static_cast<uint32_t>(ParseLenientInt32(value));
    gInstallLanguage = n >= static_cast<uint32_t>(kLanguageCount) ? kFallbackLanguage : static_cast<int>(n);
}
