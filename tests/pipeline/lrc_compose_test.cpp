#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "pipeline/lrc.h"
#include "testutil.h"
#include "text/textconv.h"

namespace quillon {
namespace {

using testing::RecordingView;

using Rows = std::vector<std::pair<std::u16string, std::u16string>>;

struct Composed {
    Rows rows;
    std::u16string body;
};

Composed Compose(std::u16string_view lyric, bool second, bool third) {
    const int include[3] = {1, second ? 1 : 0, third ? 1 : 0};
    RecordingView view;
    Composed out;
    ComposeLyricRows(lyric, include, view, out.body);
    for (const auto& row : view.rows) {
        EXPECT_TRUE(row[0].empty());
        out.rows.emplace_back(row[1], row[2]);
    }
    return out;
}

TEST(ReadLyricLineTest, LinesEndAtLineFeedsOnly) {
    const std::string_view text = "[00:01.00]a\r\n\nlast";
    auto read = ReadLyricLine(text, 0);
    EXPECT_EQ(read.line, "[00:01.00]a\r");
    EXPECT_EQ(read.end, 12u);
    read = ReadLyricLine(text, 13);
    EXPECT_EQ(read.line, "");
    EXPECT_EQ(read.end, 13u);
    read = ReadLyricLine(text, 14);
    EXPECT_EQ(read.line, "last");
    EXPECT_EQ(read.end, text.size());
    read = ReadLyricLine(text, 40);
    EXPECT_EQ(read.line, "");
    EXPECT_EQ(read.end, 40u);
}

TEST(SplitTimedLineTest, TimeAndLyricAroundTheFirstBracket) {
    auto split = SplitTimedLine("[00:12.34]a]b");
    EXPECT_EQ(split.time, "00:12.34");
    EXPECT_EQ(split.lyric, "a]b");
    EXPECT_EQ(split.length, 3u);

    split = SplitTimedLine("]][1]z");  // leading brackets skipped
    EXPECT_EQ(split.time, "1");
    EXPECT_EQ(split.lyric, "z");

    split = SplitTimedLine("x00:05]y");  // whatever opens the tag is dropped
    EXPECT_EQ(split.time, "00:05");
    EXPECT_EQ(split.lyric, "y");

    split = SplitTimedLine("[00:12.34]");
    EXPECT_EQ(split.time, "00:12.34");
    EXPECT_EQ(split.length, 0u);

    split = SplitTimedLine("[no bracket");
    EXPECT_EQ(split.time, "no bracket");
    EXPECT_EQ(split.length, 0u);

    for (const std::string_view empty : {"", "]]]"}) {
        split = SplitTimedLine(empty);
        EXPECT_EQ(split.time, "");
        EXPECT_EQ(split.length, 0u);
    }
}

TEST(SplitTimedLineTest, LongLinesStayWhole) {
    const std::string lyric(5000, 'x');
    const auto split = SplitTimedLine("[00:01.00]" + lyric);
    EXPECT_EQ(split.lyric, lyric);
    EXPECT_EQ(split.length, 5000u);
}

TEST(ComposeLyricRowsTest, BoxesChooseTheSecondAndThirdLine) {
    const std::u16string lyric = u"[00:10.00]A\n[00:10.00]B\n[00:10.00]C\n[00:20.00]D";
    EXPECT_EQ(Compose(lyric, false, false).rows, (Rows{{u"00:10.00", u"A"}, {u"00:20.00", u"D"}}));
    EXPECT_EQ(Compose(lyric, false, true).rows,
              (Rows{{u"00:10.00", u"A / C"}, {u"00:20.00", u"D"}}));
    EXPECT_EQ(Compose(lyric, true, false).rows,
              (Rows{{u"00:10.00", u"A / B"}, {u"00:20.00", u"D"}}));
    const Composed both = Compose(lyric, true, true);
    EXPECT_EQ(both.rows, (Rows{{u"00:10.00", u"A / B / C"}, {u"00:20.00", u"D"}}));
    EXPECT_EQ(both.body, u"[00:10.00]A / B / C\r\n[00:20.00]D\r\n");
}

TEST(ComposeLyricRowsTest, HeaderLinesFormOneRow) {
    const Composed out =
        Compose(u"[00:00.00]T\n[00:00.00]S\n[00:00.00]L\n[00:05.00]X\n", true, true);
    EXPECT_EQ(out.rows, (Rows{{u"00:00.00", u"T / S / L"}, {u"00:05.00", u"X"}}));
}

TEST(ComposeLyricRowsTest, LaterHeaderGroupMergesIntoTheFirstRow) {
    const Composed out = Compose(u"[00:00.00]T\n\n[00:00.00]S", false, false);
    EXPECT_EQ(out.rows, (Rows{{u"00:00.00", u"T / S"}}));
    EXPECT_EQ(out.body, u"[00:00.00]T / S\r\n");
}

TEST(ComposeLyricRowsTest, MergeCutsTheBodyAtItsLastCarriageReturn) {
    // Lines ending in CR keep it; the merge cuts only the row's final CR LF.
    const Composed out = Compose(u"[00:00.00]T\r\n\n[00:00.00]S\r\n", false, false);
    EXPECT_EQ(out.rows, (Rows{{u"00:00.00", u"T\r / S\r"}}));
    EXPECT_EQ(out.body, u"[00:00.00]T\r / S\r\r\n");
}

TEST(ComposeLyricRowsTest, MergeGoesIntoTheLastRowEvenAfterOtherTimes) {
    const Composed out = Compose(u"[00:05.00]X\n[00:07.00]Y\n\n[00:00.00]Z\n", true, true);
    EXPECT_EQ(out.rows, (Rows{{u"00:05.00", u"X"}, {u"00:07.00", u"Y / Z"}}));
    EXPECT_EQ(out.body, u"[00:05.00]X\r\n[00:07.00]Y / Z\r\n");
}

TEST(ComposeLyricRowsTest, HeaderTimeJoinsAnyGroup) {
    const std::u16string lyric = u"[00:05.00]X\n[00:00.00]Y";
    EXPECT_EQ(Compose(lyric, true, false).rows, (Rows{{u"00:05.00", u"X / Y"}}));
    // Not included, Y is still taken by the group and yields nothing.
    EXPECT_EQ(Compose(lyric, false, false).rows, (Rows{{u"00:05.00", u"X"}}));
}

TEST(ComposeLyricRowsTest, LinesWithoutLyricYieldNoRow) {
    const Composed out =
        Compose(u"no bracket\n[00:01.00]\n]]]\n[00:02.00]Z\n[00:03.00]", true, true);
    EXPECT_EQ(out.rows, (Rows{{u"00:02.00", u"Z"}}));
    EXPECT_EQ(out.body, u"[00:02.00]Z\r\n");
    EXPECT_TRUE(Compose(u"", true, true).rows.empty());
    EXPECT_TRUE(Compose(u"\n\n\n", true, true).rows.empty());
}

TEST(ComposeLyricRowsTest, GroupWithoutLyricOnItsFirstLineEndsAtOnce) {
    // The tag-only line ends its group; the next line of that time starts its own.
    EXPECT_EQ(Compose(u"[00:10.00]\n[00:10.00]A\n[00:10.00]B", true, true).rows,
              (Rows{{u"00:10.00", u"A / B"}}));
    // A tag-only second line ends the group, and is consumed by it.
    EXPECT_EQ(Compose(u"[00:10.00]A\n[00:10.00]\n[00:10.00]B", true, true).rows,
              (Rows{{u"00:10.00", u"A"}, {u"00:10.00", u"B"}}));
}

TEST(ComposeLyricRowsTest, EmptyLineEndsAGroup) {
    EXPECT_EQ(Compose(u"[00:10.00]A\n\n[00:10.00]B", true, true).rows,
              (Rows{{u"00:10.00", u"A"}, {u"00:10.00", u"B"}}));
}

TEST(ComposeLyricRowsTest, FourthLineOfATimeIsDropped) {
    const Composed out =
        Compose(u"[00:10.00]A\n[00:10.00]B\n[00:10.00]C\n[00:10.00]E\n[00:20.00]D", true, true);
    EXPECT_EQ(out.rows, (Rows{{u"00:10.00", u"A / B / C"}, {u"00:20.00", u"D"}}));
    // A fifth line starts a new group of the same time.
    EXPECT_EQ(
        Compose(u"[00:10.00]A\n[00:10.00]B\n[00:10.00]C\n[00:10.00]E\n[00:10.00]F", true, true)
            .rows,
        (Rows{{u"00:10.00", u"A / B / C"}, {u"00:10.00", u"F"}}));
}

TEST(ComposeLyricRowsTest, KoreanAndLongLinesArriveWhole) {
    const std::u16string longLyric(3000, u'\uAC00');  // 9,000 bytes in UTF-8
    const Composed out =
        Compose(u"[00:01.00]\uAC00\uB098\n[00:01.00]" + longLyric + u"\n[00:02.00]x", true, true);
    ASSERT_EQ(out.rows.size(), 2u);
    EXPECT_EQ(out.rows[0].second, u"\uAC00\uB098 / " + longLyric);
    EXPECT_EQ(out.body, u"[00:01.00]\uAC00\uB098 / " + longLyric + u"\r\n[00:02.00]x\r\n");
}

TEST(ComposeLyricRowsTest, LyricEndsAtItsFirstNul) {
    EXPECT_EQ(Compose(std::u16string(u"[00:01.00]a\0\n[00:02.00]b", 24), true, true).rows,
              (Rows{{u"00:01.00", u"a"}}));
}

// ---- Comparison with an independent model ------------------------------------------------

// The model first parses every line, then walks the parsed lines to form groups, then renders
// rows. It works on whole lines instead of byte positions.
struct ModelLine {
    bool empty = false;
    std::string raw;
    std::string time;
    std::string lyric;  // empty: the line carries no lyric
};

ModelLine ParseModelLine(const std::string& raw) {
    ModelLine line;
    line.raw = raw;
    line.empty = raw.empty();
    std::size_t i = 0;
    while (i < raw.size() && raw[i] == ']') ++i;
    if (i == raw.size()) return line;
    std::size_t j = i;
    while (j < raw.size() && raw[j] != ']') ++j;
    line.time = raw.substr(i + 1, j - i - 1);
    if (j < raw.size()) line.lyric = raw.substr(j + 1);
    return line;
}

// How often the generated lyrics led the model through each of its less common paths.
struct ModelCoverage {
    int merges = 0;
    int droppedFourthLines = 0;
    int threeLineRows = 0;
    int zeroTagJoins = 0;
    int longLines = 0;
};

void RunModel(const std::u16string& lyric, const int include[3], Rows& rows, std::u16string& body,
              ModelCoverage& coverage) {
    const std::string utf8 = WideToUtf8(lyric);
    std::vector<ModelLine> lines;
    std::size_t start = 0;
    while (start < utf8.size()) {
        std::size_t feed = utf8.find('\n', start);
        if (feed == std::string::npos) feed = utf8.size();
        lines.push_back(ParseModelLine(utf8.substr(start, feed - start)));
        if (feed - start > 2047) ++coverage.longLines;
        start = feed + 1;
    }

    std::vector<std::pair<std::string, std::vector<const ModelLine*>>> groups;
    std::size_t i = 0;
    while (i < lines.size()) {
        const ModelLine& first = lines[i++];
        if (first.empty) continue;
        std::vector<const ModelLine*> members{&first};
        const std::string tag = "[" + first.time + "]";
        auto joins = [&](const ModelLine& next) {
            return next.raw.rfind("[00:00.00]", 0) == 0 || next.raw.rfind(tag, 0) == 0;
        };
        if (!first.lyric.empty()) {
            while (members.size() < 3 && i < lines.size() && joins(lines[i])) {
                if (lines[i].time != first.time) ++coverage.zeroTagJoins;
                members.push_back(&lines[i++]);
                if (members.back()->lyric.empty()) break;
            }
            if (members.size() == 3 && !members.back()->lyric.empty() && i < lines.size() &&
                joins(lines[i])) {
                ++coverage.droppedFourthLines;
                ++i;
            }
        }
        groups.emplace_back(first.time, members);
    }

    for (const auto& [time, members] : groups) {
        std::u16string text;
        for (std::size_t k = 0; k < members.size(); ++k) {
            if (members[k]->lyric.empty() || include[k] != 1) continue;
            if (!text.empty()) text += u" / ";
            text += Utf8ToWide(members[k]->lyric);
        }
        if (text.empty()) continue;
        if (members.size() == 3 && !members[2]->lyric.empty() && include[1] == 1 && include[2] == 1)
            ++coverage.threeLineRows;
        const std::u16string wideTime = Utf8ToWide(time);
        if (!body.empty() && time == "00:00.00") {
            ++coverage.merges;
            if (!rows.empty()) rows.back().second += u" / " + text;
            body = body.substr(0, body.find_last_of(u'\r')) + u" / " + text + u"\r\n";
        } else {
            rows.emplace_back(wideTime, text);
            body += u"[" + wideTime + u"]" + text + u"\r\n";
        }
    }
}

std::u16string RandomLyric(std::mt19937& random) {
    static const std::u16string times[] = {u"00:00.00", u"00:10.00", u"00:10.50", u"01:02.03"};
    static const std::u16string texts[] = {u"A",         u"B", u"\uAC00\uB098\uB2E4",
                                           u"x]y",       u" ", u"\uD55C\uAD6D\uC5B4 \uAC00\uC0AC",
                                           u"[00:10.00]"};
    static const std::u16string longTexts[] = {std::u16string(2100, u'w'),
                                               std::u16string(800, u'\uAC00')};
    auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    std::u16string lyric;
    const std::size_t count = pick(14);
    for (std::size_t n = 0; n < count; ++n) {
        const std::u16string& time = times[pick(std::size(times))];
        const std::u16string& text =
            pick(16) == 0 ? longTexts[pick(2)] : texts[pick(std::size(texts))];
        switch (pick(12)) {
            case 0:
                break;  // empty line
            case 1:
                lyric += u"no bracket " + text;
                break;
            case 2:
                lyric += u"[" + time + u"]";  // ends at its bracket
                break;
            case 3:
                lyric += u"[" + time;  // never closed
                break;
            case 4:
                lyric += u"]]" + time + u"]" + text;
                break;
            case 5:
                lyric += u"\uAC00" + time + u"]" + text;  // a multi-byte opener
                break;
            default:
                lyric += u"[" + time + u"]" + text;
                break;
        }
        if (pick(4) == 0) lyric += u"\r";
        if (n + 1 < count || pick(2) == 0) lyric += u"\n";
    }
    return lyric;
}

TEST(ComposeLyricRowsTest, MatchesAnIndependentModelOnGeneratedLyrics) {
    std::mt19937 random(20240601);
    ModelCoverage coverage;
    for (int round = 0; round < 3000; ++round) {
        const std::u16string lyric = RandomLyric(random);
        // Now and then the job's state already holds a row, as after an earlier header group.
        const bool primed = round % 5 == 0;
        for (int boxes = 0; boxes < 4; ++boxes) {
            const int include[3] = {1, boxes & 1, (boxes >> 1) & 1};
            RecordingView view;
            std::u16string body;
            Rows expected;
            std::u16string expectedBody;
            if (primed) {
                view.rows.push_back({u"", u"00:00.00", u"P"});
                body = expectedBody = u"[00:00.00]P\r\n";
                expected.emplace_back(u"00:00.00", u"P");
            }
            ComposeLyricRows(lyric, include, view, body);
            RunModel(lyric, include, expected, expectedBody, coverage);
            Rows actual;
            for (const auto& row : view.rows) actual.emplace_back(row[1], row[2]);
            ASSERT_EQ(actual, expected) << "round " << round << " boxes " << boxes;
            ASSERT_EQ(body, expectedBody) << "round " << round << " boxes " << boxes;
        }
    }
    // The generator must keep reaching the rare paths, or the comparison proves little.
    EXPECT_GT(coverage.merges, 100);
    EXPECT_GT(coverage.droppedFourthLines, 20);
    EXPECT_GT(coverage.threeLineRows, 20);
    EXPECT_GT(coverage.zeroTagJoins, 100);
    EXPECT_GT(coverage.longLines, 100);
    std::printf("merges %d, dropped %d, three-line rows %d, header joins %d, long lines %d\n",
                coverage.merges, coverage.droppedFourthLines, coverage.threeLineRows,
                coverage.zeroTagJoins, coverage.longLines);
}

}  // namespace
}  // namespace quillon
