#pragma once

#include <string_view>
#include <vector>

namespace quillon::cli {

// Exit statuses shared by every command.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;

// Prints "quillon-cli: <message>" on stderr and returns ExitUsage.
int UsageError(std::string_view message);

int RunChecksum(const std::vector<std::string_view>& args);
int RunFetch(const std::vector<std::string_view>& args);
int RunFolder(const std::vector<std::string_view>& args);

}  // namespace quillon::cli
