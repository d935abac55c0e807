// Writing a text file whole on Windows: a temporary file beside the target, FlushFileBuffers,
// then MoveFileExW over the target, written through.
#include <windows.h>

#include "common/systemerror.h"
#include "pipeline/lrc.h"
#include "pipeline/textwriter.h"

namespace quillon {

namespace {

WriteResult Failed(WriteStep step, DWORD error) {
    return WriteFailed(step, SystemErrorText(static_cast<int>(error)));
}

}  // namespace

PreparedFile PrepareTextFile(const std::filesystem::path& target, std::u16string_view text,
                             int encoding) {
    PreparedFile prepared{target, {}, {}};
    // An existing target must be one a plain create-always could replace: a read-only LRC file
    // or a folder stays as it is.
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            prepared.result = Failed(WriteStep::Replace, ERROR_DIRECTORY);
            return prepared;
        }
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            prepared.result = Failed(WriteStep::Replace, ERROR_ACCESS_DENIED);
            return prepared;
        }
    }

    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = L".";
    std::filesystem::path temporary;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 32 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = TemporaryNameIn(folder);
        handle = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) {
            prepared.result = Failed(WriteStep::Create, ::GetLastError());
            return prepared;
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        prepared.result = Failed(WriteStep::Create, ERROR_FILE_EXISTS);
        return prepared;
    }

    TextFile file;
    file.Attach(reinterpret_cast<std::intptr_t>(handle));
    bool ok = true;
    {
        TextFileWriter writer(&file, encoding);
        writer.WriteText(text);
        writer.Close();
        ok = writer.Ok();
    }
    ok = ok && file.Sync();
    ok = file.Close() && ok;
    if (ok) {
        prepared.temporary = std::move(temporary);
        prepared.result = {true, {}};
        return prepared;
    }
    const DWORD error = static_cast<DWORD>(file.Error());
    ::DeleteFileW(temporary.c_str());
    prepared.result = Failed(WriteStep::Write, error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
    return prepared;
}

WriteResult CommitPreparedFile(PreparedFile& prepared) {
    if (prepared.temporary.empty()) return prepared.result;
    const std::filesystem::path temporary = std::move(prepared.temporary);
    prepared.temporary.clear();
    if (::MoveFileExW(temporary.c_str(), prepared.target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {true, {}};
    const DWORD error = ::GetLastError();
    ::DeleteFileW(temporary.c_str());
    return Failed(WriteStep::Rename, error);
}

void DiscardPreparedFile(PreparedFile& prepared) {
    if (prepared.temporary.empty()) return;
    ::DeleteFileW(prepared.temporary.c_str());
    prepared.temporary.clear();
}

}  // namespace quillon
