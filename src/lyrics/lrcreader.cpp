#include "lyrics/lrcreader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <system_error>

#include "text/textconv.h"

namespace quillon {
namespace {

constexpr char32_t Replacement = 0xFFFD;

void AppendCodePoint(std::string& out, char32_t c) {
    // XML admits tab, LF, CR, and everything from U+0020 but the two non-characters U+FFFE and
    // U+FFFF; C1 controls are admitted but never wanted in a lyric either.
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return;
    if (c >= 0x7F && c < 0xA0) return;
    if (c == 0xFFFE || c == 0xFFFF) c = Replacement;
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

// Strict UTF-8: overlong forms, surrogates and values above U+10FFFF are invalid; each byte
// that starts no valid sequence becomes one U+FFFD.
std::string DecodeUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if (b < 0x80) {
            length = 1;
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            length = 2;
            c = b & 0x1Fu;
            minimum = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            length = 3;
            c = b & 0x0Fu;
            minimum = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            length = 4;
            c = b & 0x07u;
            minimum = 0x10000;
        }
        bool valid = length != 0 && bytes.size() - i >= length;
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto x = static_cast<unsigned char>(bytes[i + k]);
            valid = (x & 0xC0) == 0x80;
            c = (c << 6) | (x & 0x3Fu);
        }
        valid = valid && c >= minimum && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
        if (!valid) {
            AppendCodePoint(out, Replacement);
            i += 1;
            continue;
        }
        AppendCodePoint(out, c);
        i += length;
    }
    return out;
}

std::string DecodeUtf16(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    const std::size_t units = bytes.size() / 2;  // an odd last byte is no character
    auto unitAt = [&](std::size_t k) -> char32_t {
        const auto a = static_cast<unsigned char>(bytes[2 * k]);
        const auto b = static_cast<unsigned char>(bytes[2 * k + 1]);
        return bigEndian ? static_cast<char32_t>((a << 8) | b)
                         : static_cast<char32_t>((b << 8) | a);
    };
    for (std::size_t k = 0; k < units; ++k) {
        const char32_t u = unitAt(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
            const char32_t low = unitAt(k + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendCodePoint(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++k;
                continue;
            }
        }
        AppendCodePoint(out, u >= 0xD800 && u <= 0xDFFF ? Replacement : u);
    }
    return out;
}

template <class Char>
std::basic_string_view<Char> TrimBlanks(std::basic_string_view<Char> s) {
    const auto blank = [](Char c) {
        return c == Char(' ') || c == Char('\t') || c == Char('\r') || c == Char('\n');
    };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

// Calls `take` with each line of an LRC text: CR LF, LF and a lone CR all end a line, and the
// blanks around it do not count. The service's lines and the entries of a tag's synchronised
// lyric come from the same lines this way.
template <class Char, class Take>
void ForEachLine(std::basic_string_view<Char> text, Take take) {
    constexpr Char ends[] = {Char('\r'), Char('\n'), Char(0)};
    constexpr Char crlf[] = {Char('\r'), Char('\n'), Char(0)};
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t end = std::min(text.find_first_of(ends, from), text.size());
        take(TrimBlanks(text.substr(from, end - from)));
        from = end + (text.substr(end).starts_with(crlf) ? 2 : 1);
    }
}

template <class Char>
bool IsDigit(Char c) {
    return c >= Char('0') && c <= Char('9');
}

// The run of digits at `at`, moved past; its value counts only while the run is short.
template <class Char>
std::size_t DigitsAt(std::basic_string_view<Char> text, std::size_t& at, std::uint32_t& value) {
    const std::size_t start = at;
    value = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at)
        value = value * 10 + static_cast<std::uint32_t>(text[at] - Char('0'));
    return at - start;
}

