// The settings in the registry under HKEY_CURRENT_USER\Software\Brantwell\Quillon\Settings:
// texts as REG_SZ, the encoding as REG_DWORD, as the Qt build on Windows keeps them too.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "settings/usersettings.h"

namespace quillon {
namespace {

constexpr wchar_t KeyPath[] = L"Software\\Brantwell\\Quillon\\Settings";

const wchar_t* ValueName(SettingsPort::Text which) {
    switch (which) {
        case SettingsPort::Text::LastOpenFile:
            return L"LastOpenFile";
        case SettingsPort::Text::LastOpenDir:
            return L"LastOpenDir";
        case SettingsPort::Text::ServiceHost:
            break;
    }
    return L"ServiceHost";
}

class RegistrySettings final : public SettingsPort {
public:
    std::u16string ReadText(Text which) override {
        std::u16string value = ReadString(ValueName(which));
        if (which == Text::ServiceHost && value.empty()) return u"localhost";
        return value;
    }

    void WriteText(Text which, std::u16string_view value) override {
        const std::wstring text(value.begin(), value.end());
        ::RegSetKeyValueW(HKEY_CURRENT_USER, KeyPath, ValueName(which), REG_SZ, text.c_str(),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

    int ReadEncoding() override { return ReadNumber(L"Encoding", 0); }
    void WriteEncoding(int encoding) override { WriteNumber(L"Encoding", encoding); }

    int ReadOption(Option which) override {
        return ReadNumber(Wide(OptionName(which)).c_str(), OptionDefault(which));
    }
    void WriteOption(Option which, int value) override {
        WriteNumber(Wide(OptionName(which)).c_str(), value);
    }

private:
    static std::wstring Wide(const char* ascii) {
        return std::wstring(ascii, ascii + std::strlen(ascii));
    }

    static int ReadNumber(const wchar_t* name, int fallback) {
        DWORD number = 0;
        DWORD size = sizeof number;
        if (::RegGetValueW(HKEY_CURRENT_USER, KeyPath, name, RRF_RT_REG_DWORD, nullptr, &number,
                           &size) == ERROR_SUCCESS)
            return static_cast<int>(number);
        // A number written as text by hand counts too; anything else reads as the default.
        const std::u16string text = ReadString(name);
        if (text.empty() || text.size() > 9) return fallback;
        int value = 0;
        for (const char16_t c : text) {
            if (c < u'0' || c > u'9') return fallback;
            value = value * 10 + (c - u'0');
        }
        return value;
    }

    static void WriteNumber(const wchar_t* name, int value) {
        const DWORD number = static_cast<DWORD>(value);
        ::RegSetKeyValueW(HKEY_CURRENT_USER, KeyPath, name, REG_DWORD, &number, sizeof number);
    }

    static std::u16string ReadString(const wchar_t* name) {
        DWORD size = 0;
        if (::RegGetValueW(HKEY_CURRENT_USER, KeyPath, name, RRF_RT_REG_SZ, nullptr, nullptr,
                           &size) != ERROR_SUCCESS ||
            size < sizeof(wchar_t))
            return {};
        std::wstring text(size / sizeof(wchar_t), L'\0');
        if (::RegGetValueW(HKEY_CURRENT_USER, KeyPath, name, RRF_RT_REG_SZ, nullptr, text.data(),
                           &size) != ERROR_SUCCESS)
            return {};
        text.resize(std::wcslen(text.c_str()));
        return std::u16string(text.begin(), text.end());
    }
};

}  // namespace

std::unique_ptr<SettingsPort> OpenUserSettings() {
    return std::make_unique<RegistrySettings>();
}

}  // namespace quillon
