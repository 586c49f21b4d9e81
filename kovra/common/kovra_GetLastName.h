#pragma once

#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"

namespace kovra {
namespace common {

// The last component of a path: the text after the last '/' or '\', or the
// whole path when it has neither (a path ending in a separator gives "").
KOVRA_API C_WString kovra_GetLastName(const C_WString& path);

}  // namespace common
}  // namespace kovra
