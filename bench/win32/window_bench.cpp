// How long the Windows window's message loop stalls while a job's results pour in through the
// worker path: one song whose lyric has 2,000 lines, and a folder run that logs 10,000 rows. The
// loop is the modal loop's own (PeekMessage, IsDialogMessage, DispatchMessage); the longest time
// one message took is the longest time the window could not react.
#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "audio/checksum.h"
#include "gui/win32/quillondlg.h"
#include "pipeline/textwriter.h"
#include "service/httptransport.h"
#include "settings/usersettings.h"
#include "support/fake_service.h"

namespace fs = std::filesystem;
using namespace quillon;
using namespace quillon::win32;
using Clock = std::chrono::steady_clock;

namespace {

struct Stalls {
    long long longestMs = 0;
    long long totalMs = 0;
    UINT longestMessage = 0;     // what the window was doing in its longest stall
    int longestAtRow = 0;        // and how many log rows it held
    long long longestCpuMs = 0;  // of it, the time the window's thread ran
};

// The time the calling thread has run, in user and kernel mode.
long long ThreadCpuMs() {
    FILETIME created{}, exited{}, kernel{}, user{};
    ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto ticks = [](FILETIME t) {
        return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10000;  // 100 ns ticks
}

Stalls Measure(CQuillonDlg& dlg, const std::function<bool()>& done) {
    Stalls stalls;
    const auto start = Clock::now();
    ::SendMessageW(dlg.Control(IDC_DOWNLOAD), BM_CLICK, 0, 0);
    const auto ms = [](Clock::duration d) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    };
    while (!done() || dlg.App().JobRunning()) {
        MSG message{};
        if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            continue;
        }
        const auto before = Clock::now();
        const long long cpuBefore = ThreadCpuMs();
        if (!::IsDialogMessageW(dlg.Handle(), &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (const long long took = ms(Clock::now() - before); took > stalls.longestMs) {
            stalls.longestMs = took;
            stalls.longestMessage = message.message;
            stalls.longestAtRow = dlg.LogList().RowCount();
            stalls.longestCpuMs = ThreadCpuMs() - cpuBefore;
        }
    }
    stalls.totalMs = ms(Clock::now() - start);
    return stalls;
}

std::string MakeSong() {
    std::string out;
    for (int frame = 0; frame < 40; ++frame) {
        out += std::string("\xFF\xFB\x90\x64", 4);
        for (int i = 4; i < 417; ++i) out += static_cast<char>((frame * 7 + i) & 0x7F);
    }
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    StartNetworkLayer();
    const fs::path dir = fs::temp_directory_path() / "quillon-window-bench";
    fs::remove_all(dir);
    fs::create_directories(dir / "folder");
    const fs::path song = dir / "song.mp3";
    std::ofstream(song, std::ios::binary) << MakeSong();
    AudioChecksummer checksummer;
    AudioChecksum sum;
    checksummer.Compute(song, sum);
    const std::string key(sum.data(), 32);

    // The folder: 3,334 songs give 10,002 log rows (start, title, saved); fewer on request.
    const int songs =
        argc > 1 ? std::max(1, static_cast<int>(std::wcstol(argv[1], nullptr, 10))) : 3334;
    for (int i = 0; i < songs; ++i)
        fs::create_hard_link(song, dir / "folder" / ("song-" + std::to_string(i) + ".mp3"));

    // The lyric: 2,000 lines, 1,000 times with a line and its translation each.
    std::string lyric;
    for (int i = 0; i < 1000; ++i) {
        char time[16];
        std::snprintf(time, sizeof time, "[%02d:%02d.%02d]", i / 600, i / 10 % 60, i % 10 * 10);
        lyric += std::string(time) + "가사 한 줄 " + std::to_string(i) + "&lt;br&gt;" + time +
                 "line " + std::to_string(i) + "&lt;br&gt;";
    }

    testing::FakeService service;
    const auto settings = OpenUserSettings();
    const std::u16string host(service.Host().begin(), service.Host().end());
    settings->WriteText(SettingsPort::Text::ServiceHost, host);
    settings->WriteEncoding(EncodingUtf8);
    CQuillonDlg dlg(*settings);
    dlg.Create();
    ::ShowWindow(dlg.Handle(), SW_SHOW);

    service.SetAnswer(key, testing::Answer("긴 노래", lyric));
    ::SetWindowTextW(dlg.Control(IDC_PATH), song.c_str());
    const Stalls single = Measure(dlg, [&] { return dlg.LyricList().RowCount() >= 1000; });
    std::printf("lyric of 2,000 lines: %d rows in %lld ms, longest stall %lld ms\n",
                dlg.LyricList().RowCount(), single.totalMs, single.longestMs);

    service.SetAnswer(key, testing::Answer("짧은 노래", "[00:01.00]x"));
    ::SendMessageW(dlg.Control(IDC_MODE), CB_SETCURSEL, 1, 0);
    ::SendMessageW(dlg.Handle(), WM_COMMAND, MAKEWPARAM(IDC_MODE, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(dlg.Control(IDC_MODE)));
    ::SetWindowTextW(dlg.Control(IDC_PATH), (dir / "folder").c_str());
    const Stalls folder = Measure(dlg, [&] { return dlg.LogList().RowCount() >= 3 * songs; });
    std::printf(
        "folder of %d songs: %d log rows in %lld ms, longest stall %lld ms "
        "(message 0x%04X at log row %d, %lld ms of it running)\n",
        songs, dlg.LogList().RowCount(), folder.totalMs, folder.longestMs, folder.longestMessage,
        folder.longestAtRow, folder.longestCpuMs);

    ::DestroyWindow(dlg.Handle());
    std::error_code ec;
    fs::remove_all(dir, ec);
    const bool ok = single.longestMs < 50 && folder.longestMs < 50;
    std::printf("goal (longest stall under 50 ms): %s\n", ok ? "met" : "missed");
    return ok ? 0 : 1;
}
