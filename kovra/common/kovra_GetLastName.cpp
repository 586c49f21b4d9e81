#include "kovra/common/kovra_GetLastName.h"

namespace kovra {
namespace common {

C_WString kovra_GetLastName(const C_WString& path) {
    int slash = path.LastIndexOf(L'/');
    int backslash = path.LastIndexOf(L'\\');
    int last = slash > backslash ? slash : backslash;
    if (last < 0) return path;
    return path.SubString(last + 1);
}

}  // namespace common
}  // namespace kovra
