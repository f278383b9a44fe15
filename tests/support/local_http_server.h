#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the download tests, run on a thread of its own. Each
// path answers in one of a few ways, among them the misbehaving servers a download must survive.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test {

class LocalHttpServer {
public:
    enum class Kind {
        Answer,       // status line, Content-Length and the body at once
        NeverAnswer,  // reads the request, then keeps the connection open without a byte
        Trickle,      // headers at once, then one byte of the body every `intervalMs`
        Endless,      // headers without a length, then body bytes until the client goes away
    };

    LocalHttpServer();  // listens on a free port; ok() tells whether it does
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    bool ok() const { return listener_ >= 0; }
    uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>" + path
    std::wstring Url(const std::string& path) const;

    void Answer(const std::string& path, int status, const std::string& body);
    void NeverAnswer(const std::string& path);
    void Trickle(const std::string& path, const std::string& body, int intervalMs);
    void Endless(const std::string& path);
    // Body bytes that endless answers have handed to the network so far, over all connections.
    uint64_t EndlessBytesSent() const { return endlessSent_.load(); }
    // Requests seen so far (paths), in arrival order.
    std::vector<std::string> Requests();

private:
    struct Route {
        Kind kind = Kind::Answer;
        int status = 404;
        std::string body;
        int intervalMs = 0;
    };
    void AcceptLoop();
    void Serve(intptr_t connection);
    bool Stopping() const { return stop_.load(); }

    intptr_t listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> endlessSent_{0};
    std::mutex mutex_;
    std::map<std::string, Route> routes_;
    std::vector<std::string> requests_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

// A port on 127.0.0.1 where nothing listens (bound once, then closed), so connecting is refused.
uint16_t ClosedPort();

}  // namespace test
