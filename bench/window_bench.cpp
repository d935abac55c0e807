// How long the window's event loop stalls while a job's results pour in through the worker
// path: a folder run that logs 10,000 rows, and one song whose lyric has 2,000 lines. The probe
// is a 1 ms timer on the window's thread; the longest gap between two of its ticks is the
// longest time the window could not react. Then a folder run of 1,000 songs (400 KiB each,
// four in hand) against quillon-lyricsd, through the window and through quillon-cli in turn,
// three times each on fresh folders: the window should take at most 1.5 times as long.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>
#include "service/httptransport.h"

#include "audio/checksum.h"
#include "gui/qt/quillondlg.h"
#include "gui/qt/widgets/reportlistctrl.h"
#include "settings/settings.h"
#include "songs.h"
#include "support/fake_service.h"
#include "support/process.h"

namespace fs = std::filesystem;
using namespace quillon;

namespace {

struct Stalls {
    qint64 longestMs = 0;
    qint64 totalMs = 0;
};

// Runs the job the window starts and measures the gaps of a 1 ms timer until `done` holds.
Stalls Measure(CQuillonDlg& dlg, const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    Stalls stalls;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        stalls.longestMs = std::max(stalls.longestMs, now - last);
        last = now;
    });
    probe.start();
    dlg.OnDownload();
    while (!done() || dlg.JobRunning())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    stalls.totalMs = clock.elapsed();
    probe.stop();
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

qint64 Median(std::vector<qint64> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The same folder run through the window and through quillon-cli; true when the window's
// median is within 1.5 times the command line's and it never stalled 50 ms.
bool CompareWithCli(CQuillonDlg& dlg, const fs::path& dir) {
    constexpr int Songs = 1000;
    fs::create_directories(dir / "catalog");
    std::ofstream(dir / "catalog" / "song.mp3", std::ios::binary) << quillon::bench::MakeSong(7);
    std::ofstream(dir / "catalog" / "song.lrc", std::ios::binary) << quillon::bench::MakeLrc();
    quillon::testing::Process service(
        {QUILLON_LYRICSD, "--catalog", (dir / "catalog").string(), "--database",
         (dir / "lyricsd.sqlite").string(), "--latency", "0"},
        dir / "lyricsd.log");
    const auto line = service.ReadLine();
    if (!line || !line->starts_with("listening on ")) return false;
    const std::string host = line->substr(13);
    qputenv("QUILLON_SERVICE_HOST", QByteArray::fromStdString(host));

    const auto populate = [&](const std::string& name) {
        const fs::path folder = dir / name;
        fs::create_directories(folder);
        for (int i = 0; i < Songs; ++i)
            fs::create_hard_link(dir / "catalog" / "song.mp3",
                                 folder / ("song-" + std::to_string(i) + ".mp3"));
        return folder;
    };
    auto* path = static_cast<QLineEdit*>(dlg.Control(CQuillonDlg::IdPath));
    std::vector<qint64> window, cli;
    qint64 longestStall = 0;
    for (int round = 0; round < 3; ++round) {
        path->setText(QString::fromStdString(populate("window-" + std::to_string(round)).string()));
        const Stalls run = Measure(dlg, [&] { return dlg.LogListView()->RowCount() >= 3 * Songs; });
        window.push_back(run.totalMs);
        longestStall = std::max(longestStall, run.longestMs);

        const fs::path folder = populate("cli-" + std::to_string(round));
        QElapsedTimer clock;
        clock.start();
        const auto result =
            quillon::testing::RunProcess({QUILLON_CLI, "folder", "--jobs", "4", "--host", host,
                                          "--encoding", "utf8", folder.string()},
                                         dir / "cli.err");
        cli.push_back(clock.elapsed());
        if (result.exitCode != 0) return false;
        std::printf("round %d: window %lld ms, quillon-cli %lld ms\n", round + 1,
                    static_cast<long long>(window.back()), static_cast<long long>(cli.back()));
    }
    const double ratio = static_cast<double>(Median(window)) / static_cast<double>(Median(cli));
    std::printf(
        "1,000 songs, 4 in hand: window %lld ms, quillon-cli %lld ms (medians), "
        "ratio %.2f, longest stall %lld ms\n",
        static_cast<long long>(Median(window)), static_cast<long long>(Median(cli)), ratio,
        static_cast<long long>(longestStall));
    return ratio <= 1.5 && longestStall < 50;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const fs::path dir =
        fs::temp_directory_path() / ("quillon-window-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir / "config");
    qputenv("XDG_CONFIG_HOME",
            QFile::encodeName(QString::fromStdString((dir / "config").string())));
    QApplication app(argc, argv);
    quillon::StartNetworkLayer();

    const fs::path song = dir / "song.mp3";
    std::ofstream(song, std::ios::binary) << MakeSong();
    AudioChecksummer checksummer;
    AudioChecksum sum;
    checksummer.Compute(song, sum);
    const std::string key(sum.data(), 32);

    // The folder: 3,334 songs give 10,002 log rows (start, title, saved); fewer on request.
    const int songs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3334;
    fs::create_directories(dir / "folder");
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

    quillon::testing::FakeService service;
    qputenv("QUILLON_SERVICE_HOST", QByteArray::fromStdString(service.Host()));
    SettingsStore settings;
    settings.SetEncoding(3);
    CQuillonDlg dlg(settings);
    dlg.show();
    auto* mode = static_cast<QComboBox*>(dlg.Control(CQuillonDlg::IdMode));
    auto* path = static_cast<QLineEdit*>(dlg.Control(CQuillonDlg::IdPath));

    service.SetAnswer(key, quillon::testing::Answer("긴 노래", lyric));
    path->setText(QString::fromStdString(song.string()));
    const Stalls single = Measure(dlg, [&] { return dlg.LyricListView()->RowCount() >= 1000; });
    std::printf("lyric of 2,000 lines: %d rows in %lld ms, longest stall %lld ms\n",
                dlg.LyricListView()->RowCount(), static_cast<long long>(single.totalMs),
                static_cast<long long>(single.longestMs));

    service.SetAnswer(key, quillon::testing::Answer("짧은 노래", "[00:01.00]x"));
    mode->setCurrentIndex(1);
    path->setText(QString::fromStdString((dir / "folder").string()));
    const Stalls folder = Measure(dlg, [&] { return dlg.LogListView()->RowCount() >= 3 * songs; });
    std::printf("folder of %d songs: %d log rows in %lld ms, longest stall %lld ms\n", songs,
                dlg.LogListView()->RowCount(), static_cast<long long>(folder.totalMs),
                static_cast<long long>(folder.longestMs));

    const bool keepsUp = CompareWithCli(dlg, dir / "against-cli");
    dlg.reject();
    fs::remove_all(dir);
    const bool ok = single.longestMs < 50 && folder.longestMs < 50 && keepsUp;
    std::printf("goal (longest stall under 50 ms, window within 1.5x of quillon-cli): %s\n",
                ok ? "met" : "missed");
    return ok ? 0 : 1;
}
