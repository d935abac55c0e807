// Real runs of the window against quillon-lyricsd on loopback (and against a stalling fake
// service where a slow answer is needed): a single file with its fields, rows, saving and raw
// lyric; a folder with its log and LRC files; stopping; closing while the service keeps quiet.
#include <QCheckBox>
#include <QMenu>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <memory>

#include "audio/checksum.h"
#include "gui/qt/app_fixture.h"
#include "pipeline/messages.h"
#include "support/environment.h"
#include "support/fake_service.h"
#include "support/process.h"
#include "tagging/lyrictag.h"

namespace quillon::testing {
namespace {

using namespace std::chrono_literals;

const fs::path kAudio = fs::path(QUILLON_TEST_DATA_DIR) / "audio";

constexpr char kSongLrc[] =
    "[ti:봄]\n[ar:가수]\n[al:A]\n[00:00.00]봄\n[00:01.00]하나\n[00:01.00]one\n"
    "[00:01.00]hana\n[00:02.00]둘\n";
constexpr char16_t kSongLyric[] =
    u"[00:00.00]봄\n[00:01.00]하나\n[00:01.00]one\n[00:01.00]hana\n[00:02.00]둘";
constexpr char16_t kSongLrcText[] =
    u"[ar:가수]\r\n[ti:봄]\r\n[al:A]\r\n[00:00.00]봄\r\n[00:01.00]하나 / one / hana\r\n"
    u"[00:02.00]둘\r\n";

std::vector<std::pair<QString, QString>> Rows(ReportListCtrl* view) {
    std::vector<std::pair<QString, QString>> rows;
    for (int i = 0; i < view->RowCount(); ++i)
        rows.emplace_back(view->CellText(i, 1), view->CellText(i, 2));
    return rows;
}

void RunJob(TestDlg& dlg, const fs::path& path) {
    PathBox(dlg)->setText(Q(path));
    Button(dlg, Dlg::IdDownload)->click();
    ASSERT_TRUE(WaitUntil([&] { return !dlg.JobRunning(); }));
}

// One quillon-lyricsd for the whole suite, serving two songs.
class JobRunTest : public AppTest {
protected:
    static void SetUpTestSuite() {
        catalogFolder = std::make_unique<TempDir>();
        catalog = catalogFolder->Path();
        fs::copy_file(kAudio / "mpeg1-layer3-cbr128.mp3", catalog / "song.mp3");
        WriteFileBytes(catalog / "song.lrc", kSongLrc);
        fs::copy_file(kAudio / "mpeg2-layer3-22khz.mp3", catalog / "other.mp3");
        WriteFileBytes(catalog / "other.lrc", "[ti:Other]\n[ar:B]\n[al:C]\n[00:03.00]x\n");
        service = std::make_unique<Process>(
            std::vector<std::string>{QUILLON_LYRICSD, "--catalog", catalog.string(), "--database",
                                     (catalog / ".service" / "lyricsd.sqlite").string()},
            catalog.string() + ".log");
        const auto line = service->ReadLine();
        ASSERT_TRUE(line && line->starts_with("listening on ")) << line.value_or("(nothing)");
        host = QString::fromStdString(line->substr(13));
    }
    static void TearDownTestSuite() {
        service.reset();
        catalogFolder.reset();
        fs::remove(catalog.string() + ".log");
    }
    void SetUp() override {
        AppTest::SetUp();
        SettingsStore().SetServiceHost(host);
    }
    fs::path Song() {
        fs::copy_file(catalog / "song.mp3", Work("song.mp3"));
        return Work("song.mp3");
    }

    static inline std::unique_ptr<TempDir> catalogFolder;
    static inline fs::path catalog;
    static inline std::unique_ptr<Process> service;
    static inline QString host;
};

TEST_F(JobRunTest, SingleFileShowsInfoAndRowsAndEnablesSave) {
    const fs::path song = Song();
    SettingsStore settings;
    TestDlg dlg(settings);
    dlg.show();
    PathBox(dlg)->setText(Q(song));
    Button(dlg, Dlg::IdDownload)->click();
    ASSERT_TRUE(dlg.JobRunning());
    for (int id : {Dlg::IdDownload, Dlg::IdSave, Dlg::IdMode, Dlg::IdPath})
        EXPECT_FALSE(dlg.Control(id)->isEnabled()) << id;
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);

