#include "pipeline/job.h"

#include "audio/checksum.h"
#include "pipeline/folderrun.h"
#include "pipeline/lrc.h"
#include "pipeline/messages.h"
#include "service/lyricquery.h"
#include "text/textconv.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

bool Stopped(const JobState& state) {
    return state.isRunning.load() == 0;
}

void ListFolderInto(const fs::path::string_type& dir, const std::u16string& relative,
                    bool recursive, std::vector<ListedSong>& songs) {
    const FolderListing listing = ListFolder(dir);
    for (const fs::path& song : listing.songs)
        songs.push_back(
            {song, recursive ? relative + PathText(song.filename()) : DisplayName(song)});
    if (!recursive) return;
    for (const auto& name : listing.folders) {
        const fs::path::string_type sub = dir + name + fs::path::preferred_separator;
        const std::u16string below = relative + PathText(fs::path(name)) + NativeSeparator;
        if (!ListFolder(sub).readable) {
            songs.push_back({fs::path(sub), below.substr(0, below.size() - 1), true});
            continue;
        }
        ListFolderInto(sub, below, true, songs);
    }
}

}  // namespace

std::u16string FileMessage(std::u16string_view what, std::u16string_view name) {
    std::u16string text(what);
    text += u" (";
    text += name;
    text += u')';
    return text;
}

JobEvent SavedAsUtf16Event(std::u16string_view lrcName, std::size_t lost) {
    std::u16string what = text::AnsiLost;
    what += Utf8ToWide(std::to_string(lost));
    what += text::SavedAsUtf16;
    return {JobEventKind::SavedAsUtf16, FileMessage(what, lrcName), {}};
}

std::u16string LrcName(const ListedSong& song) {
    return WithoutExtension(std::u16string_view(song.name)) + u".lrc";
}

JobEvent RunStoppedEvent(int notReached) {
    std::u16string text = text::RunStopped;
    text += u" (남은 곡 " + Utf8ToWide(std::to_string(notReached)) + u"곡)";
    return {JobEventKind::RunStopped, std::move(text), {}};
}

std::vector<fs::path> CollectMp3Files(const fs::path& folder) {
    // The separator goes on whether or not the folder already ends with one.
    return ListFolder(folder.native() + fs::path::preferred_separator).songs;
}

std::vector<ListedSong> ListSongs(const fs::path& folder, bool recursive) {
    std::vector<ListedSong> songs;
    ListFolderInto(folder.native() + fs::path::preferred_separator, {}, recursive, songs);
    return songs;
}

void JobHost::AppendLyricRows(const std::vector<LyricView::Row>& rows) {
    Lyrics().AppendRows(rows);
}

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

