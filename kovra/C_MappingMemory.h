#pragma once

#include <windows.h>

#include "kovra/I_Mapping.h"
#include "kovra/KovraApi.h"

namespace kovra {

// Memory backed by the system paging file. It only holds numbers: the
// access wish and the size that C_Mapping's three-argument Map uses. Open
// and SetSize may come in any order before the mapping is made.
class KOVRA_API C_MappingMemory : public I_Mapping {
public:
    C_MappingMemory();
    virtual ~C_MappingMemory();

    // Stores the access wish (2: read and write) and returns it.
    int Open(unsigned long mode);
    void SetSize(unsigned long low, unsigned long high);

    // Mode and size become 0; always 1.
    int Close() override;
    // Stores the halves through the non-null pointers; always 1.
    int GetSize(unsigned long* low, unsigned long* high) const override;
    unsigned long GetMode() const override { return m_mode; }
    // Always INVALID_HANDLE_VALUE: the paging file.
    HANDLE GetHandle() const override { return INVALID_HANDLE_VALUE; }

private:
    unsigned long m_mode;
    unsigned long m_sizeLow;
    unsigned long m_sizeHigh;
};

}  // namespace kovra