    ASSERT_TRUE(WaitUntil([&] { return !dlg.JobRunning(); }));
    EXPECT_EQ(Field(dlg, Dlg::IdTitle)->text(), u"봄"_s);
    EXPECT_EQ(Field(dlg, Dlg::IdArtist)->text(), u"가수"_s);
    EXPECT_EQ(Field(dlg, Dlg::IdAlbum)->text(), u"A"_s);
    EXPECT_EQ(Rows(dlg.LyricListView()),
              (std::vector<std::pair<QString, QString>>{{u"00:00.00"_s, u"봄"_s},
                                                        {u"00:01.00"_s, u"하나 / one / hana"_s},
                                                        {u"00:02.00"_s, u"둘"_s}}));
    for (int id : {Dlg::IdDownload, Dlg::IdSave, Dlg::IdMode, Dlg::IdPath})
        EXPECT_TRUE(dlg.Control(id)->isEnabled()) << id;
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(dlg.Tip().isVisible());
    EXPECT_FALSE(fs::exists(Work("song.lrc")));  // a single file is saved on request only

    // Again without the second lines: laid out anew from the held answer, fields shown again.
    static_cast<QCheckBox*>(dlg.Control(Dlg::IdSecondLine))->setChecked(false);
    RunJob(dlg, song);
    EXPECT_EQ(dlg.LyricListView()->CellText(1, 2), u"하나 / hana"_s);
    EXPECT_EQ(Field(dlg, Dlg::IdTitle)->text(), u"봄"_s);
    EXPECT_TRUE(Button(dlg, Dlg::IdSave)->isEnabled());
}

TEST_F(JobRunTest, SingleFileFailuresShowTheirTipAndKeepSaveDisabled) {
    fs::copy_file(kAudio / "mpeg1-layer2.mp3", Work("unknown.mp3"));
    fs::copy_file(kAudio / "three-bytes.mp3", Work("short.mp3"));
    SettingsStore settings;
    TestDlg dlg(settings);
    dlg.show();
    // The tip gives the cause on a line of its own.
    for (const auto& [file, tip] :
         {std::pair{"unknown.mp3", QString::fromUtf16(text::ServerFailedTip) +
                                       u"\n가사 서비스에 이 곡의 가사가 없습니다"_s},
          std::pair{"short.mp3", QString::fromUtf16(text::ChecksumFailedTip) +
                                     u"\nMPEG 오디오 프레임을 찾지 못했습니다"_s}}) {
        dlg.Tip().Hide();
        RunJob(dlg, Work(file));
        EXPECT_TRUE(dlg.Tip().isVisible()) << file;
        EXPECT_EQ(dlg.Tip().Text(), tip);
        EXPECT_FALSE(Button(dlg, Dlg::IdSave)->isEnabled());
        EXPECT_TRUE(Button(dlg, Dlg::IdDownload)->isEnabled());
    }
}

TEST_F(JobRunTest, EditedAndDeletedRowsAreSavedInEachEncoding) {
    const fs::path song = Song();
    SettingsStore settings;
    TestDlg dlg(settings);
    dlg.show();
    dlg.activateWindow();
    RunJob(dlg, song);
    ReportListCtrl* view = dlg.LyricListView();

    // Edit the last lyric cell in place, then delete the middle row with the Delete key.
    ASSERT_TRUE(view->BeginCellEdit(2, 2));
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, u"two"_s);
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_EQ(view->CellText(2, 2), u"two"_s);
    EXPECT_TRUE(dlg.isVisible());
    view->setFocus();
    view->setCurrentCell(1, 2);
    QTest::keyClick(view, Qt::Key_Delete);
    ASSERT_EQ(view->RowCount(), 2);

