#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

// What the window's command line asks for: one file or folder to start with, or the help.
// On Linux Qt has taken its own options (-platform, -style and the like) out of it first.
struct StartArguments {
    enum class Action { Run, Help, Usage };
    Action action = Action::Run;
    std::optional<std::filesystem::path> open;  // the one FILE or FOLDER
    std::string error;                          // with Usage
};
// The arguments after the program's name, as the system gave them (UTF-16 on Windows).
StartArguments ParseStartArguments(const std::vector<std::filesystem::path>& args);
extern const char StartUsage[];

}  // namespace quillon
