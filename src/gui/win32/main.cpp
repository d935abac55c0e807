// Quillon's window on Windows: starts the network layer (or says why it cannot), reads the
// settings from the registry and runs the dialog until it closes, with the file or folder the
// command line names ("Open with" on a song).
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <filesystem>
#include <string>
#include <vector>

#include "application/startarguments.h"
#include "common/exitstatus.h"
#include "gui/presenter/dialogpresenter.h"
#include "gui/win32/quillondlg.h"
#include "quillon_version.h"
#include "service/httptransport.h"
#include "settings/usersettings.h"
#include "text/textconv.h"

namespace {

// The arguments after the program's name, in UTF-16 as the system has them.
std::vector<std::filesystem::path> Arguments() {
    std::vector<std::filesystem::path> args;
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (argv == nullptr) return args;
    for (int i = 1; i < count; ++i) args.emplace_back(argv[i]);
    ::LocalFree(argv);
    return args;
}

// The program's name, the base name of its executable: the caption of its message boxes.
std::wstring ProgramName() {
    wchar_t module[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    return std::filesystem::path(module).stem().wstring();
}

// A text in UTF-8 in a message box: a window program has no console.
void Tell(const std::string& text, UINT icon) {
    const std::u16string utf16 = quillon::Utf8ToWide(text);
    const std::wstring wide(utf16.begin(), utf16.end());
    ::MessageBoxW(nullptr, wide.c_str(), ProgramName().c_str(), MB_OK | icon);
}

// "quillon 1.1" for --version, to the console the program was started from.
void PrintVersion() {
    std::wstring line = L"quillon ";
    for (const char* c = quillon::Version; *c != '\0'; ++c) line += static_cast<wchar_t>(*c);
    line += L"\n";
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return;
        out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(out, &mode)) {
        ::WriteConsoleW(out, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
    } else {
        const std::string bytes(line.begin(), line.end());
        ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::vector<std::filesystem::path> args = Arguments();
    for (const std::filesystem::path& arg : args) {
        if (arg == L"--") break;
        if (arg == L"--version") {
            PrintVersion();
            return quillon::ExitOk;
        }
    }
    const quillon::StartArguments start = quillon::ParseStartArguments(args);
    if (start.action == quillon::StartArguments::Action::Help) {
        Tell(quillon::StartUsage, MB_ICONINFORMATION);
        return quillon::ExitOk;
    }
    if (start.action == quillon::StartArguments::Action::Usage) {
        std::string text = "quillon: ";
        text.append(start.error).append("\n\n").append(quillon::StartUsage);
        Tell(text, MB_ICONWARNING);
        return quillon::ExitUsage;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // the folder browser needs it

    if (!quillon::StartNetworkLayer()) {
        ::MessageBoxW(nullptr, L"Windows 소켓 초기화에 실패하였습니다.", ProgramName().c_str(),
                      MB_OK);
        return 0;
    }
    {
        const auto settings = quillon::OpenUserSettings();
        quillon::JobOptions options;
        options.open = start.open;
        quillon::win32::CQuillonDlg dialog(*settings, std::move(options));
        dialog.DoModal();
    }  // the window's destruction stores the last file or folder
    // A worker that did not stop in time must not hold the exit.
    if (quillon::LyricsSession::LiveWorkers() > 0) ::ExitProcess(0);
    quillon::StopNetworkLayer();
    ::CoUninitialize();
    return 0;
}
