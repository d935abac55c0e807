#include "pipeline/lrc.h"

#include <cstdint>

#include "pipeline/textwriter.h"
#include "text/textconv.h"

namespace quillon {

namespace {

constexpr std::string_view ZeroTimeTag = "[00:00.00]";
constexpr std::string_view ZeroTime = "00:00.00";

bool HoldsAt(std::string_view text, std::size_t pos, std::string_view what) {
    return pos <= text.size() && text.substr(pos).starts_with(what);
}

// A line whose tag is the group's time, or [00:00.00], belongs to the group started before it.
bool JoinsGroup(std::string_view text, std::size_t pos, std::string_view saved) {
    if (HoldsAt(text, pos, ZeroTimeTag)) return true;
    return HoldsAt(text, pos, "[") && HoldsAt(text, pos + 1, saved) &&
           HoldsAt(text, pos + 1 + saved.size(), "]");
}

}  // namespace

LyricLineRead ReadLyricLine(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return {std::string_view(), pos};
    const std::size_t feed = text.find('\n', pos);
    const std::size_t end = feed == std::string_view::npos ? text.size() : feed;
    return {text.substr(pos, end - pos), end};
}

TimedLine SplitTimedLine(std::string_view line) {
    TimedLine result;
    const std::size_t start = line.find_first_not_of(']');
    if (start == std::string_view::npos) return result;
    const std::size_t close = line.find(']', start);
    const std::size_t tokenEnd = close == std::string_view::npos ? line.size() : close;
    // The token's first character is the "[" of a well-formed tag; whatever stands there goes.
    result.time = std::string(line.substr(start + 1, tokenEnd - start - 1));
    if (close == std::string_view::npos || close + 1 == line.size()) return result;
    result.lyric = std::string(line.substr(close + 1));
    result.length = result.lyric.size();
    return result;
}

void ComposeLyricRows(std::u16string_view lyric, const int includeLine[3], LyricView& view,
                      std::u16string& lrcBody) {
    // The lyric ends at a NUL, as everything written from it does.
    const std::string utf8 = WideToUtf8(UpToNul(lyric));
    const std::string_view text = utf8;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::u16string joined;
        std::string saved;
        LyricLineRead read = ReadLyricLine(text, pos);
        pos = read.end + 1;
        std::string_view line = read.line;
        if (line.empty()) continue;

        for (int k = 0; k < 3; ++k) {
            const TimedLine timed = SplitTimedLine(line);
            if (k == 0) saved = timed.time;
            if (timed.length == 0) break;
            if (includeLine[k] == 1) {
                if (!joined.empty()) joined += u" / ";
                joined += Utf8ToWide(timed.lyric);
            }
            const bool joins = JoinsGroup(text, pos, saved);
            if (k == 2) {
                // A group holds three lines; a fourth of the same time is passed over.
                if (joins) pos = ReadLyricLine(text, pos).end + 1;
                break;
            }
            if (!joins) break;
            read = ReadLyricLine(text, pos);
            pos = read.end + 1;
            line = read.line;
            if (line.empty()) break;
        }

        if (joined.empty()) continue;
        // The time is cut from the same UTF-8 text as the lyric, so it widens the same way.
        const std::u16string time = Utf8ToWide(saved);
        if (!lrcBody.empty() && saved == ZeroTime) {
            // A later group of the header time belongs to the header row made before it.
            const int row = view.RowCount() - 1;
            if (row >= 0) {
                view.SetCell(row, LyricView::LyricColumn,
                             view.Cell(row, LyricView::LyricColumn) + u" / " + joined);
            }
            const std::size_t cr = lrcBody.rfind(u'\r');
            if (cr != std::u16string::npos) lrcBody.erase(cr);
            lrcBody += u" / ";
            lrcBody += joined;
            lrcBody += u"\r\n";
        } else {
            const int row = view.AppendRow();
            view.SetCell(row, LyricView::TimeColumn, time);
            view.SetCell(row, LyricView::LyricColumn, joined);
            lrcBody += u"[";
            lrcBody += time;
            lrcBody += u"]";
            lrcBody += joined;
            lrcBody += u"\r\n";
        }
    }
}

std::filesystem::path WithoutExtension(const std::filesystem::path& path) {
    // The LRC file always lands beside the music file, whatever dots its folders carry.
    using Char = std::filesystem::path::value_type;
    return std::filesystem::path(WithoutExtension(std::basic_string_view<Char>(path.native())));
}

std::filesystem::path LrcPathFor(const std::filesystem::path& musicPath) {
    std::filesystem::path lrc = WithoutExtension(musicPath);
    lrc += ".lrc";
    return lrc;
}

std::u16string LrcHeader(const LyricInfo& info) {
    std::u16string header = u"[ar:";
    header += UpToNul(info.artist);
    header += u"]\r\n[ti:";
    header += UpToNul(info.title);
    header += u"]\r\n[al:";
    header += UpToNul(info.album);
    header += u"]\r\n";
    return header;
}

WriteResult WriteLrcFile(const std::filesystem::path& musicPath, const LyricInfo& info,
                         std::u16string_view lrcBody, int encoding) {
    return WriteTextFileAtomically(LrcPathFor(musicPath), LrcFileText(info, lrcBody), encoding);
}

LosslessChoice LosslessEncoding(std::u16string_view text, int encoding) {
    if (encoding != EncodingAnsi) return {encoding, 0};
    const std::size_t lost = AnsiLostCharacters(text, AnsiCodePage());
    return {lost == 0 ? EncodingAnsi : EncodingUtf16LE, lost};
}

std::u16string LrcFileText(const LyricInfo& info, std::u16string_view lrcBody) {
    std::u16string text = LrcHeader(info);
    text += lrcBody;
    return text;
}

std::u16string BuildSavedLyricsText(const LyricInfo& info, LyricView& view) {
    std::u16string text = LrcHeader(info);
    text.resize(text.size() - 2);  // no line end after the album
    for (int i = 0; i < view.RowCount(); ++i) {
        const std::u16string time = view.Cell(i, LyricView::TimeColumn);
        const std::u16string lyric = view.Cell(i, LyricView::LyricColumn);
        if (time.empty() || lyric.empty()) continue;
        text += u"\r\n[";
        text += time;
        text += u"]";
        text += lyric;
    }
    return text;
}

}  // namespace quillon
