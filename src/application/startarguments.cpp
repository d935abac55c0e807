#include "application/startarguments.h"

#include <algorithm>
#include <string_view>

#include "text/textconv.h"

namespace quillon {

const char StartUsage[] =
    "Usage: quillon [FILE | FOLDER]\n"
    "\n"
    "Opens Quillon's window: a FILE in file mode, a FOLDER in folder mode, and without\n"
    "either the last file chosen.\n"
    "\n"
    "  -h, --help   show this help and exit\n"
    "  --version    print the version and exit\n";

namespace {

// Whether an argument is the ASCII text `word`, whatever the system's character type.
bool Is(const std::filesystem::path& arg, std::string_view word) {
    const auto& text = arg.native();
    return std::equal(text.begin(), text.end(), word.begin(), word.end(),
                      [](auto c, char w) { return c == static_cast<unsigned char>(w); });
}

}  // namespace

StartArguments ParseStartArguments(const std::vector<std::filesystem::path>& args) {
    StartArguments parsed;
    bool optionsEnd = false;
    for (const std::filesystem::path& arg : args) {
        const auto& text = arg.native();
        if (!optionsEnd && Is(arg, "--")) {
            optionsEnd = true;
        } else if (!optionsEnd && (Is(arg, "-h") || Is(arg, "--help"))) {
            parsed.action = StartArguments::Action::Help;
        } else if (!optionsEnd && text.size() > 1 && text.front() == '-') {
            parsed.action = StartArguments::Action::Usage;
            parsed.error = "unknown option " + WideToUtf8(PathText(arg));
            return parsed;
        } else if (parsed.open) {
            parsed.action = StartArguments::Action::Usage;
            parsed.error = "one file or folder at a time";
            return parsed;
        } else {
            parsed.open = arg;
        }
    }
    return parsed;
}

}  // namespace quillon
