// Cutting the four fields out of a lyrics service answer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "service/lyricinfo.h"
#include "service/lyricquery.h"
#include "text/textconv.h"

namespace {

using namespace quillon;

// What each field holds before the answer is read; no tag and no break can come out of it.
const std::u16string Before = u"\u2603 before";

// A field whose opening tag is in the answer is a piece of the answer (possibly empty) when the
// answer holds no reference to decode, and never longer than it; one whose tag is missing keeps
// what it held.
void CheckField(std::u16string_view answer, std::u16string_view open, const std::u16string& field) {
    if (answer.find(open) == std::u16string_view::npos) {
        QUILLON_FUZZ_CHECK(field == Before, "a field without its tag changed");
        return;
    }
    QUILLON_FUZZ_CHECK(field.size() <= answer.size(), "a field is longer than the answer");
    if (answer.find(u'&') != std::u16string_view::npos) return;
    QUILLON_FUZZ_CHECK(answer.find(field) != std::u16string_view::npos,
                       "a field is not a piece of the answer");
}

std::size_t Count(std::u16string_view text, bool (*is)(char16_t)) {
    std::size_t n = 0;
    for (const char16_t c : text) n += is(c) ? 1 : 0;
    return n;
}

// A reference decodes to one character no longer than itself, never to U+0000 or a surrogate.
void CheckDecoding(std::u16string_view text) {
    const std::u16string decoded = DecodeXmlReferences(text);
    QUILLON_FUZZ_CHECK(decoded.size() <= text.size(), "decoding made the text longer");
    const auto nul = [](char16_t c) { return c == 0; };
    const auto high = [](char16_t c) { return c >= 0xD800 && c <= 0xDBFF; };
    const auto low = [](char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; };
    QUILLON_FUZZ_CHECK(Count(decoded, nul) == Count(text, nul), "a reference became U+0000");
    QUILLON_FUZZ_CHECK(
        Count(decoded, high) - Count(decoded, low) == Count(text, high) - Count(text, low),
        "a reference became half of a surrogate pair");
    if (text.find(u'&') == std::u16string_view::npos)
        QUILLON_FUZZ_CHECK(decoded == text, "text without references changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string answer =
        Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
    LyricInfo info{Before, Before, Before, Before};
    ExtractLyricInfo(answer, info);
    CheckDecoding(answer);

    CheckField(answer, u"<strTitle>", info.title);
    CheckField(answer, u"<strArtist>", info.artist);
    CheckField(answer, u"<strAlbum>", info.album);

    if (answer.find(u"<strLyric>") == std::u16string_view::npos) {
        QUILLON_FUZZ_CHECK(info.lyric == Before, "a lyric without its tag changed");
        return 0;
    }
    QUILLON_FUZZ_CHECK(info.lyric.find(u"&lt;br&gt;") == std::u16string::npos,
                       "an escaped break is left in the lyric");
    // Between the restored breaks every piece of the lyric comes from the answer.
    if (answer.find(u'&') != std::u16string_view::npos) return 0;
    std::size_t from = 0;
    for (;;) {
        const std::size_t feed = info.lyric.find(u'\n', from);
        const std::u16string_view piece =
            std::u16string_view(info.lyric)
                .substr(from, feed == std::u16string::npos ? std::u16string::npos : feed - from);
        QUILLON_FUZZ_CHECK(answer.find(piece) != std::u16string_view::npos,
                           "a lyric line is not a piece of the answer");
        if (feed == std::u16string::npos) break;
        from = feed + 1;
    }
    return 0;
}
