#include "kovra/common/kovra_hextoint_a.h"

namespace kovra {
namespace common {

int kovra_hextoint_a(const char* text, int length) {
    // Seven digits at most, so that the value fits an int.
    if (!text || length < 1 || length > 7) return -1;
    int value = 0;
    for (int i = 0; i < length; ++i) {
        char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

}  // namespace common
}  // namespace kovra
