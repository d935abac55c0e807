#include "lyricsd/scanner.h"

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <map>
#include <system_error>
#include <utility>

#include "audio/checksum.h"
#include "lyrics/lrcreader.h"
#include "tagging/songtags.h"

namespace fs = std::filesystem;

namespace quillon::lyricsd {
namespace {

constexpr std::size_t BatchSize = 256;  // songs stored in one transaction

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

struct FileState {
    bool exists = false;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
};

FileState StateOf(const fs::path& file) {
    struct stat info {};
    if (file.empty() || ::stat(file.c_str(), &info) != 0) return {};
    return {true, static_cast<std::int64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

// A step of a 64-bit mix: every bit of the input reaches every bit of the result.
std::uint64_t Mix(std::uint64_t hash, std::uint64_t value) {
    hash ^= value + 0x9E3779B97F4A7C15ull + (hash << 6) + (hash >> 2);
    hash ^= hash >> 31;
    hash *= 0xBF58476D1CE4E5B9ull;
    return hash ^ (hash >> 29);
}

std::int64_t LyricsStamp(const SongFiles& files) {
    std::uint64_t hash = 0;
    bool any = false;
    for (const fs::path* file : {&files.lrc, &files.txt}) {
        const FileState state = StateOf(*file);
        hash = Mix(hash, state.exists ? 1 : 2);
        if (!state.exists) continue;
        any = true;
        hash = Mix(Mix(hash, static_cast<std::uint64_t>(state.size)),
                   static_cast<std::uint64_t>(state.modifiedNs));
    }
    // 0 stands for "no lyric file"; a stamp never comes out as 0 by chance.
    return any ? static_cast<std::int64_t>(hash | 1) : 0;
}

// The bytes of a file of at most `limit` bytes; nothing when it is larger or unreadable.
std::optional<std::string> ReadSmallFile(const fs::path& file, std::uintmax_t limit) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    if (error || size > limit) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return std::nullopt;
    return bytes;
}

// A lyric file's text as UTF-8 with LF line ends. With `textOnly`, nothing for a file that does
// not look like text (a NUL byte without a UTF-16 byte order mark): a `.txt` may be anything.
std::optional<std::string> LyricText(const fs::path& file, std::uintmax_t limit, bool textOnly) {
    const std::optional<std::string> bytes = ReadSmallFile(file, limit);
    if (!bytes) return std::nullopt;
    const bool utf16 = bytes->size() >= 2 && ((bytes->at(0) == '\xFF' && bytes->at(1) == '\xFE') ||
                                              (bytes->at(0) == '\xFE' && bytes->at(1) == '\xFF'));
    // Without a byte order mark a NUL byte says it is no text of ours.
    if (textOnly && !utf16 && bytes->find('\0') != std::string::npos) return std::nullopt;
    std::string text = DecodeLrcText(*bytes);
    std::string lines;
    lines.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            lines += text[i];
        } else {
            lines += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        }
    }
    return lines;
}

}  // namespace

bool ReadSong(const SongFiles& files, SongRecord& song, std::string& problem) {
    const SongTags tags = ReadSongTags(files.song);
    if (!tags.readable) {
        problem = "not audio of a known format, or unreadable";
        return false;
    }
    song.path = files.song.string();
    song.title = tags.title;
    song.artist = tags.artist;
    song.album = tags.album;
    song.duration = tags.duration;
    if (LowerAscii(files.song.extension().string()) == ".mp3") {
        // An MP3 file is served by its audio checksum; one without audio frames is no song.
        AudioChecksummer checksummer;
        AudioChecksum checksum{};
        const ChecksumStatus status = checksummer.Compute(files.song, checksum);
        if (status != ChecksumStatus::Ok) {
            problem = ChecksumCause(checksummer, status);
            return false;
        }
        song.checksum.assign(checksum.data(), 32);
    }

    std::optional<std::string> untimedText;
    // An LRC file beside the song is its synced lyric, whatever lines it holds.
    if (!files.lrc.empty()) {
        if (auto text = LyricText(files.lrc, MaxLrcFileSize, false)) song.synced = std::move(*text);
    }
    if (!files.txt.empty()) {
        if (auto text = LyricText(files.txt, MaxTextLyricSize, true)) {
            if (ParseLrc(*text).lines.empty())
                untimedText = std::move(*text);
            else if (!song.synced)
                song.synced = std::move(*text);
        }
    }
    if (song.synced) {
        // The lyric file's own header names the song first.
        const LrcSong header = ParseLrc(*song.synced);
        if (!header.title.empty()) song.title = header.title;
        if (!header.artist.empty()) song.artist = header.artist;
        if (!header.album.empty()) song.album = header.album;
    } else if (!tags.syncedLyrics.empty()) {
        // The tags name the song first, the lyric's header where they say nothing.
        song.synced = tags.syncedLyrics;
        const LrcSong header = ParseLrc(*song.synced);
        if (song.title.empty()) song.title = header.title;
        if (song.artist.empty()) song.artist = header.artist;
        if (song.album.empty()) song.album = header.album;
    }
    if (!tags.plainLyrics.empty())
        song.plain = tags.plainLyrics;
    else if (untimedText && !untimedText->empty())
        song.plain = std::move(untimedText);
    return true;
}

