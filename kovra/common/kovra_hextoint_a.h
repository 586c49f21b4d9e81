#pragma once

#include "kovra/KovraApi.h"

namespace kovra {
namespace common {

// The value of the `length` hexadecimal digits (either case) at `text`; -1
// when one of them is not a hexadecimal digit (a terminator included, so a
// shorter text is never read past its end), for a null text or a length
// that is not 1 to 7.
KOVRA_API int kovra_hextoint_a(const char* text, int length);

}  // namespace common
}  // namespace kovra
