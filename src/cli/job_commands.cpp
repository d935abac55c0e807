// `fetch` and `folder`: the download job run headless, printing what the window would show.
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <thread>

#include <sys/time.h>

#include "audio/checksum.h"
#include "cli/commands.h"
#include "pipeline/job.h"
#include "pipeline/lrc.h"
#include "pipeline/messages.h"
#include "pipeline/textwriter.h"
#include "service/lyricquery.h"
#include "service/textconv.h"
#include "settings/settings.h"

namespace quillon::cli {
namespace {

struct JobOptions {
    DownloadMode mode = DownloadMode::SingleFile;
    std::string host;
    bool second = true;
    bool third = true;
    std::optional<int> encoding;
    std::string savePath;
    std::string path;
};

void PrintUtf16(std::FILE* out, std::u16string_view text) {
    const std::string bytes = WideToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
}

std::optional<int> ParseEncoding(std::string_view text) {
    if (text == "ansi") return EncodingAnsi;
    if (text == "utf16be") return EncodingUtf16BE;
    if (text == "utf16le") return EncodingUtf16LE;
    if (text == "utf8") return EncodingUtf8;
    if (text.empty() || text.size() > 9) return std::nullopt;
    int value = 0;
    std::size_t i = text.front() == '-' ? 1 : 0;
    if (i == text.size()) return std::nullopt;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return text.front() == '-' ? -value : value;
}

const char* Help(DownloadMode mode) {
    if (mode == DownloadMode::SingleFile)
        return "Usage: quillon-cli fetch [OPTIONS] FILE\n"
               "\n"
               "Fetches the lyric of one MP3 file and prints title, singer, album and one line\n"
               "per lyric row (TIME<TAB>LYRIC). Options may come before or after FILE.\n"
               "\n"
               "  --host H        lyrics service host[:port] (else QUILLON_SERVICE_HOST, else\n"
               "                  the ServiceHost setting, else localhost)\n"
               "  --no-second     leave out the second line of each time\n"
               "  --no-third      leave out the third line of each time\n"
               "  --encoding E    ansi, utf16be, utf16le, utf8 or a number (for --save;\n"
               "                  default: the Encoding setting)\n"
               "  --save OUT.lrc  also write the rows as an LRC file\n"
               "  -h, --help      show this help\n"
               "\n"
               "Exit status: 0 on success, 1 when the lyric could not be fetched or saved,\n"
               "2 on a usage error.\n";
    return "Usage: quillon-cli folder [OPTIONS] DIR\n"
           "\n"
           "Writes an LRC file beside every MP3 file directly inside DIR, printing one line\n"
           "per step: HH:MM:SS.mmm<TAB>KIND<TAB>TEXT (KIND: 2 info, 3 error, 4 start,\n"
           "5 saved). Ctrl+C stops the run; the song in hand is left as it was.\n"
           "\n"
           "  --host H        lyrics service host[:port] (else QUILLON_SERVICE_HOST, else\n"
           "                  the ServiceHost setting, else localhost)\n"
           "  --no-second     leave out the second line of each time\n"
           "  --no-third      leave out the third line of each time\n"
           "  --encoding E    ansi, utf16be, utf16le, utf8 or a number (default: the\n"
           "                  Encoding setting)\n"
           "  -h, --help      show this help\n"
           "\n"
           "Exit status: 0 when the run went through, 1 when it was stopped, 2 on a usage\n"
           "error.\n";
}

// Parses the arguments; returns an exit status when the command is done already.
std::optional<int> ParseJobOptions(const std::vector<std::string_view>& args, JobOptions& options) {
    const char* command = options.mode == DownloadMode::SingleFile ? "fetch" : "folder";
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        auto value = [&](std::string_view name) -> std::optional<std::string_view> {
            if (arg.size() > name.size() && arg.substr(0, name.size()) == name &&
                arg[name.size()] == '=')
                return arg.substr(name.size() + 1);
            if (arg != name) return std::nullopt;
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        auto missing = [&](std::string_view name) {
            return UsageError(std::string(command) + ": option '" + std::string(name) +
                              "' needs a value");
        };
        if (optionsEnded || arg.empty() || arg.front() != '-' || arg == "-") {
            if (!options.path.empty())
                return UsageError(std::string(command) + ": more than one path given");
            options.path = arg;
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(Help(options.mode), stdout);
            return ExitOk;
        } else if (arg == "--no-second") {
            options.second = false;
        } else if (arg == "--no-third") {
            options.third = false;
        } else if (arg.starts_with("--host")) {
            const auto host = value("--host");
            if (!host || host->empty()) return missing("--host");
            options.host = *host;
        } else if (arg.starts_with("--encoding")) {
            const auto text = value("--encoding");
            if (!text) return missing("--encoding");
            options.encoding = ParseEncoding(*text);
            if (!options.encoding)
                return UsageError(std::string(command) + ": unknown encoding '" +
                                  std::string(*text) + "'");
        } else if (options.mode == DownloadMode::SingleFile && arg.starts_with("--save")) {
            const auto out = value("--save");
            if (!out || out->empty()) return missing("--save");
            options.savePath = *out;
        } else {
            return UsageError(std::string(command) + ": unknown option '" + std::string(arg) + "'");
        }
    }
    if (options.path.empty())
        return UsageError(std::string(command) + ": no " +
                          (options.mode == DownloadMode::SingleFile ? "FILE" : "DIR") +
                          " given (see --help)");
    return std::nullopt;
}

// The job's window, as text.
class PrintingHost final : public JobHost {
public:
    PrintingHost(DownloadMode jobMode, std::optional<int> encoding, SettingsStore& store)
        : mode(jobMode), fixedEncoding(encoding), settings(store) {}

