// Encoding 0 on Windows: WideCharToMultiByte into the system's ANSI code page (CP_ACP), or into
// the code page that QUILLON_ANSI_CODEPAGE names ("949", "CP949"), with the code page's own
// replacement character for what it lacks.
#include <windows.h>

#include <cstdlib>

#include "pipeline/textwriter.h"
#include "text/textconv.h"

namespace quillon {
namespace {

UINT CodePageNumber(const std::string& name) {
    std::size_t digits = name.find_first_of("0123456789");
    if (digits == std::string::npos) return CP_ACP;
    return static_cast<UINT>(std::strtoul(name.c_str() + digits, nullptr, 10));
}

}  // namespace

std::string AnsiCodePage() {
    const char* name = std::getenv("QUILLON_ANSI_CODEPAGE");
    return name != nullptr ? name : "";
}

std::string ConvertToAnsi(std::u16string_view text, const std::string& codePage) {
    text = UpToNul(text);
    if (text.empty()) return {};
    const UINT page = CodePageNumber(codePage);
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int units = static_cast<int>(text.size());
    const int size = ::WideCharToMultiByte(page, 0, wide, units, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    if (::WideCharToMultiByte(page, 0, wide, units, out.data(), size, nullptr, nullptr) != size)
        return {};
    return out;
}

std::size_t AnsiLostCharacters(std::u16string_view text, const std::string& codePage) {
    text = UpToNul(text);
    if (text.empty()) return 0;
    const UINT page = CodePageNumber(codePage);
    // UTF-8 holds every character, and its code page takes neither the flag nor the question.
    if ((page == CP_ACP ? ::GetACP() : page) == CP_UTF8) return 0;
    // A second conversion that refuses look-alikes tells whether anything is lost at all; a code
    // page that takes no flags (UTF-7, the ISO-2022 pages) cannot tell, and counts as keeping.
    const auto lostIn = [page](std::u16string_view part) {
        char buffer[16];
        BOOL usedDefault = FALSE;
        const int size = ::WideCharToMultiByte(
            page, WC_NO_BEST_FIT_CHARS, reinterpret_cast<const wchar_t*>(part.data()),
            static_cast<int>(part.size()), part.size() <= 2 ? buffer : nullptr,
            part.size() <= 2 ? static_cast<int>(sizeof buffer) : 0, nullptr, &usedDefault);
        return size > 0 && usedDefault;
    };
    if (!lostIn(text)) return 0;
    // Then character by character, a surrogate pair as one.
    std::size_t lost = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t units =
            at + 1 < text.size() && IsHighSurrogate(text[at]) && IsLowSurrogate(text[at + 1]) ? 2
                                                                                              : 1;
        if (lostIn(text.substr(at, units))) ++lost;
        at += units;
    }
    return lost;
}

}  // namespace quillon
