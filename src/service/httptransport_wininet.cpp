// The HTTP transport on Windows: WinInet in its asynchronous mode. Every wait is cut into short
// slices that also look at the stop request, so a stop ends a transfer within one slice even
// while the peer is silent: closing a handle from another thread is not enough, since a call
// that blocks keeps the handle alive.
// winsock2.h before windows.h, which would otherwise bring in the older winsock.h.
#include <winsock2.h>

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "common/systemerror.h"
#include "service/httptransport.h"
#include "text/textconv.h"

namespace quillon {
namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD WaitSliceMs = 20;

std::wstring Wide(std::string_view text) {
    const std::u16string wide = Utf8ToWide(text);
    return std::wstring(wide.begin(), wide.end());
}

// One request's state; it lives until the request's handle is gone. The status callback writes
// here, and so does a call that was still pending when the request was given up: the send
// reads its headers and body, the read fills `piece` and `buffer`. None of them may live on
// the stack of the call that gave up.
struct Completion {
    HANDLE done = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE closed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD_PTR> result{0};
    std::atomic<DWORD> error{0};
    std::atomic<bool> progressed{false};
    std::wstring headers;
    std::string body;
    INTERNET_BUFFERSA piece{};
    char buffer[16384];

    // Makes `piece` ready for the next read into `buffer`.
    INTERNET_BUFFERSA* NextPiece() {
        piece = INTERNET_BUFFERSA{};
        piece.dwStructSize = sizeof piece;
        piece.lpvBuffer = buffer;
        piece.dwBufferLength = sizeof buffer;
        return &piece;
    }

    ~Completion() {
        ::CloseHandle(done);
        ::CloseHandle(closed);
    }
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD) {
    if (context == 0) return;
    auto* completion = reinterpret_cast<Completion*>(context);
    switch (status) {
        case INTERNET_STATUS_REQUEST_COMPLETE: {
            const auto* outcome = static_cast<const INTERNET_ASYNC_RESULT*>(information);
            completion->result = outcome->dwResult;
            completion->error = outcome->dwError;
            ::SetEvent(completion->done);
            break;
        }
        case INTERNET_STATUS_RESPONSE_RECEIVED:
        case INTERNET_STATUS_REQUEST_SENT:
            completion->progressed = true;
            break;
        case INTERNET_STATUS_HANDLE_CLOSING:
            ::SetEvent(completion->closed);
            break;
        default:
            break;
    }
}

// "http://host[:port]/path" taken apart.
struct Target {
    std::wstring host;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
    std::wstring path;
    bool valid = false;
};

Target ParseUrl(std::string_view url) {
    Target target;
    constexpr std::string_view scheme = "http://";
    if (!url.starts_with(scheme)) return target;
    url.remove_prefix(scheme.size());
    const std::size_t slash = url.find('/');
    std::string_view authority = url.substr(0, slash);
    target.path = Wide(slash == std::string_view::npos ? "/" : url.substr(slash));
    std::string_view host = authority;
    std::string_view port;
    if (authority.starts_with('[')) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return target;
        host = authority.substr(1, close - 1);
        if (close + 1 < authority.size() && authority[close + 1] == ':')
            port = authority.substr(close + 2);
    } else if (const std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty()) return target;
    if (!port.empty()) {
        unsigned value = 0;
        for (const char c : port) {
            if (c < '0' || c > '9' || value > 65535) return target;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value == 0 || value > 65535) return target;
        target.port = static_cast<INTERNET_PORT>(value);
    }
    target.host = Wide(host);
    target.valid = true;
    return target;
}

class WinInetTransport final : public HttpTransport {
public:
    explicit WinInetTransport(const HttpLimits& chosen) : limits(chosen) {}
    ~WinInetTransport() override {
        Disconnect();
        if (session != nullptr) ::InternetCloseHandle(session);
        // Requests whose handles have not said they are gone keep their completions: freeing
        // them could let a late callback write into freed memory, and waiting would hold up
        // the end of a stopped job.
        Sweep();
    }

    HttpResponse Post(const HttpRequest& request, const StopPredicate& isRunning) override;

private:
    enum class Wait { Done, Stopped, Idle };

