#pragma once
// Synchronous download of one address into a file, on the calling thread, with a time limit and a
// size limit.
#include <cstdint>
#include <string>

namespace platform {

// Writes the body of the resource at `url` into the existing file at `path`, replacing its
// content. True only when the server answered with a 2xx status and every byte of the body was
// written within `timeLimitMs` milliseconds counted from the call; an error page (404, 500, ...)
// is a failure, not a file. A body longer than `maxBytes` is a failure too, found while it
// arrives: the file never holds more than `maxBytes` bytes, whatever the server sends or claims.
// On failure the file may hold part of the body: the caller deletes it. Only http and https are
// followed, redirects included; a build whose HTTP library cannot be held to them downloads nothing.
bool DownloadToFile(const std::wstring& url, const std::wstring& path, uint32_t timeLimitMs, uint64_t maxBytes);

}  // namespace platform
