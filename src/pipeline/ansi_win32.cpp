// Encoding 0 on Windows: WideCharToMultiByte into the system's ANSI code page (CP_ACP), or into
// the code page that QUILLON_ANSI_CODEPAGE names ("949", "CP949"), with the code page's own
// replacement character for what it lacks.
#include <windows.h>

#include <cstdlib>

#include "pipeline/textwriter.h"
#include "service/textconv.h"

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

}  // namespace quillon
