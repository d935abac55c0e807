#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pipeline/job.h"

namespace quillon {

// "<what> (<name>)": a log row that names a song.
std::u16string FileMessage(std::u16string_view what, std::u16string_view name);

// A folder run with several songs in hand at once: checksums and queries run ahead on worker
// threads, each with a connection of its own, and each song's LRC file is written ahead into its
// temporary file; the rows go out and the files are put in place in the order of the songs,
// exactly as a run with one song at a time shows them. A service that answers 429 or 503 makes
// the run halve its queries in flight and try the song again later (at most three tries). A
// stop ends the run at the song in turn: no rows or files from there on. Returns the job result.
int RunConcurrentFolder(JobState& state, JobHost& host, const std::vector<ListedSong>& songs,
                        JobProgress& progress, const QueryMaker& makeQuery);

}  // namespace quillon
