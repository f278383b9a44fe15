// Temporary stand-ins; see README.md in this folder.
#include <filesystem>
#include <fstream>
#include <vector>

#include "banner/banner_view_win.h"
#include "banner/banners.h"
#include "common/paths.h"
#include "common/text.h"
#include "install/payload.h"
#include "install/verify.h"
#include "manifest/manifest.h"
#include "platform/digest.h"
#include "platform/fs.h"

std::vector<BannerEntry> gBannerList;
int gBannerAreaHeight = 0;
void LoadBanners() {}
void ClearBanners() {}
LRESULT CALLBACK BannerViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}
void StartBannerRotation() {}
void AdvanceBannerRotation() {}

namespace {
bool FindByName(const std::wstring& dir, const std::wstring& name, std::wstring& out) {
    platform::DirectoryReader reader;
    if (!reader.Open(dir)) return false;
    platform::DirEntry e;
    while (reader.Next(e)) {
        if (e.name == L"." || e.name == L"..") continue;
        std::wstring full = JoinPath(dir, e.name);
        if (e.isDirectory) {
            if (!e.isLink && FindByName(full, name, out)) return true;
        } else if (EqualsIgnoreAsciiCase(e.name, name)) {
            out = full;
            return true;
        }
    }
    return false;
}
}  // namespace

bool VerifyFileRecord(const std::wstring& folder, const std::string& suffix) {
    std::wstring rel = ManifestGetLocalized(("RelativePath" + suffix).c_str());
    std::wstring hash = ManifestGetLocalized(("ExpectedHash" + suffix).c_str());
    std::wstring size = ManifestGetLocalized(("ExpectedSize" + suffix).c_str());
    if (rel.empty() || hash.empty() || size.empty()) return false;
    std::wstring path = JoinPath(folder, rel);
    if (platform::GetPathKind(path) != platform::PathKind::File) {
        size_t cut = rel.find_last_of(L"\\/");
        std::wstring name = cut == std::wstring::npos ? rel : rel.substr(cut + 1);
        if (name.empty() || !FindByName(folder, name, path)) return false;
    }
    platform::File file;
    uint64_t actual = 0;
    if (!file.OpenRead(path, platform::Share::ReadOnly) || !file.GetSize(actual)) return false;
    if (static_cast<int64_t>(actual) != ParseLenientInt64(size)) return false;
    platform::Sha256 sha;
    if (!sha.Begin()) return false;
    std::vector<char> buf(65536);
    size_t got = 0;
    do {
        if (!file.Read(buf.data(), buf.size(), got) || !sha.Update(buf.data(), got)) return false;
    } while (got == buf.size());
    platform::Sha256Digest d;
    if (!sha.Finish(d)) return false;
    std::wstring text;
    for (uint8_t b : d) {
        text += L"0123456789ABCDEF"[b >> 4];
        text += L"0123456789ABCDEF"[b & 15];
    }
    return EqualsIgnoreAsciiCase(text, hash);
}

bool ExtractPayload(const std::wstring& archivePath, const std::wstring& gameFolder) {
    std::ifstream in(std::filesystem::path(archivePath), std::ios::binary);
    char magic[8];
    uint32_t count = 0;
    if (!in.read(magic, 8) || std::string(magic, 8) != "PTPAYLD1" || !in.read(reinterpret_cast<char*>(&count), 4))
        return false;
    if (count > 200000) return false;
    for (uint32_t i = 0; i < count; ++i) {
        int32_t nameLength = 0;
        if (!in.read(reinterpret_cast<char*>(&nameLength), 4) || uint32_t(nameLength) - 1 > 32767) return false;
        std::string name(nameLength, '\0');
        int64_t dataSize = 0;
        in.read(&name[0], nameLength);
        in.read(reinterpret_cast<char*>(&dataSize), 8);
        if (!in || dataSize < 0) return false;
        std::wstring wide = Utf8ToWide(name);
        for (wchar_t& c : wide)
            if (c == L'/') c = L'\\';
        if (wide.empty() || wide.find(L':') != std::wstring::npos || wide[0] == L'\\' || wide.back() == L'\\' ||
            wide.find(L"\\\\") != std::wstring::npos || wide == L".." || wide.rfind(L"..\\", 0) == 0 ||
            wide.find(L"\\..\\") != std::wstring::npos || (wide.size() > 2 && wide.substr(wide.size() - 3) == L"\\.."))
            return false;
        std::wstring target = JoinPath(gameFolder, wide);
        for (size_t p = target.find(L'\\', gameFolder.size() + 1); p != std::wstring::npos;
             p = target.find(L'\\', p + 1))
            platform::MakeDirectory(target.substr(0, p));
        std::ofstream out(std::filesystem::path(target), std::ios::binary | std::ios::trunc);
        if (!out) return false;
        std::vector<char> buf(65536);
        while (dataSize > 0) {
            std::streamsize chunk = dataSize < 65536 ? dataSize : 65536;
            if (!in.read(buf.data(), chunk)) return false;
            if (!out.write(buf.data(), chunk)) return false;
            dataSize -= chunk;
        }
    }
    return true;
}
