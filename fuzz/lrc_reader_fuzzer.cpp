// The LRC reader over any bytes: the text by its byte order mark, the time tag at every "[", the
// timed lines an LRC file keeps, and the entries of a synchronised lyric and their way back to
// LRC lines, each held against the format as lrc_model.h reads it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "lrc_model.h"
#include "lyrics/lrcreader.h"
#include "text/textconv.h"

namespace {

using namespace quillon;
using namespace quillon::fuzzing;

// True for well-formed UTF-8 (judged by the byte ranges of its sequences: 00-7F; C2-DF 80-BF;
// E0 A0-BF 80-BF; E1-EC or EE-EF then two of 80-BF; ED 80-9F 80-BF; F0 90-BF, F1-F3 80-BF or
// F4 80-8F, then two of 80-BF) without a control character other than tab, CR and LF (C0 and
// 7F, C2 80-9F) or U+FFFE and U+FFFF (EF BF BE-BF).
bool IsCleanUtf8(std::string_view bytes) {
    const auto in = [](unsigned char b, unsigned low, unsigned high) {
        return b >= low && b <= high;
    };
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto at = [&](std::size_t k) -> unsigned char {
            return i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0;
        };
        const unsigned char b0 = at(0);
        if (b0 <= 0x7F) {
            if ((b0 < 0x20 && b0 != '\t' && b0 != '\r' && b0 != '\n') || b0 == 0x7F) return false;
            i += 1;
        } else if (in(b0, 0xC2, 0xDF) && in(at(1), 0x80, 0xBF)) {
            if (b0 == 0xC2 && at(1) <= 0x9F) return false;
            i += 2;
        } else if (((b0 == 0xE0 && in(at(1), 0xA0, 0xBF)) ||
                    ((in(b0, 0xE1, 0xEC) || in(b0, 0xEE, 0xEF)) && in(at(1), 0x80, 0xBF)) ||
                    (b0 == 0xED && in(at(1), 0x80, 0x9F))) &&
                   in(at(2), 0x80, 0xBF)) {
            if (b0 == 0xEF && at(1) == 0xBF && at(2) >= 0xBE) return false;
            i += 3;
        } else if (((b0 == 0xF0 && in(at(1), 0x90, 0xBF)) ||
                    (in(b0, 0xF1, 0xF3) && in(at(1), 0x80, 0xBF)) ||
                    (b0 == 0xF4 && in(at(1), 0x80, 0x8F))) &&
                   in(at(2), 0x80, 0xBF) && in(at(3), 0x80, 0xBF)) {
            i += 4;
        } else {
            return false;
        }
    }
    return true;
}

// UTF-16 behind a byte order mark that holds only characters an LRC text keeps as they are
// reads as the same characters whichever byte order it comes in.
void CheckUtf16(std::string_view bytes) {
    const bool little = bytes.starts_with("\xFF\xFE");
    if (!little && !bytes.starts_with("\xFE\xFF")) return;
    std::u16string units;
    for (std::size_t k = 2; k + 1 < bytes.size(); k += 2) {
        const auto first = static_cast<unsigned char>(bytes[k]);
        const auto second = static_cast<unsigned char>(bytes[k + 1]);
        units.push_back(static_cast<char16_t>(little ? first | second << 8 : first << 8 | second));
    }
    const std::string utf8 = WideToUtf8(units);
    if (!IsCleanUtf8(utf8)) return;  // a lone surrogate half, a control character
    QUILLON_FUZZ_CHECK(DecodeLrcText(bytes) == utf8, "clean UTF-16 changed in decoding");
    std::string swapped = little ? "\xFE\xFF" : "\xFF\xFE";
    for (std::size_t k = 2; k + 1 < bytes.size(); k += 2) {
        swapped.push_back(bytes[k + 1]);
        swapped.push_back(bytes[k]);
    }
    QUILLON_FUZZ_CHECK(DecodeLrcText(swapped) == utf8, "the other byte order reads otherwise");
}

template <class Char>
void CheckTagsAtEveryBracket(std::basic_string_view<Char> text) {
    // The model reads no further than the first "]", so it is given no more: one pass from the
    // end keeps the nearest "]" at hand, however many brackets open.
    std::size_t close = text.npos;
    for (std::size_t at = text.size(); at-- > 0;) {
        if (text[at] == Char(']')) close = at;
        if (text[at] != Char('[')) continue;
        const TimeTag tag = ReadTimeTag(text.substr(at));
        const ModelTag model = TagAt(text.substr(at, close == text.npos ? 1 : close - at + 1));
        QUILLON_FUZZ_CHECK(tag.length == model.length, "a time tag of another length");
        QUILLON_FUZZ_CHECK(tag.ms.has_value() == model.timed, "a time where none is, or none");
        QUILLON_FUZZ_CHECK(!tag.ms || *tag.ms == model.ms, "a tag's time is another");
    }
}

// The lines of `text` that start with a time tag.
std::vector<std::string> TimedLinesOf(std::string_view text) {
    std::vector<std::string> kept;
    for (std::string& line : LinesOf(text))
        if (TagAt(std::string_view(line)).length != 0) kept.push_back(std::move(line));
    return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = DecodeLrcText(bytes);
    QUILLON_FUZZ_CHECK(IsCleanUtf8(text), "decoded text that is not clean UTF-8");
    CheckUtf16(bytes);

    const std::u16string wide = Utf8ToWide(text);
    CheckTagsAtEveryBracket(std::string_view(text));
    CheckTagsAtEveryBracket(std::u16string_view(wide));

    QUILLON_FUZZ_CHECK(ParseLrc(text).lines == TimedLinesOf(text),
                       "timed lines lost, added or changed");

    const std::vector<TimedText> entries = TimedEntriesOf(wide);
    const auto model = EntriesOf(wide);
    QUILLON_FUZZ_CHECK(entries.size() == model.size(), "entries lost or added");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        QUILLON_FUZZ_CHECK(entries[i].ms == model[i].first, "an entry at another time");
        QUILLON_FUZZ_CHECK(entries[i].text == model[i].second, "an entry with another text");
    }

    // Written as LRC lines, the entries read back to the hundredth of a second, one for each
    // piece of their text between line ends (which an entry read from LRC lines never holds).
    std::vector<std::pair<std::uint32_t, std::u16string>> pieces;
    for (const TimedText& entry : entries) {
        const std::size_t before = pieces.size();
        std::u16string piece;
        for (const char16_t c : entry.text + u'\r') {
            if (c != u'\r') {
                piece.push_back(c);
            } else if (!piece.empty()) {
                pieces.emplace_back(entry.ms / 10 * 10, std::move(piece));
                piece.clear();
            }
        }
        if (pieces.size() == before) pieces.emplace_back(entry.ms / 10 * 10, u"");
    }
    const std::vector<TimedText> back = TimedEntriesOf(LrcLinesOf(entries));
    QUILLON_FUZZ_CHECK(back.size() == pieces.size(), "LRC lines of entries read back otherwise");
    for (std::size_t i = 0; i < back.size(); ++i) {
        QUILLON_FUZZ_CHECK(back[i].ms == pieces[i].first, "a time changed on the way back");
        QUILLON_FUZZ_CHECK(back[i].text == pieces[i].second, "a text changed on the way back");
    }
    return 0;
}
