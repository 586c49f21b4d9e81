#pragma once

#include "kovra/KovraApi.h"

namespace kovra {

// A growable buffer of text or bytes.
class KOVRA_API I_Memory {
public:
    virtual ~I_Memory() {}
    virtual void* GetPointer() = 0;            // the data
    virtual unsigned long Length() const = 0;  // units in use
    virtual int GetType() = 0;                 // 0 narrow text, 1 wide text, 2 bytes
};

}  // namespace kovra
