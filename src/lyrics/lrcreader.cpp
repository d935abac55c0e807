#include "lyricsd/lrc.h"

#include <cstdint>
#include <fstream>
#include <system_error>

namespace quillon::lyricsd {
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

std::string_view TrimBlanks(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
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

bool StartsWithTimeTag(std::string_view line) {
    std::size_t i = 0;
    auto digits = [&]() {
        const std::size_t from = i;
        while (i < line.size() && IsDigit(line[i])) ++i;
        return i > from;
    };
    if (line.empty() || line[i++] != '[') return false;
    if (!digits() || i >= line.size() || line[i++] != ':' || !digits()) return false;
    if (i < line.size() && (line[i] == '.' || line[i] == ':')) {
        ++i;
        if (!digits()) return false;
    }
    return i < line.size() && line[i] == ']';
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
    std::size_t from = 0;
    while (from <= utf8.size()) {
        std::size_t end = utf8.find_first_of("\r\n", from);
        if (end == std::string_view::npos) end = utf8.size();
        const std::string_view line = TrimBlanks(utf8.substr(from, end - from));
        // CR LF, LF and a lone CR all end a line.
        from = end + (utf8.substr(end).starts_with("\r\n") ? 2 : 1);

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
    }
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

}  // namespace quillon::lyricsd
