#include "pipeline/songtask.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "audio/checksum.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;

constexpr auto Slice = 20ms;  // how often a pause looks at the stop request
constexpr int MaxTries = 3;   // per song, when the service asks to be left alone
constexpr auto MaxRetryAfter = 60s;

QueryResult StoppedResult() {
    QueryResult stopped;
    stopped.status = QueryStatus::Stopped;
    return stopped;
}

}  // namespace

QueryResult AskPolitely(LyricQuery& query, const std::string& request, LyricInfo& info,
                        const std::function<bool()>& isRunning, QuerySlots& slots) {
    auto pause = std::chrono::milliseconds(1s);
    for (int tries = 1;; ++tries) {
        if (!slots.Acquire()) return StoppedResult();
        LyricInfo answered;
        QueryResult answer = query.Execute(request, answered, isRunning);
        const bool busy = answer.status == QueryStatus::HttpStatus &&
                          (answer.httpStatus == 429 || answer.httpStatus == 503);
        slots.Release(busy);
        if (!busy || tries >= MaxTries) {
            info = std::move(answered);
            return answer;
        }
        const auto wait = answer.retryAfterSeconds >= 0
                              ? std::min<std::chrono::milliseconds>(
                                    std::chrono::seconds(answer.retryAfterSeconds), MaxRetryAfter)
                              : pause;
        pause *= 2;
        const auto until = std::chrono::steady_clock::now() + wait;
        while (isRunning() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                Slice, until - std::chrono::steady_clock::now()));
        if (!isRunning()) return StoppedResult();
    }
}

ChecksumSource::ChecksumSource(std::string host)
    : ChecksumSource(std::make_unique<AudioChecksummer>(),
                     std::make_unique<LyricQuery>(std::move(host))) {}

ChecksumSource::ChecksumSource(std::unique_ptr<AudioChecksummer> summer,
                               std::unique_ptr<LyricQuery> lyricQuery)
    : checksummer(std::move(summer)), query(std::move(lyricQuery)) {}

ChecksumSource::~ChecksumSource() = default;

SourceAnswer ChecksumSource::Find(const std::filesystem::path& song, const FindContext& context) {
    SourceAnswer answer;
    AudioChecksum checksum{};
    const ChecksumStatus status = checksummer->Compute(song, checksum);
    if (status != ChecksumStatus::Ok) {
        answer.stage = SongStage::Checksum;
        answer.cause = ChecksumCause(*checksummer, status);
        return answer;
    }
    answer.key.assign(checksum.data(), 32);
    const std::string request = LyricQuery::BuildRequest(answer.key);
    if (context.asking) context.asking();
    QuerySlots oneTry;
    // A folder run gives a busy service a second and third chance; one file asks once.
    const QueryResult result =
        context.turns ? AskPolitely(*query, request, answer.info, context.isRunning, *context.turns)
                      : query->Execute(request, answer.info, context.isRunning);
    if (result.status == QueryStatus::Stopped) {
        // A query that a stop request cut short was not run: it says nothing about the service.
        answer.outcome = SongOutcome::Stopped;
    } else if (result.status != QueryStatus::Found) {
        answer.stage = SongStage::Query;
        answer.cause = result.Cause();
    } else {
        answer.outcome = SongOutcome::Shown;
    }
    return answer;
}

SongTask::SongTask(const ListedSong& listed, const SongPlan& songPlan)
    : song(listed), plan(songPlan) {}

SongTask::~SongTask() {
    // What was written ahead for a song that was never finished goes again.
    DiscardPreparedFile(file);
}

void SongTask::Prepare(LyricSource& source, const FindContext& context) {
    SourceAnswer answer = source.Find(song.path, context);
    result.outcome = answer.outcome;
    result.stage = answer.stage;
    result.cause = std::move(answer.cause);
    key = std::move(answer.key);
    if (answer.outcome == SongOutcome::Shown || answer.outcome == SongOutcome::PlainLyrics)
        LayOut(answer.info);
    else
        result.info = std::move(answer.info);
}

void SongTask::LayOut(const LyricInfo& info) {
    result.info = info;
    if (result.outcome != SongOutcome::PlainLyrics) result.outcome = SongOutcome::Shown;
    MemoryLyricView rows;
    ComposeLyricRows(info.lyric, plan.includeLine, rows, result.lrcBody);
    result.rows = std::move(rows.rows);
    if (!plan.writeFile || !result.hasFile() || result.outcome != SongOutcome::Shown) return;
    lrcText = LrcFileText(info, result.lrcBody);
    const LosslessChoice chosen = LosslessEncoding(lrcText, plan.encoding);
    result.lost = chosen.lost;
    file = PrepareTextFile(LrcPathFor(song.path), lrcText, chosen.encoding);
}

const SongResult& SongTask::Finish() {
    if (result.outcome != SongOutcome::Shown || !plan.writeFile || !result.hasFile()) return result;
    const WriteResult written = CommitPreparedFile(file);
    if (!written) {
        result.outcome = SongOutcome::Failed;
        result.stage = SongStage::Write;
        result.cause = written.cause;
        return result;
    }
    result.outcome = SongOutcome::Saved;
    if (plan.embed) {
        const WriteResult stored = plan.embed(song.path, lrcText, key);
        result.tagFailed = !stored;
        result.tagCause = stored.cause;
    }
    return result;
}

}  // namespace quillon
