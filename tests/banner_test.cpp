// Banner loading from the manifest on both builds: which banners end up in the list and in what
// order, where each image comes from, that every rejected banner leaves no temporary file, the
// banner area height, and the rotation timing and geometry the banner view paints from.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "banner/assets.h"
#include "banner/banners.h"
#include "banner/links.h"
#include "banner/rotation.h"
#include "manifest/manifest.h"
#include "platform/fs.h"
#include "support/archive_builders.h"
#include "support/local_http_server.h"
#include "support/temp_env.h"
#include "support/test_images.h"
#include "support/test_support.h"

namespace {

std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

class BannerTest : public ::testing::Test {
protected:
    void SetUp() override {
        gPatchManifest.clear();
        ASSERT_TRUE(server.ok());
        // Widths tell the images apart in the list.
        ASSERT_TRUE(test::WriteFileBytes(dir / L"a.bmp", test::MakeSolidBmp(100, 20, {255, 0, 0})));
        ASSERT_TRUE(test::WriteFileBytes(dir / L"b.bmp", test::MakeSolidBmp(200, 20, {0, 255, 0})));
        ASSERT_TRUE(test::WriteFileBytes(dir / L"c.bmp", test::MakeSolidBmp(300, 20, {0, 0, 255})));
        ASSERT_TRUE(test::WriteFileBytes(dir / L"not-an-image.bmp", "<html>hello</html>"));
        ASSERT_TRUE(platform::MakeDirectory(dir / L"img") == platform::MakeDirResult::Created);
        ASSERT_TRUE(test::WriteFileBytes(dir / L"img\\d.bmp", test::MakeSolidBmp(400, 20, {9, 9, 9})));
        ASSERT_TRUE(test::WriteFileBytes(dir / L"patch_assets.dat",
                                         test::AssetArchive({{1, test::MakeSolidBmp(500, 20, {1, 2, 3})}, {2, "not an image"}})));
        server.Answer("/e.bmp", 200, test::MakeSolidBmp(600, 20, {4, 5, 6}));
        server.Answer("/page", 200, "<html>an error page with a 200 status</html>");
        server.Answer("/missing", 404, "<html>not found</html>");
        server.NeverAnswer("/silent");
        server.Endless("/endless");
    }
    void TearDown() override {
        ClearBanners();
        gPatchManifest.clear();
    }

    void Define(int number, const std::string& mode, const std::wstring& source, const std::wstring& link = L"") {
        std::string prefix = "Banner" + std::to_string(number);
        gPatchManifest[prefix + ".Mode"] = Wide(mode);
        gPatchManifest[prefix + ".Source"] = source;
        if (!link.empty()) gPatchManifest[prefix + ".Link"] = link;
    }
    void Load(uint32_t budgetMs = 10000) { LoadBannersFrom(dir.path(), budgetMs); }

    std::vector<uint32_t> Widths() const {
        std::vector<uint32_t> widths;
        for (const BannerEntry& e : gBannerList) widths.push_back(e.image.Width());
        return widths;
    }

    test::LocalHttpServer server;
    test::ScratchDir dir;  // stands for the executable's folder; before `temp`
    test::ScopedTempFolder temp;
};

TEST_F(BannerTest, CountIsClampedAndParsedLeniently) {
    Define(1, "", L"a.bmp");
    Define(2, "", L"b.bmp");
    Define(3, "", L"c.bmp");
    Define(4, "", L"img\\d.bmp");
    struct Case {
        const wchar_t* count;  // nullptr: key absent
        std::vector<uint32_t> widths;
    } cases[] = {
        {nullptr, {}},
        {L"", {}},
        {L"2abc", {100, 200}},
        {L"5", {100, 200, 300}},
        {L"3", {100, 200, 300}},
        {L"-2", {}},
        {L"abc", {}},
        {L"  1", {100}},
        {L"+2", {100, 200}},
        {L"99999999999", {100, 200, 300}},  // saturates, then clamps
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count ? test::FsPath(c.count).string() : "absent");
        if (c.count)
            gPatchManifest["BannerCount"] = c.count;
        else
            gPatchManifest.erase("BannerCount");
        Load();
        EXPECT_EQ(Widths(), c.widths);
    }
}

TEST_F(BannerTest, SkippedBannersLeaveNoGapAndKeepTheOrder) {
    gPatchManifest["BannerCount"] = L"3";
    Define(1, "", L"a.bmp", L"https://example.invalid/one");
    Define(2, "", L"", L"https://example.invalid/two");
    Define(3, "", L"c.bmp");
    Load();
    ASSERT_EQ(Widths(), (std::vector<uint32_t>{100, 300}));
    EXPECT_EQ(gBannerList[0].link, L"https://example.invalid/one");
    EXPECT_EQ(gBannerList[0].source, L"a.bmp");
    EXPECT_EQ(gBannerList[1].link, L"");
    EXPECT_EQ(gBannerList[1].source, L"c.bmp");
    EXPECT_TRUE(temp.Files().empty());
}

