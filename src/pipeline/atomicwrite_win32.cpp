// Writing a file whole on Windows: a temporary file beside the target with the target's
// attributes and access rules, FlushFileBuffers, then MoveFileExW over the target, written
// through.
#include <windows.h>

#include <utility>
#include <vector>

#include "common/systemerror.h"
#include "pipeline/atomicwrite.h"
#include "pipeline/textwriter.h"

namespace quillon {

namespace {

WriteResult Failed(WriteStep step, DWORD error) {
    return WriteFailed(step, SystemErrorText(static_cast<int>(error)));
}

// The attributes a replacement carries over; read-only never gets this far.
constexpr DWORD KeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                 FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Gives `file` the access rules of `target` as they are. A file made in the target's folder
// inherits the folder's rules already, so only a target with rules set on it, or one that takes
// none from its folder, needs this; a file system without access rules has nothing to keep.
// Returns the system's error, ERROR_SUCCESS when the rules are kept.
DWORD KeepAccessRules(const std::filesystem::path& target, HANDLE file) {
    DWORD size = 0;
    ::GetFileSecurityW(target.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<char> descriptor(size);
    if (size == 0 || !::GetFileSecurityW(target.c_str(), DACL_SECURITY_INFORMATION,
                                         descriptor.data(), size, &size))
        return ERROR_SUCCESS;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL rules = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::GetSecurityDescriptorDacl(descriptor.data(), &present, &rules, &defaulted) || !present ||
        rules == nullptr || !::GetSecurityDescriptorControl(descriptor.data(), &control, &revision))
        return ERROR_SUCCESS;
    bool own = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD i = 0; i < rules->AceCount && !own; ++i) {
        void* rule = nullptr;
        own = ::GetAce(rules, i, &rule) &&
              (static_cast<ACE_HEADER*>(rule)->AceFlags & INHERITED_ACE) == 0;
    }
    if (!own) return ERROR_SUCCESS;
    // Set as they are, inherited rules included: the file sits in the same folder.
    return ::SetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, descriptor.data())
               ? ERROR_SUCCESS
               : ::GetLastError();
}

}  // namespace

WriteResult CheckReplaceable(const std::filesystem::path& target) {
    // As a plain create-always would find it: a read-only file or a folder stays as it is.
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(WriteStep::Replace, ::GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return Failed(WriteStep::Replace, ERROR_DIRECTORY);
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return Failed(WriteStep::Replace, ERROR_ACCESS_DENIED);
    return {true, {}};
}

PreparedFile PrepareFile(const std::filesystem::path& target, const FileFiller& fill) {
    PreparedFile prepared{target, {}, {}};
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    const bool replacing = attributes != INVALID_FILE_ATTRIBUTES;
    if (replacing) {
        prepared.result = CheckReplaceable(target);
        if (!prepared.result) return prepared;
    }

    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = L".";
    std::filesystem::path temporary;
    const DWORD made = replacing && (attributes & KeptAttributes) != 0 ? attributes & KeptAttributes
                                                                       : FILE_ATTRIBUTE_NORMAL;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 32 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = TemporaryNameIn(folder);
        handle = ::CreateFileW(temporary.c_str(), GENERIC_WRITE | READ_CONTROL | WRITE_DAC, 0,
                               nullptr, CREATE_NEW, made, nullptr);
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
    DWORD error = replacing ? KeepAccessRules(target, handle) : ERROR_SUCCESS;
    bool ok = error == ERROR_SUCCESS && fill(file);
    ok = ok && file.Sync();
    ok = file.Close() && ok;
    if (ok) {
        prepared.temporary = std::move(temporary);
        prepared.result = {true, {}};
        return prepared;
    }
    if (error == ERROR_SUCCESS) error = static_cast<DWORD>(file.Error());
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
