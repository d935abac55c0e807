#include <unistd.h>

#include <csignal>

#include "cli/console.h"

namespace quillon::cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;
struct sigaction previous {};

extern "C" void OnInterrupt(int) {
    interrupted = 1;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

std::filesystem::path ArgumentPath(std::string_view argument) {
    return std::filesystem::path(std::string(argument));
}

void Write(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

void CatchInterrupt() {
    interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previous);
}

void ReleaseInterrupt() {
    ::sigaction(SIGINT, &previous, nullptr);
}

bool Interrupted() {
    return interrupted != 0;
}

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

}  // namespace quillon::cli
