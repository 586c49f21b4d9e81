#include "kovra/RedirectHandle.h"

namespace kovra {

FileHandle* RedirectHandle::CreateRedirectHandle(const wchar_t* name, int access, int type) {
    FileHandle* file = FileHandle::CreateFileHandle(name, access, type);
    if (!file) return nullptr;

    HANDLE self = GetCurrentProcess();
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (!DuplicateHandle(self, file->m_handle.Get(), self, &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        DWORD error = GetLastError();
        delete file;
        SetLastError(error);
        return nullptr;
    }
    file->m_handle.Reset(copy);
    return file;
}

FileHandle* RedirectHandle::CreateStdin(const wchar_t* name) {
    return CreateRedirectHandle(name, FH_READ | FH_SHARE_READ | FH_SHARE_WRITE, FH_OPEN_EXISTING);
}

FileHandle* RedirectHandle::CreateStdouterr(const wchar_t* name) {
    return CreateRedirectHandle(name, FH_WRITE | FH_SHARE_READ | FH_SHARE_WRITE, FH_CREATE_ALWAYS);
}

}  // namespace kovra
