// The extended-length form of long paths on Windows: the system takes it literally, so the
// conversion must normalise exactly as the system would, or a deep game folder gets another name.
#include <gtest/gtest.h>

#include <string>

#include "platform/long_path.h"
#include "support/test_support.h"

namespace {

TEST(LongPath, ExtendedLengthFormOfLongPaths) {
    const std::wstring deep(260, L'd');  // one segment long enough by itself
    const std::wstring cwd = L"C:\\work";
    struct Case {
        const char* what;
        std::wstring path;
        std::wstring expected;
    } cases[] = {
        {"short path unchanged", L"C:\\Games\\..\\x", L"C:\\Games\\..\\x"},
        {"drive", L"C:\\Games\\" + deep, L"\\\\?\\C:\\Games\\" + deep},
        {"slashes, dot and dot-dot segments", L"C:/Games/./old/../" + deep + L"//f.txt",
         L"\\\\?\\C:\\Games\\" + deep + L"\\f.txt"},
        {"dot-dot never above the drive", L"C:\\..\\..\\" + deep, L"\\\\?\\C:\\" + deep},
        {"trailing dots and spaces dropped as the system drops them", L"D:\\Games. \\" + deep + L"\\f.txt..",
         L"\\\\?\\D:\\Games\\" + deep + L"\\f.txt"},
        {"share", L"\\\\server\\share\\Games\\" + deep, L"\\\\?\\UNC\\server\\share\\Games\\" + deep},
        {"dot-dot never above the share", L"\\\\server\\share\\..\\..\\" + deep,
         L"\\\\?\\UNC\\server\\share\\" + deep},
        {"relative, below the current folder", L"Games\\..\\" + deep, L"\\\\?\\C:\\work\\" + deep},
        {"rooted without a drive: the current drive", L"\\Games\\" + deep, L"\\\\?\\C:\\Games\\" + deep},
        {"already extended", L"\\\\?\\C:\\Games\\..\\" + deep, L"\\\\?\\C:\\Games\\..\\" + deep},
        {"device form unchanged", L"\\\\.\\C:\\" + deep, L"\\\\.\\C:\\" + deep},
        {"drive-relative unchanged: only the system knows its base", L"C:" + deep, L"C:" + deep},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::ToSystemPath(c.path, cwd), c.expected) << c.what;
    }
    // A relative path below a current folder on a share.
    EXPECT_EQ(platform::ToSystemPath(L"\\" + deep, L"\\\\srv\\sh\\w"), L"\\\\?\\UNC\\srv\\sh\\" + deep);
}

}  // namespace
