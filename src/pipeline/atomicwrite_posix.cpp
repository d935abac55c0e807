// Writing a file whole on POSIX systems: a temporary file beside the target with the target's
// permissions, fsync, rename.
#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/systemerror.h"
#include "pipeline/atomicwrite.h"
#include "pipeline/textwriter.h"

namespace quillon {

namespace {

WriteResult Failed(WriteStep step, int error) {
    return WriteFailed(step, SystemErrorText(error));
}

}  // namespace

WriteResult CheckReplaceable(const std::filesystem::path& target) {
    // As a plain open for writing would find it: a read-only file stays.
    struct stat old {};
    if (::stat(target.c_str(), &old) != 0) return Failed(WriteStep::Replace, errno);
    if (!S_ISREG(old.st_mode))
        return Failed(WriteStep::Replace, S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return Failed(WriteStep::Replace, errno);
    return {true, {}};
}

PreparedFile PrepareFile(const std::filesystem::path& target, const FileFiller& fill) {
    PreparedFile prepared{target, {}, {}};
    struct stat old {};
    const bool replacing = ::stat(target.c_str(), &old) == 0;
    if (replacing) {
        prepared.result = CheckReplaceable(target);
        if (!prepared.result) return prepared;
    }

    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    std::filesystem::path temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 32 && fd < 0; ++attempt) {
        temporary = TemporaryNameIn(folder);
        // 0666 under the umask, as any new file gets.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0 && errno != EEXIST) {
            prepared.result = Failed(WriteStep::Create, errno);
            return prepared;
        }
    }
    if (fd < 0) {
        prepared.result = Failed(WriteStep::Create, EEXIST);
        return prepared;
    }

    TextFile file;
    file.Attach(fd);
    int error = 0;
    // The replaced file's mode, set-user-ID and sticky bits included, before any byte goes in.
    bool ok = !replacing || ::fchmod(fd, old.st_mode & 07777) == 0;
    if (!ok) error = errno;
    ok = ok && fill(file);
    ok = ok && file.Sync();
    ok = file.Close() && ok;
    if (ok) {
        prepared.temporary = std::move(temporary);
        prepared.result = {true, {}};
        return prepared;
    }
    if (error == 0) error = file.Error();
    ::unlink(temporary.c_str());
    prepared.result = Failed(WriteStep::Write, error != 0 ? error : EIO);
    return prepared;
}

WriteResult CommitPreparedFile(PreparedFile& prepared) {
    if (prepared.temporary.empty()) return prepared.result;
    const std::filesystem::path temporary = std::move(prepared.temporary);
    prepared.temporary.clear();
    if (::rename(temporary.c_str(), prepared.target.c_str()) == 0) return {true, {}};
    const int error = errno;
    ::unlink(temporary.c_str());
    return Failed(WriteStep::Rename, error);
}

void DiscardPreparedFile(PreparedFile& prepared) {
    if (prepared.temporary.empty()) return;
    ::unlink(prepared.temporary.c_str());
    prepared.temporary.clear();
}

}  // namespace quillon
