#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "common/exitstatus.h"

namespace quillon::cli {

// Prints "quillon-cli: <message>" on stderr and returns ExitUsage.
int UsageError(std::string_view message);

// The FILE arguments of a command that takes files and no option but --help (printed as `help`),
// "--" ending the options. Returns an exit status when the command is done already.
std::optional<int> FileArguments(const std::vector<std::string_view>& args,
                                 std::string_view command, const char* help,
                                 std::vector<std::string_view>& files);

int RunChecksum(const std::vector<std::string_view>& args);
int RunFetch(const std::vector<std::string_view>& args);
int RunFolder(const std::vector<std::string_view>& args);
int RunLyrics(const std::vector<std::string_view>& args);  // builds that can read tags

}  // namespace quillon::cli
