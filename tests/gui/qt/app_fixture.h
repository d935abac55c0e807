#pragma once

// What the window's tests share: a private settings folder and scratch folder per test, a
// window whose file dialogs, viewer and about box the test answers, and waiting while the
// window's event loop runs.

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "gui/qt/browseedit.h"
#include "gui/qt/quillondlg.h"
#include "gui/qt/widgets/reportlistctrl.h"
#include "settings/settings.h"
#include "support/environment.h"
#include "support/files.h"
#include "support/tempdir.h"

using namespace Qt::StringLiterals;

namespace quillon::testing {

namespace fs = std::filesystem;

// Runs the event loop until `done` holds or `limit` passes; true when it holds.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

inline QString Q(const fs::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

// The window with its dialogs and the system viewer answered by the test.
class TestDlg : public CQuillonDlg {
public:
    using CQuillonDlg::CQuillonDlg;

    // What the browse button's dialog answers next (empty: cancelled), and what it was asked.
    QString openAnswer;
    std::vector<DownloadMode> openAsked;
    // What the save dialog answers next, and what it was shown.
    std::optional<SaveChoice> saveAnswer;
    struct SaveAsked {
        QString folder;
        QString name;
        int filter;
    };
    std::vector<SaveAsked> saveAsked;
    QStringList opened;
    int aboutBoxes = 0;
    int settingsDialogs = 0;
    // The yes-or-no questions asked, and the answer each gets.
    QStringList questions;
    bool answer = false;

    void SetSaveAnswer(const fs::path& file, int filter) {
        saveAnswer = SaveChoice{Q(file), filter};
    }

protected:
    QString ChooseOpenPath(DownloadMode target, const QString&) override {
        openAsked.push_back(target);
        return openAnswer;
    }
    std::optional<SaveChoice> ChooseSaveFile(const QString& folder, const QString& name,
                                             int filter) override {
        saveAsked.push_back({folder, name, filter});
        return saveAnswer;
    }
    void OpenRawLyrics(const QString& textFile) override { opened.append(textFile); }
    void RunAboutBox() override { ++aboutBoxes; }
    void RunSettingsDialog() override { ++settingsDialogs; }
    bool Ask(const QString& question, bool) override {
        questions.append(question);
        return answer;
    }
};

using Dlg = CQuillonDlg;

inline QComboBox* ModeBox(Dlg& dlg) {
    return static_cast<QComboBox*>(dlg.Control(Dlg::IdMode));
}
inline BrowseEdit* PathBox(Dlg& dlg) {
    return static_cast<BrowseEdit*>(dlg.Control(Dlg::IdPath));
}
inline QPushButton* Button(Dlg& dlg, int id) {
    return static_cast<QPushButton*>(dlg.Control(id));
}
inline QLineEdit* Field(Dlg& dlg, int id) {
    return static_cast<QLineEdit*>(dlg.Control(id));
}
// The image index a log row shows, or -1.
inline int LogKind(Dlg& dlg, int row) {
    const qint64 key = dlg.LogListView()->item(row, 0)->icon().cacheKey();
    for (int k = 0; k < dlg.LogImages().size(); ++k)
        if (dlg.LogImages()[k].cacheKey() == key) return k;
    return -1;
}

// Every test gets a scratch folder and a settings store of its own.
class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root / "config");
        fs::create_directories(root / "work");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Q(root / "config"));
        // The service is whatever the test names in the settings, reached without a proxy.
        testing::UnsetEnv("QUILLON_SERVICE_HOST");
        testing::SetEnv("no_proxy", "*");
        testing::SetEnv("QUILLON_ANSI_CODEPAGE", "CP949");
    }
    fs::path Work(const std::string& name) const { return root / "work" / name; }

    TempDir scratch;
    const fs::path root = scratch.Path();
};

}  // namespace quillon::testing