    bool Prepare(const HttpRequest& request, const Target& target, HttpResponse& response);
    void Disconnect() {
        if (connection != nullptr) ::InternetCloseHandle(connection);
        connection = nullptr;
    }
    // Waits for the pending call of `completion`, looking at the stop request and the idle
    // clock between slices.
    Wait Await(Completion& completion, const StopPredicate& isRunning, Clock::time_point& active,
               std::chrono::milliseconds idleLimit) const;
    // Closes a request's handle; its completion goes once the callback says the handle is gone.
    void Release(HINTERNET handle, Completion* completion);
    // Frees the completions whose handles have gone.
    void Sweep();

    HttpLimits limits;
    HINTERNET session = nullptr;
    std::string agent;
    HINTERNET connection = nullptr;
    std::wstring connectedHost;
    INTERNET_PORT connectedPort = 0;
    std::vector<Completion*> closing;
};

bool WinInetTransport::Prepare(const HttpRequest& request, const Target& target,
                               HttpResponse& response) {
    if (session == nullptr || agent != request.userAgent) {
        Disconnect();
        if (session != nullptr) ::InternetCloseHandle(session);
        agent = request.userAgent;
        // The system's preconfigured access: its proxy settings, if any.
        session = ::InternetOpenW(Wide(agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                  nullptr, INTERNET_FLAG_ASYNC);
        if (session == nullptr) {
            response.message = SystemErrorText(static_cast<int>(::GetLastError()));
            return false;
        }
        ::InternetSetStatusCallbackW(session, &OnStatus);
        DWORD connectMs = static_cast<DWORD>(limits.connectTimeout.count());
        DWORD idleMs = static_cast<DWORD>(limits.idleTimeout.count());
        ::InternetSetOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs,
                             sizeof connectMs);
        ::InternetSetOptionW(session, INTERNET_OPTION_SEND_TIMEOUT, &idleMs, sizeof idleMs);
        ::InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &idleMs, sizeof idleMs);
    }
    if (connection == nullptr || connectedHost != target.host || connectedPort != target.port) {
        Disconnect();
        connection = ::InternetConnectW(session, target.host.c_str(), target.port, nullptr, nullptr,
                                        INTERNET_SERVICE_HTTP, 0, 0);
        if (connection == nullptr) {
            response.message = SystemErrorText(static_cast<int>(::GetLastError()));
            return false;
        }
        connectedHost = target.host;
        connectedPort = target.port;
    }
    return true;
}

WinInetTransport::Wait WinInetTransport::Await(Completion& completion,
                                               const StopPredicate& isRunning,
                                               Clock::time_point& active,
                                               std::chrono::milliseconds idleLimit) const {
    for (;;) {
        if (::WaitForSingleObject(completion.done, WaitSliceMs) == WAIT_OBJECT_0) {
            active = Clock::now();
            return Wait::Done;
        }
        if (isRunning && !isRunning()) return Wait::Stopped;
        if (completion.progressed.exchange(false)) active = Clock::now();
        if (Clock::now() - active > idleLimit) return Wait::Idle;
    }
}

void WinInetTransport::Release(HINTERNET handle, Completion* completion) {
    if (handle == nullptr) {
        delete completion;
        return;
    }
    // The callback may still speak of the request until its handle is gone, so the completion
    // stays until then; waiting for that here would hold up a stop.
    ::InternetCloseHandle(handle);
    closing.push_back(completion);
    Sweep();
}

void WinInetTransport::Sweep() {
    std::erase_if(closing, [](Completion* completion) {
        if (::WaitForSingleObject(completion->closed, 0) != WAIT_OBJECT_0) return false;
        delete completion;
        return true;
    });
}

