#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/lyricview.h"
#include "service/lyricinfo.h"

namespace quillon {

class AudioChecksummer;
class LyricQuery;

// The index of the mode combo box.
enum class DownloadMode : int { SingleFile = 0, Folder = 1 };

// Kinds of job messages: in Folder mode the icon of the log row, in SingleFile mode the control
// the tip points at.
inline constexpr int LogIconInfo = 2;
inline constexpr int LogIconError = 3;
inline constexpr int LogIconStart = 4;
inline constexpr int LogIconSaved = 5;
inline constexpr int DownloadButtonId = 1000;

// The state the window shares with the worker for the length of a job.
struct JobState {
    DownloadMode mode = DownloadMode::SingleFile;
    std::filesystem::path path;
    int includeLine[3] = {1, 1, 1};
    // 1 while a job runs; the window stores 0 to ask the worker to stop.
    std::atomic<int> isRunning{0};
    LyricInfo heldInfo;  // SingleFile: the answer of the last successful query
    std::u16string lrcBody;
};

// Whoever runs a job: the window, the command-line front end, or a test. The lyric view's
// operations and SetInfoFields are carried out before they return. Messages may be queued, but
// must reach the receiver in order, each with its own text; `wait` asks that this one has been
// taken before the call returns.
class JobHost {
public:
    virtual ~JobHost() = default;
    // The view the job's lyric rows go to.
    virtual LyricView& Lyrics() = 0;
    virtual void SetInfoFields(const std::u16string& title, const std::u16string& artist,
                               const std::u16string& album) = 0;
    virtual void JobMessage(int kind, const std::u16string& text, bool wait) = 0;
    // The "Encoding" setting, read anew before each LRC file.
    virtual int EncodingSetting() = 0;
};

// Every entry of `folder` whose lower-cased name holds ".mp3" and that is not a directory, in
// the order the system lists them, named as folder + separator + name.
std::vector<std::filesystem::path> CollectMp3Files(const std::filesystem::path& folder);

// The tip text that refuses to start a job on `path`, or an empty view when it may start.
std::u16string_view CheckJobPath(DownloadMode mode, const std::filesystem::path& path);

// The name a message shows for a file: base name and extension.
std::u16string DisplayName(const std::filesystem::path& path);

// Runs one job on the calling thread; returns the job result (1, or 0 when stopped or, in
// SingleFile mode, when the file failed). The caller sets isRunning to 1 before and delivers
// the end notification after.
int RunDownloadJob(JobState& state, JobHost& host, AudioChecksummer& checksummer,
                   LyricQuery& query);

}  // namespace quillon
