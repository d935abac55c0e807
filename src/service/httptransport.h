#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// One HTTP POST as it goes over the wire. Besides `headers`, only what HTTP/1.1 needs is sent:
// Host, User-Agent and Content-Length; no Accept, no Expect.
struct HttpRequest {
    std::string url;
    std::string userAgent;
    std::vector<std::string> headers;  // "Name: value"
    std::string_view body;
};

enum class HttpError {
    None,       // an answer came and its body was read to its end
    Transport,  // no connection, the connection broke, a time-out, or a malformed answer
    Stopped,    // the stop predicate turned false
    TooLarge,   // the body would exceed HttpLimits::maxBodySize
};

struct HttpResponse {
    HttpError error = HttpError::None;
    long status = 0;
    std::string body;
    std::string message;         // what went wrong, for diagnostics only
    int retryAfterSeconds = -1;  // the answer's Retry-After in seconds, -1 without one
};

struct HttpLimits {
    std::chrono::milliseconds connectTimeout{60'000};
    // Once connected, the transfer fails when no byte moves either way for this long.
    std::chrono::milliseconds idleTimeout{60'000};
    std::size_t maxBodySize = std::size_t{32} << 20;
    // How often the stop predicate is asked while the transfer waits for the network.
    std::chrono::milliseconds stopPollInterval{20};
};

// The transports' own words for the limits they enforce.
inline std::string OverLimitText(std::size_t maxBodySize) {
    return std::to_string(maxBodySize) + "바이트 초과";
}
inline std::string IdleText(std::chrono::milliseconds idle) {
    return std::to_string(idle.count()) + " ms 동안 주고받은 데이터가 없습니다";
}

using StopPredicate = std::function<bool()>;  // returns false once the caller wants to stop

// The seam between the lyrics service client and the HTTP library. A transport may keep its
// connection open between posts to the same server; it keeps nothing else.
class HttpTransport {
public:
    virtual ~HttpTransport() = default;
    virtual HttpResponse Post(const HttpRequest& request, const StopPredicate& isRunning) = 0;
};

// The network layer for the whole process: started once before any transport is made, stopped
// once no transport is left. False when it cannot be used.
bool StartNetworkLayer();
void StopNetworkLayer();

// The platform's transport: libcurl, or WinInet on Windows.
std::unique_ptr<HttpTransport> MakeHttpTransport(const HttpLimits& limits = {});

#ifndef _WIN32
// The libcurl transport. Proxies come from the standard environment variables (http_proxy,
// no_proxy, ...). Only plain HTTP; redirects are not followed.
std::unique_ptr<HttpTransport> MakeCurlTransport(const HttpLimits& limits = {});
#endif

}  // namespace quillon