template <class Char>
TimeTag ReadTimeTagIn(std::basic_string_view<Char> text) {
    std::size_t at = 1;
    std::uint32_t minutes = 0;
    std::uint32_t seconds = 0;
    std::uint32_t fraction = 0;
    if (text.empty() || text[0] != Char('[')) return {};
    const std::size_t minuteDigits = DigitsAt(text, at, minutes);
    if (minuteDigits == 0 || at >= text.size() || text[at++] != Char(':')) return {};
    const std::size_t secondDigits = DigitsAt(text, at, seconds);
    if (secondDigits == 0) return {};
    std::size_t fractionDigits = 0;
    if (at < text.size() && (text[at] == Char('.') || text[at] == Char(':'))) {
        fractionDigits = DigitsAt(text, ++at, fraction);
        if (fractionDigits == 0) return {};
    }
    if (at >= text.size() || text[at] != Char(']')) return {};

    TimeTag tag;
    tag.length = at + 1;
    if (minuteDigits <= 5 && secondDigits <= 2 && seconds < 60 && fractionDigits <= 3) {
        // Five digits of minutes reach past 32 bits of milliseconds, which no time can hold.
        std::uint64_t ms = (std::uint64_t{minutes} * 60 + seconds) * 1000;
        if (fractionDigits != 0)
            ms += fraction * (fractionDigits == 1 ? 100u : fractionDigits == 2 ? 10u : 1u);
        if (ms <= std::numeric_limits<std::uint32_t>::max())
            tag.ms = static_cast<std::uint32_t>(ms);
    }
    return tag;
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// For "[key:value]" the lower-cased key and the value; false for anything else.
bool SplitHeaderTag(std::string_view line, std::string& key, std::string_view& value) {
    if (line.size() < 4 || line.front() != '[' || line.back() != ']') return false;
    std::size_t i = 1;
    while (i < line.size() && IsLetter(line[i])) ++i;
    if (i == 1 || i >= line.size() || line[i] != ':') return false;
    key.clear();
    for (std::size_t k = 1; k < i; ++k) key.push_back(Lower(line[k]));
    value = TrimBlanks(line.substr(i + 1, line.size() - i - 2));
    return true;
}

}  // namespace

TimeTag ReadTimeTag(std::string_view text) {
    return ReadTimeTagIn(text);
}

TimeTag ReadTimeTag(std::u16string_view text) {
    return ReadTimeTagIn(text);
}

bool StartsWithTimeTag(std::string_view line) {
    return ReadTimeTag(line).length != 0;
}

std::string DecodeLrcText(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return DecodeUtf8(bytes.substr(3));
    if (bytes.starts_with("\xFF\xFE")) return DecodeUtf16(bytes.substr(2), false);
    if (bytes.starts_with("\xFE\xFF")) return DecodeUtf16(bytes.substr(2), true);
    return DecodeUtf8(bytes);
}

LrcSong ParseLrc(std::string_view utf8) {
    LrcSong song;
    bool haveTitle = false;
    bool haveArtist = false;
    bool haveAlbum = false;
    std::string key;
    ForEachLine(utf8, [&](std::string_view line) {
        std::string_view value;
        if (StartsWithTimeTag(line)) {
            song.lines.emplace_back(line);
        } else if (SplitHeaderTag(line, key, value)) {
            // The first of each tag counts, as most players read it.
            if (key == "ti" && !haveTitle) {
                song.title = value;
                haveTitle = true;
            } else if (key == "ar" && !haveArtist) {
                song.artist = value;
                haveArtist = true;
            } else if (key == "al" && !haveAlbum) {
                song.album = value;
                haveAlbum = true;
            }
        }
    });
    return song;
}

bool ReadLrcFile(const std::filesystem::path& path, LrcSong& song, std::string& error) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    if (size > MaxLrcFileSize) {
        error = "larger than " + std::to_string(MaxLrcFileSize) + " bytes";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (!in || !in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        error = "cannot be read";
        return false;
    }
    song = ParseLrc(DecodeLrcText(bytes));
    return true;
}

std::vector<TimedText> TimedEntriesOf(std::u16string_view lrcText) {
    std::vector<TimedText> entries;
    ForEachLine(lrcText, [&](std::u16string_view line) {
        std::vector<std::uint32_t> times;
        for (TimeTag tag = ReadTimeTag(line); tag.ms; tag = ReadTimeTag(line)) {
            times.push_back(*tag.ms);
            line.remove_prefix(tag.length);
        }
        for (const std::uint32_t ms : times) entries.push_back({ms, std::u16string(line)});
    });
    return entries;
}

std::u16string LrcLinesOf(const std::vector<TimedText>& entries) {
    std::u16string out;
    for (const TimedText& entry : entries) {
        char tag[32];
        std::snprintf(tag, sizeof tag, "[%02u:%02u.%02u]", entry.ms / 60000, entry.ms / 1000 % 60,
                      entry.ms % 1000 / 10);
        const std::u16string time = Utf8ToWide(tag);
        // A synchronised lyric may hold line ends inside an entry (some tags begin each line's
        // entry with one). A reader of the LRC text would take what follows a line end for a
        // line without a time and drop it: each piece between them is a line at the entry's
        // time instead.
        const std::u16string_view text = entry.text;
        bool written = false;
        for (std::size_t from = 0; from <= text.size();) {
            const std::size_t end = std::min(text.find_first_of(u"\r\n", from), text.size());
            if (end > from) {
                out += time;
                out += text.substr(from, end - from);
                out += u'\n';
                written = true;
            }
            from = end + 1;
        }
        if (!written) out += time + u'\n';
    }
    return out;
}

}  // namespace quillon
