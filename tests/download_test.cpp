// The download service against a local server: the body lands in the file, an error page and
// every misbehaving server are failures, and the time limit holds for a server that accepts the
// connection but never answers or answers a byte at a time.
#include "platform/download.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/local_http_server.h"
#include "support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

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

    ASSERT_TRUE(platform::DownloadToFile(server.Url("/banner.png"), target, 10000));
    std::string written;
    ASSERT_TRUE(test::ReadFileBytes(target, written));
    EXPECT_TRUE(written == body) << "got " << written.size() << " bytes";

    ASSERT_TRUE(platform::DownloadToFile(server.Url("/empty"), target, 10000));
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
        EXPECT_FALSE(platform::DownloadToFile(url, target, 5000)) << std::string(url.begin(), url.end());
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
    EXPECT_FALSE(platform::DownloadToFile(std::wstring(url.begin(), url.end()), target, 15000));
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
        EXPECT_FALSE(platform::DownloadToFile(server.Url(path), target, limitMs)) << path;
        long elapsed = MillisecondsSince(start);
        EXPECT_GE(elapsed, static_cast<long>(limitMs) - 100) << path;
        EXPECT_LT(elapsed, static_cast<long>(limitMs) + 2500) << path;  // a busy machine may lag
        std::printf("%s with a limit of %u ms failed after %ld ms\n", path, limitMs, elapsed);
    }
}

}  // namespace
