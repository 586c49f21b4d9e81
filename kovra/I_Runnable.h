#pragma once

#include "kovra/KovraApi.h"

namespace kovra {

// Work that a thread runs.
class KOVRA_API I_Runnable {
public:
    virtual ~I_Runnable() {}
    virtual void Run() = 0;
};

}  // namespace kovra
