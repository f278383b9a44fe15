#include "support/local_http_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>

namespace test {
namespace {

#ifdef _WIN32
using Socket = SOCKET;
void CloseSocket(intptr_t s) {
    ::closesocket(static_cast<SOCKET>(s));
}
struct WinsockUser {
    WinsockUser() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    }
};
void EnsureSockets() {
    static WinsockUser user;
}
#else
using Socket = int;
void CloseSocket(intptr_t s) {
    ::close(static_cast<int>(s));
}
void EnsureSockets() {}
#endif

// Waits up to 50 ms for `s` to become readable, so loops can look at the stop flag.
bool Readable(intptr_t s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<Socket>(s), &set);
    timeval wait = {0, 50 * 1000};
    return ::select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &wait) > 0;
}

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a client that went away is an error, not SIGPIPE
#else
constexpr int kSendFlags = 0;
#endif

bool SendAll(intptr_t s, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        int n = ::send(static_cast<Socket>(s), data.data() + sent, static_cast<int>(data.size() - sent), kSendFlags);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

intptr_t Listen(uint16_t& port) {
    EnsureSockets();
    Socket s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (static_cast<intptr_t>(s) < 0) return -1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0 || ::listen(s, 16) != 0) {
        CloseSocket(static_cast<intptr_t>(s));
        return -1;
    }
    port = ntohs(address.sin_port);
    return static_cast<intptr_t>(s);
}

}  // namespace

LocalHttpServer::LocalHttpServer() {
    listener_ = Listen(port_);
    if (listener_ >= 0) acceptor_ = std::thread(&LocalHttpServer::AcceptLoop, this);
}

LocalHttpServer::~LocalHttpServer() {
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    for (std::thread& worker : workers_) worker.join();
    if (listener_ >= 0) CloseSocket(listener_);
}

std::wstring LocalHttpServer::Url(const std::string& path) const {
    std::string url = "http://127.0.0.1:" + std::to_string(port_) + path;
    return std::wstring(url.begin(), url.end());
}

void LocalHttpServer::Answer(const std::string& path, int status, const std::string& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = Route{Kind::Answer, status, body, 0};
}

void LocalHttpServer::NeverAnswer(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = Route{Kind::NeverAnswer, 0, std::string(), 0};
}

void LocalHttpServer::Trickle(const std::string& path, const std::string& body, int intervalMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = Route{Kind::Trickle, 200, body, intervalMs};
}

void LocalHttpServer::Endless(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = Route{Kind::Endless, 200, std::string(), 0};
}

std::vector<std::string> LocalHttpServer::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void LocalHttpServer::AcceptLoop() {
    while (!Stopping()) {
        if (!Readable(listener_)) continue;
        Socket connection = ::accept(static_cast<Socket>(listener_), nullptr, nullptr);
        if (static_cast<intptr_t>(connection) < 0) continue;
        workers_.emplace_back(&LocalHttpServer::Serve, this, static_cast<intptr_t>(connection));
    }
}

void LocalHttpServer::Serve(intptr_t connection) {
    std::string request;
    while (!Stopping() && request.find("\r\n\r\n") == std::string::npos) {
        if (!Readable(connection)) continue;
        char buffer[1024];
        int n = ::recv(static_cast<Socket>(connection), buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<size_t>(n));
    }
    size_t start = request.find(' ') + 1;
    std::string path = request.substr(start, request.find(' ', start) - start);
    Route route;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(path);
        auto found = routes_.find(path);
        if (found != routes_.end()) route = found->second;
    }
    std::string head = "HTTP/1.1 " + std::to_string(route.status) +
                       " Test\r\nContent-Length: " + std::to_string(route.body.size()) +
                       "\r\nConnection: close\r\n\r\n";
    switch (route.kind) {
        case Kind::Answer:
            SendAll(connection, head + route.body);
            break;
        case Kind::NeverAnswer:
            while (!Stopping()) Readable(connection);
            break;
        case Kind::Trickle:
            SendAll(connection, head);
            for (size_t i = 0; i < route.body.size() && !Stopping(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(route.intervalMs));
                if (!SendAll(connection, route.body.substr(i, 1))) break;
            }
            break;
        case Kind::Endless: {
            // Without a length the body ends only when the connection does, so only the client's
            // own count can stop it.
            SendAll(connection, "HTTP/1.1 200 Test\r\nConnection: close\r\n\r\n");
            const std::string chunk(64 * 1024, 'z');
            while (!Stopping() && SendAll(connection, chunk)) endlessSent_ += chunk.size();
            break;
        }
    }
    CloseSocket(connection);
}

uint16_t ClosedPort() {
    uint16_t port = 0;
    intptr_t s = Listen(port);
    if (s >= 0) CloseSocket(s);
    return port;
}

}  // namespace test
