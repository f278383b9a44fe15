// Known-answer tables for the platform layer, run unchanged on the native build and under Wine so
// that the POSIX and Win32 implementations cannot drift apart.
#include <gtest/gtest.h>

#include <string>

#include "platform/base64.h"
#include "platform/digest.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace {

std::string Hex(const platform::Sha256Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : digest) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 15]);
    }
    return out;
}

TEST(Sha256, KnownAnswers) {
    struct Case {
        std::string input;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        platform::Sha256 sha;
        platform::Sha256Digest digest{};
        ASSERT_TRUE(sha.Begin());
        // Feed in uneven pieces: the digest must not depend on how the data is split.
        for (size_t at = 0; at < c.input.size();) {
            size_t piece = std::min<size_t>(c.input.size() - at, 1 + at % 65537);
            ASSERT_TRUE(sha.Update(c.input.data() + at, piece));
            at += piece;
        }
        ASSERT_TRUE(sha.Finish(digest));
        EXPECT_EQ(Hex(digest), c.digest) << "input of " << c.input.size() << " bytes";
    }
}

// One table for both builds: the Windows build asks CryptStringToBinaryA, the native one has its
// own decoder, and patchtool on Linux must judge a manifest value as the installer does.
TEST(Base64, DecodesWhatCryptStringToBinaryAccepts) {
    struct Case {
        const char* text;
        bool ok;
        std::string bytes;
    } cases[] = {
        {"TWFu", true, "Man"},
        {"TWE=", true, "Ma"},
        {"TQ==", true, "M"},
        {"MjAyNg==", true, "2026"},
        {"5LiA", true, "\xe4\xb8\x80"},
        {"+/+/", true, "\xfb\xff\xbf"},
        {"", true, ""},
        {"TW Fu\tTWFu\r\n", true, "ManMan"},  // blank, tab, CR and LF are skipped anywhere
        {" \r\n", true, ""},
        {"TWE", true, "Ma"},  // padding may be left out
        {"T", true, "\x4c"},  // a lone last character still gives a byte
        {"TR==", true, "M"},   // bits beyond the last byte are dropped, not checked
        {"TQ= =", true, "M"},
        {"TQ==TWFu!", true, "M"},  // full padding ends the text; the rest is not read
        {"TWFu=x", true, "Man"},   // so does "=" where a group begins
        {"=TWFu", true, ""},
        {"T===", true, "\x4c"},
        {"TQ=", false, ""},   // padding that stops short of a full group
        {"TQ=A", false, ""},  // data after padding began
        {"TW!u", false, ""},  // character outside the alphabet
        {"TWFu\x01", false, ""},
        {"TW\vFu", false, ""},  // vertical tab and form feed are not white space here
        {"TW\fFu", false, ""},
        {"\xc3\xa9", false, ""},
        {"-_-_", false, ""},  // the URL-safe alphabet is another encoding
    };
    for (const Case& c : cases) {
        std::string out = "unchanged";
        EXPECT_EQ(platform::DecodeBase64(c.text, out), c.ok) << c.text;
        EXPECT_EQ(out, c.ok ? c.bytes : std::string("unchanged")) << c.text;
    }
}

struct Utf8Case {
    const char* name;
    std::string bytes;
    std::u32string expected;  // the Unicode recommended practice: U+FFFD per maximal subpart
    // Wine's MultiByteToWideChar where it departs from that practice: after a lead byte it takes
    // the first continuation byte into the same U+FFFD even when that byte is outside the range the
    // lead allows (overlong forms, surrogates, above U+10FFFF). Empty: same as `expected`.
    std::u32string wine = U"";
};

const Utf8Case kUtf8Cases[] = {
    {"ascii", "abc", U"abc"},
    {"two three four bytes", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", U"\u00e9\u20ac\U0001F600"},
    {"embedded NUL", std::string("a\0b", 3), std::u32string(U"a\0b", 3)},
    {"lone continuation", "a\x80z", U"a\uFFFDz"},
    {"truncated 3-byte at end", "a\xe2\x82", U"a\uFFFD"},
    {"truncated 3-byte then ascii", "\xe2\x82z", U"\uFFFDz"},
    {"truncated 4-byte", "\xf0\x9f\x98z", U"\uFFFDz"},
    {"overlong 2-byte slash", "\xc0\xaf", U"\uFFFD\uFFFD"},
    {"overlong 3-byte", "\xe0\x80\xaf", U"\uFFFD\uFFFD\uFFFD", U"\uFFFD\uFFFD"},
    {"overlong 4-byte", "\xf0\x80\x80\xaf", U"\uFFFD\uFFFD\uFFFD\uFFFD", U"\uFFFD\uFFFD\uFFFD"},
    {"encoded surrogate", "\xed\xa0\x80", U"\uFFFD\uFFFD\uFFFD", U"\uFFFD\uFFFD"},
    {"above U+10FFFF", "\xf4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD", U"\uFFFD\uFFFD\uFFFD"},
    {"byte FE and FF", "\xfe\xff", U"\uFFFD\uFFFD"},
    {"5-byte form", "\xf8\x88\x80\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"6-byte form", "\xfc\x84\x80\x80\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"maximal subpart example", "\x61\xf1\x80\x80\xe1\x80\xc2\x62\x80\x63\x80\xbf\x64",
     U"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
};

TEST(Utf8, IllFormedInputFollowsRecommendedPractice) {
    for (const Utf8Case& c : kUtf8Cases) {
        std::wstring wide = platform::ConvertUtf8ToWide(c.bytes.data(), c.bytes.size());
        const std::u32string& expected = test::kWindows && !c.wine.empty() ? c.wine : c.expected;
        EXPECT_EQ(test::CodePoints(wide), expected) << c.name;
    }
}

TEST(Utf8, WideToUtf8RoundTrips) {
    std::string text = "Patch \xe8\xa3\x9c\xe4\xb8\x81 \xf0\x9f\x98\x80 \xed\x8c\xa8";
    std::wstring wide = platform::ConvertUtf8ToWide(text.data(), text.size());
    EXPECT_EQ(platform::ConvertWideToUtf8(wide), text);
}

}  // namespace
