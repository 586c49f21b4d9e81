#include "kovra/C_MappingFile.h"

namespace kovra {

C_MappingFile::C_MappingFile() : m_file(INVALID_HANDLE_VALUE), m_mode(0) {}

C_MappingFile::~C_MappingFile() { Close(); }

int C_MappingFile::Open(const wchar_t* path, unsigned long flags) {
    if (!path) return 0;
    Close();

    const bool writable = (flags & (MODE_WRITE | MODE_READWRITE)) != 0;
    // Truncating a file opened for reading only cannot work.
    if ((flags & MODE_TRUNCATE) && !writable) return 0;
    // Every mapping needs read access, a writable one write access too.
    DWORD access = writable ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;

    DWORD disposition = OPEN_EXISTING;
    if (flags & MODE_CREATE) disposition = (flags & MODE_NEW) ? CREATE_NEW : OPEN_ALWAYS;

    HANDLE file = CreateFileW(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;

    if (flags & MODE_TRUNCATE) {
        // A fresh handle stands at offset 0: SetEndOfFile cuts the file there.
        if (!SetEndOfFile(file)) {
            CloseHandle(file);
            return 0;
        }
    }
    if (flags & MODE_APPEND) SetFilePointer(file, 0, nullptr, FILE_END);

    m_file = file;
    m_mode = flags;
    return 1;
}

int C_MappingFile::Close() {
    if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
    m_mode = 0;
    return 1;
}

int C_MappingFile::GetSize(unsigned long* low, unsigned long* high) const {
    if (m_file == INVALID_HANDLE_VALUE) return 0;
    DWORD highPart = 0;
    // A low half of 0xFFFFFFFF is also a valid size: only the error code
    // tells a failure, so clear it first.
    SetLastError(NO_ERROR);
    DWORD lowPart = GetFileSize(m_file, &highPart);
    if (lowPart == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
    if (low) *low = lowPart;
    if (high) *high = highPart;
    return 1;
}

}  // namespace kovra
