// `fetch` and `folder`: a run of the session's, printed: log rows on stdout, failures and the
// summary on stderr.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "application/session.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "pipeline/messages.h"
#include "pipeline/textwriter.h"
#include "settings/usersettings.h"
#include "text/textconv.h"

namespace quillon::cli {
namespace {

struct CommandOptions {
    DownloadMode mode = DownloadMode::SingleFile;
    JobOptions job;
    bool second = true;
    bool third = true;
    bool verbose = false;
    std::string savePath;
    std::string path;
};

void PrintUtf16(std::FILE* out, std::u16string_view text) {
    Write(out, WideToUtf8(text));
}

// A whole number of at most nine digits, with or without a minus sign.
std::optional<int> ParseNumber(std::string_view text) {
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

std::optional<int> ParseEncoding(std::string_view text) {
    if (text == "ansi") return EncodingAnsi;
    if (text == "utf16be") return EncodingUtf16BE;
    if (text == "utf16le") return EncodingUtf16LE;
    if (text == "utf8") return EncodingUtf8;
    return ParseNumber(text);
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
               "                  default: the Encoding setting); a lyric with characters\n"
               "                  the ANSI code page lacks is saved in UTF-16 LE instead\n"
               "  --save OUT.lrc  also write the rows as an LRC file\n"
#ifdef QUILLON_HAVE_TAGLIB
               "  --embed         also store them in FILE's own ID3v2 tag (default: the\n"
               "                  EmbedLyrics setting)\n"
#endif
               "  -h, --help      show this help\n"
               "\n"
               "A failure is told on stderr, its cause in parentheses after it.\n"
               "Exit status: 0 on success, 1 when the lyric could not be fetched or saved,\n"
               "2 on a usage error.\n";
    return "Usage: quillon-cli folder [OPTIONS] DIR\n"
           "\n"
           "Writes an LRC file beside every MP3 file directly inside DIR, printing one line\n"
           "per step: HH:MM:SS.mmm<TAB>KIND<TAB>TEXT (KIND: 2 info, 3 error, 4 start,\n"
           "5 saved, 6 warning). Ctrl+C stops the run; the song in hand is left as it was,\n"
           "and a last row says the run was stopped. On a terminal, stderr shows how far the\n"
           "run has come; at the end it gets a summary.\n"
           "\n"
           "  --recursive     also every folder below DIR (songs named by their path below\n"
           "                  DIR; default: the IncludeSubfolders setting)\n"
           "  --skip-existing pass over songs whose LRC file exists (default: the\n"
           "                  SkipExisting setting)\n"
           "  --jobs N        songs in hand at once, 1 to 16 (default: the Concurrency\n"
           "                  setting, else 4); rows and files come out in the same order\n"
           "  --host H        lyrics service host[:port] (else QUILLON_SERVICE_HOST, else\n"
           "                  the ServiceHost setting, else localhost)\n"
           "  --no-second     leave out the second line of each time\n"
           "  --no-third      leave out the third line of each time\n"
           "  --encoding E    ansi, utf16be, utf16le, utf8 or a number (default: the\n"
           "                  Encoding setting); a lyric with characters the ANSI code\n"
           "                  page lacks is saved in UTF-16 LE instead, with a warning row\n"
           "  --verbose       print each failure's cause on stderr:\n"
           "                  HH:MM:SS.mmm<TAB>KIND<TAB>TEXT<TAB>CAUSE\n"
#ifdef QUILLON_HAVE_TAGLIB
           "  --embed         also store each lyric in its song's own ID3v2 tag (default:\n"
           "                  the EmbedLyrics setting)\n"
#endif
           "  -h, --help      show this help\n"
           "\n"
           "Exit status: 0 when the run went through, 1 when it was stopped, 2 on a usage\n"
           "error.\n";
}

// Parses the arguments; returns an exit status when the command is done already.
std::optional<int> ParseJobOptions(const std::vector<std::string_view>& args,
                                   CommandOptions& options) {
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
            Write(stdout, Help(options.mode));
            return ExitOk;
        } else if (arg == "--no-second") {
            options.second = false;
        } else if (arg == "--no-third") {
            options.third = false;
        } else if (arg.starts_with("--host")) {
            const auto host = value("--host");
            if (!host || host->empty()) return missing("--host");
            options.job.host = *host;
        } else if (arg.starts_with("--encoding")) {
            const auto text = value("--encoding");
            if (!text) return missing("--encoding");
            options.job.encoding = ParseEncoding(*text);
            if (!options.job.encoding)
                return UsageError(std::string(command) + ": unknown encoding '" +
                                  std::string(*text) + "'");
        } else if (LyricsSession::CanEmbed() && arg == "--embed") {
            options.job.embed = true;
        } else if (options.mode == DownloadMode::Folder && arg == "--verbose") {
            options.verbose = true;
        } else if (options.mode == DownloadMode::Folder && arg == "--recursive") {
            options.job.recursive = true;
        } else if (options.mode == DownloadMode::Folder && arg == "--skip-existing") {
            options.job.skipExisting = true;
        } else if (options.mode == DownloadMode::Folder && arg.starts_with("--jobs")) {
            const auto text = value("--jobs");
            if (!text) return missing("--jobs");
            const std::optional<int> jobs = ParseNumber(*text);
            if (!jobs || *jobs < 1 || *jobs > 16 || text->front() < '0' || text->front() > '9')
                return UsageError(std::string(command) +
                                  ": --jobs takes a number from 1 to 16, not '" +
                                  std::string(*text) + "'");
            options.job.concurrency = *jobs;
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

// Prints a line on stderr: a text, and its cause in parentheses.
void PrintTip(std::u16string_view text, std::string_view cause) {
    std::string line = WideToUtf8(text);
    if (!cause.empty()) line += " (" + std::string(cause) + ")";
    Write(stderr, line + "\n");
}

// A run's events as text. Folder rows go out on the worker's thread as they come (the main
// thread only waits); the end comes through Deliver on the main thread.
class Printer final : public RunObserver {
public:
    explicit Printer(const CommandOptions& chosen) : options(chosen) {}

    void Logged(const JobEvent& event) override {
        if (options.mode == DownloadMode::SingleFile) {
            if (IsFailure(event.kind)) PrintTip(event.text, event.cause);
            return;
        }
        // The KIND column: 2 info, 3 error, 4 start, 5 saved, 6 warning.
        constexpr int kinds[] = {2, 3, 4, 5, 6};  // by tone: info, error, start, saved, warning
        const std::string row = WideToUtf8(LogTimeNow()) + "\t" +
                                std::to_string(kinds[static_cast<int>(ToneOf(event.kind))]) + "\t" +
                                WideToUtf8(event.text);
        // A row on the same terminal first takes the progress line away.
        if (stdoutShared) ClearProgress();
        Write(stdout, row + "\n");
        if (options.verbose && !event.cause.empty()) Write(stderr, row + "\t" + event.cause + "\n");
    }
    void SongShown(const ShownSong& song) override {
        if (options.mode == DownloadMode::SingleFile) info = song.info;
        rows.AppendRows(song.rows);
    }
    void Progressed(const JobProgress& progress) override {
        if (progress.finished) {
            ClearProgress();
            PrintTip(SummaryText(progress), {});
            return;
        }
        if (!progressShown) return;
        const auto now = std::chrono::steady_clock::now();
        std::u16string line = GroupedCount(progress.done) + u"/" + GroupedCount(progress.total) +
                              u"곡, 실패 " + GroupedCount(progress.failed) + u"곡";
        if (progress.done > 0 && progress.done < progress.total) {
            const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(now - started);
            // Whole seconds, rounded up.
            const long long left =
                (spent.count() * (progress.total - progress.done) / progress.done + 999) / 1000;
            line += u", 남은 시간 " + Utf8ToWide(std::to_string(left / 60)) + u"분 " +
                    Utf8ToWide(std::to_string(left % 60)) + u"초";
        }
        const int width = Columns(line);
        std::u16string shown = u"\r" + line;
        if (width < lineWidth)
            shown += std::u16string(static_cast<std::size_t>(lineWidth - width), u' ');
        lineWidth = width;
        Write(stderr, WideToUtf8(shown));
    }
    void RunEnded(const RunEnd& end) override {
        ClearProgress();
        ended = true;
        result = end.result;
    }

    MemoryLyricView rows;
    LyricInfo info;
    bool ended = false;
    int result = 0;

private:
    // The columns a line takes on a terminal: Hangul and the like take two.
    static int Columns(std::u16string_view line) {
        int columns = 0;
        for (const char16_t unit : line) columns += unit < 0x1100 ? 1 : 2;
        return columns;
    }
    void ClearProgress() {
        if (!progressShown || lineWidth == 0) return;
        std::string blank(static_cast<std::size_t>(lineWidth) + 2, ' ');
        blank.front() = '\r';
        blank.back() = '\r';
        Write(stderr, blank);
        lineWidth = 0;
    }

    const CommandOptions& options;
    // The progress line goes to stderr only when that is a terminal, and is taken away before
    // a row when stdout shows on a terminal too.
    const bool progressShown = options.mode == DownloadMode::Folder && IsTerminal(stderr);
    const bool stdoutShared = progressShown && IsTerminal(stdout);
    int lineWidth = 0;
    const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

// Starts the run and waits for its end, turning Ctrl+C into the stop request. False when it
// could not start; why has been told.
bool RunUntilEnded(LyricsSession& session, Printer& printer, const CommandOptions& options) {
    std::mutex mutex;
    std::condition_variable woken;
    int pending = 0;
    // This thread only waits while the run goes, so the worker prints its rows itself.
    session.Connect(
        printer,
        [&] {
            std::lock_guard lock(mutex);
            ++pending;
            woken.notify_one();
        },
        true);

    CatchInterrupt();
    const StartResult start =
        session.StartRun({options.mode, ArgumentPath(options.path), options.second, options.third});
    if (!start.started) {
        ReleaseInterrupt();
        PrintTip(start.refusal.empty() ? std::u16string(text::RunNotStarted) : start.refusal,
                 start.cause);
        return false;
    }
    bool stopAsked = false;
    while (session.Running() && !printer.ended) {
        bool call = false;
        {
            std::unique_lock lock(mutex);
            // Woken by the worker; the interrupt is looked at between the waits.
            woken.wait_for(lock, std::chrono::milliseconds(10), [&] { return pending > 0; });
            if (pending > 0) {
                --pending;
                call = true;
            }
        }
        if (call) session.Deliver();
        if (Interrupted() && !stopAsked) {
            stopAsked = true;
            session.RequestStop();
        }
    }
    ReleaseInterrupt();
    return true;
}

int RunJob(const std::vector<std::string_view>& args, DownloadMode mode) {
    CommandOptions options;
    options.mode = mode;
    if (const auto done = ParseJobOptions(args, options)) return *done;

    const std::unique_ptr<SettingsPort> settings = OpenUserSettings();
    LyricsSession session(*settings, options.job);
    Printer printer(options);
    // A start refused for its path has told why; a stopped or failed run ends with its result.
    if (!RunUntilEnded(session, printer, options) || !printer.ended || printer.result != 1)
        return ExitFailure;
    if (mode == DownloadMode::Folder) return ExitOk;

    const LyricInfo& info = printer.info;
    PrintUtf16(stdout, text::TitleLabel + info.title + u"\n" + text::ArtistLabel + info.artist +
                           u"\n" + text::AlbumLabel + info.album + u"\n");
    for (const auto& row : printer.rows.rows) {
        PrintUtf16(stdout,
                   row[LyricView::TimeColumn] + u"\t" + row[LyricView::LyricColumn] + u"\n");
    }
    std::fflush(stdout);
    if (!options.savePath.empty()) {
        // What the code page lacks is not turned into "?": the file goes to UTF-16 LE instead.
        const LosslessChoice chosen =
            session.LosslessSaveEncoding(session.SaveEncoding(), printer.rows);
        const WriteResult written =
            session.SaveLyricsTo(options.savePath, chosen.encoding, printer.rows);
        if (!written) {
            PrintTip(text::SaveFailedTip, written.cause);
            return ExitFailure;
        }
        if (chosen.lost > 0) {
            const std::u16string name = PathText(ArgumentPath(options.savePath).filename());
            PrintTip(SavedAsUtf16Event(name, chosen.lost).text, {});
        }
    }
    if (session.EmbedOn()) {
        const std::filesystem::path song = ArgumentPath(options.path);
        const WriteResult stored = session.EmbedLyricsIn(song, printer.rows);
        if (!stored) {
            PrintTip(FileMessage(text::TagSaveFailed, DisplayName(song)), stored.cause);
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
