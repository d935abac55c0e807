#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>

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
#include "lyrics/lrcreader.h"
#include "lyricsd/api_routes.h"
#include "lyricsd/options.h"
#include "lyricsd/page.h"
#include "lyricsd/scanner.h"
#include "lyricsd/soap.h"
#include "lyricsd/store.h"
#include "lyricsd/watcher.h"
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
constexpr std::size_t MaxPageQuery = 1024;  // bytes of a search from the page

constexpr const char* Help =
    "Usage: quillon-lyricsd --catalog DIR [--catalog DIR...] [--database FILE]\n"
    "                       [--listen ADDR:PORT] [--latency MS]\n"
    "\n"
    "Serves the lyrics of the songs under each DIR: to Quillon over its SOAP 1.2 lyrics\n"
    "protocol (GetLyric5, MP3 files keyed by their audio checksum), and to lyric clients over\n"
    "an LRCLIB-compatible API (/api/get, /api/get/ID, /api/search). Songs of every common\n"
    "format count; their lyrics come from an .lrc or .txt file of the same name beside them\n"
    "or from their tags. The catalogue is kept in FILE and brought up to date at every start\n"
    "(only new and changed files are read) and whenever a folder changes.\n"
    "\n"
    "Options:\n"
    "  --catalog DIR        folder to serve, subfolders included; may be given again\n"
    "  --database FILE      the catalogue (default $XDG_DATA_HOME/quillon/lyricsd.sqlite)\n"
    "  --listen ADDR:PORT   address to listen on (default 127.0.0.1 on a free port;\n"
    "                       IPv6 as [::1]:8080)\n"
    "  --latency MS         hold every answer back MS milliseconds, as a distant service\n"
    "                       would (0 to 60000; requests are answered side by side)\n"
    "  -h, --help           show this help and exit\n"
    "  --version            print the version and exit\n"
    "\n"
    "The first line on stdout is \"listening on ADDR:PORT\", once the catalogue is up to\n"
    "date. Each request is logged on stderr. SIGHUP scans the folders again at once;\n"
    "SIGINT or SIGTERM stops the service.\n"
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

// Scans the catalogue folders into the store, one pass at a time, whoever asks: the start, a
// hang-up signal or the watcher. Answers come from what the store has committed meanwhile.
class Catalogue {
public:
    Catalogue(const std::vector<std::string>& folders, Store& catalogue)
        : roots(folders.begin(), folders.end()), store(catalogue), scanner(roots, store, LogLine) {}

    // False when a folder is not a readable one: the catalogue then stays as it was.
    bool Scan(const char* verb) {
        std::lock_guard lock(mutex);
        for (const std::filesystem::path& root : roots) {
            std::error_code error;
            if (!std::filesystem::is_directory(root, error)) {
                LogLine("cannot scan " + root.string() +
                        ": not a readable folder; the catalogue stays as it was");
                return false;
            }
        }
        const ScanSummary summary = scanner.Run(stopRequested);
        const CatalogueCounts counts = store.Counts();
        std::string folders;
        for (const std::filesystem::path& root : roots)
            folders += (folders.empty() ? "" : ", ") + root.string();
        LogLine(std::string(verb) + " " + Count(static_cast<std::size_t>(counts.synced), "song") +
                " from " + folders + " (" + std::to_string(counts.songs) + " in all; " +
                std::to_string(summary.added) + " added, " + std::to_string(summary.changed) +
                " changed, " + std::to_string(summary.removed) + " removed, " +
                Count(summary.problems.size(), "file") + " skipped)");
        return true;
    }

    const std::vector<std::filesystem::path>& Roots() const { return roots; }

private:
    std::vector<std::filesystem::path> roots;
    Store& store;
    std::mutex mutex;
    Scanner scanner;
};

void Answer(Store& store, const httplib::Request& req, httplib::Response& res) {
    const GetLyric5Request request = ParseGetLyric5Request(req.body);
    const std::string contentType(SoapContentType);
    if (request.error != RequestError::None) {
        res.status = 500;
        res.set_content(BuildSoapFault("Sender", RequestErrorText(request.error)), contentType);
        requestNote = std::string("fault: ") + RequestErrorText(request.error);
        return;
    }
    const std::optional<SongRecord> record = store.ByChecksum(request.checksum);
    std::optional<LrcSong> song;
    if (record && record->synced) {
        song = ParseLrc(*record->synced);
        song->title = record->title;
        song->artist = record->artist;
        song->album = record->album;
    }
    res.status = 200;
    res.set_content(BuildGetLyric5Response(song ? &*song : nullptr), contentType);
    requestNote = request.checksum + (song ? " found" : " unknown");
}

// The server library listens with a queue of 5 connections; a thousand clients arriving at once
// would then wait out SYN retries of several seconds. The listening socket on `port` gets a
// queue the size the system allows instead (listen() again on a listening socket sets it).
void WidenListenQueue(int port) {
    for (int fd = 3; fd < 1024; ++fd) {
        int listening = 0;
        socklen_t size = sizeof listening;
        if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || !listening)
            continue;
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) continue;
        const int bound = address.ss_family == AF_INET6
                              ? ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port)
                              : ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
        if (bound == port) ::listen(fd, SOMAXCONN);
    }
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
    StopSignals::Block();  // a signal during the first scan waits for it
    for (const std::string& folder : options.catalogs) {
        std::error_code error;
        if (!std::filesystem::is_directory(folder, error)) {
            std::fprintf(stderr, "quillon-lyricsd: %s is not a readable folder\n", folder.c_str());
            return ExitFailure;
        }
    }
    std::string openError;
    const std::unique_ptr<Store> store = Store::Open(options.database, openError);
    if (!store) {
        std::fprintf(stderr, "quillon-lyricsd: %s\n", openError.c_str());
        return ExitFailure;
    }
    Catalogue catalog(options.catalogs, *store);
    catalog.Scan("indexed");

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
        Answer(*store, req, res);
    });
    RegisterApi(server, *store);
    // The page for people: what the catalogue holds, what it lacks, and a search.
    server.Get("/", [&](const httplib::Request& req, httplib::Response& res) {
        std::string search = req.get_param_value("q").substr(0, MaxPageQuery);
        std::int64_t page = 0;
        const std::string pageText = req.get_param_value("page");
        if (!pageText.empty() && pageText.size() <= 9 &&
            pageText.find_first_not_of("0123456789") == std::string::npos)
            page = std::stoll(pageText);
        res.set_content(BuildPage(*store, search, page), "text/html; charset=utf-8");
    });
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        std::string line = req.remote_addr + " " + req.method + " " + req.path + " " +
                           std::to_string(res.status) + " " + std::to_string(res.body.size());
        if (!requestNote.empty()) line += " " + requestNote;
        requestNote.clear();
        LogLine(line);
    });

    StopSignals stopSignals(server, [&] {
        // Requests go on being answered from what is committed while the scan runs.
        catalog.Scan("re-indexed");
    });
    // Changes in the folders are noticed without a signal.
    FolderWatcher watcher(catalog.Roots(), LogLine, [&] { catalog.Scan("re-indexed"); });
    ListenAddress bound = options.listen;
    bool ok = false;
    if (bound.port == 0) {
        bound.port = server.bind_to_any_port(bound.host);
        ok = bound.port > 0;
    } else {
        ok = server.bind_to_port(bound.host, bound.port);
    }
    if (ok) {
        WidenListenQueue(bound.port);
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
