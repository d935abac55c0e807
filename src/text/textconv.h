#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quillon {

// UTF-8 bytes to UTF-16: one code unit per sequence of 1 to 3 bytes, whose follow bytes are
// masked, not validated; a well-formed four-byte sequence becomes a surrogate pair.
std::u16string Utf8ToWide(std::string_view bytes);

// UTF-16 to UTF-8: a surrogate pair becomes one four-byte sequence, every other code unit (a
// lone surrogate half included) one to three bytes by itself.
std::string WideToUtf8(std::u16string_view text);
void AppendUtf8(std::string& out, std::u16string_view text);

inline bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
inline bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The text up to its first NUL: what every writer of a text takes of it.
inline std::u16string_view UpToNul(std::u16string_view text) {
    return text.substr(0, text.find(u'\0'));
}

#ifdef _WIN32
inline constexpr char16_t NativeSeparator = u'\\';
#else
inline constexpr char16_t NativeSeparator = u'/';
#endif

// A path as text, and text as a path: on Windows the system's own UTF-16, elsewhere the name's
// bytes taken as UTF-8 (leniently, as Utf8ToWide reads them).
std::u16string PathText(const std::filesystem::path& path);
std::filesystem::path PathFromText(std::u16string_view text);

// Splits a path into root, folder, base name and extension (parts 0 to 3).
class PathParts {
public:
    enum Part { Root = 0, Folder = 1, BaseName = 2, Extension = 3 };

    PathParts() = default;
    explicit PathParts(std::u16string_view path, char16_t separator = NativeSeparator) {
        Parse(path, separator);
    }

    // 1 when the trimmed path is not empty, else 0; fills the eight numbers.
    int Parse(std::u16string_view path, char16_t separator = NativeSeparator);

    // The text from the start of `first` to the end of `last`, then `suffix` if given (may be
    // null). Parts below 0 count as 0, above 3 as 3; a `first` above `last` counts as `last`. An
    // empty part sits where the part before it ends, so an absent extension spans nothing.
    std::u16string Span(int last, const char16_t* suffix, int first) const;

    const std::u16string& Text() const { return text; }
    int Start(int part) const { return starts[part]; }
    int Length(int part) const { return lengths[part]; }

private:
    int PartBegin(int part) const;
    int PartEnd(int part) const;

    std::u16string text;
    int starts[4] = {0, 0, 0, 0};
    int lengths[4] = {0, 0, 0, 0};
};

}  // namespace quillon
