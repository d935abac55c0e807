#pragma once

#include <string_view>
#include <vector>

#include "common/exitstatus.h"

namespace quillon::cli {

// Prints "quillon-cli: <message>" on stderr and returns ExitUsage.
int UsageError(std::string_view message);

int RunChecksum(const std::vector<std::string_view>& args);
int RunFetch(const std::vector<std::string_view>& args);
int RunFolder(const std::vector<std::string_view>& args);

}  // namespace quillon::cli