    LyricView& Lyrics() override { return view; }
    void SetInfoFields(const std::u16string& t, const std::u16string& a,
                       const std::u16string& b) override {
        title = t;
        artist = a;
        album = b;
    }
    void JobMessage(int kind, const std::u16string& text, bool) override {
        if (mode == DownloadMode::SingleFile) {
            PrintUtf16(stderr, text);
            std::fputc('\n', stderr);
            return;
        }
        std::printf("%s\t%d\t", LocalTime().c_str(), kind);
        PrintUtf16(stdout, text);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    int EncodingSetting() override { return fixedEncoding ? *fixedEncoding : settings.Encoding(); }

    static std::string LocalTime() {
        timeval now{};
        ::gettimeofday(&now, nullptr);
        std::tm local{};
        ::localtime_r(&now.tv_sec, &local);
        char text[32];
        std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                      local.tm_sec, static_cast<int>(now.tv_usec / 1000));
        return text;
    }

    MemoryLyricView view;
    std::u16string title, artist, album;

private:
    DownloadMode mode;
    std::optional<int> fixedEncoding;
    SettingsStore& settings;
};

std::atomic<int>* g_isRunning = nullptr;

extern "C" void OnInterrupt(int) {
    if (g_isRunning != nullptr) g_isRunning->store(0);
}

int RunJob(const std::vector<std::string_view>& args, DownloadMode mode) {
    JobOptions options;
    options.mode = mode;
    if (const auto done = ParseJobOptions(args, options)) return *done;

    SettingsStore settings;
    JobState state;
    state.mode = mode;
    state.path = options.path;
    const std::u16string_view refusal = CheckJobPath(mode, state.path);
    if (!refusal.empty()) {
        PrintUtf16(stderr, refusal);
        std::fputc('\n', stderr);
        return ExitFailure;
    }
    state.includeLine[1] = options.second ? 1 : 0;
    state.includeLine[2] = options.third ? 1 : 0;

    PrintingHost host(mode, options.encoding, settings);
    AudioChecksummer checksummer;
    LyricQuery query(ResolveServiceHost(options.host, settings.ServiceHost().toStdString()));

    static_assert(std::atomic<int>::is_always_lock_free);
    g_isRunning = &state.isRunning;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ::sigaction(SIGINT, &action, &previous);

    state.isRunning = 1;
    int result = 0;
    std::thread worker([&] { result = RunDownloadJob(state, host, checksummer, query); });
    worker.join();
    state.isRunning = 0;
    ::sigaction(SIGINT, &previous, nullptr);
    g_isRunning = nullptr;

    if (mode == DownloadMode::Folder) return result == 1 ? ExitOk : ExitFailure;
    if (result != 1) return ExitFailure;

    PrintUtf16(stdout, u"제목: " + host.title + u"\n가수: " + host.artist + u"\n앨범: " +
                           host.album + u"\n");
    for (const auto& row : host.view.rows) {
        PrintUtf16(stdout,
                   row[LyricView::TimeColumn] + u"\t" + row[LyricView::LyricColumn] + u"\n");
    }
    std::fflush(stdout);
    if (!options.savePath.empty()) {
        const int encoding = options.encoding ? *options.encoding : settings.Encoding();
        const LyricInfo info{host.title, host.artist, host.album, {}};
        if (!WriteTextFileAtomically(options.savePath, BuildSavedLyricsText(info, host.view),
                                     encoding)) {
            PrintUtf16(stderr, text::SaveFailedTip);
            std::fputc('\n', stderr);
            return ExitFailure;
        }
    }
    return ExitOk;
}

}  // namespace

int RunFetch(const std::vector<std::string_view>& args) {
    return RunJob(args, DownloadMode::SingleFile);
}

int RunFolder(const std::vector<std::string_view>& args) {
    return RunJob(args, DownloadMode::Folder);
}

}  // namespace quillon::cli
