#pragma once

// What the LRC format makes of a time tag and of a line's tags, read from the format as plainly
// as it can be put, for the fuzz targets to hold the LRC reader against. The reader scans a tag
// digit by digit; this cuts the text at the first "]" and splits what it holds, so that the two
// cannot share a fault.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon::fuzzing {

struct ModelTag {
    std::size_t length = 0;  // 0: the text starts with no tag of the time's shape
    bool timed = false;      // the parts are a lyric's time, and it fits 32 bits of milliseconds
    std::uint64_t ms = 0;
};

template <class Char>
bool AllDigits(std::basic_string_view<Char> text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](Char c) {
        return c == Char('0') || c == Char('1') || c == Char('2') || c == Char('3') ||
               c == Char('4') || c == Char('5') || c == Char('6') || c == Char('7') ||
               c == Char('8') || c == Char('9');
    });
}

// The value of a run of at most five digits.
template <class Char>
std::uint64_t Number(std::basic_string_view<Char> digits) {
    std::string ascii;
    for (const Char c : digits) ascii.push_back(static_cast<char>(c));
    return std::stoull(ascii);
}

// "[" minutes ":" seconds, then "." or ":" and a fraction or nothing, then "]"; a time when the
// minutes have at most five digits, the seconds at most two and are below 60, the fraction at
// most three (tenths, hundredths, thousandths), and the whole fits in 32 bits.
template <class Char>
ModelTag TagAt(std::basic_string_view<Char> text) {
    using View = std::basic_string_view<Char>;
    if (text.empty() || text.front() != Char('[')) return {};
    const std::size_t close = text.find(Char(']'));
    if (close == View::npos) return {};
    const View inside = text.substr(1, close - 1);
    const std::size_t colon = inside.find(Char(':'));
    if (colon == View::npos) return {};
    const View minutes = inside.substr(0, colon);
    const View rest = inside.substr(colon + 1);
    const Char marks[] = {Char('.'), Char(':'), Char(0)};
    const std::size_t mark = rest.find_first_of(marks);
    const View seconds = rest.substr(0, mark);
    const View fraction = mark == View::npos ? View() : rest.substr(mark + 1);
    if (!AllDigits(minutes) || !AllDigits(seconds)) return {};
    if (mark != View::npos && !AllDigits(fraction)) return {};

    ModelTag tag;
    tag.length = close + 1;
    if (minutes.size() > 5 || seconds.size() > 2 || fraction.size() > 3) return tag;
    if (Number(seconds) >= 60) return tag;
    std::uint64_t ms = (Number(minutes) * 60 + Number(seconds)) * 1000;
    if (!fraction.empty()) {
        const std::uint64_t scale[] = {100, 10, 1};
        ms += Number(fraction) * scale[fraction.size() - 1];
    }
    if (ms > std::numeric_limits<std::uint32_t>::max()) return tag;
    tag.timed = true;
    tag.ms = ms;
    return tag;
}

// The lines of an LRC text: CR LF, LF and a lone CR each end one; spaces and tabs around a line
// do not count.
template <class Char>
std::vector<std::basic_string<Char>> LinesOf(std::basic_string_view<Char> text) {
    std::vector<std::basic_string<Char>> lines;
    std::basic_string<Char> line;
    const auto end = [&]() {
        std::size_t first = 0;
        std::size_t last = line.size();
        while (first < last && (line[first] == Char(' ') || line[first] == Char('\t'))) ++first;
        while (last > first && (line[last - 1] == Char(' ') || line[last - 1] == Char('\t')))
            --last;
        lines.push_back(line.substr(first, last - first));
        line.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == Char('\r') || text[i] == Char('\n')) {
            end();
            if (text[i] == Char('\r') && i + 1 < text.size() && text[i + 1] == Char('\n')) ++i;
        } else {
            line.push_back(text[i]);
        }
    }
    end();
    return lines;
}

// The entries of a synchronised lyric in an LRC text: every tag with a time in the run of tags
// that opens a line gives the line's text after the run.
inline std::vector<std::pair<std::uint64_t, std::u16string>> EntriesOf(std::u16string_view text) {
    std::vector<std::pair<std::uint64_t, std::u16string>> entries;
    for (const std::u16string& whole : LinesOf(text)) {
        std::u16string_view line = whole;
        std::vector<std::uint64_t> times;
        for (ModelTag tag = TagAt(line); tag.timed; tag = TagAt(line)) {
            times.push_back(tag.ms);
            line = line.substr(tag.length);
        }
        for (const std::uint64_t ms : times) entries.emplace_back(ms, std::u16string(line));
    }
    return entries;
}

}  // namespace quillon::fuzzing