    const std::u16string saved = u"[ar:가수]\r\n[ti:봄]\r\n[al:A]\r\n[00:00.00]봄\r\n[00:02.00]two";
    const std::string expected[] = {
        "[ar:\xB0\xA1\xBC\xF6]\r\n[ti:\xBA\xBD]\r\n[al:A]\r\n[00:00.00]\xBA\xBD\r\n[00:02.00]two",
        Utf16Bytes(saved, true), Utf16Bytes(saved, false)};
    int previous = 0;
    for (int encoding : {1, 2, 0}) {
        const fs::path out = Work("saved-" + std::to_string(encoding) + ".lrc");
        dlg.SetSaveAnswer(out, encoding);
        Button(dlg, Dlg::IdSave)->click();
        // The dialog starts beside the music file, with its name and the last encoding.
        EXPECT_EQ(dlg.saveAsked.back().folder, Q(root / "work") + u'/');
        EXPECT_EQ(dlg.saveAsked.back().name, u"song"_s);
        EXPECT_EQ(dlg.saveAsked.back().filter, previous);
        EXPECT_EQ(ReadFileBytes(out), expected[encoding]) << encoding;
        EXPECT_EQ(settings.Encoding(), encoding);
        previous = encoding;
    }
    EXPECT_FALSE(dlg.Tip().isVisible());

    dlg.saveAnswer.reset();  // cancelled: the setting stays
    Button(dlg, Dlg::IdSave)->click();
    EXPECT_EQ(settings.Encoding(), 0);

    // A character the code page lacks: the user is asked before it becomes "?", and may keep
    // it in UTF-16 LE instead; the setting keeps the dialog's choice either way.
    view->SetCellText(1, 2, u"two \U0001F3B5"_s);
    const std::u16string lossy =
        u"[ar:가수]\r\n[ti:봄]\r\n[al:A]\r\n[00:00.00]봄\r\n[00:02.00]two 🎵";
    for (const bool keep : {false, true}) {
        dlg.answer = keep;
        dlg.SetSaveAnswer(Work("lossy.lrc"), 0);
        Button(dlg, Dlg::IdSave)->click();
        ASSERT_EQ(dlg.questions.size(), keep ? 2 : 1);
        EXPECT_TRUE(dlg.questions.last().startsWith(u"ANSI 코드 페이지에 없는 문자 1자가"_s));
        EXPECT_EQ(ReadFileBytes(Work("lossy.lrc")),
                  keep ? Utf16Bytes(lossy, false) : expected[0].substr(0, 52) + "two ?")
            << keep;
        EXPECT_EQ(settings.Encoding(), 0);
    }
    view->SetCellText(1, 2, u"two"_s);

    // With the menu's MP3 태그에도 가사 저장 on, the saved rows go into the song's tag too.
    dlg.WindowMenu()->actions()[4]->trigger();
    dlg.SetSaveAnswer(Work("tagged.lrc"), 2);
    Button(dlg, Dlg::IdSave)->click();
    EXPECT_FALSE(dlg.Tip().isVisible());
    const EmbeddedLyrics tagged = ReadEmbeddedLyrics(song);
    EXPECT_EQ(tagged.lrc, u"[ar:가수]\n[ti:봄]\n[al:A]\n[00:00.00]봄\n[00:02.00]two");

    // A file that cannot be written says so; the chosen encoding is kept all the same.
    dlg.SetSaveAnswer(Work("no-such-folder/x.lrc"), 2);
    Button(dlg, Dlg::IdSave)->click();
    EXPECT_TRUE(dlg.Tip().isVisible());
    EXPECT_TRUE(dlg.Tip().Text().startsWith(QString::fromUtf16(text::SaveFailedTip) +
                                            u"\n임시 파일을 만들 수 없습니다: "_s))
        << dlg.Tip().Text().toStdString();
    EXPECT_EQ(settings.Encoding(), 2);
}

