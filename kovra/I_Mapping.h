#pragma once

#include <windows.h>

#include "kovra/KovraApi.h"

namespace kovra {

// The backing store of a file mapping: the paging file or a disk file.
// C_Mapping asks it for the handle to map, the size and the access wish.
class KOVRA_API I_Mapping {
public:
    virtual ~I_Mapping() {}
    // Releases the backing store.
    virtual int Close() = 0;
    // The size of the store as two 32-bit halves; 1 on success.
    virtual int GetSize(unsigned long* low, unsigned long* high) const = 0;
    // The access wish: bit 0x2 or 0x1 asks for a writable mapping.
    virtual unsigned long GetMode() const = 0;
    // The file handle to map; INVALID_HANDLE_VALUE means the paging file.
    virtual HANDLE GetHandle() const = 0;
};

}  // namespace kovra
