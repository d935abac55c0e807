#include "lyricsd/catalog.h"

#include <map>
#include <system_error>
#include <utility>
#include <vector>

#include "audio/checksum.h"
#ifdef QUILLON_HAVE_TAGLIB
#include "tagging/lyrictag.h"
#include "text/textconv.h"
#endif

namespace quillon::lyricsd {
namespace {

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The file's path without its extension, lower-cased in its last part, for pairing a song
// with its lyric file: "Song.MP3" and "song.lrc" belong together.
std::string PairKey(const std::filesystem::path& file) {
    return (file.parent_path() / LowerAscii(file.stem().string())).string();
}

// The lyric stored in the song's own tag, when it has time-tagged lines; title, artist and
// album from the tag's text frames, or where it has none from the lyric's header lines.
bool ReadTaggedSong(const std::filesystem::path& mp3, LrcSong& song) {
#ifdef QUILLON_HAVE_TAGLIB
    const EmbeddedLyrics tagged = ReadEmbeddedLyrics(mp3);
    if (!tagged.found || !tagged.timed) return false;
    song = ParseLrc(DecodeLrcText(WideToUtf8(tagged.lrc)));
    for (auto [field, text] :
         {std::pair{&song.title, &tagged.title}, std::pair{&song.artist, &tagged.artist},
          std::pair{&song.album, &tagged.album}})
        if (!text->empty()) *field = DecodeLrcText(WideToUtf8(*text));
    return !song.lines.empty();
#else
    (void)mp3, (void)song;
    return false;
#endif
}

}  // namespace

bool Catalog::Add(std::string checksum, LrcSong song) {
    return songs.emplace(std::move(checksum), std::move(song)).second;
}

const LrcSong* Catalog::Find(std::string_view checksum) const {
    const auto it = songs.find(std::string(checksum));
    return it == songs.end() ? nullptr : &it->second;
}

bool LoadCatalog(const std::filesystem::path& root, Catalog& catalog, CatalogReport& report,
                 const LogFunction& log) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return false;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
    if (ec) return false;

    // Sorted so that the order of indexing, and so which of two equal songs wins, does not
    // depend on the order the file system lists entries in.
    std::map<std::string, fs::path> mp3Files;
    std::map<std::string, fs::path> lrcFiles;
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        const fs::path& file = it->path();
        const std::string extension = LowerAscii(file.extension().string());
        if (extension == ".mp3") mp3Files.emplace(file.string(), file);
        if (extension == ".lrc") lrcFiles.emplace(PairKey(file), file);
    }
    if (ec) log("cannot list all of " + root.string() + ": " + ec.message());

    AudioChecksummer checksummer;
    for (const auto& [name, mp3] : mp3Files) {
        const auto lrc = lrcFiles.find(PairKey(mp3));
        LrcSong song;
        if (lrc == lrcFiles.end() && !ReadTaggedSong(mp3, song)) {
            ++report.withoutLrc;
            continue;
        }
        AudioChecksum checksum{};
        const ChecksumStatus status = checksummer.Compute(mp3, checksum);
        if (status != ChecksumStatus::Ok) {
            log("skipped " + mp3.string() + ": " + ChecksumStatusText(status));
            ++report.failed;
            continue;
        }
        std::string error;
        if (lrc != lrcFiles.end() && !ReadLrcFile(lrc->second, song, error)) {
            log("skipped " + lrc->second.string() + ": " + error);
            ++report.failed;
            continue;
        }
        std::string key(checksum.data(), 32);
        if (!catalog.Add(key, std::move(song))) {
            log("skipped " + mp3.string() + ": same audio as an earlier song (" + key + ")");
            ++report.failed;
            continue;
        }
        ++report.songs;
    }
    return true;
}

}  // namespace quillon::lyricsd