TEST_F(BannerTest, ModeSelectsTheSourceIgnoringAsciiCase) {
    struct Case {
        const char* mode;
        std::wstring source;
        uint32_t width;
        const char* tempPrefix;  // "" for a file beside the executable
    } cases[] = {
        {"Url", server.Url("/e.bmp"), 600, "pbn"},
        {"url", server.Url("/e.bmp"), 600, "pbn"},
        {"uRL", server.Url("/e.bmp"), 600, "pbn"},
        {"Asset", L"1", 500, "pba"},
        {"ASSET", L"1", 500, "pba"},
        {"aSsEt", L" 1st", 500, "pba"},
        {"", L"a.bmp", 100, ""},
        {"File", L"a.bmp", 100, ""},
        {"Urls", L"a.bmp", 100, ""},  // only the exact words select a mode
        {"Url ", L"b.bmp", 200, ""},
        {"", L"img\\d.bmp", 400, ""},
        {"local", L"img/d.bmp", 400, ""},
    };
    gPatchManifest["BannerCount"] = L"1";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + test::FsPath(c.source).string());
        Define(1, c.mode, c.source);
        Load();
        ASSERT_EQ(Widths(), std::vector<uint32_t>{c.width});
        EXPECT_EQ(gBannerList[0].mode, Wide(c.mode));
        std::vector<std::string> files = temp.Files();
        if (*c.tempPrefix == '\0') {
            EXPECT_TRUE(gBannerList[0].tempPath.empty());
            EXPECT_TRUE(files.empty());
        } else {
            ASSERT_EQ(files.size(), 1u);
            EXPECT_EQ(files[0].substr(0, 3), c.tempPrefix);
            EXPECT_EQ(test::FsPath(gBannerList[0].tempPath).filename().string(), files[0]);
        }
        ClearBanners();
        EXPECT_TRUE(temp.Files().empty());
    }
}

TEST_F(BannerTest, EveryRejectedBannerLeavesNoTemporaryFile) {
    std::string closed = "http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/e.bmp";
    struct Case {
        const char* mode;
        std::wstring source;
    } cases[] = {
        {"Asset", L"0"},
        {"Asset", L"-1"},
        {"Asset", L"abc"},
        {"Asset", L"7"},  // not in the archive
        {"Asset", L"2"},  // in the archive, not an image
        {"Url", server.Url("/missing")},
        {"Url", server.Url("/page")},
        {"Url", server.Url("/endless")},  // past the size limit
        {"Url", Wide(closed)},
        {"Url", L"no address at all"},
        {"", L"missing.bmp"},
        {"", L"not-an-image.bmp"},
        {"", L"img"},  // a folder
    };
    gPatchManifest["BannerCount"] = L"1";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + test::FsPath(c.source).string());
        Define(1, c.mode, c.source);
        Load();
        EXPECT_TRUE(gBannerList.empty());
        EXPECT_EQ(gBannerAreaHeight, 0);
        EXPECT_TRUE(temp.Files().empty());
    }
    // Without the asset archive at all.
    ASSERT_TRUE(platform::DeletePath(dir / L"patch_assets.dat"));
    Define(1, "Asset", L"1");
    Load();
    EXPECT_TRUE(gBannerList.empty());
    EXPECT_TRUE(temp.Files().empty());
}

TEST_F(BannerTest, AreaHeightIsTheTallestBannerAtTheViewWidth) {
    struct Case {
        std::vector<std::pair<uint32_t, uint32_t>> sizes;
        int32_t height;
    } cases[] = {
        {{{1380, 400}}, 200},
        {{{1000, 333}}, 230},
        {{{690, 200}, {690, 250}}, 250},
        {{{690, 250}, {690, 200}}, 250},
        {{{690, 1}, {3, 1}}, 230},
        {{}, 0},
    };
    for (const Case& c : cases) {
        ClearBanners();  // GDI+ keeps a loaded image's file open; release before rewriting it
        gPatchManifest["BannerCount"] = std::to_wstring(c.sizes.size());
        for (size_t i = 0; i < c.sizes.size(); ++i) {
            std::wstring name = L"size" + std::to_wstring(i) + L".bmp";
            ASSERT_TRUE(
                test::WriteFileBytes(dir / name, test::MakeSolidBmp(c.sizes[i].first, c.sizes[i].second, {7, 7, 7})));
            Define(static_cast<int>(i + 1), "", name);
        }
        Load();
        EXPECT_EQ(gBannerList.size(), c.sizes.size());
        EXPECT_EQ(gBannerAreaHeight, c.height) << c.sizes.size() << " banners";
    }
    EXPECT_EQ(ScaledBannerHeight(0, 10), 0);
    EXPECT_EQ(ScaledBannerHeight(10, 0), 0);
    EXPECT_EQ(ScaledBannerHeight(1, 0xFFFFFFFF), INT32_MAX);
}

