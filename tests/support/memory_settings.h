#pragma once

// Settings kept in memory, for tests of the application layer.

#include <map>
#include <string>

#include "settings/settingsport.h"

namespace quillon::testing {

class MemorySettings final : public SettingsPort {
public:
    std::u16string ReadText(Text which) override {
        const auto it = texts.find(which);
        if (it != texts.end() && !it->second.empty()) return it->second;
        return which == Text::ServiceHost ? u"localhost" : u"";
    }
    void WriteText(Text which, std::u16string_view value) override { texts[which] = value; }
    int ReadEncoding() override { return encoding; }
    void WriteEncoding(int value) override { encoding = value; }
    int ReadOption(Option which) override {
        const auto it = options.find(which);
        return it == options.end() ? OptionDefault(which) : it->second;
    }
    void WriteOption(Option which, int value) override { options[which] = value; }

    std::map<Option, int> options;

    std::map<Text, std::u16string> texts;
    int encoding = 0;
};

}  // namespace quillon::testing
