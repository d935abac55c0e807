// Drives the Windows window through a single-file run, a folder run and a refused start, then
// opens the about box and the settings dialog, and after each prints where the window (and the
// tip) is on the screen, "NAME WINDOW x y w h [TIP x y w h]", then waits for a line on standard
// input before it goes on: scripts/screenshots takes the picture in between. Run it under Wine on a
// display, with the service's host in the registry. Usage: quillon-screenshots.exe MUSIC_DIR
#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <thread>

#include "gui/presenter/dialogpresenter.h"
#include "gui/win32/quillondlg.h"
#include "service/httptransport.h"
#include "settings/usersettings.h"

using namespace quillon;
using namespace quillon::win32;

namespace {

void Pump(HWND dialog, const std::function<bool()>& done, int limitMs = 20000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!::IsDialogMessageW(dialog, &message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
        if (done() || std::chrono::steady_clock::now() > until) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Lets `window` draw itself, prints where it is (and the tip, when one is given and shown) and
// waits until the picture is taken.
void Report(const char* name, HWND window, const TipWnd* tip = nullptr) {
    Pump(
        window, [] { return false; }, 500);
    RECT rect{};
    ::GetWindowRect(window, &rect);
    std::printf("%s WINDOW %ld %ld %ld %ld", name, rect.left, rect.top, rect.right - rect.left,
                rect.bottom - rect.top);
    if (tip != nullptr && tip->IsVisible()) {
        ::GetWindowRect(tip->Handle(), &rect);
        std::printf(" TIP %ld %ld %ld %ld", rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top);
    }
    std::printf("\n");
    std::fflush(stdout);
    std::string answer;
    std::getline(std::cin, answer);
}

void Shoot(CQuillonDlg& dlg, const char* name) {
    Report(name, dlg.Handle(), &dlg.Tip());
}

// Opens a modal box with `open` and shoots the box captioned `caption` from within its loop (a
// thread timer fires there), then closes it.
void ShootModal(const wchar_t* caption, const char* name, const std::function<void()>& open) {
    static const wchar_t* wanted;
    static const char* shot;
    wanted = caption;
    shot = name;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR id, DWORD) {
        const HWND box = ::FindWindowW(L"#32770", wanted);
        if (box == nullptr || !::IsWindowVisible(box)) return;
        ::KillTimer(nullptr, id);
        Report(shot, box);
        ::EndDialog(box, IDCANCEL);
    });
    open();
    ::KillTimer(nullptr, timer);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("Usage: quillon-screenshots.exe MUSIC_DIR\n", stderr);
        return 2;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    StartNetworkLayer();
    const std::filesystem::path music = argv[1];
    const auto settings = OpenUserSettings();
    CQuillonDlg dlg(*settings);
    dlg.Create();
    ::SetWindowPos(dlg.Handle(), nullptr, 40, 90, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ::ShowWindow(dlg.Handle(), SW_SHOW);
    const auto click = [&](int id) { ::SendMessageW(dlg.Control(id), BM_CLICK, 0, 0); };
    const auto running = [&] { return !dlg.App().JobRunning() && !dlg.RowsWaiting(); };

    // One song: its lyric rows with their translations, ready to save.
    ::SetWindowTextW(dlg.Control(IDC_PATH), (music / L"tone-a440.mp3").c_str());
    click(IDC_DOWNLOAD);
    Pump(dlg.Handle(), running);
    Shoot(dlg, "single-file");

    // The whole folder: the log of every step.
    ::SendMessageW(dlg.Control(IDC_MODE), CB_SETCURSEL, 1, 0);
    ::SendMessageW(dlg.Handle(), WM_COMMAND, MAKEWPARAM(IDC_MODE, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(dlg.Control(IDC_MODE)));
    ::SetWindowTextW(dlg.Control(IDC_PATH), music.c_str());
    click(IDC_DOWNLOAD);
    Pump(dlg.Handle(), running);
    Shoot(dlg, "folder");

    // A start without a song: the tip above the download button.
    ::SendMessageW(dlg.Control(IDC_MODE), CB_SETCURSEL, 0, 0);
    ::SendMessageW(dlg.Handle(), WM_COMMAND, MAKEWPARAM(IDC_MODE, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(dlg.Control(IDC_MODE)));
    ::SetWindowTextW(dlg.Control(IDC_PATH), L"");
    click(IDC_DOWNLOAD);
    Shoot(dlg, "tip");
    dlg.Tip().Hide();

    // The about box and the settings dialog, from the system menu.
    const auto command = [&](UINT id) {
        return [&dlg, id] { ::SendMessageW(dlg.Handle(), WM_SYSCOMMAND, id, 0); };
    };
    ShootModal(L"Quillon 정보", "about", command(IDM_ABOUTBOX));
    ShootModal(L"Quillon 설정", "settings", command(IDM_SETTINGS));
    return 0;
}