TEST_F(BannerTest, SecondLoadReplacesTheFirstAndClearDeletesEverything) {
    gPatchManifest["BannerCount"] = L"3";
    Define(1, "Url", server.Url("/e.bmp"));
    Define(2, "Asset", L"1");
    Define(3, "", L"a.bmp");
    Load();
    ASSERT_EQ(Widths(), (std::vector<uint32_t>{600, 500, 100}));
    std::vector<std::string> first = temp.Files();
    ASSERT_EQ(first.size(), 2u);
    gBannerRotation = BannerRotation{2, true, 5, 6};

    gPatchManifest["BannerCount"] = L"2";
    Define(1, "Asset", L"1");
    Define(2, "", L"b.bmp");
    Load();
    ASSERT_EQ(Widths(), (std::vector<uint32_t>{500, 200}));
    EXPECT_EQ(gBannerRotation.currentIndex, 0);
    EXPECT_FALSE(gBannerRotation.sliding);
    std::vector<std::string> second = temp.Files();
    ASSERT_EQ(second.size(), 1u);
    for (const std::string& name : first) EXPECT_NE(name, second[0]);
    // The local file is the user's: never deleted.
    ClearBanners();
    EXPECT_TRUE(gBannerList.empty());
    EXPECT_EQ(gBannerAreaHeight, 0);
    EXPECT_TRUE(temp.Files().empty());
    EXPECT_EQ(platform::GetPathKind(dir / L"b.bmp"), platform::PathKind::File);
}

// A banner server that accepts and never answers costs the whole budget once, not once per banner.
TEST_F(BannerTest, DownloadsShareOneTimeBudget) {
    gPatchManifest["BannerCount"] = L"3";
    Define(1, "Url", server.Url("/silent"));
    Define(2, "Url", server.Url("/silent"));
    Define(3, "", L"a.bmp");
    auto start = std::chrono::steady_clock::now();
    Load(800);
    auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(Widths(), std::vector<uint32_t>{100});
    EXPECT_TRUE(temp.Files().empty());
    // The second download is not even tried: a limit per download would have asked twice.
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_GE(elapsed, 750);
    EXPECT_LT(elapsed, 800 + 3000);  // generous: the machine may be busy
}

TEST(BannerRotation, HoldsSlidesAndWraps) {
    struct Step {
        uint32_t at;  // ticks after the start
        int32_t index;
        bool sliding;
    } steps[] = {
        {0, 0, false},     {4999, 0, false}, {5000, 0, true},   {5649, 0, true},  {5650, 1, false},
        {10649, 1, false}, {10650, 1, true}, {11300, 2, false}, {16300, 2, true}, {16950, 0, false},
    };
    // The same walk from three starting points, the last one just before the tick count wraps.
    for (uint32_t start : {0u, 123456u, 0xFFFFFFFFu - 7000u}) {
        gBannerRotation = BannerRotation{0, false, 0, 0};
        StartBannerRotationAt(start);
        EXPECT_EQ(gBannerRotation.lastSwitchTick, start);
        for (const Step& s : steps) {
            AdvanceBannerRotationAt(start + s.at, 3);
            EXPECT_EQ(gBannerRotation.currentIndex, s.index) << start << " +" << s.at;
            EXPECT_EQ(gBannerRotation.sliding, s.sliding) << start << " +" << s.at;
        }
    }
    gBannerRotation = BannerRotation{0, false, 0, 0};
}

TEST(BannerRotation, SlideOffsetAndPlacement) {
    struct Offset {
        uint32_t start, now;
        int32_t offset;
    } offsets[] = {
        {1000, 1000, 0},   {1000, 1325, 345}, {1000, 1649, 688},
        {1000, 1650, 690}, {1000, 9000, 690}, {0xFFFFFF00u, 0x45u, 345},  // 325 ms across the wrap
    };
    for (const Offset& o : offsets) EXPECT_EQ(BannerSlideOffset(o.now, o.start, 690), o.offset) << o.now;

    struct Place {
        uint32_t iw, ih;
        int32_t w, h, x;
        BannerPlacement expected;
    } places[] = {
        {1380, 400, 690, 200, 0, {0, 0, 690, 200}},
        {690, 100, 690, 250, 0, {0, 75, 690, 100}},
        {690, 500, 690, 250, -345, {-345, -125, 690, 500}},  // taller: cut equally at both edges
        {1000, 333, 690, 230, 345, {345, 0, 690, 229}},      // truncated, one-pixel band below
    };
    for (const Place& p : places) {
        BannerPlacement got{};
        ASSERT_TRUE(PlaceBanner(p.iw, p.ih, p.w, p.h, p.x, got));
        EXPECT_EQ(got.x, p.expected.x);
        EXPECT_EQ(got.y, p.expected.y) << p.iw << "x" << p.ih;
        EXPECT_EQ(got.width, p.expected.width);
        EXPECT_EQ(got.height, p.expected.height) << p.iw << "x" << p.ih;
    }
    BannerPlacement unused{};
    EXPECT_FALSE(PlaceBanner(0, 10, 690, 200, 0, unused));
    EXPECT_FALSE(PlaceBanner(10, 0, 690, 200, 0, unused));
}

