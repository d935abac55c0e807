#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "pipeline/atomicwrite.h"

namespace quillon {

// Stores an LRC text in the song's ID3v2 tag: a USLT frame holding the text with LF line ends,
// and a SYLT frame (milliseconds, lyrics) with one entry per time-tagged line, both with an empty
// description, in the language that a lyric frame of the tag already names, else "kor"; frames
// of that language and description are replaced, others kept. A v2.3 tag stays v2.3 (text in
// UTF-16), a v2.4 tag stays v2.4 (UTF-8), and a file without one gets a v2.4 tag; the audio and an
// ID3v1 tag keep their bytes.
// The file is never left half-written: the tag goes into a copy beside it, which is synced and
// renamed over the song only when its audio checksum is the song's: `checksum`, the one the lyric
// was found by, when given (32 digits), else the song's as it is. The cause says why not.
WriteResult EmbedLyrics(const std::filesystem::path& song, std::u16string_view lrcText,
                        std::string_view checksum = {});

// The lyric a player finds in the song's tag: the USLT text when it has time-tagged lines, else
// the SYLT entries as LRC lines, else the USLT text; and the tag's title, artist and album.
struct EmbeddedLyrics {
    bool found = false;
    bool timed = false;  // the lyric has time-tagged lines
    std::u16string lrc;
    std::u16string title;
    std::u16string artist;
    std::u16string album;
    std::string cause;  // why nothing could be read
};
EmbeddedLyrics ReadEmbeddedLyrics(const std::filesystem::path& song);

}  // namespace quillon