HttpResponse WinInetTransport::Post(const HttpRequest& request, const StopPredicate& isRunning) {
    HttpResponse response;
    if (isRunning && !isRunning()) {
        response.error = HttpError::Stopped;
        return response;
    }
    const Target target = ParseUrl(request.url);
    if (!target.valid) {
        response.error = HttpError::Transport;
        response.message = "http 주소가 아닙니다: " + request.url;
        return response;
    }
    if (!Prepare(request, target, response)) {
        response.error = HttpError::Transport;
        return response;
    }

    auto* completion = new Completion;
    // Only the one header of the request's own; no redirect is followed.
    HINTERNET handle =
        ::HttpOpenRequestW(connection, L"POST", target.path.c_str(), nullptr, nullptr, nullptr,
                           INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_NO_AUTO_REDIRECT,
                           reinterpret_cast<DWORD_PTR>(completion));
    if (handle == nullptr) {
        response.error = HttpError::Transport;
        response.message = SystemErrorText(static_cast<int>(::GetLastError()));
        Release(nullptr, completion);
        Disconnect();
        return response;
    }

    for (const std::string& header : request.headers) completion->headers += Wide(header) + L"\r\n";
    completion->body = request.body;
    Clock::time_point active = Clock::now();
    // A failed step: what the system said, and whether the connection may be used again.
    const auto fail = [&](HttpError error, DWORD code, std::string text = {}) {
        response.error = error;
        response.status = 0;
        response.body.clear();
        response.message =
            text.empty() && code != 0 ? SystemErrorText(static_cast<int>(code)) : std::move(text);
        Release(handle, completion);
        // A connection whose request was cut off is not used again.
        Disconnect();
        return response;
    };
    const auto pending = [&](BOOL started, std::chrono::milliseconds idleLimit, Wait& wait) {
        wait = Wait::Done;
        if (started) return true;
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            completion->error = error;
            return false;
        }
        wait = Await(*completion, isRunning, active, idleLimit);
        return wait == Wait::Done && completion->result != 0;
    };

    Wait wait = Wait::Done;
    const BOOL sent = ::HttpSendRequestW(
        handle, completion->headers.c_str(), static_cast<DWORD>(completion->headers.size()),
        completion->body.data(), static_cast<DWORD>(completion->body.size()));
    if (!pending(sent, limits.connectTimeout + limits.idleTimeout, wait)) {
        if (wait == Wait::Stopped) return fail(HttpError::Stopped, 0);
        if (wait == Wait::Idle) return fail(HttpError::Transport, 0, "no answer in time");
        return fail(HttpError::Transport, completion->error.load());
    }

    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::HttpQueryInfoW(handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                          nullptr))
        return fail(HttpError::Transport, ::GetLastError());
    if (status != 200) {
        DWORD seconds = 0;
        DWORD secondsSize = sizeof seconds;
        if (::HttpQueryInfoW(handle, HTTP_QUERY_RETRY_AFTER | HTTP_QUERY_FLAG_NUMBER, &seconds,
                             &secondsSize, nullptr))
            response.retryAfterSeconds = static_cast<int>(std::min<DWORD>(seconds, 86400));
    }
    // A body announced larger than the limit is refused before it is read.
    wchar_t lengthText[32] = {};
    DWORD lengthSize = sizeof lengthText;
    long long announced = -1;
    if (::HttpQueryInfoW(handle, HTTP_QUERY_CONTENT_LENGTH, lengthText, &lengthSize, nullptr)) {
        announced = _wtoi64(lengthText);
        if (announced < 0 || static_cast<unsigned long long>(announced) > limits.maxBodySize) {
            return fail(HttpError::TooLarge, 0, OverLimitText(limits.maxBodySize));
        }
    }

    // The body to its end: by its announced length, else until the reader has no more.
    while (announced < 0 || static_cast<long long>(response.body.size()) < announced) {
        const BOOL read = ::InternetReadFileExA(handle, completion->NextPiece(), IRF_ASYNC,
                                                reinterpret_cast<DWORD_PTR>(completion));
        if (!pending(read, limits.idleTimeout, wait)) {
            if (wait == Wait::Stopped) return fail(HttpError::Stopped, 0);
            if (wait == Wait::Idle)
                return fail(HttpError::Transport, 0, IdleText(limits.idleTimeout));
            return fail(HttpError::Transport, completion->error.load());
        }
        const DWORD got = completion->piece.dwBufferLength;
        if (got == 0) {
            if (announced >= 0) return fail(HttpError::Transport, 0, "the connection closed early");
            break;
        }
        if (got > limits.maxBodySize - response.body.size())
            return fail(HttpError::TooLarge, 0, OverLimitText(limits.maxBodySize));
        response.body.append(completion->buffer, got);
        if (isRunning && !isRunning()) return fail(HttpError::Stopped, 0);
    }
    if (announced >= 0) {
        // The reader knows the length too; asking once more lets it count the answer as done,
        // so that the connection goes back to be used again.
        if (!::InternetReadFileExA(handle, completion->NextPiece(), IRF_NO_WAIT, 0))
            ::GetLastError();
    }
    response.status = static_cast<long>(status);
    Release(handle, completion);
    return response;
}

}  // namespace

std::unique_ptr<HttpTransport> MakeHttpTransport(const HttpLimits& limits) {
    return std::make_unique<WinInetTransport>(limits);
}

bool StartNetworkLayer() {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void StopNetworkLayer() {
    ::WSACleanup();
}

}  // namespace quillon
