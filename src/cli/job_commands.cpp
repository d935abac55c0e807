// `fetch` and `folder`: the download job run headless, printing what the window would show.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "application/application.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "pipeline/folderrun.h"
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
        } else if (QuillonApplication::CanEmbed() && arg == "--embed") {
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

// The window, as text: log rows on stdout, tips on stderr, the rest kept for the end.
class PrintingView final : public AppView {
public:
    explicit PrintingView(const CommandOptions& chosen) : options(chosen) {}

    ControlValues ReadControls() override {
        ControlValues values;
        values.mode = options.mode;
        values.pathText = Utf8ToWide(options.path);
        values.path = ArgumentPath(options.path);
        values.second = options.second;
        values.third = options.third;
        return values;
    }
    LyricView& LyricRows() override { return rows; }
    void ClearViews() override { rows.rows.clear(); }
    void ShowInfoFields(std::u16string_view t, std::u16string_view a,
                        std::u16string_view b) override {
        title = t;
        artist = a;
        album = b;
    }
    void ShowControls(const ControlState&) override {}
    void ShowMode(DownloadMode, const ModeLayout&) override {}
    void ShowPath(std::u16string_view) override {}
    void ShowTipAt(TipAnchor, std::u16string_view text, std::string_view cause) override {
        std::string line = WideToUtf8(text);
        if (!cause.empty()) line += " (" + std::string(cause) + ")";
        Write(stderr, line + "\n");
    }
    void AddLogRow(int icon, std::u16string_view time, std::u16string_view text,
                   std::string_view cause) override {
        const std::string row =
            WideToUtf8(time) + "\t" + std::to_string(icon) + "\t" + WideToUtf8(text);
        // A row on the same terminal first takes the progress line away.
        if (stdoutShared) ClearProgress();
        Write(stdout, row + "\n");
        if (options.verbose && !cause.empty())
            Write(stderr, row + "\t" + std::string(cause) + "\n");
    }
    void JobStarted(DownloadMode) override { started = std::chrono::steady_clock::now(); }
    void ShowProgress(const JobProgress& progress) override {
        // The summary that follows comes as the download button's tip.
        if (progress.finished) return ClearProgress();
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
    void JobEnded(int jobResult) override {
        ClearProgress();
        ended = true;
        result = jobResult;
    }

    MemoryLyricView rows;
    std::u16string title, artist, album;
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
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

// Starts the job and waits for its end, turning Ctrl+C into the stop request. The worker prints
// its own rows; only the end comes over to this thread.
void RunUntilEnded(QuillonApplication& app, PrintingView& view) {
    std::mutex mutex;
    std::condition_variable woken;
    int pending = 0;
    // This thread only waits while the job runs, so the worker prints its rows itself.
    app.Connect(
        [&] {
            std::lock_guard lock(mutex);
            ++pending;
            woken.notify_one();
        },
        true);

    CatchInterrupt();
    app.OnDownload();
    bool stopAsked = false;
    while (app.JobRunning() && !view.ended) {
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
        if (call) app.Drain();
        if (Interrupted() && !stopAsked) {
            stopAsked = true;
            app.OnDownload();  // a second press stops the job
        }
    }
    ReleaseInterrupt();
}

int RunJob(const std::vector<std::string_view>& args, DownloadMode mode) {
    CommandOptions options;
    options.mode = mode;
    if (const auto done = ParseJobOptions(args, options)) return *done;

    const std::unique_ptr<SettingsPort> settings = OpenUserSettings();
    PrintingView view(options);
    QuillonApplication app(*settings, view, options.job);
    RunUntilEnded(app, view);
    // A start refused for its path has told why; a stopped or failed job ends with its result.
    if (!view.ended || view.result != 1) return ExitFailure;
    if (mode == DownloadMode::Folder) return ExitOk;

    PrintUtf16(stdout, text::TitleLabel + view.title + u"\n" + text::ArtistLabel + view.artist +
                           u"\n" + text::AlbumLabel + view.album + u"\n");
    for (const auto& row : view.rows.rows) {
        PrintUtf16(stdout,
                   row[LyricView::TimeColumn] + u"\t" + row[LyricView::LyricColumn] + u"\n");
    }
    std::fflush(stdout);
    if (!options.savePath.empty()) {
        const int encoding =
            options.job.encoding ? *options.job.encoding : settings->ReadEncoding();
        // What the code page lacks is not turned into "?": the file goes to UTF-16 LE instead.
        const LosslessChoice chosen = app.LosslessSaveEncoding(encoding);
        const WriteResult written = app.SaveLyricsTo(options.savePath, chosen.encoding);
        if (!written) {
            view.ShowTipAt(TipAnchor::Save, text::SaveFailedTip, written.cause);
            return ExitFailure;
        }
        if (chosen.lost > 0) {
            const std::u16string name = PathText(ArgumentPath(options.savePath).filename());
            view.ShowTipAt(TipAnchor::Save, SavedAsUtf16Event(name, chosen.lost).text, {});
        }
    }
    if (app.EmbedOn()) {
        const std::filesystem::path song = ArgumentPath(options.path);
        const WriteResult stored = app.EmbedLyricsIn(song);
        if (!stored) {
            view.ShowTipAt(TipAnchor::Save, FileMessage(text::TagSaveFailed, DisplayName(song)),
                           stored.cause);
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
