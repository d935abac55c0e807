#include "tagging/songtags.h"

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tpropertymap.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "lyrics/lrcreader.h"
#include "tagging/lyrictag.h"
#include "text/textconv.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

constexpr std::array<std::string_view, 14> SongExtensions = {
    ".mp3", ".flac", ".ogg", ".oga", ".opus", ".m4a", ".mp4",
    ".wma", ".asf",  ".wav", ".aif", ".aiff", ".ape", ".wv"};

std::string Utf8(const TagLib::String& text) {
    // Valid UTF-8 whatever the tag held; a NUL inside a frame ends nothing here.
    std::string bytes = text.to8Bit(true);
    bytes.erase(std::remove(bytes.begin(), bytes.end(), '\0'), bytes.end());
    return WideToUtf8(Utf8ToWide(bytes));
}

// Line ends as LF: CR LF and a lone CR become LF.
std::string LfLines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool HasTimedLine(std::string_view text) {
    return !ParseLrc(text).lines.empty();
}

std::string LowerExtension(const fs::path& file) {
    std::string extension = file.extension().string();
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

}  // namespace

bool IsSongFile(const fs::path& file) {
    return std::find(SongExtensions.begin(), SongExtensions.end(), LowerExtension(file)) !=
           SongExtensions.end();
}

SongTags ReadSongTags(const fs::path& song) {
    SongTags tags;
    const TagLib::FileRef ref(song.c_str(), true, TagLib::AudioProperties::Fast);
    if (ref.isNull() || ref.file() == nullptr || !ref.file()->isValid()) return tags;
    tags.readable = true;
    if (const TagLib::Tag* tag = ref.tag()) {
        tags.title = Utf8(tag->title());
        tags.artist = Utf8(tag->artist());
        tags.album = Utf8(tag->album());
    }
    if (const TagLib::AudioProperties* audio = ref.audioProperties())
        tags.duration = audio->lengthInMilliseconds() / 1000.0;

    // The lyric tag of every format (USLT, LYRICS, ©lyr, WM/Lyrics) is LYRICS here.
    const TagLib::PropertyMap properties = ref.file()->properties();
    if (const auto lyrics = properties.find("LYRICS"); lyrics != properties.end()) {
        for (const TagLib::String& value : lyrics->second) {
            const std::string text = LfLines(Utf8(value));
            if (HasTimedLine(text)) {
                if (tags.syncedLyrics.empty()) tags.syncedLyrics = text;
            } else if (tags.plainLyrics.empty()) {
                tags.plainLyrics = text;
            }
        }
    }
    // MP3's synchronised lyric frame has no place in the property map.
    if (tags.syncedLyrics.empty() && LowerExtension(song) == ".mp3") {
        const EmbeddedLyrics embedded = ReadEmbeddedLyrics(song);
        if (embedded.found && embedded.timed) tags.syncedLyrics = WideToUtf8(embedded.lrc);
    }
    return tags;
}

}  // namespace quillon
