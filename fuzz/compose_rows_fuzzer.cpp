// Composing the lyric view's rows and the LRC body from a lyric. The first input byte chooses
// which of a group's three lines are included; the rest is the lyric as UTF-8.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "pipeline/lrc.h"
#include "pipeline/lyricview.h"
#include "text/textconv.h"

using namespace quillon;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int includeLine[3] = {data[0] & 1, (data[0] >> 1) & 1, (data[0] >> 2) & 1};
    const std::u16string lyric =
        Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));

    // A cell outside the rows or columns throws out of the view, which the fuzzer reports.
    MemoryLyricView view;
    std::u16string lrcBody;
    ComposeLyricRows(lyric, includeLine, view, lrcBody);

    if (includeLine[0] == 0 && includeLine[1] == 0 && includeLine[2] == 0)
        QUILLON_FUZZ_CHECK(view.rows.empty(), "a row though no line is included");

    // One CR LF ended line per row, holding that row's time and lyric.
    std::size_t from = 0;
    std::size_t row = 0;
    while (from < lrcBody.size()) {
        const std::size_t end = lrcBody.find(u"\r\n", from);
        QUILLON_FUZZ_CHECK(end != std::u16string::npos, "the body does not end in CR LF");
        QUILLON_FUZZ_CHECK(row < view.rows.size(), "more body lines than rows");
        const auto& cells = view.rows[row];
        QUILLON_FUZZ_CHECK(cells[0].empty(), "text in the icon column");
        QUILLON_FUZZ_CHECK(!cells[LyricView::LyricColumn].empty(), "a row without lyric");
        // Only the first row can carry the header time: later groups of it merge into a row.
        if (row > 0)
            QUILLON_FUZZ_CHECK(cells[LyricView::TimeColumn] != u"00:00.00", "a second header row");
        const std::u16string expected =
            u"[" + cells[LyricView::TimeColumn] + u"]" + cells[LyricView::LyricColumn];
        QUILLON_FUZZ_CHECK(lrcBody.compare(from, end - from, expected) == 0,
                           "a body line differs from its row");
        from = end + 2;
        ++row;
    }
    QUILLON_FUZZ_CHECK(row == view.rows.size(), "more rows than body lines");
    return 0;
}
