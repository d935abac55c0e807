#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon {

// The lyric view as the composition sees it: rows of (icon, time, lyric). Column 1 holds the
// time text, column 2 the lyric text; column 0 holds no text.
class LyricView {
public:
    static constexpr int TimeColumn = 1;
    static constexpr int LyricColumn = 2;
    using Row = std::array<std::u16string, 3>;

    virtual ~LyricView() = default;
    virtual int RowCount() = 0;
    // Inserts a row at the end with empty texts and image 0; returns its index.
    virtual int AppendRow() = 0;
    virtual void SetCell(int row, int column, std::u16string_view text) = 0;
    virtual std::u16string Cell(int row, int column) = 0;
    // Appends rows with their time and lyric texts, as AppendRow and SetCell would one by one.
    virtual void AppendRows(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            const int at = AppendRow();
            SetCell(at, TimeColumn, row[TimeColumn]);
            SetCell(at, LyricColumn, row[LyricColumn]);
        }
    }
};

// A lyric view that keeps its rows in memory: the view of the headless front end and the tests.
class MemoryLyricView final : public LyricView {
public:
    MemoryLyricView() = default;
    explicit MemoryLyricView(std::vector<Row> content) : rows(std::move(content)) {}

    int RowCount() override { return static_cast<int>(rows.size()); }
    int AppendRow() override {
        rows.emplace_back();
        return RowCount() - 1;
    }
    void SetCell(int row, int column, std::u16string_view text) override {
        rows.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(column)) = text;
    }
    std::u16string Cell(int row, int column) override {
        return rows.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(column));
    }

    std::vector<Row> rows;
};

}  // namespace quillon