TEST_F(JobRunTest, RawLyricsAreWrittenBesideTheSongAndOpened) {
    const fs::path song = Song();
    WriteFileBytes(Work("song.txt"), "old");
    SettingsStore settings;
    TestDlg dlg(settings);
    RunJob(dlg, song);
    const std::string raw = Utf16Bytes(kSongLyric, true);
    // The user's own song.txt is kept unless the user says to replace it; the text then goes
    // to the temporary folder.
    dlg.ViewRawLyrics();
    ASSERT_EQ(dlg.questions.size(), 1);
    EXPECT_TRUE(dlg.questions[0].startsWith(u"song.txt 파일이 이미 있습니다."_s));
    EXPECT_EQ(ReadFileBytes(Work("song.txt")), "old");
    const fs::path temporary = fs::temp_directory_path() / "song.txt";
    EXPECT_EQ(dlg.opened, QStringList{Q(temporary)});
    EXPECT_EQ(ReadFileBytes(temporary), raw);
    fs::remove(temporary);
    dlg.answer = true;
    dlg.ViewRawLyrics();
    EXPECT_EQ(ReadFileBytes(Work("song.txt")), raw);
    EXPECT_EQ(dlg.opened.last(), Q(Work("song.txt")));
    // What the view wrote itself is opened again without a question.
    dlg.ViewRawLyrics();
    EXPECT_EQ(dlg.questions.size(), 2);
    EXPECT_EQ(dlg.opened.size(), 3);
    EXPECT_FALSE(fs::exists(temporary));
    // A folder of that name cannot be replaced: the temporary folder, and a tip saying so.
    fs::remove(Work("song.txt"));
    fs::create_directory(Work("song.txt"));
    dlg.ViewRawLyrics();
    EXPECT_EQ(dlg.questions.size(), 2);
    EXPECT_EQ(dlg.opened.last(), Q(temporary));
    EXPECT_TRUE(dlg.Tip().Text().startsWith(QString::fromUtf16(text::RawViewInTemporary)));
    fs::remove(temporary);
    // Nor a temporary folder that is not one: a tip with the cause, and nothing opened.
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string oldTmpdir = tmpdir != nullptr ? tmpdir : "";
    WriteFileBytes(Work("not-a-folder"), "x");
    testing::SetEnv("TMPDIR", Work("not-a-folder").string());
    dlg.ViewRawLyrics();
    if (tmpdir != nullptr)
        testing::SetEnv("TMPDIR", oldTmpdir);
    else
        testing::UnsetEnv("TMPDIR");
    EXPECT_EQ(dlg.opened.size(), 4);
    EXPECT_TRUE(dlg.Tip().Text().startsWith(QString::fromUtf16(text::RawViewFailed)))
        << dlg.Tip().Text().toStdString();
    fs::remove(Work("song.txt"));
    dlg.opened = {Q(Work("song.txt"))};

    // Not in folder mode, and not once the answer is gone with the mode change.
    fs::remove(Work("song.txt"));
    ModeBox(dlg)->setCurrentIndex(1);
    dlg.ViewRawLyrics();
    ModeBox(dlg)->setCurrentIndex(0);
    dlg.ViewRawLyrics();
    EXPECT_FALSE(fs::exists(Work("song.txt")));
    EXPECT_EQ(dlg.opened.size(), 1);
}

