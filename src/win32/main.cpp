// Quillon's window on Windows: starts the network layer (or says why it cannot), reads the
// settings from the registry and runs the dialog until it closes.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <cwchar>
#include <filesystem>
#include <string>

#include "application/application.h"
#include "quillon_version.h"
#include "service/httptransport.h"
#include "settings/usersettings.h"
#include "win32/quillondlg.h"

namespace {

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

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    if (commandLine != nullptr && std::wcsstr(commandLine, L"--version") != nullptr) {
        PrintVersion();
        return 0;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // the folder browser needs it

    if (!quillon::StartNetworkLayer()) {
        // The caption is the program's name, the base name of its executable.
        wchar_t module[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, module, MAX_PATH);
        const std::wstring name = std::filesystem::path(module).stem().wstring();
        ::MessageBoxW(nullptr, L"Windows 소켓 초기화에 실패하였습니다.", name.c_str(), MB_OK);
        return 0;
    }
    {
        const auto settings = quillon::OpenUserSettings();
        quillon::win32::CQuillonDlg dialog(*settings);
        dialog.DoModal();
    }  // the window's destruction stores the last file or folder
    // A worker that did not stop in time must not hold the exit.
    if (quillon::QuillonApplication::LiveWorkers() > 0) ::ExitProcess(0);
    quillon::StopNetworkLayer();
    ::CoUninitialize();
    return 0;
}
