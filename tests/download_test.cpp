// The download service against a local server: the body lands in the file, an error page and
// every misbehaving server are failures, the size limit is counted as the body arrives, and the
// time limit holds for a server that accepts the
// connection but never answers or answers a byte at a time.
#include "platform/download.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/local_http_server.h"
#include "support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// Far above every body these tests send, except where the size limit is what is tested.
constexpr uint64_t kLimit = 50u << 20;

long MillisecondsSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::string BinaryBody(size_t size) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7919) >> 3);
    return body;
}

TEST(Download, WritesTheBodyOverTheFilesContent) {
    test::LocalHttpServer server;
    ASSERT_TRUE(server.ok());
    // Large enough for many reads, with NUL bytes and every byte value.
    std::string body = BinaryBody(300 * 1024 + 17);
    server.Answer("/banner.png", 200, body);
    server.Answer("/empty", 200, "");
    test::ScratchDir dir;
    std::wstring target = dir / L"target";
    ASSERT_TRUE(test::WriteFileBytes(target, std::string(400 * 1024, 'x')));

    ASSERT_TRUE(platform::DownloadToFile(server.Url("/banner.png"), target, 10000, kLimit));
    std::string written;
    ASSERT_TRUE(test::ReadFileBytes(target, written));
    EXPECT_TRUE(written == body) << "got " << written.size() << " bytes";

    ASSERT_TRUE(platform::DownloadToFile(server.Url("/empty"), target, 10000, kLimit));
    ASSERT_TRUE(test::ReadFileBytes(target, written));
    EXPECT_EQ(written.size(), 0u);
}

TEST(Download, FailsOnErrorStatusAndBadAddresses) {
    test::LocalHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Answer("/missing", 404, "<html>not found</html>");
    server.Answer("/broken", 500, "<html>oops</html>");
    test::ScratchDir dir;
    std::wstring target = dir / L"target";
    ASSERT_TRUE(test::WriteFileBytes(target, ""));
    const std::wstring cases[] = {
        server.Url("/missing"),
        server.Url("/broken"),
        L"ftp://127.0.0.1/banner.png",  // not a scheme we follow
        L"not an address",
        L"",
    };
    for (const std::wstring& url : cases) {
        EXPECT_FALSE(platform::DownloadToFile(url, target, 5000, kLimit)) << std::string(url.begin(), url.end());
    }
}

TEST(Download, RefusedConnectionFailsWithinASecond) {
    test::ScratchDir dir;
    std::wstring target = dir / L"target";
    ASSERT_TRUE(test::WriteFileBytes(target, ""));
    uint16_t port = test::ClosedPort();
    ASSERT_NE(port, 0);
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/banner.png";
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(platform::DownloadToFile(std::wstring(url.begin(), url.end()), target, 15000, kLimit));
    long elapsed = MillisecondsSince(start);
    EXPECT_LT(elapsed, 1000);
    std::printf("refused connection failed after %ld ms\n", elapsed);
}

TEST(Download, TimeLimitEndsSilentAndSlowServers) {
    test::LocalHttpServer server;
    ASSERT_TRUE(server.ok());
    server.NeverAnswer("/silent");
    // Every single read returns within the limit, so only a deadline over the whole download
    // stops this one.
    server.Trickle("/slow", std::string(200, 'a'), 100);
    test::ScratchDir dir;
    std::wstring target = dir / L"target";
    ASSERT_TRUE(test::WriteFileBytes(target, ""));
    const uint32_t limitMs = 1200;
    for (const char* path : {"/silent", "/slow"}) {
        Clock::time_point start = Clock::now();
        EXPECT_FALSE(platform::DownloadToFile(server.Url(path), target, limitMs, kLimit)) << path;
        long elapsed = MillisecondsSince(start);
        EXPECT_GE(elapsed, static_cast<long>(limitMs) - 100) << path;
        EXPECT_LT(elapsed, static_cast<long>(limitMs) + 2500) << path;  // a busy machine may lag
        std::printf("%s with a limit of %u ms failed after %ld ms\n", path, limitMs, elapsed);
    }
}

// Shown by byte counts: what lands in the file, and how much an endless server got to send before
// the download gave up. The time limit is far away, so only the size limit can end these.
TEST(Download, SizeLimitIsCountedAsTheBodyArrives) {
    const uint64_t limit = 1u << 20;
    test::LocalHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Answer("/exact", 200, BinaryBody(limit));
    server.Answer("/over", 200, BinaryBody(limit + 1));  // the length is announced
    server.Endless("/endless");                          // no length at all
    test::ScratchDir dir;
    std::wstring target = dir / L"target";
    struct Case {
        const char* path;
        bool ok;
    } cases[] = {{"/exact", true}, {"/over", false}, {"/endless", false}};
    for (const Case& c : cases) {
        ASSERT_TRUE(test::WriteFileBytes(target, ""));
        EXPECT_EQ(platform::DownloadToFile(server.Url(c.path), target, 120000, limit), c.ok) << c.path;
        std::string written;
        ASSERT_TRUE(test::ReadFileBytes(target, written));
        EXPECT_LE(written.size(), limit) << c.path;
        if (c.ok) {
            EXPECT_EQ(written.size(), limit) << c.path;
        }
    }
    // What the kernel buffers between the two ends comes on top of the limit; without the count the
    // server would go on until the time limit, gigabytes later.
    const uint64_t sent = server.EndlessBytesSent();
    std::printf("endless server sent %llu bytes against a limit of %llu\n", static_cast<unsigned long long>(sent),
                static_cast<unsigned long long>(limit));
    EXPECT_GE(sent, limit);
    EXPECT_LT(sent, limit + (32u << 20));
}

}  // namespace
