#pragma once

#include <string>
#include <string_view>

namespace quillon {

// The lyric view as the composition sees it: rows of (icon, time, lyric). Column 1 holds the
// time text, column 2 the lyric text; column 0 holds no text.
class LyricView {
public:
    static constexpr int TimeColumn = 1;
    static constexpr int LyricColumn = 2;

    virtual ~LyricView() = default;
    virtual int RowCount() = 0;
    // Inserts a row at the end with empty texts and image 0; returns its index.
    virtual int AppendRow() = 0;
    virtual void SetCell(int row, int column, std::u16string_view text) = 0;
    virtual std::u16string Cell(int row, int column) = 0;
};

}  // namespace quillon
