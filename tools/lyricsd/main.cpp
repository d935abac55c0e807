#include <httplib.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "common/exitstatus.h"
#include "lyricsd/catalog.h"
#include "lyricsd/options.h"
#include "lyricsd/soap.h"
#include "quillon_version.h"
#include "service/lyricquery.h"

namespace quillon::lyricsd {
namespace {

// The service's object path as the server's pattern: its dots match only themselves.
std::string ObjectPathPattern() {
    std::string pattern = "/";
    for (const char c : ServiceObjectPath) {
        if (c == '.') pattern += '\\';
        pattern += c;
    }
    return pattern;
}
constexpr std::size_t MaxRequestBody = 64 * 1024;
constexpr std::size_t MaxConnections = 64;

constexpr const char* Help =
    "Usage: quillon-lyricsd --catalog DIR [--listen ADDR:PORT] [--latency MS]\n"
    "\n"
    "Serves time-stamped lyrics to Quillon over its SOAP 1.2 lyrics protocol (GetLyric5).\n"
    "Every MP3 file under DIR with an .lrc file of the same name beside it is offered,\n"
    "keyed by its audio checksum (see quillon-cli checksum).\n"
    "\n"
    "Options:\n"
    "  --catalog DIR        folder to index, subfolders included\n"
    "  --listen ADDR:PORT   address to listen on (default 127.0.0.1 on a free port;\n"
    "                       IPv6 as [::1]:8080)\n"
    "  --latency MS         hold every answer back MS milliseconds, as a distant service\n"
    "                       would (0 to 60000; requests are answered side by side)\n"
    "  -h, --help           show this help and exit\n"
    "  --version            print the version and exit\n"
    "\n"
    "The first line on stdout is \"listening on ADDR:PORT\". Each request is logged on\n"
    "stderr. SIGHUP indexes the catalogue again; SIGINT or SIGTERM stops the service.\n"
    "\n"
    "Exit status: 0 after a stop signal, 1 when the catalogue or the address cannot be\n"
    "used, 2 on a usage error.\n";

std::string Count(std::size_t n, const char* thing) {
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

void LogLine(const std::string& text) {
    char stamp[32] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) != nullptr)
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const std::string line = std::string(stamp) + " " + text + "\n";
    std::fputs(line.c_str(), stderr);
}

// Set once a stop signal has come: answers still held back go out at once.
std::atomic<bool> stopRequested{false};

// What the handler decided, for the request's log line; the logger runs on the same thread
// right after the handler.
thread_local std::string requestNote;

// The catalogue in use. A new index replaces it whole; a request keeps the one it started with.
class CurrentCatalog {
public:
    std::shared_ptr<const Catalog> Get() const {
        std::lock_guard lock(mutex);
        return catalog;
    }
    void Set(std::shared_ptr<const Catalog> fresh) {
        std::lock_guard lock(mutex);
        catalog = std::move(fresh);
    }

private:
    mutable std::mutex mutex;
    std::shared_ptr<const Catalog> catalog;
};

// Indexes the catalogue folder into `current`; on failure `current` keeps what it had.
bool Index(const std::string& folder, CurrentCatalog& current, const char* verb) {
    auto fresh = std::make_shared<Catalog>();
    CatalogReport report;
    if (!LoadCatalog(folder, *fresh, report, LogLine)) return false;
    current.Set(std::move(fresh));
    std::string line = verb;
    line.append(" ").append(Count(report.songs, "song")).append(" from ").append(folder);
    line.append(" (").append(Count(report.withoutLrc, "MP3 file")).append(" without .lrc, ");
    line.append(Count(report.failed, "file")).append(" skipped)");
    LogLine(line);
    return true;
}

void Answer(const Catalog& catalog, const httplib::Request& req, httplib::Response& res) {
    const GetLyric5Request request = ParseGetLyric5Request(req.body);
    const std::string contentType(SoapContentType);
    if (request.error != RequestError::None) {
        res.status = 500;
        res.set_content(BuildSoapFault("Sender", RequestErrorText(request.error)), contentType);
        requestNote = std::string("fault: ") + RequestErrorText(request.error);
        return;
    }
    const LrcSong* song = catalog.Find(request.checksum);
    res.status = 200;
    res.set_content(BuildGetLyric5Response(song), contentType);
    requestNote = request.checksum + (song != nullptr ? " found" : " unknown");
}

// Blocks SIGINT, SIGTERM and SIGHUP in every thread and waits for them on one: the server is
// stopped, and the catalogue indexed again, from an ordinary thread, never from a signal
// handler.
class StopSignals {
public:
    // Blocks the signals in the calling thread and in every thread it starts from then on; one
    // that comes before the waiter waits is taken by it then.
    static sigset_t Block() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        return set;
    }

