#pragma once

#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"

namespace kovra {
namespace common {

// The process's current directory (GetCurrentDirectoryW, any length); the
// empty string when it cannot be read.
KOVRA_API C_WString kovra_GetCurrentDirectory();

}  // namespace common
}  // namespace kovra
