#pragma once

#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"

namespace kovra {
namespace common {

// Creates the directory `path`, and first its missing parent directories.
// 1 when this call created `path`; 0 when it could not, with GetLastError()
// telling why: ERROR_ALREADY_EXISTS when the directory (or a file of that
// name) is already there, so exactly one of several processes racing for
// the same name gets 1.
KOVRA_API int kovra_CreateDirectory(const C_WString& path);

}  // namespace common
}  // namespace kovra