TEST(BannerLink, OnlyWebAddressesOpen) {
    struct Case {
        const wchar_t* link;
        bool opens;
    } cases[] = {
        {L"https://example.com/sale", true},
        {L"http://example.com", true},
        {L"HTTPS://EXAMPLE.COM/a?b=c%20d", true},
        {L"http://例え.jp/", true},
        {L"", false},
        {L"https://", false},
        {L"http:example.com", false},
        {L" https://example.com", false},
        {L"file:///C:/Windows/System32/calc.exe", false},
        {L"\\\\host\\share\\setup.exe", false},  // would send the user's credentials to the host
        {L"C:\\Games\\evil.exe", false},
        {L"evil.exe", false},
        {L"ms-settings:", false},
        {L"javascript:alert(1)", false},
        {L"httpx://example.com", false},
        {L"https://example.com\" --user-data-dir=x", false},  // would end the address on a command line
        {L"https://example.com/a b", false},
        {L"https://example.com/\ttab", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsOpenableLink(c.link), c.opens) << test::FsPath(c.link).string();
}

TEST(BannerArea, TallBannerIsFittedToTheScreen) {
    struct Fit {
        int32_t area, rest, work;
        int32_t fitted;
    } fits[] = {
        {200, 520, 1024, 200},       // fits: unchanged
        {504, 520, 1024, 504},       // exactly
        {505, 520, 1024, 504},       // one pixel too tall
        {2760000, 520, 1024, 504},   // a 1 x 4000 image
        {2760000, 520, 400, 0},      // no room at all: no banner area
        {0, 520, 1024, 0},           // no banners
        {INT32_MAX, 520, INT32_MIN, 0},
    };
    for (const Fit& f : fits) {
        EXPECT_EQ(FittedBannerAreaHeight(f.area, f.rest, f.work), f.fitted) << f.area << " in " << f.work;
    }

    // Only a fitted area limits how tall a banner is drawn.
    ClearBanners();
    gBannerAreaHeight = 200;
    FitBannerArea(520, 1024);
    EXPECT_EQ(gBannerAreaHeight, 200);
    EXPECT_EQ(gBannerDrawLimit, INT32_MAX);
    gBannerAreaHeight = 2760000;
    FitBannerArea(520, 1024);
    EXPECT_EQ(gBannerAreaHeight, 504);
    EXPECT_EQ(gBannerDrawLimit, 504);
    ClearBanners();
    EXPECT_EQ(gBannerDrawLimit, INT32_MAX);

    struct Place {
        uint32_t iw, ih;
        int32_t h, x, limit;
        BannerPlacement expected;
    } places[] = {
        {1, 4000, 504, 0, 504, {345, 0, 0, 504}},         // narrower than a pixel: nothing to see
        {100, 1000, 504, 0, 504, {320, 0, 50, 504}},      // whole, centred across the width
        {100, 1000, 504, -345, 504, {-25, 0, 50, 504}},   // sliding out
        {1380, 400, 504, 0, 504, {0, 152, 690, 200}},     // a normal banner beside it: as always
        {690, 504, 504, 0, 504, {0, 0, 690, 504}},        // exactly the limit
        {690, 500, 250, 0, INT32_MAX, {0, -125, 690, 500}},  // no limit: cut at both edges
    };
    for (const Place& p : places) {
        BannerPlacement got{};
        ASSERT_TRUE(PlaceBanner(p.iw, p.ih, 690, p.h, p.x, got, p.limit));
        EXPECT_EQ(got.x, p.expected.x) << p.iw << "x" << p.ih;
        EXPECT_EQ(got.y, p.expected.y) << p.iw << "x" << p.ih;
        EXPECT_EQ(got.width, p.expected.width) << p.iw << "x" << p.ih;
        EXPECT_EQ(got.height, p.expected.height) << p.iw << "x" << p.ih;
    }
}

}  // namespace
