// Reading the lyric back from a song's ID3v2 tag, as the command line and the lyrics service do
// (ReadEmbeddedLyrics, through TagLib). The input describes the tag's frames; the target writes
// the tag before two MPEG audio frames into a scratch file and reads that as a song.
//
// Bit 0 of byte 0 makes the tag v2.3 instead of v2.4. Then come frames, each from a byte k:
// - k 0x80-0xFF: a frame whose id is chosen by k's low three bits (USLT, SYLT, TIT2, TPE1, TALB,
//   USLT, SYLT, COMM) and whose body is as many of the following input bytes as the next byte
//   says, as they are;
// - k 0x00-0x7F: a frame made here. k % 5 chooses USLT, SYLT, TIT2, TPE1 or TALB; k / 5 % 4 the
//   text encoding (Latin-1, UTF-16 with byte order mark, UTF-16 BE, UTF-8); k / 20 % 2 a lyric
//   frame's language ("kor", "eng") and a SYLT frame's time unit (milliseconds, MPEG frames). A
//   text is a count byte and as many bytes, each one character of the small alphabet LRC text is
//   made of; a SYLT frame is a count byte (of at most 7 entries) and for each entry four bytes of
//   time, big-endian, and a text.
// With made frames only, what a player is to find is worked out here from the frames and
// compared whole; frames as they come must give a reading that holds together.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "lrc_model.h"
#include "scratch_file.h"
#include "tagging/lyrictag.h"

