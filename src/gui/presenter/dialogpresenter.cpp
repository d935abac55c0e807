#include "gui/presenter/dialogpresenter.h"

#include <utility>

#include "pipeline/messages.h"
#include "pipeline/textwriter.h"
#include "text/textconv.h"

namespace quillon {
namespace {

constexpr char16_t CaptionDownload[] = u"가사 다운로드";
constexpr char16_t CaptionStart[] = u"가사 다운로드 개시";
constexpr char16_t CaptionStop[] = u"가사 다운로드 종료";

}  // namespace

int LogIcon(JobEventKind kind) {
    // By tone: info, error, start, saved, warning.
    constexpr int images[] = {LogIconInfo, LogIconError, LogIconStart, LogIconSaved,
                              LogIconWarning};
    return images[static_cast<int>(ToneOf(kind))];
}

std::u16string ProgressCaption(const JobProgress& progress) {
    if (progress.finished && !progress.stopped) return WindowCaption;
    return std::u16string(WindowCaption) + u" \u2014 " + (progress.stopped ? u"중지됨 " : u"") +
           GroupedCount(progress.done) + u"/" + GroupedCount(progress.total);
}

ModeLayout LayoutOf(DownloadMode mode) {
    if (mode == DownloadMode::Folder) return {CaptionStart, u"가사 다운로드 로그", false};
    return {CaptionDownload, u"가사 보기", true};
}

DialogPresenter::DialogPresenter(SettingsPort& settings, DialogView& dialogView, JobOptions options)
    : view(dialogView), session(settings, std::move(options)) {
    shownMode = session.InitialMode();
}

void DialogPresenter::Connect(std::function<void()> wake) {
    session.Connect(*this, std::move(wake));
}

ControlState DialogPresenter::IdleControls(bool saveEnabled) const {
    ControlState state;
    state.downloadCaption = LayoutOf(shownMode).downloadCaption;
    state.saveEnabled = saveEnabled;
    return state;
}

void DialogPresenter::ClearResults() {
    session.ForgetLyric();
    view.ShowInfoFields({}, {}, {});
    view.ShowControls(IdleControls(false));
    view.ClearViews();
}

void DialogPresenter::OnPathChanged() {
    const ControlValues values = view.ReadControls();
    ClearResults();
    session.RememberPath(values.mode, values.pathText);
}

void DialogPresenter::OnModeChanged() {
    const ControlValues values = view.ReadControls();
    shownMode = values.mode;
    ClearResults();
    view.ShowMode(values.mode, LayoutOf(values.mode));
    view.ShowPath(session.PathOf(values.mode));
}

void DialogPresenter::OnBrowse() {
    const ControlValues values = view.ReadControls();
    const std::optional<std::u16string> chosen = view.AskOpenPath(values.mode, values.pathText);
    if (chosen && !chosen->empty()) view.ShowPath(*chosen);
}

void DialogPresenter::OnDownload() {
    const ControlValues values = view.ReadControls();
    // A press while a run goes asks it to stop. While a stopped run is still winding down the
    // press does nothing more: a second worker never starts beside the first.
    if (session.Running()) {
        session.RequestStop();
        return;
    }
    shownMode = values.mode;
    view.ShowInfoFields({}, {}, {});
    view.ShowControls(IdleControls(false));
    view.ClearViews();

    const StartResult start =
        session.StartRun({values.mode, values.path, values.second, values.third});
    if (!start.started) {
        if (!start.refusal.empty()) {
            view.ShowTipAt(TipAnchor::Download, start.refusal, {});
        } else if (!start.cause.empty()) {
            view.ShowTipAt(TipAnchor::Download, text::RunNotStarted, start.cause);
        }
        return;
    }
    runMode = values.mode;
    ControlState running;
    running.downloadCaption = values.mode == DownloadMode::Folder ? CaptionStop : CaptionDownload;
    running.downloadEnabled = values.mode == DownloadMode::Folder;
    running.modeEnabled = false;
    running.pathEnabled = false;
    view.ShowControls(running);
    view.JobStarted(values.mode);
}

void DialogPresenter::Logged(const JobEvent& event) {
    if (runMode == DownloadMode::Folder) {
        view.AddLogRow(LogIcon(event.kind), LogTimeNow(), event.text, event.cause);
    } else if (IsFailure(event.kind)) {
        view.ShowTipAt(TipAnchor::Download, event.text, event.cause);
    }
}

void DialogPresenter::SongShown(const ShownSong& song) {
    if (runMode == DownloadMode::SingleFile && song.asked)
        view.ShowInfoFields(song.info.title, song.info.artist, song.info.album);
    view.LyricRows().AppendRows(song.rows);
}

void DialogPresenter::Progressed(const JobProgress& progress) {
    view.ShowProgress(progress);
    view.ShowCaption(ProgressCaption(progress));
    if (progress.finished) view.ShowTipAt(TipAnchor::Download, SummaryText(progress), {});
}

void DialogPresenter::RunEnded(const RunEnd& end) {
    FinishJob(end.result);
}

void DialogPresenter::FinishJob(int result) {
    const bool single = runMode == DownloadMode::SingleFile;
    view.ShowControls(IdleControls(single && result == 1));
    // A run laid out from the held answer asked nobody, yet the fields were emptied when it
    // started: show the answer's title, singer and album again.
    const LyricInfo& held = session.HeldInfo();
    if (single && result == 1 && !held.lyric.empty())
        view.ShowInfoFields(held.title, held.artist, held.album);
    view.JobEnded(result);
}

void DialogPresenter::OnSave() {
    const ControlValues values = view.ReadControls();
    if (session.Running() || !session.HasRows() || view.LyricRows().RowCount() == 0) return;

    int encoding = session.SaveEncoding();
    // The dialog starts beside the music file, with its name.
    const std::u16string start = WithoutExtension(std::u16string_view(values.pathText));
    const std::size_t separator = start.find_last_of(PathSeparators<char16_t>);
    const std::size_t split = separator == std::u16string::npos ? 0 : separator + 1;
    const int filter = encoding >= 0 && encoding <= EncodingUtf16LE ? encoding : 0;

    const std::optional<SaveChoice> choice =
        view.AskSaveFile(std::u16string_view(start).substr(0, split),
                         std::u16string_view(start).substr(split), filter);
    if (!choice) return;
    encoding = choice->filter;
    // What the code page lacks would become "?": the user may keep every character instead.
    int written = encoding;
    if (const LosslessChoice lossless = session.LosslessSaveEncoding(encoding, view.LyricRows());
        lossless.lost > 0) {
        const std::u16string question =
            text::AnsiLost + Utf8ToWide(std::to_string(lossless.lost)) + text::AnsiLossQuestionEnd;
        if (view.AskYesNo(question, true)) written = lossless.encoding;
    }
    const WriteResult saved = session.SaveLyricsTo(choice->file, written, view.LyricRows());
    session.StoreSaveEncoding(encoding);
    if (!saved) {
        view.ShowTipAt(TipAnchor::Save, text::SaveFailedTip, saved.cause);
    } else if (session.EmbedOn()) {
        const WriteResult stored = session.EmbedLyricsIn(values.path, view.LyricRows());
        if (!stored)
            view.ShowTipAt(TipAnchor::Save,
                           FileMessage(text::TagSaveFailed, DisplayName(values.path)),
                           stored.cause);
    }
}

void DialogPresenter::OnViewRaw() {
    const ControlValues values = view.ReadControls();
    if (session.Running() || values.mode != DownloadMode::SingleFile ||
        session.HeldInfo().lyric.empty())
        return;
    const RawLyricFile raw = session.WriteRawLyric(
        values.path,
        [this](std::u16string_view question) { return view.AskYesNo(question, false); });
    if (!raw.note.empty()) view.ShowTipAt(TipAnchor::Download, raw.note, raw.cause);
    if (raw.open) view.OpenWithViewer(*raw.open);
}

void DialogPresenter::OnClose() {
    view.ReadControls();
    if (session.Stop(LyricsSession::CloseWait)) FinishJob(0);
}

void DialogPresenter::OnDestroy() {
    const ControlValues values = view.ReadControls();
    if (session.Stop(LyricsSession::CloseWait)) FinishJob(0);
    session.StorePath(values.mode, values.pathText);
}

}  // namespace quillon
