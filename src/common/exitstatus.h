#pragma once

// The exit statuses of the command-line programs.
namespace quillon {

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailure = 1;  // a file or the run failed, or the run was stopped
inline constexpr int ExitUsage = 2;    // the command line is wrong

}  // namespace quillon
