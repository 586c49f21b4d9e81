#pragma once

#include <windows.h>

#include "kovra/I_Mapping.h"
#include "kovra/KovraApi.h"

namespace kovra {

// A disk file as the backing store of a mapping, opened exclusively
// (share mode 0).
//
// Open flags:
//   0x2   read and write.
//   0x1   write; opened for reading as well (see below).
//   0x100 create the file when it is missing; with 0x400 as well the file
//         must be new. Without 0x100 the file must exist.
//   0x200 truncate after opening; refused (0, nothing opened) unless 0x1 or
//         0x2 asks for writing.
//   0x8   move the file pointer to the end after opening.
//
// Access pairing: C_Mapping's three-argument Map maps with PAGE_READWRITE
// when bit 0x1 or 0x2 is set and PAGE_READONLY otherwise, and the system
// needs read access on the file for any mapping (and read plus write for a
// read-write one). So 0x1 and 0x2 both open the file with GENERIC_READ |
// GENERIC_WRITE, and neither opens it with GENERIC_READ: whatever the flags,
// the file opened here can be mapped with the protection Map derives.
class KOVRA_API C_MappingFile : public I_Mapping {
public:
    static constexpr unsigned long MODE_WRITE = 0x1;
    static constexpr unsigned long MODE_READWRITE = 0x2;
    static constexpr unsigned long MODE_APPEND = 0x8;
    static constexpr unsigned long MODE_CREATE = 0x100;
    static constexpr unsigned long MODE_TRUNCATE = 0x200;
    static constexpr unsigned long MODE_NEW = 0x400;

    C_MappingFile();
    virtual ~C_MappingFile();

    // 1 when the file is open, 0 on any failure (then no file is held). A
    // file already open in this object is closed first.
    int Open(const wchar_t* path, unsigned long flags);
    // Closes the file if open; always 1.
    int Close() override;
    int IsOpen() const { return m_file != INVALID_HANDLE_VALUE ? 1 : 0; }

    // 0 while closed or when the size cannot be read; else the file's size
    // (the high half through `high` when non-null) and 1.
    int GetSize(unsigned long* low, unsigned long* high) const override;
    // The flags given to Open, 0 while closed.
    unsigned long GetMode() const override { return m_mode; }
    // The file handle, INVALID_HANDLE_VALUE while closed.
    HANDLE GetHandle() const override { return m_file; }

private:
    C_MappingFile(const C_MappingFile&) = delete;
    C_MappingFile& operator=(const C_MappingFile&) = delete;

    HANDLE m_file;
    unsigned long m_mode;
};

}  // namespace kovra
