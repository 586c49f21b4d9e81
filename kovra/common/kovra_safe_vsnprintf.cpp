#include "kovra/common/kovra_safe_vsnprintf.h"

#include <stdio.h>
#include <stdlib.h>

namespace kovra {
namespace common {

namespace {

// A text this long is taken as a format that can never be rendered (the C
// runtime also reports encoding errors as "does not fit").
const size_t kMaxUnits = size_t(1) << 26;

int Render(wchar_t* buffer, size_t count, const wchar_t* format, va_list args) {
    return _vsnwprintf(buffer, count, format, args);
}

int Render(char* buffer, size_t count, const char* format, va_list args) {
    return _vsnprintf(buffer, count, format, args);
}

// The text's length when it fits in `count` units with its terminator, else -1.
template <typename Ch>
int FormatInto(Ch* buffer, size_t count, const Ch* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = Render(buffer, count, format, copy);
    va_end(copy);
    if (n < 0 || static_cast<size_t>(n) >= count) return -1;
    buffer[n] = 0;
    return n;
}

template <typename Ch>
Ch* SafeFormat(Ch* buffer, size_t count, const Ch* format, va_list args, int* allocated, int* length) {
    if (allocated) *allocated = 0;
    if (length) *length = 0;
    if (!format) return nullptr;

    if (buffer && count > 0) {
        int n = FormatInto(buffer, count, format, args);
        if (n >= 0) {
            if (length) *length = n;
            return buffer;
        }
    }

    for (size_t size = (count < 256 ? 256 : count) * 2; size <= kMaxUnits; size *= 2) {
        Ch* heap = static_cast<Ch*>(malloc(size * sizeof(Ch)));
        if (!heap) return nullptr;
        int n = FormatInto(heap, size, format, args);
        if (n >= 0) {
            if (allocated) *allocated = 1;
            if (length) *length = n;
            return heap;
        }
        free(heap);
    }
    return nullptr;
}

}  // namespace

wchar_t* kovra_safe_vsnprintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list args, int* allocated,
                              int* length) {
    return SafeFormat(buffer, count, format, args, allocated, length);
}

char* kovra_safe_vsnprintfA(char* buffer, size_t count, const char* format, va_list args, int* allocated, int* length) {
    return SafeFormat(buffer, count, format, args, allocated, length);
}

}  // namespace common
}  // namespace kovra
