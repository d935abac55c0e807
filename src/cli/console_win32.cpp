#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <atomic>

#include "cli/console.h"
#include "text/textconv.h"

namespace quillon::cli {
namespace {

std::atomic<bool> interrupted{false};

BOOL WINAPI OnControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    interrupted = true;
    return TRUE;
}

// The console a standard stream shows on, or nothing when it goes to a file or a pipe; asked
// once per stream.
HANDLE ConsoleOf(std::FILE* stream) {
    static const auto console = [](DWORD which) {
        const HANDLE handle = ::GetStdHandle(which);
        DWORD mode = 0;
        return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) ? handle : nullptr;
    };
    static const HANDLE out = console(STD_OUTPUT_HANDLE);
    static const HANDLE err = console(STD_ERROR_HANDLE);
    return stream == stderr ? err : out;
}

}  // namespace

std::vector<std::string> ProgramArguments(int, char**) {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    // The wide command line: names in any script arrive whole, whatever the code page.
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide != nullptr && i < count; ++i) {
        const std::wstring_view argument(wide[i]);
        arguments.push_back(WideToUtf8(std::u16string(argument.begin(), argument.end())));
    }
    if (wide != nullptr) ::LocalFree(wide);
    return arguments;
}

std::filesystem::path ArgumentPath(std::string_view argument) {
    return PathFromText(Utf8ToWide(argument));
}

void Write(std::FILE* stream, std::string_view text) {
    if (const HANDLE console = ConsoleOf(stream)) {
        // A console shows UTF-16; anything else (a file, a pipe) gets the UTF-8 bytes.
        std::fflush(stream);
        const std::u16string wide = Utf8ToWide(text);
        DWORD written = 0;
        ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

void CatchInterrupt() {
    interrupted = false;
    ::SetConsoleCtrlHandler(OnControl, TRUE);
}

void ReleaseInterrupt() {
    ::SetConsoleCtrlHandler(OnControl, FALSE);
}

bool Interrupted() {
    return interrupted.load();
}

bool IsTerminal(std::FILE* stream) {
    return ConsoleOf(stream) != nullptr;
}

}  // namespace quillon::cli
