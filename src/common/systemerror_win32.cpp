#include <windows.h>

#include "common/systemerror.h"

namespace quillon {

std::string SystemErrorText(int error) {
    const DWORD code = static_cast<DWORD>(error);
    wchar_t* text = nullptr;
    // The Internet layer's numbers have their texts in its own module.
    const HMODULE internet =
        code >= 12000 && code < 13000 ? ::GetModuleHandleW(L"wininet.dll") : nullptr;
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
        (internet != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
    const DWORD length =
        ::FormatMessageW(flags, internet, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string utf8;
    if (length > 0 && text != nullptr) {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr,
                                               0, nullptr, nullptr);
        utf8.resize(static_cast<std::size_t>(size > 0 ? size : 0));
        if (size > 0)
            ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(), size,
                                  nullptr, nullptr);
    }
    if (text != nullptr) ::LocalFree(text);
    while (!utf8.empty() &&
           (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ' || utf8.back() == '.'))
        utf8.pop_back();
    return utf8.empty() ? "error " + std::to_string(code) : utf8;
}

}  // namespace quillon
