#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/job.h"
#include "service/lyricquery.h"

namespace quillon {

// "<what> (<name>)": a log row that names a song.
std::u16string FileMessage(std::u16string_view what, std::u16string_view name);

// The warning row of a song whose LRC file went to UTF-16 LE because the ANSI code page lacks
// `lost` of its characters; it names the LRC file.
JobEvent SavedAsUtf16Event(std::u16string_view lrcName, std::size_t lost);
// How a row names a song's LRC file: "a.lrc" for "a.mp3" (with its folders in a run that
// includes subfolders).
std::u16string LrcName(const ListedSong& song);
// The last row of a stopped run, with the number of songs it did not reach.
JobEvent RunStoppedEvent(int notReached);

// Where a folder run's queries take turns: Acquire waits for a turn (false when the run
// stopped meanwhile); Release gives it back, telling whether the service was busy.
class QuerySlots {
public:
    virtual ~QuerySlots() = default;
    virtual bool Acquire() { return true; }
    virtual void Release(bool busy) { (void)busy; }
};

// After a song's LRC file is written: its text into the song's tag too when the run does that,
// and an error row when it cannot be.
void EmbedInTag(const RunOptions& options, JobHost& host, const ListedSong& song,
                std::u16string_view lrcText, std::string_view checksum);

// A folder run's query: a service that answers 429 or 503 is asked again, after its
// Retry-After (at most a minute) or else after 1 s, then 2 s; the third such answer fails the
// song. Any other answer counts at once. A stop during a pause gives the Stopped result.
QueryResult AskPolitely(LyricQuery& query, const std::string& request, LyricInfo& info,
                        const std::function<bool()>& isRunning, QuerySlots& slots);

// A folder run with several songs in hand at once: checksums and queries run ahead on worker
// threads, each with a connection of its own, and each song's LRC file is written ahead into its
// temporary file; the rows go out and the files are put in place in the order of the songs,
// exactly as a run with one song at a time shows them. A service that answers 429 or 503 makes
// the run halve its queries in flight and try the song again later (at most three tries). A
// stop ends the run at the song in turn: no rows or files from there on. Returns the job result.
int RunConcurrentFolder(JobState& state, JobHost& host, const std::vector<ListedSong>& songs,
                        JobProgress& progress, const QueryMaker& makeQuery);

}  // namespace quillon
