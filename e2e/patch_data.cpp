#include "e2e/patch_data.h"

#include <algorithm>

#include "common/text.h"
#include "platform/digest.h"
#include "support/test_images.h"

namespace e2e {

std::string BuildManifest(const ManifestEntries& entries) {
    std::string text;
    for (const auto& [key, value] : entries) text += key + "=" + EncodeBase64(value) + "\r\n";
    return text;
}

std::string BuildPayloadArchive(const std::vector<PayloadFile>& files) { return test::PayloadArchive(files); }

std::string Sha256Hex(const std::string& bytes) {
    platform::Sha256 sha;
    platform::Sha256Digest digest{};
    if (!sha.Begin() || !sha.Update(bytes.data(), bytes.size()) || !sha.Finish(digest)) return std::string();
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (uint8_t b : digest) {
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 15]);
    }
    return hex;
}

std::string PseudoRandomBytes(uint32_t seed, size_t size) {
    std::string out(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char& c : out) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state & 0xFF);
    }
    return out;
}

std::string SolidBmp(int width, int height, uint32_t rgb) {
    const test::Rgb colour{static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb)};
    return test::MakeSolidBmp(static_cast<uint32_t>(width), static_cast<uint32_t>(height), colour);
}

void SetEntry(ManifestEntries& entries, const std::string& key, const std::string& value) {
    RemoveEntry(entries, key);
    entries.emplace_back(key, value);
}

void RemoveEntry(ManifestEntries& entries, const std::string& key) {
    entries.erase(std::remove_if(entries.begin(), entries.end(), [&](const auto& e) { return e.first == key; }),
                  entries.end());
}

DemoPatch MakeDemoPatch() {
    DemoPatch patch;
    patch.gameFile = "MZ" + PseudoRandomBytes(1, 20000);
    patch.manifest = {
        {"Greeting.zh-TW", "歡迎使用補丁安裝程式。\r\n請選擇遊戲資料夾，然後按「安裝補丁」。"},
        {"Greeting.zh-CN", "欢迎使用补丁安装程序。\r\n请选择游戏文件夹，然后按“安装补丁”。"},
        {"Greeting.en", "Welcome to the demo patch.\r\nChoose the game folder, then press Install Patch."},
        {"Greeting.ko", "데모 패치에 오신 것을 환영합니다.\r\n게임 폴더를 선택한 다음 패치 설치를 누르세요."},
        {"Greeting.ja", "デモパッチへようこそ。\r\nゲームフォルダーを選んで「パッチをインストール」を押してください。"},
        {"RelativePath", patch.gameFileName},
        {"ExpectedHash", Sha256Hex(patch.gameFile)},
        {"ExpectedSize", std::to_string(patch.gameFile.size())},
    };
    patch.payload = {
        {"readme_patch.txt", "Demo patch 1.1\r\n"},
        {"bin/game_patch.dll", "MZ" + PseudoRandomBytes(2, 70000)},  // more than one 64 KiB copy chunk
        {"data\\maps\\level1.map", PseudoRandomBytes(3, 4096)},
        {"data/empty.cfg", ""},
        {"データ/説明.txt", "日本語の説明\r\n"},
    };
    return patch;
}

}  // namespace e2e
