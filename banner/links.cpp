#include "banner/links.h"

#include "common/text.h"

bool IsOpenableLink(const std::wstring& link) {
    size_t start = 0;
    if (EqualsIgnoreAsciiCase(link.substr(0, 8), L"https://")) {
        start = 8;
    } else if (EqualsIgnoreAsciiCase(link.substr(0, 7), L"http://")) {
        start = 7;
    } else {
        return false;
    }
    if (link.size() == start) return false;
    // A browser is started with the link on its command line: a quote or a blank there could end
    // the address and begin an option of the browser's own. A real address carries them encoded.
    for (wchar_t c : link) {
        if (c <= L' ' || c == L'"' || c == 0x7F) return false;
    }
    return true;
}
