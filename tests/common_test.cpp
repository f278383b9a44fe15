#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "common/paths.h"
#include "common/text.h"
#include "platform/fs.h"

namespace {

TEST(JoinPath, Rules) {
    struct Case {
        const wchar_t* directory;
        const wchar_t* name;
        const wchar_t* joined;
    } cases[] = {
        {L"", L"a.dat", L"a.dat"},
        {L"C:\\Games", L"a.dat", L"C:\\Games\\a.dat"},
        {L"C:\\Games/", L"a.dat", L"C:\\Games/a.dat"},  // no "\" after a "/"
        {L"C:\\", L"a.dat", L"C:\\a.dat"},              // drive root keeps its one separator
        {L"C:", L"a.dat", L"C:\\a.dat"},
        {L"C:\\Games", L"\\a.dat", L"C:\\Games\\\\a.dat"},  // nothing is removed
        {L"C:\\Games\\", L"\\a.dat", L"C:\\Games\\\\a.dat"},
        {L"dir", L"D:\\abs", L"dir\\D:\\abs"},  // an absolute name is appended like any other
    };
    for (const Case& c : cases) EXPECT_EQ(JoinPath(c.directory, c.name), c.joined) << c.directory << "|" << c.name;
}

TEST(GetExeDirectory, DirectoryPartOfThePath) {
    struct Case {
        const wchar_t* path;
        const wchar_t* directory;
    } cases[] = {
        {L"C:\\Games\\Patch\\PatchInstaller.exe", L"C:\\Games\\Patch"},
        {L"C:\\PatchInstaller.exe", L"C:"},  // root of a drive: letter and colon alone
        {L"/opt/patch/PatchInstaller.exe", L"/opt/patch"},
        {L"PatchInstaller.exe", L"."},
        {L"", L"."},
        {L"\\PatchInstaller.exe", L""},
        {L"C:\\a/b\\c.exe", L"C:\\a/b"},
    };
    for (const Case& c : cases) EXPECT_EQ(DirectoryOfExecutable(c.path), c.directory) << c.path;
}

TEST(GetExeDirectory, NamesTheFolderOfTheRunningProgram) {
    std::wstring directory = GetExeDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_FALSE(IsPathSeparator(directory.back()));
    EXPECT_EQ(platform::GetPathKind(directory), platform::PathKind::Directory);
    std::wstring exe = platform::ExecutablePath();
    EXPECT_EQ(exe.compare(0, directory.size(), directory), 0);
    EXPECT_EQ(platform::GetPathKind(exe), platform::PathKind::File);
}

TEST(LenientDecimal, ConvertsLikeTheCRuntime) {
    struct Case {
        const wchar_t* text;
        int64_t as32;
        int64_t as64;
    } cases[] = {
        {L"", 0, 0},
        {L"42", 42, 42},
        {L"  \t7", 7, 7},
        {L"+5", 5, 5},
        {L"-3", -3, -3},
        {L"2abc", 2, 2},
        {L"1024 bytes", 1024, 1024},
        {L"abc", 0, 0},
        {L"-", 0, 0},
        {L"- 5", 0, 0},
        {L"0x10", 0, 0},
        {L"2147483647", INT32_MAX, 2147483647},
        {L"2147483648", INT32_MAX, 2147483648LL},
        {L"-2147483648", INT32_MIN, -2147483648LL},
        {L"-2147483649", INT32_MIN, -2147483649LL},
        {L"9223372036854775807", INT32_MAX, INT64_MAX},
        {L"9223372036854775808", INT32_MAX, INT64_MAX},
        {L"-9223372036854775808", INT32_MIN, INT64_MIN},
        {L"-99999999999999999999999", INT32_MIN, INT64_MIN},
        {L"\u00a05", 0, 0},  // only ASCII white space is skipped
        {L"\uff15", 0, 0},   // a full-width digit is not a digit
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseLenientInt32(c.text), c.as32) << c.text;
        EXPECT_EQ(ParseLenientInt64(c.text), c.as64) << c.text;
    }
}

TEST(EqualsIgnoreAsciiCase, FoldsAsciiLettersOnly) {
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        bool equal;
    } cases[] = {
        {L"Url", L"URL", true},   {L"asset", L"ASSET", true}, {L"Url", L"Url ", false},
        {L"", L"", true},         {L"abc", L"abd", false},     {L"\u00e9", L"\u00c9", false},  // not ASCII
        {L"[", L"{", false},  // 0x5B and 0x7B differ by 0x20 but are not letters
        {L"@", L"`", false},
    };
    for (const Case& c : cases) EXPECT_EQ(EqualsIgnoreAsciiCase(c.a, c.b), c.equal) << c.a << "|" << c.b;
}

}  // namespace
