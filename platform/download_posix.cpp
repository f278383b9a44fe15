// Download through libcurl (native build only). CURLOPT_TIMEOUT_MS bounds the whole transfer, from
// name lookup to the last byte, which is the same limit the Windows build applies.
#include <curl/curl.h>

#include <memory>

#include "platform/download.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace platform {
namespace {

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

size_t WriteToFile(char* data, size_t size, size_t count, void* user) {
    File* file = static_cast<File*>(user);
    size_t bytes = size * count;
    // Any other return value than `bytes` makes curl stop with CURLE_WRITE_ERROR.
    return file->Write(data, bytes) ? bytes : 0;
}

}  // namespace

bool DownloadToFile(const std::wstring& url, const std::wstring& path, uint32_t timeLimitMs) {
    if (timeLimitMs == 0) return false;
    std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
    if (!curl) return false;
    File file;
    if (!file.OpenWrite(path)) return false;

    std::string address = ConvertWideToUtf8(url);
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, address.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(timeLimitMs));
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, WriteToFile);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &file);
    // A status of 400 or more ends the transfer before any of the error page is written.
    curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
    if (curl_easy_perform(c) != CURLE_OK) return false;

    long status = 0;
    if (curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return false;
    if (status < 200 || status > 299) return false;
    return file.Close();
}

}  // namespace platform
