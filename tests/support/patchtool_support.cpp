#include "support/patchtool_support.h"

#include <filesystem>

namespace test {

PatchSource::PatchSource() {
    Put("game/DemoGame.exe", std::string("MZ stand-in game binary\n") + std::string(3000, 'g'));
    Put("banners/asset.png", FakePng(1380, 400));
    Put("banners/local.png", FakePng(690, 250));
    payload = {{"readme.txt", "patched readme\n"},
               {"data/levels/level1.dat", std::string(70000, 'L')},  // more than one copy chunk
               {"data/empty.bin", ""},
               {"bin/DemoGame.exe", "new binary"}};
    for (const auto& [name, content] : payload) Put("payload/" + name, content);
}

void PatchSource::Put(const std::string& relative, const std::string& bytes) {
    std::filesystem::path path = FsPath(Path(relative));
    std::filesystem::create_directories(path.parent_path());
    WriteFileBytes(Path(relative), bytes);
}

std::wstring PatchSource::Path(const std::string& relative) const {
    std::wstring wide(relative.begin(), relative.end());
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    return dir / wide;
}

std::string PatchSource::Definition(const std::string& extra) {
    return "language = \"ko\"\n"
           "title = \"Demo Patch 1.1\"\n"
           "payload = \"payload\"\n"
           "[greeting]\n"
           "all = \"Hello\"\n"
           "ko = \"\xEC\x95\x88\xEB\x85\x95\xED\x95\x98\xEC\x84\xB8\xEC\x9A\x94\"\n"
           "en = \"Welcome\"\n"
           "[game]\n"
           "file = \"game/DemoGame.exe\"\n"
           "path = \"bin/DemoGame.exe\"\n"
           "[game.ja]\n"
           "path = \"jp/DemoGame.exe\"\n"
           "[[banner]]\n"
           "mode = \"Url\"\n"
           "source = \"http://127.0.0.1:8765/url.png\"\n"
           "link = \"https://example.org/news\"\n"
           "[[banner]]\n"
           "mode = \"Asset\"\n"
           "file = \"banners/asset.png\"\n"
           "[[banner]]\n"
           "mode = \"File\"\n"
           "file = \"banners/local.png\"\n"
           "source = \"art/local.png\"\n" +
           extra;
}

void PatchSource::WriteDefinition(const std::string& text) { Put("patch.toml", text); }

std::string FakePng(unsigned width, unsigned height) {
    std::string png = "\x89PNG\r\n\x1a\n";
    png += std::string("\0\0\0\x0dIHDR", 8);
    for (unsigned value : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<char>((value >> shift) & 0xFF));
    png += std::string("\x08\x02\0\0\0", 5);
    png += std::string(4, '\0');  // CRC, not checked by the sniffer
    return png;
}

}  // namespace test
