#include "service/httptransport.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string_view>

#include "common/systemerror.h"

namespace quillon {
namespace {

using Clock = std::chrono::steady_clock;

// State of one transfer, shared with curl's callbacks.
struct Transfer {
    std::string* body = nullptr;
    int* retryAfter = nullptr;
    std::size_t maxBodySize = 0;
    const StopPredicate* isRunning = nullptr;
    bool tooLarge = false;
    bool stopped = false;
    // The idle clock: when a byte last moved, and how many had moved by then.
    bool active = false;
    Clock::time_point lastActivity;
    curl_off_t moved = 0;

    void Touch() {
        active = true;
        lastActivity = Clock::now();
    }
};

bool StopRequested(const StopPredicate* isRunning) {
    return isRunning != nullptr && *isRunning && !(*isRunning)();
}

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (n > transfer.maxBodySize - transfer.body->size()) {
        transfer.tooLarge = true;
        return 0;  // curl ends the transfer with a write error
    }
    transfer.body->append(data, n);
    transfer.Touch();
    return n;
}

// "Retry-After: N" in seconds; the date form is left alone.
int RetryAfterSeconds(std::string_view line) {
    constexpr std::string_view name = "retry-after:";
    if (line.size() <= name.size()) return -1;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) return -1;
    line.remove_prefix(name.size());
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    int seconds = 0;
    std::size_t digits = 0;
    for (; digits < line.size() && digits < 9 &&
           std::isdigit(static_cast<unsigned char>(line[digits]));
         ++digits)
        seconds = seconds * 10 + (line[digits] - '0');
    return digits > 0 ? seconds : -1;
}

std::size_t SeeHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    transfer.Touch();
    const int seconds = RetryAfterSeconds(std::string_view(data, size * count));
    if (seconds >= 0 && transfer.retryAfter != nullptr) *transfer.retryAfter = seconds;
    return size * count;
}

int CheckProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
    auto& transfer = *static_cast<Transfer*>(user);
    if (downloaded + uploaded != transfer.moved) {
        transfer.moved = downloaded + uploaded;
        transfer.Touch();
    }
    if (StopRequested(transfer.isRunning)) transfer.stopped = true;
    return transfer.stopped ? 1 : 0;
}

class CurlTransport final : public HttpTransport {
public:
    explicit CurlTransport(const HttpLimits& chosen) : limits(chosen) {}

    ~CurlTransport() override {
        if (easy != nullptr) curl_easy_cleanup(easy);
        if (multi != nullptr) curl_multi_cleanup(multi);
    }

    HttpResponse Post(const HttpRequest& request, const StopPredicate& isRunning) override;

private:
    bool Prepare();

    HttpLimits limits;
    // Kept across posts: the multi handle owns the connection cache, so a second post to the
    // same server reuses the open connection.
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    char errorText[CURL_ERROR_SIZE] = {};
};

bool CurlTransport::Prepare() {
    if (easy != nullptr) return true;
    multi = curl_multi_init();
    easy = curl_easy_init();
    if (multi == nullptr || easy == nullptr) return false;
    // No signals: the transfer runs on a worker thread, and name look-ups must not raise SIGALRM.
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(limits.connectTimeout.count()));
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBodySize));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &CheckProgress);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &SeeHeader);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
#if LIBCURL_VERSION_NUM >= 0x075700
    // A stop during a name look-up leaves the resolver's thread to finish on its own instead of
    // waiting for it: a resolver that hangs would otherwise hold the stop for its whole time-out.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
#endif
    return true;
}

HttpResponse CurlTransport::Post(const HttpRequest& request, const StopPredicate& isRunning) {
    HttpResponse response;
    if (!Prepare()) {
        response.error = HttpError::Transport;
        response.message = "HTTP 핸들을 만들 수 없습니다";
        return response;
    }
    if (StopRequested(&isRunning)) {
        response.error = HttpError::Stopped;
        return response;
    }

    curl_slist* headers = nullptr;
    bool headersOk = true;
    const auto addHeader = [&](const char* line) {
        curl_slist* grown = curl_slist_append(headers, line);
        headersOk = headersOk && grown != nullptr;
        if (grown != nullptr) headers = grown;
    };
    for (const std::string& header : request.headers) addHeader(header.c_str());
    // curl sends these two on its own unless told not to.
    addHeader("Expect:");
    addHeader("Accept:");

    Transfer transfer;
    transfer.body = &response.body;
    transfer.retryAfter = &response.retryAfterSeconds;
    transfer.maxBodySize = limits.maxBodySize;
    transfer.isRunning = &isRunning;
    errorText[0] = '\0';
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, request.userAgent.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
    // Never a null pointer: with none, curl would read the body from stdin.
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.empty() ? "" : request.body.data());
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);

    CURLcode result = CURLE_FAILED_INIT;
    bool done = false;
    bool idle = false;
    if (headersOk && curl_multi_add_handle(multi, easy) == CURLM_OK) {
        const int pollMs =
            static_cast<int>(std::max<long long>(1, limits.stopPollInterval.count()));
        while (!done) {
            // Asked between waits as well as from curl's progress callback, so a silent peer
            // cannot hold the caller longer than one poll interval after a stop request.
            if (StopRequested(&isRunning)) {
                transfer.stopped = true;
                break;
            }
            int active = 0;
            if (curl_multi_perform(multi, &active) != CURLM_OK) break;
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                    result = message->data.result;
                    done = true;
                }
            }
            if (done || transfer.stopped) break;
            // The idle clock starts once the connection stands (curl's connect time-out covers
            // the time before), so a reused connection and a new one are treated alike.
            if (!transfer.active) {
                curl_off_t connected = 0;
                curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &connected);
                if (connected > 0) transfer.Touch();
            } else if (Clock::now() - transfer.lastActivity > limits.idleTimeout) {
                idle = true;
                break;
            }
            if (curl_multi_poll(multi, nullptr, 0, pollMs, nullptr) != CURLM_OK) break;
        }
        curl_multi_remove_handle(multi, easy);
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, nullptr);
    curl_slist_free_all(headers);

    if (transfer.stopped) {
        response.error = HttpError::Stopped;
    } else if (transfer.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
        response.error = HttpError::TooLarge;
        response.message = OverLimitText(limits.maxBodySize);
    } else if (idle) {
        response.error = HttpError::Transport;
        response.message = IdleText(limits.idleTimeout);
    } else if (!done || result != CURLE_OK) {
        response.error = HttpError::Transport;
        // A connection the system refused or could not reach reads best in the system's words.
        long osError = 0;
        curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError);
        if (result == CURLE_COULDNT_CONNECT && osError != 0) {
            response.message = SystemErrorText(static_cast<int>(osError));
        } else {
            response.message = errorText[0] != '\0' ? errorText : curl_easy_strerror(result);
        }
    } else {
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &response.status);
    }
    if (response.error != HttpError::None) response.body.clear();
    return response;
}

}  // namespace

std::unique_ptr<HttpTransport> MakeCurlTransport(const HttpLimits& limits) {
    return std::make_unique<CurlTransport>(limits);
}

std::unique_ptr<HttpTransport> MakeHttpTransport(const HttpLimits& limits) {
    return MakeCurlTransport(limits);
}

bool StartNetworkLayer() {
    return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

void StopNetworkLayer() {
    curl_global_cleanup();
}

}  // namespace quillon
