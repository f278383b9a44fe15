#pragma once
// A small patch source tree for the patchtool tests: definition, author's game file, payload,
// banner images. Lives in a scratch folder.
#include <map>
#include <string>

#include "support/test_support.h"

namespace test {

struct PatchSource {
    ScratchDir dir;
    std::map<std::string, std::string> payload;  // name ("/" separators) → content

    PatchSource();
    // Writes `bytes` at `relative` ("/" separators) below the scratch folder, making folders.
    void Put(const std::string& relative, const std::string& bytes);
    std::wstring Path(const std::string& relative) const;
    // The default definition text, with `extra` appended (more tables or items).
    static std::string Definition(const std::string& extra = std::string());
    void WriteDefinition(const std::string& text);
    std::wstring DefinitionPath() const { return Path("patch.toml"); }
};

// A 1x1..WxH PNG header good enough for the image sniffer (signature and IHDR).
std::string FakePng(unsigned width, unsigned height);

}  // namespace test
