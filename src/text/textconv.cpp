#include "text/textconv.h"

#include <algorithm>

namespace quillon {

namespace {

bool IsContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// A well-formed four-byte sequence at the start of `bytes` as its code point, or 0.
char32_t FourByteCodePoint(std::string_view bytes) {
    if (bytes.size() < 4) return 0;
    const auto b = static_cast<unsigned char>(bytes[0]);
    const auto x = static_cast<unsigned char>(bytes[1]);
    const auto y = static_cast<unsigned char>(bytes[2]);
    const auto z = static_cast<unsigned char>(bytes[3]);
    if (b < 0xF0 || b > 0xF4 || !IsContinuation(x) || !IsContinuation(y) || !IsContinuation(z))
        return 0;
    const char32_t c = ((b & 0x07u) << 18) | ((x & 0x3Fu) << 12) | ((y & 0x3Fu) << 6) | (z & 0x3Fu);
    return c >= 0x10000 && c <= 0x10FFFF ? c : 0;
}

}  // namespace

std::u16string Utf8ToWide(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char16_t>(b));
            i += 1;
            continue;
        }
        // A character outside the Basic Multilingual Plane becomes its surrogate pair. Any
        // other sequence, ill-formed four-byte ones included, keeps the masked three-byte
        // reading.
        if (const char32_t c = FourByteCodePoint(bytes.substr(i)); c != 0) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
            i += 4;
            continue;
        }
        const std::size_t length = (b & 0xE0) == 0xC0 ? 2 : 3;
        if (n - i < length) {
            // A sequence cut off by the end of the bytes: one replacement character, so the loss
            // shows instead of the text silently ending one character early.
            out.push_back(u'\uFFFD');
            break;
        }
        const auto x = static_cast<unsigned char>(bytes[i + 1]);
        if (length == 2) {
            out.push_back(static_cast<char16_t>(((b & 0x1Fu) << 6) | (x & 0x3Fu)));
        } else {
            const auto y = static_cast<unsigned char>(bytes[i + 2]);
            out.push_back(
                static_cast<char16_t>(((b & 0x0Fu) << 12) | ((x & 0x3Fu) << 6) | (y & 0x3Fu)));
        }
        i += length;
    }
    return out;
}

void AppendUtf8(std::string& out, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned c = text[i];
        if (c <= 0x7F) {
            out.push_back(static_cast<char>(c));
        } else if (c <= 0x7FF) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            // A surrogate pair is one character of four bytes; a lone half keeps its three.
            const unsigned full = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
            out.push_back(static_cast<char>(0xF0 | (full >> 18)));
            out.push_back(static_cast<char>(0x80 | ((full >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((full >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (full & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
}

std::string WideToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    AppendUtf8(out, text);
    return out;
}

std::u16string PathText(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::wstring& native = path.native();
    return std::u16string(native.begin(), native.end());
#else
    return Utf8ToWide(path.native());
#endif
}

std::filesystem::path PathFromText(std::u16string_view text) {
#ifdef _WIN32
    return std::filesystem::path(std::wstring(text.begin(), text.end()));
#else
    return std::filesystem::path(WideToUtf8(text));
#endif
}

namespace {

// The characters the path's trimming treats as white space: ASCII white space and the Unicode
// space separators a pasted path may carry.
bool IsBlank(char16_t c) {
    switch (c) {
        case u' ':
        case u'\t':
        case u'\n':
        case u'\v':
        case u'\f':
        case u'\r':
        case u'\u0085':
        case u'\u00A0':
        case u'\u1680':
        case u'\u2028':
        case u'\u2029':
        case u'\u202F':
        case u'\u205F':
        case u'\u3000':
            return true;
        default:
            return c >= u'\u2000' && c <= u'\u200A';
    }
}

int ClampPart(int part) {
    return std::clamp(part, 0, 3);
}

}  // namespace

int PathParts::Parse(std::u16string_view path, char16_t separator) {
    std::fill(std::begin(starts), std::end(starts), 0);
    std::fill(std::begin(lengths), std::end(lengths), 0);
    std::size_t begin = 0;
    std::size_t end = path.size();
    while (begin < end && IsBlank(path[begin])) ++begin;
    while (end > begin && IsBlank(path[end - 1])) --end;
    text.assign(path.substr(begin, end - begin));
    if (text.empty()) return 0;

    const int size = static_cast<int>(text.size());
    const std::size_t first = text.find(separator);
    if (first == std::u16string::npos) {
        starts[Folder] = -1;
        lengths[Root] = size;
        return 1;
    }
    const int f = static_cast<int>(first);
    lengths[Root] = f;
    starts[Folder] = f;
    if (f + 1 < size && text[f + 1] == separator) starts[Folder] = f + 1;

    const int r = static_cast<int>(text.rfind(separator));
    starts[BaseName] = r + 1;
    lengths[Folder] = r + 1 - starts[Folder];

    const std::size_t dot = text.rfind(u'.');
    if (dot != std::u16string::npos && static_cast<int>(dot) > r + 1) {
        const int d = static_cast<int>(dot);
        starts[Extension] = d;
        lengths[Extension] = size - d;
        lengths[BaseName] = d - (r + 1);
    } else {
        lengths[BaseName] = size - (r + 1);
    }
    return 1;
}

int PathParts::PartEnd(int part) const {
    // An empty part sits where the part before it ends: an absent extension at the end of the
    // base name, an absent folder at the end of the root.
    while (part > 0 && lengths[part] == 0) --part;
    return std::max(0, starts[part] + lengths[part]);
}

int PathParts::PartBegin(int part) const {
    return lengths[part] == 0 ? PartEnd(part) : starts[part];
}

std::u16string PathParts::Span(int last, const char16_t* suffix, int first) const {
    last = ClampPart(last);
    first = std::min(ClampPart(first), last);
    std::u16string out;
    const int begin = PartBegin(first);
    const int end = PartEnd(last);
    if (end > begin) out.assign(text, static_cast<std::size_t>(begin), end - begin);
    if (suffix != nullptr) out += suffix;
    return out;
}

}  // namespace quillon
