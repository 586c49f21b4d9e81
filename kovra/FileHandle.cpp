#include "kovra/FileHandle.h"

namespace kovra {

FileHandle::FileHandle() {}

FileHandle::FileHandle(HANDLE handle) : m_handle(handle) {}

// The owner closes the handle.
FileHandle::~FileHandle() {}

FileHandle* FileHandle::CreateFileHandle(const wchar_t* name, int access, int type) {
    DWORD disposition = 0;
    switch (type) {
    case FH_CREATE_NEW:
        disposition = CREATE_NEW;
        break;
    case FH_CREATE_ALWAYS:
        disposition = CREATE_ALWAYS;
        break;
    case FH_OPEN_EXISTING:
        disposition = OPEN_EXISTING;
        break;
    case FH_OPEN_ALWAYS:
        disposition = OPEN_ALWAYS;
        break;
    case FH_TRUNCATE_EXISTING:
        disposition = TRUNCATE_EXISTING;
        break;
    case FH_APPEND:
        disposition = OPEN_ALWAYS;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }

    DWORD desired = 0;
    if (access & FH_READ) desired |= GENERIC_READ;
    if (access & FH_WRITE) desired |= GENERIC_WRITE;
    DWORD share = 0;
    if (access & FH_SHARE_READ) share |= FILE_SHARE_READ;
    if (access & FH_SHARE_WRITE) share |= FILE_SHARE_WRITE;

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    common::UniqueFileHandle file(
        CreateFileW(name, desired, share, &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;

    if (type == FH_APPEND) {
        // The high part is asked for so that files past 4 GiB append too.
        LONG high = 0;
        SetLastError(NO_ERROR);
        // Writes would land at the start and overwrite what is to be kept.
        if (SetFilePointer(file.Get(), 0, &high, FILE_END) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
            return nullptr;
    }
    return new FileHandle(file.Release());
}

FileHandle* FileHandle::CreateNullHandle() { return new FileHandle(); }

void FileHandle::CloseFileHandle(FileHandle** p) {
    if (!p || !*p) return;
    delete *p;
    *p = nullptr;
}

}  // namespace kovra
