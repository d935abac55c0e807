#include "pipeline/job.h"

#include "audio/checksum.h"
#include "pipeline/lrc.h"
#include "pipeline/messages.h"
#include "service/lyricquery.h"
#include "service/textconv.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

// "<what> (<name><extension>)"
std::u16string FileMessage(std::u16string_view what, const fs::path& path) {
    std::u16string text(what);
    text += u" (";
    text += DisplayName(path);
    text += u')';
    return text;
}

bool Stopped(const JobState& state) {
    return state.isRunning.load() == 0;
}

}  // namespace

std::u16string_view CheckJobPath(DownloadMode mode, const fs::path& path) {
    const bool single = mode == DownloadMode::SingleFile;
    if (path.empty()) return single ? text::ChooseFile : text::ChooseFolder;
    const PathKind kind = KindOfPath(path);
    if (single) {
        if (kind != PathKind::File) return text::InvalidFile;
    } else if (kind != PathKind::Folder) {
        return text::InvalidFolder;
    }
    return {};
}

std::u16string InfoText(const LyricInfo& info) {
    std::u16string text(text::TitleLabel);
    text += info.title;
    text += u", ";
    text += text::ArtistLabel;
    text += info.artist;
    text += u", ";
    text += text::AlbumLabel;
    text += info.album;
    return text;
}

std::u16string DisplayName(const fs::path& path) {
    // Only the name is decoded: a folder name that is not valid UTF-8 cannot run into it.
    const PathParts parts(NativeSeparator + PathText(path.filename()));
    return parts.Span(PathParts::BaseName, nullptr, PathParts::BaseName) +
           parts.Span(PathParts::Extension, nullptr, PathParts::Extension);
}

int RunDownloadJob(JobState& state, JobHost& host, AudioChecksummer& checksummer,
                   LyricQuery& query) {
    const bool folderMode = state.mode == DownloadMode::Folder;
    const std::vector<fs::path> files =
        folderMode ? CollectMp3Files(state.path) : std::vector<fs::path>{state.path};
    const auto isRunning = [&state] { return !Stopped(state); };
    // A failure is a log row naming the file in Folder mode, a tip of its own in SingleFile mode.
    const auto fail = [&](JobEventKind kind, std::u16string_view row, std::u16string_view tip,
                          const fs::path& path, std::string cause) {
        host.JobMessage(
            {kind, folderMode ? FileMessage(row, path) : std::u16string(tip), std::move(cause)},
            false);
    };

    for (const fs::path& path : files) {
        if (Stopped(state)) return 0;
        LyricInfo info = folderMode ? LyricInfo{} : state.heldInfo;
        bool success = true;

        if (info.lyric.empty()) {
            AudioChecksum checksum;
            const ChecksumStatus status = checksummer.Compute(path, checksum);
            if (status != ChecksumStatus::Ok) {
                success = false;
                fail(JobEventKind::ChecksumFailed, text::ChecksumFailed, text::ChecksumFailedTip,
                     path, ChecksumCause(checksummer, status));
            } else {
                const std::string request =
                    LyricQuery::BuildRequest(std::string_view(checksum.data(), 32));
                if (folderMode)
                    host.JobMessage(
                        {JobEventKind::QueryStarted, FileMessage(text::QueryStarted, path), {}},
                        false);
                const QueryResult answer = query.Execute(request, info, isRunning);
                // A query that a stop request cut short was not run: it says nothing about the
                // service, so the job ends as at its next check point.
                if (answer.status == QueryStatus::Stopped) return 0;
                if (answer.status != QueryStatus::Found) {
                    success = false;
                    fail(JobEventKind::ServerFailed, text::ServerFailed, text::ServerFailedTip,
                         path, answer.Cause());
                } else if (!folderMode) {
                    state.heldInfo = info;
                    host.SetInfoFields(info.title, info.artist, info.album);
                }
            }
        }

        if (success) {
            if (Stopped(state)) return 0;
            ComposeLyricRows(info.lyric, state.includeLine, host.Lyrics(), state.lrcBody);
        }
        if (Stopped(state)) return 0;
        if (success && folderMode && !state.lrcBody.empty()) {
            const int encoding = host.EncodingSetting();
            const WriteResult written = WriteLrcFile(path, info, state.lrcBody, encoding);
            host.JobMessage({JobEventKind::InfoLogged, InfoText(info), {}}, true);
            if (written) {
                host.JobMessage({JobEventKind::LrcSaved, FileMessage(text::LrcSaved, path), {}},
                                true);
            } else {
                host.JobMessage({JobEventKind::LrcSaveFailed,
                                 FileMessage(text::LrcSaveFailed, path), written.cause},
                                true);
            }
            state.lrcBody.clear();
        }
        if (!success && !folderMode) return 0;
    }
    return 1;
}

}  // namespace quillon