    StopSignals(httplib::Server& served, std::function<void()> onHangUp)
        : server(served), reindex(std::move(onHangUp)), signals(Block()) {
        waiter = std::thread([this] { Wait(); });
    }

    // Called once the server's listen loop has returned.
    int Finish() {
        listenEnded = true;
        if (!gotSignal) pthread_kill(waiter.native_handle(), SIGTERM);
        waiter.join();
        return signalNumber;
    }

    bool GotSignal() const { return gotSignal; }

private:
    void Wait() {
        int number = 0;
        while (sigwait(&signals, &number) == 0 && number == SIGHUP && !listenEnded) reindex();
        if (listenEnded) return;  // woken by Finish
        signalNumber = number;
        gotSignal = true;
        stopRequested = true;
        // The listen loop may not have started yet; stop() does nothing before it has.
        while (!listenEnded) {
            server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    httplib::Server& server;
    std::function<void()> reindex;
    sigset_t signals;
    std::thread waiter;
    std::atomic<bool> listenEnded{false};
    std::atomic<bool> gotSignal{false};
    std::atomic<int> signalNumber{0};
};

int Run(const Options& options) {
    StopSignals::Block();  // a signal during the first index waits for it
    CurrentCatalog catalog;
    if (!Index(options.catalog, catalog, "indexed")) {
        std::fprintf(stderr, "quillon-lyricsd: %s is not a readable folder\n",
                     options.catalog.c_str());
        return ExitFailure;
    }

    httplib::Server server;
    server.set_payload_max_length(MaxRequestBody);
    // Only SO_REUSEADDR: the library's default adds SO_REUSEPORT, which would let a second
    // service bind the same port without an error.
    server.set_socket_options([](int socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // Answers go out in more than one write; without this the second one waits for the client's
    // delayed acknowledgement, some 40 ms a request.
    server.set_tcp_nodelay(true);
    // An idle client connection holds up a stop for at most this long.
    server.set_keep_alive_timeout(2);
    // Requests are served side by side, one thread per connection, so that a client's several
    // connections (and a slow answer) never wait for each other.
    server.new_task_queue = [] { return new httplib::ThreadPool(MaxConnections); };
    const auto latency = std::chrono::milliseconds(options.latencyMs);
    server.Post(ObjectPathPattern(), [&](const httplib::Request& req, httplib::Response& res) {
        // The latency is waited out in slices, so that a stop is not held up by it.
        const auto until = std::chrono::steady_clock::now() + latency;
        while (!stopRequested.load() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                std::chrono::milliseconds(20), until - std::chrono::steady_clock::now()));
        Answer(*catalog.Get(), req, res);
    });
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        std::string line = req.remote_addr + " " + req.method + " " + req.path + " " +
                           std::to_string(res.status) + " " + std::to_string(res.body.size());
        if (!requestNote.empty()) line += " " + requestNote;
        requestNote.clear();
        LogLine(line);
    });

    StopSignals stopSignals(server, [&] {
        // Requests go on being answered from the old catalogue while the new one is built.
        if (!Index(options.catalog, catalog, "re-indexed"))
            LogLine("cannot re-index " + options.catalog + ": not a readable folder; " +
                    "the catalogue stays as it was");
    });
    ListenAddress bound = options.listen;
    bool ok = false;
    if (bound.port == 0) {
        bound.port = server.bind_to_any_port(bound.host);
        ok = bound.port > 0;
    } else {
        ok = server.bind_to_port(bound.host, bound.port);
    }
    if (ok) {
        std::printf("listening on %s\n", FormatListenAddress(bound).c_str());
        std::fflush(stdout);
        ok = server.listen_after_bind();
    } else {
        std::fprintf(stderr, "quillon-lyricsd: cannot listen on %s\n",
                     FormatListenAddress(options.listen).c_str());
    }
    const int signalNumber = stopSignals.Finish();
    if (stopSignals.GotSignal()) {
        LogLine(std::string("stopped by ") + (signalNumber == SIGINT ? "SIGINT" : "SIGTERM"));
        return ExitOk;
    }
    return ok ? ExitOk : ExitFailure;
}

}  // namespace
}  // namespace quillon::lyricsd

int main(int argc, char** argv) {
    using namespace quillon;
    using namespace quillon::lyricsd;
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    std::string error;
    const auto options = ParseOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "quillon-lyricsd: %s (see --help)\n", error.c_str());
        return ExitUsage;
    }
    if (options->help) {
        std::fputs(Help, stdout);
        return ExitOk;
    }
    if (options->version) {
        std::printf("quillon-lyricsd %s\n", quillon::Version);
        return ExitOk;
    }
    return Run(*options);
}
