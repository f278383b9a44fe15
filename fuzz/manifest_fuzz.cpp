// Fuzz target of the manifest reader: the bytes are fed whole and in pieces split by the input's
// first byte, and both ways must give the same map.
#include <cstdint>
#include <cstdlib>

#include "manifest/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t piece = 1 + data[0] % 16;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    size -= 1;

    PatchManifest whole;
    ManifestParser wholeParser(whole);
    wholeParser.Feed(bytes, size);
    wholeParser.Finish();

    PatchManifest split;
    ManifestParser splitParser(split);
    for (size_t at = 0; at < size; at += piece) splitParser.Feed(bytes + at, size - at < piece ? size - at : piece);
    splitParser.Finish();

    if (whole != split) std::abort();
    for (const auto& entry : whole) {
        if (entry.first.empty() || entry.first.find('\n') != std::string::npos) std::abort();
    }
    return 0;
}