namespace {

using namespace quillon;
using namespace quillon::fuzzing;

class Input {
public:
    Input(const std::uint8_t* bytes, std::size_t count) : data(bytes), size(count) {}
    bool Empty() const { return at >= size; }
    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    std::string_view Take(std::size_t count) {
        count = std::min(count, size - at);
        const std::string_view taken(reinterpret_cast<const char*>(data + at), count);
        at += count;
        return taken;
    }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
};

constexpr char32_t Alphabet[] = {
    U'[', U']', U':', U'.', U'0',  U'1',  U'2',  U'3', U'4',      U'5',      U'6',
    U'7', U'8', U'9', U' ', U'\r', U'\n', U'\t', U'a', U'\u00E9', U'\uAC00', U'\U0001F600'};

enum Encoding { Latin1 = 0, Utf16 = 1, Utf16BE = 2, Utf8 = 3 };

// A text of the alphabet, as it is to read back: what Latin-1 cannot hold becomes "?".
std::u32string TextFrom(Input& in, int encoding) {
    std::u32string text;
    for (std::size_t count = in.Byte(); count > 0 && !in.Empty(); --count) {
        char32_t c = Alphabet[in.Byte() % std::size(Alphabet)];
        if (encoding == Latin1 && c > 0xFF) c = U'?';
        text.push_back(c);
    }
    return text;
}

std::u16string Utf16Of(std::u32string_view text) {
    std::u16string out;
    for (const char32_t c : text) {
        if (c > 0xFFFF) {
            out.push_back(static_cast<char16_t>(0xD800 | ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 | ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

// The text's bytes in the frame's encoding, with the terminator a field before another takes.
std::string Encoded(std::u32string_view text, int encoding, bool terminated) {
    std::string out;
    if (encoding == Latin1) {
        for (const char32_t c : text) out.push_back(static_cast<char>(c));
    } else if (encoding == Utf8) {
        for (const char32_t c : text) {
            if (c < 0x80) {
                out.push_back(static_cast<char>(c));
            } else if (c < 0x800) {
                out.push_back(static_cast<char>(0xC0 | (c >> 6)));
                out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            } else if (c < 0x10000) {
                out.push_back(static_cast<char>(0xE0 | (c >> 12)));
                out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            } else {
                out.push_back(static_cast<char>(0xF0 | (c >> 18)));
                out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            }
        }
    } else {
        if (encoding == Utf16 && !text.empty()) out += "\xFF\xFE";
        for (const char16_t unit : Utf16Of(text)) {
            const char high = static_cast<char>(unit >> 8);
            const char low = static_cast<char>(unit & 0xFF);
            out.push_back(encoding == Utf16 ? low : high);
            out.push_back(encoding == Utf16 ? high : low);
        }
    }
    if (terminated) out.append(encoding == Utf16 || encoding == Utf16BE ? 2 : 1, '\0');
    return out;
}

// What a made frame holds, as a player is to read it.
struct MadeFrame {
    std::string id;
    bool inFrames = false;  // a SYLT frame timed in MPEG frames
    std::u32string text;
    std::vector<std::pair<std::uint32_t, std::u32string>> entries;
};

std::string FrameBody(Input& in, std::uint8_t kind, MadeFrame& made) {
    static const char* const ids[] = {"USLT", "SYLT", "TIT2", "TPE1", "TALB"};
    made.id = ids[kind % 5];
    const int encoding = kind / 5 % 4;
    const bool other = kind / 20 % 2 != 0;
    std::string body(1, static_cast<char>(encoding));
    if (made.id == "USLT" || made.id == "SYLT") body += other ? "eng" : "kor";
    if (made.id == "SYLT") {
        made.inFrames = other;
        body.push_back(other ? 1 : 2);  // MPEG frames, milliseconds
        body.push_back(1);              // lyrics
    }
    if (made.id == "USLT" || made.id == "SYLT") body += Encoded(U"", encoding, true);
    if (made.id != "SYLT") {
        made.text = TextFrom(in, encoding);
        return body + Encoded(made.text, encoding, false);
    }
    for (int count = in.Byte() % 8; count > 0 && !in.Empty(); --count) {
        std::uint32_t time = 0;
        for (int b = 0; b < 4; ++b) time = time << 8 | in.Byte();
        made.entries.emplace_back(time, TextFrom(in, encoding));
        body += Encoded(made.entries.back().second, encoding, true);
        for (int b = 3; b >= 0; --b) body.push_back(static_cast<char>(time >> (8 * b)));
    }
    return body;
}

// A 28-bit size as four bytes of seven bits each.
std::string Syncsafe(std::size_t size) {
    std::string out;
    for (int b = 3; b >= 0; --b) out.push_back(static_cast<char>(size >> (7 * b) & 0x7F));
    return out;
}

std::string FrameHeader(std::string_view id, std::size_t size, bool v23) {
    std::string header(id);
    if (v23) {
        for (int b = 3; b >= 0; --b) header.push_back(static_cast<char>(size >> (8 * b)));
    } else {
        header += Syncsafe(size);
    }
    return header + std::string(2, '\0');
}

// Two MPEG-1 Layer III frames at 128 kbit/s and 44.1 kHz, 417 bytes each.
std::string Audio() {
    std::string frame(417, '\0');
    frame.replace(0, 4, "\xFF\xFB\x90\x00", 4);
    return frame + frame;
}

std::u16string CrLfToLf(std::u16string text) {
    for (std::size_t at = text.find(u"\r\n"); at != std::u16string::npos;
         at = text.find(u"\r\n", at))
        text.erase(at, 1);
    return text;
}

bool HasTimedLine(std::u16string_view lrc) {
    for (const std::u16string& line : LinesOf(lrc))
        if (TagAt(std::u16string_view(line)).timed) return true;
    return false;
}

std::u16string TimeTagOf(std::uint32_t ms) {
    const auto two = [](std::uint32_t n) {
        std::string digits = std::to_string(n);
        return digits.size() < 2 ? "0" + digits : digits;
    };
    const std::string tag =
        "[" + two(ms / 60000) + ":" + two(ms / 1000 % 60) + "." + two(ms % 1000 / 10) + "]";
    return std::u16string(tag.begin(), tag.end());
}

// What a player finds in the made frames: the first USLT text with a timed line (CR LF made
// LF); else the first SYLT frame in milliseconds with entries, each entry's text one LRC line at
// its time, or one line for each piece between its line ends; else the first USLT text.
EmbeddedLyrics Expected(const std::vector<MadeFrame>& frames) {
    EmbeddedLyrics expected;
    for (const auto& [id, field] :
         {std::pair{"TIT2", &expected.title}, std::pair{"TPE1", &expected.artist},
          std::pair{"TALB", &expected.album}}) {
        for (const MadeFrame& frame : frames) {
            if (frame.id != id) continue;
            *field = Utf16Of(frame.text);
            break;
        }
    }
    std::u16string untimed;
    bool haveUntimed = false;
    for (const MadeFrame& frame : frames) {
        if (frame.id != "USLT") continue;
        const std::u16string text = CrLfToLf(Utf16Of(frame.text));
        if (HasTimedLine(text)) {
            expected.found = expected.timed = true;
            expected.lrc = text;
            return expected;
        }
        if (!haveUntimed) untimed = text;
        haveUntimed = true;
    }
    for (const MadeFrame& frame : frames) {
        if (frame.id != "SYLT" || frame.inFrames || frame.entries.empty()) continue;
        expected.found = expected.timed = true;
        for (const auto& [ms, text] : frame.entries) {
            std::vector<std::u16string> pieces;
            std::u16string piece;
            for (const char16_t c : Utf16Of(text) + u'\n') {
                if (c != u'\r' && c != u'\n') {
                    piece.push_back(c);
                } else if (!piece.empty()) {
                    pieces.push_back(std::move(piece));
                    piece.clear();
                }
            }
            if (pieces.empty()) pieces.emplace_back();
            for (const std::u16string& line : pieces) expected.lrc += TimeTagOf(ms) + line + u'\n';
        }
        return expected;
    }
    expected.found = haveUntimed;
    expected.lrc = untimed;
    return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ScratchFile scratch;
    static const std::string audio = Audio();
    Input in(data, size);
    const bool v23 = (in.Byte() & 1) != 0;
    std::string frames;
    std::vector<MadeFrame> made;
    bool allMade = true;
    while (!in.Empty()) {
        const std::uint8_t kind = in.Byte();
        if (kind & 0x80) {
            static const char* const ids[] = {"USLT", "SYLT", "TIT2", "TPE1",
                                              "TALB", "USLT", "SYLT", "COMM"};
            const std::string_view body = in.Take(in.Byte());
            frames += FrameHeader(ids[kind & 7], body.size(), v23);
            frames += body;
            allMade = false;
        } else {
            MadeFrame frame;
            const std::string body = FrameBody(in, kind, frame);
            frames += FrameHeader(frame.id, body.size(), v23);
            frames += body;
            made.push_back(std::move(frame));
        }
    }
    const std::string song = std::string("ID3") + (v23 ? '\x03' : '\x04') + std::string(2, '\0') +
                             Syncsafe(frames.size()) + frames + audio;
    scratch.Fill(reinterpret_cast<const std::uint8_t*>(song.data()), song.size());

    const EmbeddedLyrics read = ReadEmbeddedLyrics(scratch.Path());
    QUILLON_FUZZ_CHECK(read.found == read.cause.empty(), "a lyric with a cause, or neither");
    QUILLON_FUZZ_CHECK(read.found || !read.timed, "a timed lyric that was not found");
    QUILLON_FUZZ_CHECK(read.found || read.lrc.empty(), "a lyric that was not found");
    QUILLON_FUZZ_CHECK(!read.timed || HasTimedLine(read.lrc), "a timed lyric without a time");
    if (!allMade) return 0;

    const EmbeddedLyrics expected = Expected(made);
    QUILLON_FUZZ_CHECK(read.title == expected.title, "another title");
    QUILLON_FUZZ_CHECK(read.artist == expected.artist, "another artist");
    QUILLON_FUZZ_CHECK(read.album == expected.album, "another album");
    QUILLON_FUZZ_CHECK(read.found == expected.found, "a lyric found where none is, or none");
    QUILLON_FUZZ_CHECK(read.timed == expected.timed, "a lyric timed where it is not, or not");
    QUILLON_FUZZ_CHECK(read.lrc == expected.lrc, "another lyric");
    return 0;
}
