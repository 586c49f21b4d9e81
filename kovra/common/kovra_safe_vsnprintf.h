#pragma once

#include <cstdarg>
#include <cstddef>

#include "kovra/KovraApi.h"

namespace kovra {
namespace common {

// Bounded wide formatting (_vsnwprintf underneath). Formats into `buffer`
// of `count` units when the text and its terminator fit; otherwise into heap
// buffers of doubling size until it fits. Returns the text, or null when
// memory runs out or the format cannot be rendered. *allocated becomes 1
// when the text lies in a heap buffer that the caller releases with free();
// *length receives the text's length. `args` is not consumed.
KOVRA_API wchar_t* kovra_safe_vsnprintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list args,
                                        int* allocated, int* length);

// The same for narrow text (_vsnprintf underneath).
KOVRA_API char* kovra_safe_vsnprintfA(char* buffer, size_t count, const char* format, va_list args, int* allocated,
                                      int* length);

}  // namespace common
}  // namespace kovra
