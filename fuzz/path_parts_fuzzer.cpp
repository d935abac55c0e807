// Splitting a path into root, folder, base name and extension, with either separator. The
// first three input bytes choose the parts a span covers and its suffix; the rest is the path
// as UTF-8.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "text/textconv.h"

namespace {

using namespace quillon;

bool IsPieceOf(std::u16string_view piece, std::u16string_view text) {
    return text.find(piece) != std::u16string_view::npos;
}

void CheckParts(std::u16string_view path, char16_t separator, int last, int first,
                const char16_t* suffix) {
    PathParts parts;
    const int result = parts.Parse(path, separator);
    const std::u16string& text = parts.Text();
    QUILLON_FUZZ_CHECK(IsPieceOf(text, path), "the trimmed text is not a piece of the path");
    QUILLON_FUZZ_CHECK(result == (text.empty() ? 0 : 1), "result and trimmed text disagree");
    const int size = static_cast<int>(text.size());
    for (int part = PathParts::Root; part <= PathParts::Extension; ++part) {
        const int start = parts.Start(part);
        const int length = parts.Length(part);
        QUILLON_FUZZ_CHECK(length >= 0 && length <= size, "a part's length");
        // A folder that is not there starts at -1; every other start lies in the text.
        QUILLON_FUZZ_CHECK(start >= -1 && start <= size, "a part's start");
        if (length > 0) QUILLON_FUZZ_CHECK(start >= 0 && start + length <= size, "a part's end");
    }
    QUILLON_FUZZ_CHECK(parts.Start(PathParts::Root) == 0, "the root starts the text");
    if (parts.Length(PathParts::Extension) > 0) {
        QUILLON_FUZZ_CHECK(
            text[static_cast<std::size_t>(parts.Start(PathParts::Extension))] == u'.',
            "an extension without its dot");
        QUILLON_FUZZ_CHECK(
            parts.Start(PathParts::Extension) + parts.Length(PathParts::Extension) == size,
            "the extension does not end the text");
    }

    try {
        const std::u16string baseName =
            parts.Span(PathParts::BaseName, nullptr, PathParts::BaseName);
        QUILLON_FUZZ_CHECK(baseName.find(separator) == std::u16string::npos,
                           "a separator in the base name");
        QUILLON_FUZZ_CHECK(parts.Span(PathParts::Extension, nullptr, PathParts::Root) == text,
                           "all four parts do not span the text");
        const std::u16string span = parts.Span(last, suffix, first);
        const std::u16string_view tail = suffix != nullptr ? std::u16string_view(suffix) : u"";
        QUILLON_FUZZ_CHECK(span.size() >= tail.size() &&
                               std::u16string_view(span).substr(span.size() - tail.size()) == tail,
                           "a span does not end in its suffix");
        QUILLON_FUZZ_CHECK(
            IsPieceOf(std::u16string_view(span).substr(0, span.size() - tail.size()), text),
            "a span is not a piece of the text");
    } catch (const std::exception& e) {
        QUILLON_FUZZ_CHECK(false, e.what());
    }
}

// A part number that is mostly in range and sometimes far outside it.
int PartNumber(std::uint8_t byte) {
    switch (byte >> 5) {
        case 0:
            return -1 - (byte & 0x1F) * 0x3FFFFFF;
        case 1:
            return 4 + (byte & 0x1F) * 0x3FFFFFF;
        default:
            return (byte & 0x1F) % 6 - 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const int last = PartNumber(data[0]);
    const int first = PartNumber(data[1]);
    const char16_t* suffix = data[2] & 1 ? u".lrc" : nullptr;
    const std::u16string path =
        Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data + 3), size - 3));
    CheckParts(path, u'/', last, first, suffix);
    CheckParts(path, u'\\', last, first, suffix);
    return 0;
}
