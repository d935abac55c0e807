// Writing a text file whole on Windows: a temporary file beside the target, FlushFileBuffers,
// then MoveFileExW over the target, written through.
#include <windows.h>

#include "common/systemerror.h"
#include "pipeline/lrc.h"
#include "pipeline/textwriter.h"

namespace quillon {

WriteResult WriteTextFileAtomically(const std::filesystem::path& target, std::u16string_view text,
                                    int encoding) {
    const auto failed = [](DWORD error) {
        return WriteResult{false, SystemErrorText(static_cast<int>(error))};
    };
    // An existing target must be one a plain create-always could replace: a read-only LRC file
    // or a folder stays as it is.
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return failed(ERROR_DIRECTORY);
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return failed(ERROR_ACCESS_DENIED);
    }

    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = L".";
    std::filesystem::path temporary;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 32 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = TemporaryNameIn(folder);
        handle = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            return failed(::GetLastError());
    }
    if (handle == INVALID_HANDLE_VALUE) return failed(ERROR_FILE_EXISTS);

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
    DWORD error = ok ? ERROR_SUCCESS : static_cast<DWORD>(file.Error());
    if (ok && ::MoveFileExW(temporary.c_str(), target.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {true, {}};
    if (ok) error = ::GetLastError();
    ::DeleteFileW(temporary.c_str());
    return failed(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
}

}  // namespace quillon
