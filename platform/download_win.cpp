// Download through WinHTTP in synchronous mode. URLDownloadToFileW, the obvious call, waits for
// ever on a server that accepts the connection and never answers, and it saves a 404 page as if it
// were the resource; WinHTTP lets every blocking step wait only for what is left of the time limit.
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <vector>

#include "platform/download.h"
#include "platform/fs.h"
#include "platform/win_handle.h"

namespace platform {
namespace {

const wchar_t kAgent[] = L"PatchInstaller";

// Milliseconds left until `deadline` (a GetTickCount64 value), 0 once it has passed.
int Remaining(ULONGLONG deadline) {
    ULONGLONG now = ::GetTickCount64();
    return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

// Every wait of the next blocking call ends with the deadline; false when nothing is left. The
// wait for the response headers has an option of its own, which WinHttpSetTimeouts leaves alone.
bool LimitNextWait(HINTERNET request, ULONGLONG deadline) {
    int left = Remaining(deadline);
    if (left <= 0 || !::WinHttpSetTimeouts(request, left, left, left, left)) return false;
    DWORD responseWait = static_cast<DWORD>(left);
    return ::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseWait, sizeof responseWait) !=
           FALSE;
}

// The proxy the user set for the browser (which URLDownloadToFileW would use), else WinHTTP's own
// setting. Automatic configuration (WPAD, scripts) is not followed: its discovery can take longer
// than the whole time limit.
UniqueInternet OpenSession() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG browser = {};
    UniqueInternet session;
    if (::WinHttpGetIEProxyConfigForCurrentUser(&browser)) {
        if (browser.lpszProxy != nullptr) {
            session.reset(::WinHttpOpen(kAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, browser.lpszProxy,
                                        browser.lpszProxyBypass ? browser.lpszProxyBypass : WINHTTP_NO_PROXY_BYPASS,
                                        0));
        }
        for (LPWSTR text : {browser.lpszAutoConfigUrl, browser.lpszProxy, browser.lpszProxyBypass}) {
            if (text != nullptr) ::GlobalFree(text);
        }
    }
    if (!session) {
        session.reset(::WinHttpOpen(kAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0));
    }
    return session;
}

struct Address {
    std::wstring host;
    std::wstring object;  // path and query
    INTERNET_PORT port = 0;
    bool secure = false;
};

bool CrackAddress(const std::wstring& url, Address& address) {
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
    if (parts.dwHostNameLength == 0) return false;
    address.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    address.object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    address.object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (address.object.empty()) address.object = L"/";
    address.port = parts.nPort;
    address.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return true;
}

bool StatusIsSuccess(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    return status >= 200 && status <= 299;
}

// Reads the body into `file`, checking the deadline before every wait. A read asks only for what
// has arrived: a read of more waits until that much is there, however long a slow server takes.
// Bytes are counted as they arrive, as a server that streams without end sends no length at all.
bool CopyBody(HINTERNET request, ULONGLONG deadline, uint64_t maxBytes, File& file) {
    std::vector<char> buffer(64 * 1024);
    uint64_t total = 0;
    for (;;) {
        if (!LimitNextWait(request, deadline)) return false;
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request, &available)) return false;
        if (available == 0) return true;
        DWORD got = 0;
        DWORD want = available < buffer.size() ? available : static_cast<DWORD>(buffer.size());
        if (!::WinHttpReadData(request, buffer.data(), want, &got)) return false;
        if (got == 0) return true;
        if (got > maxBytes - total) return false;
        total += got;
        if (!file.Write(buffer.data(), got)) return false;
    }
}

}  // namespace

bool DownloadToFile(const std::wstring& url, const std::wstring& path, uint32_t timeLimitMs, uint64_t maxBytes) {
    ULONGLONG deadline = ::GetTickCount64() + timeLimitMs;
    Address address;
    if (!CrackAddress(url, address)) return false;

    UniqueInternet session = OpenSession();
    if (!session) return false;
    UniqueInternet connection(::WinHttpConnect(session.get(), address.host.c_str(), address.port, 0));
    if (!connection) return false;
    UniqueInternet request(::WinHttpOpenRequest(connection.get(), L"GET", address.object.c_str(), nullptr,
                                                WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                address.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return false;

    if (!LimitNextWait(request.get(), deadline)) return false;
    if (!::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        return false;
    }
    if (!LimitNextWait(request.get(), deadline)) return false;
    if (!::WinHttpReceiveResponse(request.get(), nullptr)) return false;
    if (!StatusIsSuccess(request.get())) return false;

    File file;
    if (!file.OpenWrite(path)) return false;
    if (!CopyBody(request.get(), deadline, maxBytes, file)) return false;
    return file.Close();
}

}  // namespace platform
