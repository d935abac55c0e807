// quillon-lyricsd reading an LRC file of its catalogue: decoding, then the header tags and
// timed lines, then the answer it builds from them as the client reads it.

#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "lyrics/lrcreader.h"
#include "lyricsd/soap.h"
#include "service/lyricinfo.h"
#include "service/lyricquery.h"
#include "text/textconv.h"

namespace {

using namespace quillon;
using namespace quillon::lyricsd;

// The code points of `text` read by the C library's converter, which refuses overlong forms,
// surrogates and values above U+10FFFF; false for anything it refuses or cannot take whole. The
// code points must also convert back to the very same bytes.
bool ToCodePoints(std::string_view text, std::u32string& out) {
    static const iconv_t in = iconv_open("UTF-32LE", "UTF-8");
    static const iconv_t back = iconv_open("UTF-8", "UTF-32LE");
    QUILLON_FUZZ_CHECK(in != reinterpret_cast<iconv_t>(-1) && back != reinterpret_cast<iconv_t>(-1),
                       "no UTF-8 converter in the C library");
    std::string units(text.size() * 4, '\0');
    char* from = const_cast<char*>(text.data());
    std::size_t fromLeft = text.size();
    char* to = units.data();
    std::size_t toLeft = units.size();
    iconv(in, nullptr, nullptr, nullptr, nullptr);
    if (iconv(in, &from, &fromLeft, &to, &toLeft) == static_cast<std::size_t>(-1)) return false;
    units.resize(units.size() - toLeft);

    out.clear();
    for (std::size_t k = 0; k + 4 <= units.size(); k += 4) {
        char32_t c = 0;
        for (int b = 3; b >= 0; --b) c = (c << 8) | static_cast<unsigned char>(units[k + b]);
        out.push_back(c);
    }

    std::string again(text.size(), '\0');
    from = units.data();
    fromLeft = units.size();
    to = again.data();
    toLeft = again.size();
    iconv(back, nullptr, nullptr, nullptr, nullptr);
    if (iconv(back, &from, &fromLeft, &to, &toLeft) == static_cast<std::size_t>(-1)) return false;
    return toLeft == 0 && again == text;
}

// True for strict UTF-8 that an XML document takes as it is and that holds no control
// character other than tab, CR and LF.
bool IsCleanText(std::string_view text) {
    std::u32string points;
    if (!ToCodePoints(text, points)) return false;
    for (const char32_t c : points) {
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
        if ((c >= 0x7F && c < 0xA0) || c == 0xFFFE || c == 0xFFFF) return false;
    }
    return true;
}

bool IsTrimmedLine(std::string_view s) {
    if (s.find_first_of("\r\n") != std::string_view::npos) return false;
    if (s.empty()) return true;
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    return !blank(s.front()) && !blank(s.back());
}

// What the client should make of a text the service sent: the very same characters, in UTF-16.
// `text` is clean UTF-8.
std::u16string AsClientReads(std::string_view text) {
    std::u32string points;
    QUILLON_FUZZ_CHECK(ToCodePoints(text, points), "a song text that is not clean UTF-8");
    std::u16string out;
    for (const char32_t c : points) {
        if (c > 0xFFFF) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

void CheckAnswer(const LrcSong& song) {
    const std::string answer = BuildGetLyric5Response(&song);
    LyricInfo info;
    ExtractLyricInfo(Utf8ToWide(answer), info);
    QUILLON_FUZZ_CHECK(info.title == AsClientReads(song.title), "the client reads another title");
    QUILLON_FUZZ_CHECK(info.artist == AsClientReads(song.artist),
                       "the client reads another artist");
    QUILLON_FUZZ_CHECK(info.album == AsClientReads(song.album), "the client reads another album");

    // The lines come back separated by line feeds; a line that holds "<br>" reads as a break
    // there too, as with any service.
    std::u16string lyric;
    for (std::size_t i = 0; i < song.lines.size(); ++i) {
        if (i != 0) lyric += u'\n';
        const std::u16string line = AsClientReads(song.lines[i]);
        constexpr std::u16string_view escapedBreak = u"<br>";
        std::size_t from = 0;
        for (std::size_t at = line.find(escapedBreak); at != std::u16string::npos;
             at = line.find(escapedBreak, from)) {
            lyric.append(line, from, at - from).push_back(u'\n');
            from = at + escapedBreak.size();
        }
        lyric.append(line, from);
    }
    QUILLON_FUZZ_CHECK(info.lyric == lyric, "the client reads other lyric lines");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = DecodeLrcText(bytes);
    QUILLON_FUZZ_CHECK(IsCleanText(text), "decoded text that is not clean UTF-8");
    // Clean UTF-8 without a byte order mark is taken as it is.
    if (IsCleanText(bytes) && !bytes.starts_with("\xEF\xBB\xBF")) {
        QUILLON_FUZZ_CHECK(text == bytes, "clean UTF-8 changed in decoding");
    }

    const LrcSong song = ParseLrc(text);
    for (const std::string& line : song.lines) {
        QUILLON_FUZZ_CHECK(StartsWithTimeTag(line), "a kept line without a time tag");
        QUILLON_FUZZ_CHECK(IsTrimmedLine(line), "a kept line with a line end or blanks around");
        QUILLON_FUZZ_CHECK(text.find(line) != std::string::npos, "a line not from the text");
    }
    for (const std::string* value : {&song.title, &song.artist, &song.album}) {
        QUILLON_FUZZ_CHECK(IsTrimmedLine(*value), "a header value with a line end or blanks");
        QUILLON_FUZZ_CHECK(text.find(*value) != std::string::npos,
                           "a header value not from the text");
    }
    CheckAnswer(song);
    return 0;
}