TEST_F(JobRunTest, FolderRunLogsEveryStepAndWritesLrcFiles) {
    Song();
    fs::copy_file(catalog / "other.mp3", Work("other.mp3"));
    fs::copy_file(kAudio / "mpeg1-layer2.mp3", Work("unknown.mp3"));
    fs::copy_file(kAudio / "three-bytes.mp3", Work("short.mp3"));
    SettingsStore settings;
    settings.SetEncoding(1);
    TestDlg dlg(settings);
    ModeBox(dlg)->setCurrentIndex(1);
    PathBox(dlg)->setText(Q(root / "work"));
    Button(dlg, Dlg::IdDownload)->click();
    ASSERT_TRUE(dlg.JobRunning());
    EXPECT_EQ(Button(dlg, Dlg::IdDownload)->text(), u"가사 다운로드 종료"_s);
    EXPECT_TRUE(Button(dlg, Dlg::IdDownload)->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return !dlg.JobRunning(); }));
    EXPECT_EQ(Button(dlg, Dlg::IdDownload)->text(), u"가사 다운로드 개시"_s);
    EXPECT_TRUE(ModeBox(dlg)->isEnabled());
    EXPECT_FALSE(Button(dlg, Dlg::IdSave)->isEnabled());
    // The run's summary above the download button; the caption without its count again.
    EXPECT_TRUE(dlg.Tip().isVisible());
    // (The run's own time, whatever a slow machine makes of it.)
    EXPECT_TRUE(dlg.Tip().Text().startsWith(u"저장 2곡, 실패 2곡, 건너뜀 0곡 (0분 "_s))
        << dlg.Tip().Text().toStdString();
    EXPECT_EQ(dlg.windowTitle(), u"Quillon - Brantwell"_s);

    // Files come in the order the folder lists them; the steps of each stay together.
    QString log;
    const QRegularExpression time(u"^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$"_s);
    QStringList tips;
    for (int i = 0; i < dlg.LogListView()->RowCount(); ++i) {
        EXPECT_TRUE(time.match(dlg.LogListView()->CellText(i, 1)).hasMatch()) << i;
        log += QString::number(LogKind(dlg, i)) + u' ' + dlg.LogListView()->CellText(i, 2) + u'\n';
        if (!dlg.LogListView()->RowTip(i).isEmpty()) tips.append(dlg.LogListView()->RowTip(i));
    }
    // A failed row tells why as its tooltip; the other rows have none.
    tips.sort();
    EXPECT_EQ(tips, (QStringList{u"MPEG 오디오 프레임을 찾지 못했습니다"_s,
                                 u"가사 서비스에 이 곡의 가사가 없습니다"_s}));
    const QString steps[] = {
        u"4 가사 정보 취득 개시 (song.mp3)\n2 제목: 봄, 가수: 가수, 앨범: A\n"
        "5 가사 파일 저장 완료 (song.mp3)\n"_s,
        u"4 가사 정보 취득 개시 (other.mp3)\n2 제목: Other, 가수: B, 앨범: C\n"
        "5 가사 파일 저장 완료 (other.mp3)\n"_s,
        u"4 가사 정보 취득 개시 (unknown.mp3)\n3 서버에서 가사 정보 취득 실패 (unknown.mp3)\n"_s,
        u"3 파일 채크썸 취득 실패 (short.mp3)\n"_s,
    };
    qsizetype total = 0;
    for (const QString& step : steps) {
        EXPECT_TRUE(log.contains(step)) << log.toStdString();
        total += step.size();
    }
    EXPECT_EQ(log.size(), total) << log.toStdString();

    EXPECT_EQ(ReadFileBytes(Work("song.lrc")), Utf16Bytes(kSongLrcText, true));
    EXPECT_TRUE(fs::exists(Work("other.lrc")));
    EXPECT_FALSE(fs::exists(Work("unknown.lrc")));
    // The hidden view took every file's rows, whole: image, time and lyric.
    ReportListCtrl* lyrics = dlg.LyricListView();
    ASSERT_EQ(lyrics->RowCount(), 4);
    QStringList cells;
    for (int i = 0; i < lyrics->RowCount(); ++i) {
        EXPECT_FALSE(lyrics->item(i, 0)->icon().isNull()) << i;
        cells.append(lyrics->CellText(i, 1) + u' ' + lyrics->CellText(i, 2));
    }
    cells.sort();
    EXPECT_EQ(cells, (QStringList{u"00:00.00 봄"_s, u"00:01.00 하나 / one / hana"_s,
                                  u"00:02.00 둘"_s, u"00:03.00 x"_s}));
}