Scanner::Scanner(std::vector<fs::path> folders, Store& catalogue, LogFunction logger)
    : roots(std::move(folders)), store(catalogue), log(std::move(logger)) {}

ScanSummary Scanner::Run(const std::atomic<bool>& stop) {
    ScanSummary summary;
    summary.started = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    store.BeginScan(summary.started);
    std::unordered_map<std::string, KnownFile> known = store.KnownFiles();

    // Every song of every folder with the lyric files beside it, and the folders that could
    // not be listed (their songs stay).
    std::vector<SongFiles> songs;
    std::vector<std::string> unlisted;
    for (const fs::path& root : roots) {
        std::error_code error;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied,
                                            error);
        if (error) {
            unlisted.push_back(root.string());
            summary.problems.push_back(root.string() + ": " + error.message());
            log("cannot list " + root.string() + ": " + error.message());
            continue;
        }
        std::map<std::string, SongFiles> byStem;  // folder + lower-cased stem
        for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
            if (error) {
                summary.problems.push_back(root.string() + ": " + error.message());
                break;
            }
            std::error_code typeError;
            if (!it->is_regular_file(typeError)) continue;
            const fs::path& file = it->path();
            const std::string key =
                (file.parent_path() / LowerAscii(file.stem().string())).string();
            const std::string extension = LowerAscii(file.extension().string());
            if (IsSongFile(file)) {
                SongFiles& entry = byStem[key + "\n" + extension];
                entry.song = file;
            } else if (extension == ".lrc" || extension == ".txt") {
                // Paired below with every song of the same stem.
                SongFiles& lyric = byStem[key + "\n"];
                (extension == ".lrc" ? lyric.lrc : lyric.txt) = file;
            }
        }
        for (auto& [key, entry] : byStem) {
            if (entry.song.empty()) continue;
            const auto lyric = byStem.find(key.substr(0, key.find('\n') + 1));
            if (lyric != byStem.end()) {
                entry.lrc = lyric->second.lrc;
                entry.txt = lyric->second.txt;
            }
            songs.push_back(std::move(entry));
        }
    }

    std::optional<Store::Batch> batch;
    std::size_t inBatch = 0;
    const auto commitIfFull = [&](bool force) {
        if (!batch || (inBatch < BatchSize && !force)) return;
        if (!batch->Commit()) log("cannot store a batch of songs; the next scan tries again");
        batch.reset();
        inBatch = 0;
    };
    for (const SongFiles& files : songs) {
        if (stop.load()) break;
        const std::string path = files.song.string();
        const FileState state = StateOf(files.song);
        const std::int64_t stamp = LyricsStamp(files);
        const auto seen = known.find(path);
        const bool wasKnown = seen != known.end();
        const bool same = wasKnown && seen->second.size == state.size &&
                          seen->second.modifiedNs == state.modifiedNs &&
                          seen->second.lyricsStamp == stamp;
        if (wasKnown) known.erase(seen);
        if (same) {
            ++summary.unchanged;
            continue;
        }
        if (const auto bad = unreadable.find(path);
            bad != unreadable.end() && bad->second.size == state.size &&
            bad->second.modifiedNs == state.modifiedNs && bad->second.lyricsStamp == stamp)
            continue;
        SongRecord song;
        std::string problem;
        ++songsRead;
        if (!ReadSong(files, song, problem)) {
            unreadable[path] = {0, state.size, state.modifiedNs, stamp};
            summary.problems.push_back(path + ": " + problem);
            log("cannot read " + path + ": " + problem);
            // A song that was stored and can no longer be read leaves the catalogue.
            if (wasKnown) {
                if (!batch) batch.emplace(store);
                batch->Remove(path);
                ++summary.removed;
                commitIfFull(++inBatch >= BatchSize);
            }
            continue;
        }
        unreadable.erase(path);
        song.size = state.size;
        song.modifiedNs = state.modifiedNs;
        song.lyricsStamp = stamp;
        (wasKnown ? summary.changed : summary.added) += 1;
        if (!batch) batch.emplace(store);
        batch->Put(song);
        commitIfFull(++inBatch >= BatchSize);
    }
    // What is left was not seen: gone, unless its catalogue folder could not be listed.
    if (!stop.load()) {
        for (const auto& [path, file] : known) {
            bool kept = false;
            for (const std::string& root : unlisted)
                kept |= path.compare(0, root.size(), root) == 0;
            if (kept) continue;
            if (!batch) batch.emplace(store);
            batch->Remove(path);
            ++summary.removed;
            commitIfFull(++inBatch >= BatchSize);
        }
    }
    commitIfFull(true);
    summary.finished = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    store.EndScan(summary);
    return summary;
}

}  // namespace quillon::lyricsd
