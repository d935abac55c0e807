// `lyrics`: the lyric stored in a song's own tag, as a player reads it.
#include <string>

#include "cli/commands.h"
#include "cli/console.h"
#include "tagging/lyrictag.h"
#include "text/textconv.h"

namespace quillon::cli {

int RunLyrics(const std::vector<std::string_view>& args) {
    std::vector<std::string_view> files;
    if (const auto done = FileArguments(
            args, "lyrics",
            "Usage: quillon-cli lyrics FILE\n"
            "\n"
            "Prints the lyric stored in the MP3 file's ID3v2 tag: the unsynchronised\n"
            "lyric (USLT) when it holds time-tagged lines, else the synchronised one\n"
            "(SYLT) as LRC lines, else the unsynchronised text as it stands.\n"
            "\n"
            "Exit status: 0 when the tag holds a lyric, 1 when not, 2 on a usage error.\n",
            files))
        return *done;
    if (files.size() > 1) return UsageError("lyrics: one FILE at a time");
    const std::string_view file = files.front();

    const EmbeddedLyrics lyrics = ReadEmbeddedLyrics(ArgumentPath(file));
    if (!lyrics.found) {
        Write(stderr, "quillon-cli: " + std::string(file) + ": " + lyrics.cause + "\n");
        return ExitFailure;
    }
    std::string text = WideToUtf8(lyrics.lrc);
    if (!text.empty() && text.back() != '\n') text += '\n';
    Write(stdout, text);
    return ExitOk;
}

}  // namespace quillon::cli
