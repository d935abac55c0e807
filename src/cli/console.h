#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// What the command line and the console are on each platform: arguments in UTF-8, text out in
// UTF-8 (shown as such on a Windows console too), and Ctrl+C as a stop request.
namespace quillon::cli {

// The arguments after the program's name. On Windows it also turns the standard streams to
// bytes as they are, so that a line ends in LF as everywhere else.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The file or folder that a command-line argument names, exactly as the system names it.
std::filesystem::path ArgumentPath(std::string_view argument);

// Writes UTF-8 text to stdout or stderr, and flushes it.
void Write(std::FILE* stream, std::string_view text);

// From CatchInterrupt on, Ctrl+C only raises the flag that Interrupted reads, until
// ReleaseInterrupt.
void CatchInterrupt();
void ReleaseInterrupt();
bool Interrupted();

// True when the stream shows on a terminal (a console on Windows), not a file or a pipe.
bool IsTerminal(std::FILE* stream);

}  // namespace quillon::cli