int RunDownloadJob(JobState& state, JobHost& host, AudioChecksummer& checksummer, LyricQuery& query,
                   const QueryMaker& makeQuery) {
    const bool folderMode = state.mode == DownloadMode::Folder;
    std::vector<ListedSong> songs;
    JobProgress progress;
    const auto started = std::chrono::steady_clock::now();
    if (folderMode) {
        for (ListedSong& song : ListSongs(state.path, state.options.recursive)) {
            // A song whose LRC file is there already is passed over without a word.
            std::error_code ec;
            if (!song.unreadableFolder && state.options.skipExisting &&
                fs::exists(LrcPathFor(song.path), ec)) {
                ++progress.skipped;
                continue;
            }
            progress.total += song.unreadableFolder ? 0 : 1;
            songs.push_back(std::move(song));
        }
    } else {
        songs.push_back({state.path, DisplayName(state.path)});
    }
    // A folder run ends with its summary, however it ends.
    const auto finish = [&](int result) {
        if (!folderMode) return result;
        progress.finished = true;
        progress.stopped = result == 0;
        if (progress.stopped) host.JobMessage(RunStoppedEvent(progress.NotReached()), false);
        progress.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        host.JobProgressed(progress);
        return result;
    };
    if (folderMode && state.options.concurrency > 1 && makeQuery)
        return finish(RunConcurrentFolder(state, host, songs, progress, makeQuery));

    const auto isRunning = [&state] { return !Stopped(state); };
    // A failure is a log row naming the file in Folder mode, a tip of its own in SingleFile mode.
    const auto fail = [&](JobEventKind kind, std::u16string_view row, std::u16string_view tip,
                          const ListedSong& song, std::string cause) {
        host.JobMessage({kind, folderMode ? FileMessage(row, song.name) : std::u16string(tip),
                         std::move(cause)},
                        false);
        ++progress.failed;
    };

    for (const ListedSong& song : songs) {
        if (Stopped(state)) return finish(0);
        if (song.unreadableFolder) {
            host.JobMessage({JobEventKind::FolderUnreadable,
                             FileMessage(text::FolderUnreadable, song.name),
                             {}},
                            false);
            continue;
        }
        const fs::path& path = song.path;
        LyricInfo info = folderMode ? LyricInfo{} : state.heldInfo;
        bool success = true;

        AudioChecksum checksum{};
        if (info.lyric.empty()) {
            const ChecksumStatus status = checksummer.Compute(path, checksum);
            if (status != ChecksumStatus::Ok) {
                success = false;
                fail(JobEventKind::ChecksumFailed, text::ChecksumFailed, text::ChecksumFailedTip,
                     song, ChecksumCause(checksummer, status));
            } else {
                const std::string request =
                    LyricQuery::BuildRequest(std::string_view(checksum.data(), 32));
                if (folderMode)
                    host.JobMessage({JobEventKind::QueryStarted,
                                     FileMessage(text::QueryStarted, song.name),
                                     {}},
                                    false);
                // A folder run gives a busy service a second and third chance.
                QuerySlots oneAtATime;
                const QueryResult answer =
                    folderMode ? AskPolitely(query, request, info, isRunning, oneAtATime)
                               : query.Execute(request, info, isRunning);
                // A query that a stop request cut short was not run: it says nothing about the
                // service, so the job ends as at its next check point.
                if (answer.status == QueryStatus::Stopped) return finish(0);
                if (answer.status != QueryStatus::Found) {
                    success = false;
                    fail(JobEventKind::ServerFailed, text::ServerFailed, text::ServerFailedTip,
                         song, answer.Cause());
                } else if (!folderMode) {
                    state.heldInfo = info;
                    host.SetInfoFields(info.title, info.artist, info.album);
                }
            }
        }

        if (success) {
            if (Stopped(state)) return finish(0);
            // Laid out on this thread and handed over in one go: one call for the song rather
            // than a wait for the front end at every row.
            MemoryLyricView rows;
            ComposeLyricRows(info.lyric, state.includeLine, rows, state.lrcBody);
            host.AppendLyricRows(rows.rows);
        }
        if (Stopped(state)) return finish(0);
        if (success && folderMode && !state.lrcBody.empty()) {
            const std::u16string lrcText = LrcFileText(info, state.lrcBody);
            const LosslessChoice chosen = LosslessEncoding(lrcText, host.EncodingSetting());
            const WriteResult written =
                WriteTextFileAtomically(LrcPathFor(path), lrcText, chosen.encoding);
            host.JobMessage({JobEventKind::InfoLogged, InfoText(info), {}}, true);
            if (written) {
                ++progress.saved;
                host.JobMessage(
                    {JobEventKind::LrcSaved, FileMessage(text::LrcSaved, song.name), {}}, true);
                if (chosen.lost > 0) {
                    ++progress.savedAsUtf16;
                    host.JobMessage(SavedAsUtf16Event(LrcName(song), chosen.lost), true);
                }
                EmbedInTag(state.options, host, song, lrcText,
                           std::string_view(checksum.data(), 32));
            } else {
                ++progress.failed;
                host.JobMessage({JobEventKind::LrcSaveFailed,
                                 FileMessage(text::LrcSaveFailed, song.name), written.cause},
                                true);
            }
            state.lrcBody.clear();
        }
        if (!success && !folderMode) return 0;
        ++progress.done;
        if (folderMode) host.JobProgressed(progress);
    }
    return finish(1);
}

}  // namespace quillon
