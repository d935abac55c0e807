#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace quillon {

class TextFile;

// The outcome of writing a file: whether it was written and, when not, why in the system's
// words.
struct WriteResult {
    bool written = false;
    std::string cause;
    operator bool() const { return written; }
};

// The steps of a safe write, as the cause of a failure names them before the system's words.
enum class WriteStep { Replace, Create, Write, Rename };
WriteResult WriteFailed(WriteStep step, std::string_view systemText);

// A new name for a temporary file in `folder`: ".quillon-" and ten random letters and digits.
std::filesystem::path TemporaryNameIn(const std::filesystem::path& folder);

// Whether `target` is a file this process could write in place: a missing file, a folder and
// a read-only file fail with a Replace cause.
WriteResult CheckReplaceable(const std::filesystem::path& target);

// A file written whole beside its target, waiting to take the target's place, so that files
// can be written side by side and put in place in an order of the caller's, or checked first.
struct PreparedFile {
    std::filesystem::path target;
    std::filesystem::path temporary;  // empty when nothing is waiting
    WriteResult result;               // why it could not be prepared
};

// Writes the bytes of the file being prepared; false gives up, with the file's own error (a
// failed write, a source that could not be read) as the cause when it has one.
using FileFiller = std::function<bool(TextFile& file)>;

// Fills a new file in the target's folder through `fill`, gives it the permissions of the file
// it is to replace, syncs and closes it. An existing target that could not be written in place
// (a read-only file, a folder) is left alone and nothing is prepared; on any failure nothing is
// left behind.
PreparedFile PrepareFile(const std::filesystem::path& target, const FileFiller& fill);
// PrepareFile for `text` in `encoding` (see TextEncoding).
PreparedFile PrepareTextFile(const std::filesystem::path& target, std::u16string_view text,
                             int encoding);
// Puts a prepared file in place of its target, by a rename that the system makes whole or not
// at all; a file that could not be prepared gives its cause. Either way nothing is left
// waiting.
WriteResult CommitPreparedFile(PreparedFile& prepared);
// Removes a prepared file that is no longer wanted.
void DiscardPreparedFile(PreparedFile& prepared);

// Writes `text` to `target` in `encoding` through a temporary file in the same folder that is
// renamed over the target only once it is whole and synced: a failure leaves the old file as it
// was and no temporary file behind. An existing target that could not be written in place (a
// read-only file, a folder) is left alone and the result is false.
WriteResult WriteTextFileAtomically(const std::filesystem::path& target, std::u16string_view text,
                                    int encoding);

}  // namespace quillon
