// Download through libcurl (native build only). CURLOPT_TIMEOUT_MS bounds the whole transfer, from
// name lookup to the last byte, which is the same limit the Windows build applies.
#include <curl/curl.h>

#include <cstdint>
#include <memory>

#include "platform/download.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace platform {
namespace {

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

struct Sink {
    File* file;
    uint64_t written;
    uint64_t maxBytes;
};

size_t WriteToFile(char* data, size_t size, size_t count, void* user) {
    Sink* sink = static_cast<Sink*>(user);
    size_t bytes = size * count;
    // Counted here, not left to CURLOPT_MAXFILESIZE_LARGE: before libcurl 8.4 that option only
    // looks at a length the server announces, and a stream without end announces none. Any other
    // return value than `bytes` makes curl stop with CURLE_WRITE_ERROR.
    if (bytes > sink->maxBytes - sink->written) return 0;
    sink->written += bytes;
    return sink->file->Write(data, bytes) ? bytes : 0;
}

// An option that libcurl does not know (CURLOPT_PROTOCOLS_STR before 7.85) is refused with an
// error, not applied: carrying on would drop the protocol restriction without a word.
template <typename Value>
bool Set(CURL* curl, CURLoption option, Value value) {
    return curl_easy_setopt(curl, option, value) == CURLE_OK;
}

}  // namespace

bool DownloadToFile(const std::wstring& url, const std::wstring& path, uint32_t timeLimitMs, uint64_t maxBytes) {
    if (timeLimitMs == 0) return false;
    std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
    if (!curl) return false;
    File file;
    if (!file.OpenWrite(path)) return false;

    std::string address = ConvertWideToUtf8(url);
    Sink sink{&file, 0, maxBytes};
    CURL* c = curl.get();
    // A length announced above the limit ends the transfer before the body; the count in
    // WriteToFile holds for everything else.
    const curl_off_t announcedLimit =
        maxBytes > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<curl_off_t>(maxBytes);
    const bool configured = Set(c, CURLOPT_URL, address.c_str()) && Set(c, CURLOPT_PROTOCOLS_STR, "http,https") &&
                            Set(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") && Set(c, CURLOPT_FOLLOWLOCATION, 1L) &&
                            Set(c, CURLOPT_MAXREDIRS, 10L) &&
                            Set(c, CURLOPT_TIMEOUT_MS, static_cast<long>(timeLimitMs)) &&
                            Set(c, CURLOPT_NOSIGNAL, 1L) && Set(c, CURLOPT_WRITEFUNCTION, WriteToFile) &&
                            Set(c, CURLOPT_WRITEDATA, &sink) && Set(c, CURLOPT_MAXFILESIZE_LARGE, announcedLimit) &&
                            // A status of 400 or more ends the transfer before any of the error page is written.
                            Set(c, CURLOPT_FAILONERROR, 1L);
    if (!configured) return false;
    if (curl_easy_perform(c) != CURLE_OK) return false;

    long status = 0;
    if (curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return false;
    if (status < 200 || status > 299) return false;
    return file.Close();
}

}  // namespace platform
