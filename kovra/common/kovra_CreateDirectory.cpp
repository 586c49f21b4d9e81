#include "kovra/common/kovra_CreateDirectory.h"

#include <windows.h>

namespace kovra {
namespace common {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

int kovra_CreateDirectory(const C_WString& path) {
    if (path.Empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    if (CreateDirectoryW(path.GetString(), nullptr)) return 1;
    if (GetLastError() != ERROR_PATH_NOT_FOUND) return 0;
    // Parents from the root down, iteratively (a path of thousands of
    // levels must not recurse); one that exists already, or that another
    // process makes meanwhile, is fine: only the last directory decides.
    const wchar_t* text = path.GetString();
    for (int i = 1; i < path.Length(); ++i) {
        if (!IsSeparator(text[i]) || IsSeparator(text[i - 1]) || text[i - 1] == L':') continue;
        CreateDirectoryW(path.SubString(0, i - 1).GetString(), nullptr);
    }
    return CreateDirectoryW(path.GetString(), nullptr) ? 1 : 0;
}

}  // namespace common
}  // namespace kovra
