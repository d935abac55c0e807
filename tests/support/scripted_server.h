#pragma once

// A loopback HTTP peer whose answers a test writes byte for byte: well-formed, chunked,
// close-delimited, cut off, slow or oversized. It records every request exactly as received.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cctype>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace quillon::testing {

// The few socket calls that differ between the systems.
#ifdef _WIN32
using Socket = SOCKET;
inline constexpr Socket NoSocket = INVALID_SOCKET;
inline constexpr int SendFlags = 0;
inline void CloseSocket(Socket s) {
    ::closesocket(s);
}
inline int PollOne(Socket s, int timeoutMs) {
    WSAPOLLFD p{s, POLLRDNORM, 0};
    return ::WSAPoll(&p, 1, timeoutMs);
}
// Winsock is started once for the test program and left running.
inline void StartSockets() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}
#else
using Socket = int;
inline constexpr Socket NoSocket = -1;
inline constexpr int SendFlags = MSG_NOSIGNAL;
inline void CloseSocket(Socket s) {
    ::close(s);
}
inline int PollOne(Socket s, int timeoutMs) {
    pollfd p{s, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs);
}
inline void StartSockets() {}
#endif

struct ReceivedRequest {
    std::string requestLine;
    std::vector<std::pair<std::string, std::string>> headers;  // in the order received
    std::string body;
    int connection = 0;  // the number of the connection it came on, from 1

    const std::string* Header(std::string_view name) const {
        for (const auto& [key, value] : headers) {
            if (key.size() != name.size()) continue;
            bool same = true;
            for (std::size_t i = 0; i < key.size() && same; ++i)
                same = std::tolower(static_cast<unsigned char>(key[i])) ==
                       std::tolower(static_cast<unsigned char>(name[i]));
            if (same) return &value;
        }
        return nullptr;
    }
};

class PeerConnection {
public:
    PeerConnection(Socket socket, const std::atomic<bool>& stopping) : fd(socket), stop(stopping) {}

    bool Send(std::string_view bytes) {
        while (!bytes.empty()) {
            const auto n = ::send(fd, bytes.data(), static_cast<int>(bytes.size()), SendFlags);
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // Waits up to `limit`, returning early when the server shuts down.
    void Wait(std::chrono::milliseconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!stop && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    bool Stopping() const { return stop; }

private:
    Socket fd;
    const std::atomic<bool>& stop;
};

// Writes the answer for one request; returns true to keep the connection open for the next.
using PeerScript = std::function<bool(const ReceivedRequest&, PeerConnection&)>;

inline std::string HttpAnswer(
    int status, std::string_view body,
    std::string_view contentType = "application/soap+xml; charset=utf-8") {
    std::string out = "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Error") +
                      "\r\nContent-Type: " + std::string(contentType) +
                      "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    out.append(body);
    return out;
}

// Serves every connection on a thread of its own, so that a client keeping one connection open
// never holds up the next one; the script answers one request at a time.
class ScriptedServer {
public:
    explicit ScriptedServer(PeerScript peerScript) : script(std::move(peerScript)) {
        StartSockets();
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes),
                     sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener, 8);
        socklen_t length = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        acceptor = std::thread([this] { Serve(); });
    }

    ~ScriptedServer() {
        stopping = true;
        acceptor.join();
        for (std::thread& connection : connections) connection.join();
        CloseSocket(listener);
    }

    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int Port() const { return port; }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port); }

    std::vector<ReceivedRequest> Requests() const {
        std::lock_guard lock(mutex);
        return requests;
    }

private:
    bool WaitReadable(Socket fd) const {
        while (!stopping) {
            const int ready = PollOne(fd, 10);
            if (ready > 0) return true;
            if (ready < 0) return false;
        }
        return false;
    }

    // Reads one request from `fd` into `out`; false when the peer closed or sent garbage.
    bool ReadRequest(Socket fd, std::string& pending, ReceivedRequest& out) const {
        std::size_t headEnd;
        while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
            if (!ReadMore(fd, pending)) return false;
        }
        const std::string head = pending.substr(0, headEnd);
        pending.erase(0, headEnd + 4);
        std::size_t lineEnd = head.find("\r\n");
        out.requestLine = head.substr(0, lineEnd);
        std::size_t contentLength = 0;
        while (lineEnd != std::string::npos) {
            const std::size_t start = lineEnd + 2;
            lineEnd = head.find("\r\n", start);
            const std::string line = head.substr(start, lineEnd - start);
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos) return false;
            std::string value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') value.erase(0, 1);
            out.headers.emplace_back(line.substr(0, colon), value);
        }
        if (const std::string* length = out.Header("Content-Length"))
            contentLength = std::stoul(*length);
        while (pending.size() < contentLength) {
            if (!ReadMore(fd, pending)) return false;
        }
        out.body = pending.substr(0, contentLength);
        pending.erase(0, contentLength);
        return true;
    }

    bool ReadMore(Socket fd, std::string& pending) const {
        if (!WaitReadable(fd)) return false;
        char buffer[4096];
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        pending.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    void Serve() {
        int accepted = 0;
        while (WaitReadable(listener)) {
            const Socket fd = ::accept(listener, nullptr, nullptr);
            if (fd == NoSocket) continue;
            const int number = ++accepted;
            connections.emplace_back([this, fd, number] { Converse(fd, number); });
        }
    }

    void Converse(Socket fd, int number) {
        PeerConnection peer(fd, stopping);
        std::string pending;
        for (;;) {
            ReceivedRequest request;
            request.connection = number;
            if (!ReadRequest(fd, pending, request)) break;
            {
                std::lock_guard lock(mutex);
                requests.push_back(request);
            }
            // One answer at a time, whatever the connection: scripts keep state of their own.
            std::lock_guard answering(scriptMutex);
            if (!script(request, peer)) break;
        }
        CloseSocket(fd);
    }

    PeerScript script;
    std::mutex scriptMutex;
    Socket listener = NoSocket;
    int port = 0;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    std::vector<ReceivedRequest> requests;
    std::thread acceptor;
    std::vector<std::thread> connections;  // the acceptor's own until it has ended
};

}  // namespace quillon::testing
