#include "text/matchkey.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>
#include <utility>

namespace quillon {
namespace {

using Codepoints = std::vector<utf8proc_int32_t>;

constexpr utf8proc_int32_t Replacement = 0xFFFD;

// Each byte that starts no valid sequence becomes U+FFFD, so utf8proc sees valid UTF-8 only.
std::string Sanitised(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto* data = reinterpret_cast<const utf8proc_uint8_t*>(bytes.data());
    const auto size = static_cast<utf8proc_ssize_t>(bytes.size());
    for (utf8proc_ssize_t at = 0; at < size;) {
        utf8proc_int32_t c = -1;
        const utf8proc_ssize_t used = utf8proc_iterate(data + at, size - at, &c);
        if (used > 0 && c >= 0) {
            out.append(bytes.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(used)));
            at += used;
        } else {
            utf8proc_uint8_t encoded[4];
            const auto length = utf8proc_encode_char(Replacement, encoded);
            out.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(length));
            ++at;
        }
    }
    return out;
}

// NFKC and case folding; control characters go (line breaks and tabs become spaces), and so do
// the default ignorable ones (soft hyphens, zero-width spaces and joiners).
Codepoints Folded(std::string_view utf8) {
    const std::string valid = Sanitised(utf8);
    utf8proc_uint8_t* mapped = nullptr;
    const utf8proc_ssize_t length = utf8proc_map(
        reinterpret_cast<const utf8proc_uint8_t*>(valid.data()),
        static_cast<utf8proc_ssize_t>(valid.size()), &mapped,
        static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPAT | UTF8PROC_COMPOSE |
                                       UTF8PROC_CASEFOLD | UTF8PROC_IGNORE | UTF8PROC_STRIPCC));
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(mapped, &std::free);
    Codepoints out;
    if (length < 0) return out;  // only when memory runs out: the input is valid by now
    for (utf8proc_ssize_t at = 0; at < length;) {
        utf8proc_int32_t c = -1;
        const utf8proc_ssize_t used = utf8proc_iterate(mapped + at, length - at, &c);
        if (used <= 0) break;
        out.push_back(c);
        at += used;
    }
    return out;
}

bool IsSpace(utf8proc_int32_t c) {
    switch (utf8proc_category(c)) {
        case UTF8PROC_CATEGORY_ZS:
        case UTF8PROC_CATEGORY_ZL:
        case UTF8PROC_CATEGORY_ZP:
            return true;
        default:
            return c == ' ';
    }
}

bool IsDropped(utf8proc_int32_t c) {
    const utf8proc_category_t category = utf8proc_category(c);
    return category >= UTF8PROC_CATEGORY_PC && category <= UTF8PROC_CATEGORY_SO;
}

// Whether anything of codepoints[0, end) stays in a key.
bool HasWords(const Codepoints& text, std::size_t end) {
    for (std::size_t i = 0; i < end; ++i)
        if (!IsDropped(text[i]) && !IsSpace(text[i])) return true;
    return false;
}

// The brackets a trailing part may be in, after NFKC (which makes fullwidth brackets ASCII).
constexpr std::pair<utf8proc_int32_t, utf8proc_int32_t> Brackets[] = {
    {'(', ')'}, {'[', ']'}, {'{', '}'}, {0x3010, 0x3011}, {0x3014, 0x3015}};

// Where the text ends once trailing bracketed parts are left out: "a (b) [c]" ends after "a".
// A part is left out only while words stay before it, and only when its brackets pair up.
std::size_t EndWithoutBracketedTail(const Codepoints& text) {
    std::size_t end = text.size();
    for (;;) {
        while (end > 0 && IsSpace(text[end - 1])) --end;
        if (end == 0) return end;
        utf8proc_int32_t open = 0;
        for (const auto& [opening, closing] : Brackets)
            if (text[end - 1] == closing) open = opening;
        if (open == 0) return end;
        const utf8proc_int32_t close = text[end - 1];
        std::size_t depth = 0;
        std::size_t at = end;
        bool found = false;
        while (at > 0) {
            --at;
            if (text[at] == close) {
                ++depth;
            } else if (text[at] == open && --depth == 0) {
                found = true;
                break;
            }
        }
        if (!found || !HasWords(text, at)) return end;
        end = at;
    }
}

std::string Joined(const Codepoints& text, std::size_t end) {
    std::string out;
    bool space = false;
    for (std::size_t i = 0; i < end; ++i) {
        const utf8proc_int32_t c = text[i];
        if (IsSpace(c)) {
            space = true;
            continue;
        }
        if (IsDropped(c)) continue;
        if (space && !out.empty()) out += ' ';
        space = false;
        utf8proc_uint8_t encoded[4];
        const auto length = utf8proc_encode_char(c, encoded);
        out.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(length));
    }
    return out;
}

}  // namespace

std::string MatchKey(std::string_view utf8) {
    const Codepoints folded = Folded(utf8);
    return Joined(folded, EndWithoutBracketedTail(folded));
}

std::string MatchText(std::string_view utf8) {
    const Codepoints folded = Folded(utf8);
    return Joined(folded, folded.size());
}

std::vector<std::string> MatchWords(std::string_view utf8) {
    const std::string text = MatchText(utf8);
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t space = text.find(' ', start);
        if (space == std::string::npos) space = text.size();
        words.push_back(text.substr(start, space - start));
        start = space + 1;
    }
    return words;
}

}  // namespace quillon
