// What the Win32 path rules (as Wine implements them) do to names with trailing dots and spaces,
// and to device names, measured with plain CreateFileW calls. Every name that lands somewhere
// other than where it was written, or on a device, must be one that IsSafeRelativePath refuses.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/payload.h"
#include "platform/win_handle.h"
#include "support/test_support.h"

namespace {

enum class Outcome { SameName, OtherName, NoFile, Device };

struct NameCase {
    const wchar_t* written;
    Outcome outcome;
    const char* appears;  // for OtherName: what the folder then holds
    bool accepted;        // by IsSafeRelativePath
};

const NameCase kNameCases[] = {
    {L"plain.txt", Outcome::SameName, "plain.txt", true},
    {L" lead", Outcome::SameName, " lead", true},             // leading spaces are kept
    {L"a.", Outcome::OtherName, "a", false},                   // the last segment loses its trailing dots...
    {L"b ", Outcome::OtherName, "b", false},                   // ...and spaces
    {L"c. .", Outcome::OtherName, "c", false},
    {L"d.. ", Outcome::OtherName, "d", false},
    {L"sub\\i.\\j", Outcome::OtherName, "sub/i/j", false},     // elsewhere one trailing dot goes
    {L"...", Outcome::NoFile, nullptr, true},                 // names the folder itself
    {L".. ", Outcome::NoFile, nullptr, false},                 // the folder itself, not its parent
    {L". ", Outcome::NoFile, nullptr, false},
    {L"sub\\...\\h", Outcome::NoFile, nullptr, true},         // becomes a literal "..": invalid name
    {L"sub\\.. \\e", Outcome::NoFile, nullptr, false},         // ".. " inside the path is a name, not the parent
    {L"NUL", Outcome::Device, nullptr, false},
    {L"nul.txt", Outcome::Device, nullptr, false},
    {L"COM1 ", Outcome::Device, nullptr, false},
    {L"sub\\AUX .txt", Outcome::Device, nullptr, false},
};

Outcome Probe(const std::wstring& folder, const std::wstring& name) {
    platform::UniqueFile file(::CreateFileW((folder + L"\\" + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return Outcome::NoFile;
    if (::GetFileType(file.get()) == FILE_TYPE_CHAR) return Outcome::Device;
    return Outcome::OtherName;  // refined by the caller from the folder's content
}

TEST(WindowsPathRules, TrailingDotsSpacesAndDevices) {
    for (const NameCase& c : kNameCases) {
        test::ScratchDir dir;
        ASSERT_TRUE(::CreateDirectoryW((dir / L"sub").c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((dir / L"sub\\i").c_str(), nullptr));
        Outcome outcome = Probe(dir.path(), c.written);
        std::vector<std::string> tree = test::ListTree(dir.path());
        if (outcome == Outcome::OtherName) {
            std::string written = test::FsPath(c.written).generic_u8string();
            bool same = false;
            for (const std::string& path : tree) same = same || path == written;
            if (same) outcome = Outcome::SameName;
            if (c.appears) {
                bool found = false;
                for (const std::string& path : tree) found = found || path == c.appears;
                EXPECT_TRUE(found) << c.appears;
            }
        }
        EXPECT_EQ(static_cast<int>(outcome), static_cast<int>(c.outcome)) << test::FsPath(c.written);
        // Only names written as given are accepted, and dots-only segments, which only ever fail.
        EXPECT_TRUE(c.accepted == (c.outcome == Outcome::SameName) || c.outcome == Outcome::NoFile);
        EXPECT_EQ(IsSafeRelativePath(c.written), c.accepted) << test::FsPath(c.written);
    }
}

}  // namespace
