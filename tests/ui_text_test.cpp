#include <gtest/gtest.h>

#include <set>
#include <string>

#include "manifest/manifest.h"
#include "support/test_support.h"
#include "ui/ui_text.h"

namespace {

class UiTextTest : public ::testing::Test {
protected:
    void TearDown() override {
        gPatchManifest.clear();
        gInstallLanguage = 0;
    }
};

TEST_F(UiTextTest, SettleInstallLanguage) {
    struct Case {
        const wchar_t* value;  // nullptr: key absent
        int language;
    } cases[] = {
        {L"3", 3},  {L" 2", 2}, {L"4abc", 4}, {L"5", 0}, {L"-1", 0},         {L"abc", 0},
        {L"", 0},   {nullptr, 0}, {L"0", 0},  {L"+1", 1}, {L"4294967297", 0},  // saturates, then out of range
    };
    for (const Case& c : cases) {
        gPatchManifest.clear();
        if (c.value) gPatchManifest["LanguageIndex"] = c.value;
        gInstallLanguage = 2;
        SettleInstallLanguage();
        EXPECT_EQ(gInstallLanguage, c.language) << (c.value ? c.value : L"(absent)");
    }
}

TEST_F(UiTextTest, WindowTitleFollowsManifestWhateverTheLanguage) {
    const wchar_t* titles[] = {L"補丁安裝", L"补丁安装", L"Patch Installer", L"패치 설치", L"パッチインストール"};
    for (int language = 0; language < kLanguageCount; ++language) {
        gInstallLanguage = language;
        gPatchManifest = {{"WindowTitle", L""}};  // empty counts as absent
        EXPECT_EQ(WindowTitleText(), titles[language]);
        gPatchManifest = {{"WindowTitle", L"My Patch"}, {"WindowTitle.ja", L"x"}};
        EXPECT_EQ(WindowTitleText(), L"My Patch");
    }
}

TEST_F(UiTextTest, GreetingChain) {
    struct Case {
        PatchManifest manifest;
        const wchar_t* greeting;
    } cases[] = {
        {{{"Greeting.ko", L"ko"}, {"Greeting", L"any"}, {"Greeting.zh-TW", L"tw"}}, L"ko"},
        {{{"Greeting", L"any"}, {"Greeting.zh-TW", L"tw"}}, L"any"},
        {{{"Greeting.ko", L""}, {"Greeting", L""}, {"Greeting.zh-TW", L"tw"}}, L"tw"},
        {{{"Greeting.ko", L""}, {"Greeting", L""}, {"Greeting.zh-TW", L""}}, L""},
        {{{"Greeting.en", L"en"}}, L""},  // another language's greeting is never used
    };
    gInstallLanguage = 3;
    for (const Case& c : cases) {
        gPatchManifest = c.manifest;
        EXPECT_EQ(GreetingText(), c.greeting);
    }
}

TEST(UiTextTable, ExactCellsAndCompleteness) {
    EXPECT_STREQ(UiText(UiTextRow::InstallNote, 0), L"\u203b安裝約莫2~3分鐘\uff0c完成前請勿關閉程式以免安裝失敗");
    EXPECT_STREQ(UiText(UiTextRow::StatusChooseFolder, 1), L"请选择游戏文件夹\u3002");
    EXPECT_STREQ(UiText(UiTextRow::StatusInstalling, 2), L"Installing patch...");
    EXPECT_STREQ(UiText(UiTextRow::ErrorInstall, 2), L"Install error.");
    EXPECT_STREQ(UiText(UiTextRow::BrowseCaption, 3), L"찾아보기");
    EXPECT_STREQ(UiText(UiTextRow::InstallCaption, 4), L"パッチをインストール");
    EXPECT_STREQ(UiText(UiTextRow::InstallNote, 2),
                 L"\u203bInstallation takes about 2-3 minutes. Do not close this program before it finishes.");
    // Every cell is filled, and within one language no two rows share a text except where the
    // table itself repeats one (ko: InstallerTitle and InstallCaption are both "패치 설치").
    for (int language = 0; language < kLanguageCount; ++language) {
        std::set<std::wstring> seen;
        for (int row = 0; row < kUiTextRowCount; ++row) {
            const wchar_t* text = UiText(static_cast<UiTextRow>(row), language);
            ASSERT_NE(text, nullptr);
            EXPECT_GT(std::wcslen(text), 0u);
            seen.insert(text);
        }
        EXPECT_EQ(seen.size(), static_cast<size_t>(kUiTextRowCount - (language == 3 ? 1 : 0))) << language;
    }
    const char* codes[] = {"zh-TW", "zh-CN", "en", "ko", "ja"};
    for (int language = 0; language < kLanguageCount; ++language) {
        EXPECT_STREQ(LanguageCode(language), codes[language]);
        EXPECT_EQ(std::string(GreetingKey(language)), std::string("Greeting.") + codes[language]);
    }
}

}  // namespace
