#include "kovra/common/kovra_GetCurrentDirectory.h"

#include <windows.h>

#include <vector>

namespace kovra {
namespace common {

C_WString kovra_GetCurrentDirectory() {
    // Another thread may change the directory between the two calls: ask
    // again while the answer does not fit.
    DWORD size = MAX_PATH;
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::vector<wchar_t> buffer(size + 1);
        DWORD got = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (got == 0) return C_WString();
        if (got < buffer.size()) return C_WString(buffer.data());
        size = got;
    }
    return C_WString();
}

}  // namespace common
}  // namespace kovra
