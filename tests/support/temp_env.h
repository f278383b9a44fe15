#pragma once
// Points the user's temporary folder (TMP on Windows, TMPDIR elsewhere) at a scratch folder for
// the life of the object, so a test can see every temporary file the code under test leaves.
#include <string>
#include <vector>

#include "support/test_support.h"

namespace test {

class ScopedTempFolder {
public:
    ScopedTempFolder();
    ~ScopedTempFolder();
    ScopedTempFolder(const ScopedTempFolder&) = delete;
    ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;

    const std::wstring& path() const { return folder_.path(); }
    // Names of the files in the folder, sorted.
    std::vector<std::string> Files() const { return ListTree(folder_.path()); }

private:
    ScratchDir folder_;
    bool hadOld_ = false;
    std::wstring old_;
};

// Redirects the temporary folder to `path`, which need not exist.
void SetTempFolderVariable(const std::wstring& path);

}  // namespace test
