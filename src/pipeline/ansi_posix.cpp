// Encoding 0 on POSIX systems: iconv from UTF-16 to the locale's character set, or to the code
// page that QUILLON_ANSI_CODEPAGE names.
#include <bit>
#include <cerrno>
#include <cstdlib>

#include <iconv.h>
#include <langinfo.h>

#include "pipeline/textwriter.h"
#include "text/textconv.h"

namespace quillon {

namespace {

// Code units of one character at the start of `text`: 2 for a surrogate pair, else 1.
std::size_t CharacterUnits(std::u16string_view text) {
    return text.size() >= 2 && IsHighSurrogate(text[0]) && IsLowSurrogate(text[1]) ? 2 : 1;
}

// Without a converter for the code page, ASCII is all that can safely be assumed of it.
std::string AsciiOnly(std::u16string_view text, std::size_t& lost) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t units = CharacterUnits(text);
        const bool ascii = text[0] <= 0x7F;
        out.push_back(ascii ? static_cast<char>(text[0]) : '?');
        lost += ascii ? 0 : 1;
        text.remove_prefix(units);
    }
    return out;
}

class Converter {
public:
    explicit Converter(const std::string& codePage) {
        // The text arrives in host-order code units; naming the byte order keeps iconv from
        // expecting (or writing) a byte order mark.
        constexpr const char* source =
            std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
        cd = ::iconv_open(codePage.c_str(), source);
    }
    ~Converter() {
        if (Valid()) ::iconv_close(cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Valid() const { return cd != reinterpret_cast<iconv_t>(-1); }

    // Converts all of `text`; a character the code page cannot hold becomes '?' and counts in
    // `lost`.
    std::string Convert(std::u16string_view text, std::size_t& lost) {
        std::string out;
        out.reserve(text.size() * 2 + 8);
        while (!text.empty()) {
            const std::size_t consumed = Run(text, out);
            text.remove_prefix(consumed);
            if (text.empty()) break;
            // Stopped at a character the code page lacks (or a lone surrogate): one '?' for the
            // whole character, then go on behind it.
            text.remove_prefix(CharacterUnits(text));
            ++lost;
            static constexpr char16_t question[] = {u'?'};
            if (Run(std::u16string_view(question, 1), out) != 1) out.push_back('?');
        }
        Finish(out);
        return out;
    }

private:
    // Converts as much of `text` as iconv accepts; returns the code units consumed.
    std::size_t Run(std::u16string_view text, std::string& out) {
        char* in = const_cast<char*>(reinterpret_cast<const char*>(text.data()));
        std::size_t inLeft = text.size() * sizeof(char16_t);
        while (inLeft > 0) {
            const std::size_t used = out.size();
            out.resize(used + inLeft * 2 + 16);
            char* dst = out.data() + used;
            std::size_t dstLeft = out.size() - used;
            const std::size_t result = ::iconv(cd, &in, &inLeft, &dst, &dstLeft);
            const int error = errno;
            out.resize(out.size() - dstLeft);
            if (result != static_cast<std::size_t>(-1)) break;
            if (error != E2BIG) break;  // EILSEQ or EINVAL: the caller skips the character.
        }
        return text.size() - inLeft / sizeof(char16_t);
    }

    // Returns a stateful code page to its initial shift state.
    void Finish(std::string& out) {
        char buffer[32];
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        if (::iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<std::size_t>(-1)) {
            out.append(buffer, sizeof buffer - dstLeft);
        }
    }

    iconv_t cd;
};

}  // namespace

std::string AnsiCodePage() {
    const char* name = std::getenv("QUILLON_ANSI_CODEPAGE");
    if (name != nullptr && *name != '\0') return name;
    const char* codeset = ::nl_langinfo(CODESET);
    return codeset != nullptr && *codeset != '\0' ? codeset : "ASCII";
}

namespace {

std::string Convert(std::u16string_view text, const std::string& codePage, std::size_t& lost) {
    text = UpToNul(text);
    if (text.empty()) return {};
    Converter converter(codePage);
    if (!converter.Valid()) return AsciiOnly(text, lost);
    return converter.Convert(text, lost);
}

}  // namespace

std::string ConvertToAnsi(std::u16string_view text, const std::string& codePage) {
    std::size_t lost = 0;
    return Convert(text, codePage, lost);
}

std::size_t AnsiLostCharacters(std::u16string_view text, const std::string& codePage) {
    std::size_t lost = 0;
    Convert(text, codePage, lost);
    return lost;
}

}  // namespace quillon
