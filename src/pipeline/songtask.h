#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/listing.h"
#include "pipeline/lrc.h"
#include "pipeline/lyricview.h"
#include "service/lyricinfo.h"
#include "service/lyricquery.h"

namespace quillon {

class AudioChecksummer;

// Where a song's way came to its end.
enum class SongStage { None, Checksum, Query, Write };

// What became of one song.
enum class SongOutcome {
    Saved,         // its LRC file is written (and its tag holds the lyric, unless tagCause says)
    Shown,         // its rows are laid out and nothing is written: one-file mode, or no time rows
    Skipped,       // passed over: its LRC file was there already
    Failed,        // at `stage`, for `cause`
    Stopped,       // a stop request came before it was done
    Instrumental,  // a source knows the song has no words: nothing to show or write
    PlainLyrics,   // a source has its words without times: shown, and no LRC file is written
};

// Where queries take turns: Acquire waits for a turn (false when the run stopped meanwhile);
// Release gives it back, telling whether the service was busy.
class QuerySlots {
public:
    virtual ~QuerySlots() = default;
    virtual bool Acquire() { return true; }
    virtual void Release(bool busy) { (void)busy; }
};

// What a source may use while it finds one song's lyric.
struct FindContext {
    std::function<bool()> isRunning;  // false once a stop is asked for
    std::function<void()> asking;     // the source is about to ask a service (the start row)
    QuerySlots* turns = nullptr;      // a folder run's turns; without, one try and no retry
};

// A source's answer for one song.
struct SourceAnswer {
    SongOutcome outcome = SongOutcome::Failed;  // Shown (found), Failed, Stopped, Instrumental
    SongStage stage = SongStage::None;          // where it failed
    std::string cause;
    LyricInfo info;
    std::string key;  // what the lyric was found by (an audio checksum), for the tag's check
};

// Where lyrics come from: a new kind of service is a new source.
class LyricSource {
public:
    virtual ~LyricSource() = default;
    virtual SourceAnswer Find(const std::filesystem::path& song, const FindContext& context) = 0;
};

// The lyric service asked by the audio checksum of the song's MP3 stream.
class ChecksumSource final : public LyricSource {
public:
    explicit ChecksumSource(std::string host);
    ChecksumSource(std::unique_ptr<AudioChecksummer> checksummer,
                   std::unique_ptr<LyricQuery> query);
    ~ChecksumSource() override;
    SourceAnswer Find(const std::filesystem::path& song, const FindContext& context) override;

private:
    std::unique_ptr<AudioChecksummer> checksummer;
    std::unique_ptr<LyricQuery> query;
};

// A source for each worker of a run, each with a connection of its own.
using SourceMaker = std::function<std::unique_ptr<LyricSource>()>;

// A query with turns: a service that answers 429 or 503 is asked again, after its Retry-After
// (at most a minute) or else after 1 s, then 2 s; the third such answer counts. Any other
// answer counts at once. A stop during a pause gives the Stopped result.
QueryResult AskPolitely(LyricQuery& query, const std::string& request, LyricInfo& info,
                        const std::function<bool()>& isRunning, QuerySlots& slots);

// What every song of a run is done with.
struct SongPlan {
    int includeLine[3] = {1, 1, 1};
    bool writeFile = false;  // a folder run writes an LRC file beside each song
    int encoding = 0;        // of those files; ANSI that would lose characters goes to UTF-16 LE
    // Stores the LRC text in the song's own tag as well, once its file is written; empty when
    // the run does not.
    std::function<WriteResult(const std::filesystem::path& song, std::u16string_view lrcText,
                              std::string_view key)>
        embed;
};

// The result of one song, with what the front ends show of it.
struct SongResult {
    SongOutcome outcome = SongOutcome::Stopped;
    SongStage stage = SongStage::None;
    std::string cause;
    LyricInfo info;
    std::vector<LyricView::Row> rows;
    std::u16string lrcBody;  // the rows as LRC lines; empty when none has a time
    std::size_t lost = 0;    // Saved: characters the ANSI code page lacks, so written in UTF-16 LE
    bool tagFailed = false;  // Saved: the song's tag could not take the lyric, for tagCause
    std::string tagCause;
    bool hasFile() const { return !lrcBody.empty(); }
};

// One song from file to result: its lyric found, laid out as rows, its LRC text written ahead
// into a temporary file beside it, then put in place and stored in the tag. Preparing may run
// on any thread; Finish puts things in place, in the order the run shows its songs.
class SongTask {
public:
    SongTask(const ListedSong& song, const SongPlan& plan);
    ~SongTask();
    SongTask(const SongTask&) = delete;
    SongTask& operator=(const SongTask&) = delete;

    // Finds the lyric through `source` and lays it out; with a file to write, writes it ahead.
    void Prepare(LyricSource& source, const FindContext& context);
    // Lays out a lyric found before, asking nobody.
    void LayOut(const LyricInfo& info);
    // Puts the file written ahead in place and stores the lyric in the tag: Saved, or Failed
    // at Write. Other results stay as they are.
    const SongResult& Finish();
    const SongResult& Result() const { return result; }

private:
    const ListedSong& song;
    const SongPlan& plan;
    SongResult result;
    std::string key;
    std::u16string lrcText;
    PreparedFile file;
};

}  // namespace quillon
