#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "common/text.h"
#include "manifest/manifest.h"
#include "support/test_support.h"
#include "ui/ui_text.h"

namespace {

std::string Line(const std::string& key, const std::string& text, const char* end = "\n") {
    return key + "=" + EncodeBase64(text) + end;
}

PatchManifest LoadText(const std::string& content) {
    test::ScratchDir dir;
    std::wstring path = dir / L"patch_manifest.dat";
    EXPECT_TRUE(test::WriteFileBytes(path, content));
    PatchManifest manifest;
    EXPECT_TRUE(LoadPatchManifestFile(path, manifest));
    return manifest;
}

// Restores the process-wide state that lookups read.
class ManifestLookup : public ::testing::Test {
protected:
    void TearDown() override {
        gPatchManifest.clear();
        gInstallLanguage = 0;
    }
};

TEST(ManifestFile, LineEndsAndMalformedLines) {
    const std::string body = Line("LanguageIndex", "2") + Line("WindowTitle", "Title");
    struct Case {
        const char* name;
        std::string content;
        PatchManifest expected;
    } cases[] = {
        {"LF", body, {{"LanguageIndex", L"2"}, {"WindowTitle", L"Title"}}},
        {"CR LF", Line("LanguageIndex", "2", "\r\n") + Line("WindowTitle", "Title", "\r\n"),
         {{"LanguageIndex", L"2"}, {"WindowTitle", L"Title"}}},
        // With CR alone the file is one line: the first key, and a value with CRs and "=" inside,
        // which the decoder reads up to its padding.
        {"CR only", Line("LanguageIndex", "2", "\r") + Line("WindowTitle", "Title", "\r"),
         {{"LanguageIndex", L"2"}}},
        {"last line without LF", Line("A", "1") + Line("B", "2", ""), {{"A", L"1"}, {"B", L"2"}}},
        {"byte-order mark joins the first key", "\xEF\xBB\xBF" + body,
         {{"\xEF\xBB\xBFLanguageIndex", L"2"}, {"WindowTitle", L"Title"}}},
        // The key keeps its blank; the decoder skips the value's leading blank.
        {"blanks around =", "WindowTitle = " + EncodeBase64("T") + "\n", {{"WindowTitle ", L"T"}}},
        {"empty key, no =, empty and CR-only lines", "=" + EncodeBase64("x") + "\nnoequals\n\n\r\n" + body,
         {{"LanguageIndex", L"2"}, {"WindowTitle", L"Title"}}},
        {"equals inside the value is padding", "K=" + EncodeBase64("a") + "\n", {{"K", L"a"}}},
        {"empty value is an entry", "Greeting=\n", {{"Greeting", L""}}},
        {"later key wins", Line("K", "first") + Line("K", "second"), {{"K", L"second"}}},
        {"later invalid value empties the key", Line("K", "first") + "K=@@@@\n", {{"K", L""}}},
        {"keys are case-sensitive", Line("K", "1") + Line("k", "2"), {{"K", L"1"}, {"k", L"2"}}},
        {"invalid UTF-8 still stored", "K=" + EncodeBase64("a\xff") + "\n", {{"K", L"a\uFFFD"}}},
        {"NUL in the value ends it", std::string("K=") + EncodeBase64("ok") + std::string("\0AAAA\n", 6),
         {{"K", L"ok"}}},
        {"UTF-8 text", Line("Greeting.ko", "\xec\x95\x88\xeb\x85\x95"), {{"Greeting.ko", L"\uc548\ub155"}}},
        {"empty file", "", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(LoadText(c.content), c.expected) << c.name;
}

TEST(ManifestFile, KeyEndsAtTheFirstEquals) {
    // Whether "ab=YQ==" decodes is the platform decoder's choice; the key is not.
    PatchManifest manifest = LoadText("K=ab=" + EncodeBase64("a") + "\n");
    ASSERT_EQ(manifest.size(), 1u);
    EXPECT_EQ(manifest.count("K"), 1u);
}

TEST(ManifestFile, MissingFileOrDirectoryLeavesMapEmpty) {
    test::ScratchDir dir;
    PatchManifest manifest;
    EXPECT_FALSE(LoadPatchManifestFile(dir / L"absent.dat", manifest));
    EXPECT_FALSE(LoadPatchManifestFile(dir.path(), manifest));
    EXPECT_TRUE(manifest.empty());
}

TEST(ManifestFile, ParserIgnoresHowBytesAreSplit) {
    std::string content = Line("A", "alpha", "\r\n") + "\n=x\n" + Line("B", "\xe8\xa3\x9c") + Line("C", "c", "");
    PatchManifest whole;
    ManifestParser wholeParser(whole);
    wholeParser.Feed(content.data(), content.size());
    wholeParser.Finish();
    for (size_t piece = 1; piece <= 7; ++piece) {
        PatchManifest split;
        ManifestParser parser(split);
        for (size_t at = 0; at < content.size(); at += piece)
            parser.Feed(content.data() + at, std::min(piece, content.size() - at));
        parser.Finish();
        EXPECT_EQ(split, whole) << "pieces of " << piece;
    }
    EXPECT_EQ(whole.size(), 3u);
}

TEST(ManifestFile, LongLinesAcrossBufferBoundaries) {
    std::string big(200000, 'x');
    PatchManifest manifest = LoadText(Line("Big", big) + Line("After", "1"));
    EXPECT_EQ(manifest["Big"], std::wstring(big.size(), L'x'));
    EXPECT_EQ(manifest["After"], L"1");
}

// Keys and value lengths: a failure prints a line, not a megabyte of value.
std::map<std::string, size_t> Lengths(const PatchManifest& manifest) {
    std::map<std::string, size_t> lengths;
    for (const auto& entry : manifest) lengths[entry.first] = entry.second.size();
    return lengths;
}

TEST(ManifestFile, OverlongLineIsSkippedWithoutBeingHeld) {
    const size_t limit = kMaxManifestLineBytes;
    // "Key=" and a run of "A" (Base64 of zero bytes) make a line of exactly `length` bytes.
    auto zeros = [](size_t length) { return "Key=" + std::string(length - 4, 'A'); };
    struct Case {
        const char* name;
        std::string content;
        std::map<std::string, size_t> expected;
    } cases[] = {
        {"line at the limit is read", zeros(limit) + "\n", {{"Key", (limit - 4) / 4 * 3}}},
        {"one byte over is skipped", zeros(limit + 1) + "\n" + Line("After", "1"), {{"After", 1}}},
        {"over the limit as the last line", Line("Before", "1") + zeros(limit + 1), {{"Before", 1}}},
        {"64 MiB line", zeros(64 << 20) + "\n" + Line("After", "1"), {{"After", 1}}},
    };
    for (const Case& c : cases) {
        PatchManifest manifest;
        ManifestParser parser(manifest);
        size_t held = 0;
        // Pieces of the loader's read size, as the file would arrive.
        for (size_t at = 0; at < c.content.size(); at += 65536) {
            parser.Feed(c.content.data() + at, std::min<size_t>(65536, c.content.size() - at));
            held = std::max(held, parser.HeldBytes());
        }
        parser.Finish();
        EXPECT_EQ(Lengths(manifest), c.expected) << c.name;
        // The string's growth may double its room once past the limit's half, never more.
        EXPECT_LE(held, 2 * limit) << c.name;
    }
}

TEST(ManifestFile, BytesPastTheFileLimitAreNotRead) {
    std::string head = Line("First", "1");
    std::string inside = Line("Inside", "2");
    std::string cut = Line("Cut", "3");
    // Lines without "=" up to where the limit falls three bytes into the last line.
    std::string filler(kMaxManifestFileBytes - head.size() - inside.size() - 3, 'x');
    for (size_t at = 999; at < filler.size(); at += 1000) filler[at] = '\n';
    filler.back() = '\n';
    PatchManifest manifest = LoadText(head + filler + inside + cut);
    PatchManifest expected = {{"First", L"1"}, {"Inside", L"2"}};
    EXPECT_EQ(manifest, expected);
}

TEST(DecodeManifestValue, EmptyOnFailure) {
    EXPECT_EQ(DecodeManifestValue(""), L"");
    EXPECT_EQ(DecodeManifestValue("!!!!"), L"");
    EXPECT_EQ(DecodeManifestValue(EncodeBase64("\xe2\x80\xbb")), L"\u203b");
}

TEST_F(ManifestLookup, ExactAndLocalized) {
    gPatchManifest = {{"RelativePath", L"game.exe"}, {"RelativePath.ko", L""},     {"ExpectedHash.en", L"ab"},
                      {"WindowTitle", L"T"},         {"RelativePath2.ko", L"k.exe"}, {"Empty", L""}};
    struct Case {
        int language;
        const char* key;
        const wchar_t* exact;
        const wchar_t* localized;
    } cases[] = {
        {3, "RelativePath", L"game.exe", L"game.exe"},  // empty Korean variant falls back
        {3, "RelativePath2", L"", L"k.exe"},
        {0, "RelativePath2", L"", L""},  // no fallback to another language
        {2, "ExpectedHash", L"", L"ab"},
        {3, "ExpectedHash", L"", L""},
        {0, "windowtitle", L"", L""},  // case matters in keys
        {0, "Empty", L"", L""},
        {0, "Absent", L"", L""},
    };
    for (const Case& c : cases) {
        gInstallLanguage = c.language;
        EXPECT_EQ(ManifestGet(c.key), c.exact) << c.key;
        EXPECT_EQ(ManifestGetLocalized(c.key), c.localized) << c.key << " in language " << c.language;
    }
}

}  // namespace
