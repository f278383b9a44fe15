#pragma once
// Synchronous download of one address into a file, on the calling thread, with a time limit.
#include <cstdint>
#include <string>

namespace platform {

// Writes the body of the resource at `url` into the existing file at `path`, replacing its
// content. True only when the server answered with a 2xx status and every byte of the body was
// written within `timeLimitMs` milliseconds counted from the call; an error page (404, 500, ...)
// is a failure, not a file. On failure the file may hold part of the body: the caller deletes it.
// http and https are followed, redirects included.
bool DownloadToFile(const std::wstring& url, const std::wstring& path, uint32_t timeLimitMs);

}  // namespace platform
