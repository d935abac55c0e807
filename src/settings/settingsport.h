#pragma once

#include <string>
#include <string_view>

namespace quillon {

// The per-user settings as the application reads and writes them, whatever keeps them: an INI
// file through Qt, or the registry on Windows. A missing value reads as its default; write
// failures are not reported.
class SettingsPort {
public:
    enum class Text {
        LastOpenFile,  // default: empty
        LastOpenDir,   // default: empty
        ServiceHost,   // "host" or "host:port"; default (also for an empty value): "localhost"
    };

    virtual ~SettingsPort() = default;
    virtual std::u16string ReadText(Text which) = 0;
    virtual void WriteText(Text which, std::u16string_view value) = 0;
    // The "Encoding" setting, a TextEncoding; 0 when missing or not a number.
    virtual int ReadEncoding() = 0;
    virtual void WriteEncoding(int encoding) = 0;

    // What a folder run does beyond the folder itself; a missing or unreadable value reads as
    // its default.
    enum class Option {
        IncludeSubfolders,  // 0 or 1; default 0
        SkipExisting,       // 0 or 1; default 0
        Concurrency,        // 1 to 16 songs in hand at once; default 4
        EmbedLyrics,        // 0 or 1, the lyric in the song's tag too; default 0
    };
    virtual int ReadOption(Option which) = 0;
    virtual void WriteOption(Option which, int value) = 0;

    static constexpr const char* OptionName(Option which) {
        switch (which) {
            case Option::IncludeSubfolders:
                return "IncludeSubfolders";
            case Option::SkipExisting:
                return "SkipExisting";
            case Option::EmbedLyrics:
                return "EmbedLyrics";
            case Option::Concurrency:
                break;
        }
        return "Concurrency";
    }
    static constexpr int OptionDefault(Option which) {
        return which == Option::Concurrency ? 4 : 0;
    }
};

}  // namespace quillon