// Two songs on a fake service that can hold an answer back.
class SlowServiceTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        fs::copy_file(kAudio / "mpeg1-layer3-cbr128.mp3", Work("a.mp3"));
        fs::copy_file(kAudio / "mpeg2-layer3-22khz.mp3", Work("b.mp3"));
        for (const char* name : {"a.mp3", "b.mp3"})
            fake.SetAnswer(Checksum(name), Answer(name, "[00:01.00]" + std::string(name)));
        SettingsStore().SetServiceHost(QString::fromStdString(fake.Host()));
    }
    std::string Checksum(const char* name) {
        AudioChecksummer checksummer;
        AudioChecksum sum{};
        EXPECT_EQ(checksummer.Compute(Work(name), sum), ChecksumStatus::Ok);
        return std::string(sum.data(), 32);
    }

    FakeService fake;
};

TEST_F(SlowServiceTest, HeldAnswerServesUntilThePathChanges) {
    SettingsStore settings;
    TestDlg dlg(settings);
    RunJob(dlg, Work("a.mp3"));
    RunJob(dlg, Work("a.mp3"));
    EXPECT_EQ(dlg.LyricListView()->CellText(0, 2), u"a.mp3"_s);
    EXPECT_EQ(fake.Requests(), 1);
    PathBox(dlg)->setText(Q(Work("b.mp3")));
    RunJob(dlg, Work("a.mp3"));
    EXPECT_EQ(fake.Requests(), 2);
}

TEST_F(SlowServiceTest, StopEndsAFolderRunAfterTheQueryInHand) {
    fake.StallFor(Checksum("a.mp3"));
    SettingsStore settings;
    TestDlg dlg(settings);
    ModeBox(dlg)->setCurrentIndex(1);
    PathBox(dlg)->setText(Q(root / "work"));
    Button(dlg, Dlg::IdDownload)->click();
    fake.WaitUntilStalled();
    ReportListCtrl* log = dlg.LogListView();
    ASSERT_TRUE(WaitUntil([&] {
        return log->RowCount() > 0 && log->CellText(log->RowCount() - 1, 2).contains(u"a.mp3"_s);
    }));
    const bool bWasFirst = fs::exists(Work("b.lrc"));

    const auto pressed = std::chrono::steady_clock::now();
    Button(dlg, Dlg::IdDownload)->click();
    ASSERT_TRUE(WaitUntil([&] { return !dlg.JobRunning(); }));
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, 3s);
    EXPECT_EQ(Button(dlg, Dlg::IdDownload)->text(), u"가사 다운로드 개시"_s);
    // The query the stop cut short logs no failure: its start row, then the run's stop row.
    EXPECT_EQ(log->CellText(log->RowCount() - 2, 2), u"가사 정보 취득 개시 (a.mp3)"_s);
    EXPECT_EQ(LogKind(dlg, log->RowCount() - 1), LogIconWarning);
    EXPECT_EQ(log->CellText(log->RowCount() - 1, 2), bWasFirst
                                                         ? u"작업을 중지했습니다 (남은 곡 1곡)"_s
                                                         : u"작업을 중지했습니다 (남은 곡 2곡)"_s);
    EXPECT_TRUE(dlg.Tip().Text().startsWith(u"중지됨: "_s)) << dlg.Tip().Text().toStdString();
    EXPECT_FALSE(fs::exists(Work("a.lrc")));
    EXPECT_EQ(fs::exists(Work("b.lrc")), bWasFirst);
}

TEST_F(SlowServiceTest, ClosingDuringASlowQueryReturnsPromptly) {
    fake.StallFor(Checksum("a.mp3"));
    SettingsStore settings;
    auto dlg = std::make_unique<TestDlg>(settings);
    dlg->show();
    PathBox(*dlg)->setText(Q(Work("a.mp3")));
    Button(*dlg, Dlg::IdDownload)->click();
    fake.WaitUntilStalled();

    const auto start = std::chrono::steady_clock::now();
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_FALSE(dlg->JobRunning());
    dlg.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(CQuillonDlg::LiveWorkers(), 0);
    QCoreApplication::processEvents();  // what the worker queued went with the window
}

}  // namespace
}  // namespace quillon::testing
