#pragma once

#include "kovra/C_String.h"
#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"

namespace kovra {
namespace common {

// Conversion between UTF-8, UTF-16 and Shift_JIS. Narrow texts are the
// bytes of a C_String up to its first zero byte. Each function returns 1
// with the converted text in `out`, or 0 with `out` emptied when the input
// is not well-formed or a character has no form in the target encoding; no
// character is ever replaced by a substitute such as '?'. `out` may be the
// very object given as input.
//
// Choices where the behaviour was open:
// - Shift_JIS is Windows' code page 932 (NEC and IBM extension rows
//   included) as the system's own table maps it: the conversion calls
//   MultiByteToWideChar and WideCharToMultiByte with code page 932, so the
//   result is the platform's, byte for byte, and no second copy of the
//   table can drift from it. A system without code page 932 installed
//   refuses every non-empty text.
// - Towards Shift_JIS a character counts as having a form only when
//   WideCharToMultiByte maps it without best fit and without its default
//   character (U+00A5 and U+301C, which best fit would turn into 0x5C and
//   0x8160, are refused), and the bytes it gives read back as the same
//   text. Several characters of the extension rows are written in another
//   row than the one they may be read from (0xED40 and 0xFA5C are both
//   U+7E8A, which is written 0xFA5C): that is the code page's own rule.
// - The single bytes 0x80, 0xA0 and 0xFD-0xFF, and a lead byte without its
//   trail byte, are read as MultiByteToWideChar with MB_ERR_INVALID_CHARS
//   reads them; some systems refuse A0 and FD-FF so, yet write U+F8F0 to
//   U+F8F3 (Microsoft's private characters for them) as those bytes, and
//   kovra_Utf16ToSjis writes them too, as WideCharToMultiByte does.
// - UTF-8 is read strictly (RFC 3629): overlong forms, surrogate code
//   points, values above U+10FFFF, truncated sequences, stray continuation
//   bytes and the bytes C0, C1 and F5-FF are refused. A byte-order mark is
//   an ordinary character: kept as U+FEFF when reading, never added when
//   writing.
// - UTF-16 with an unpaired surrogate is refused towards UTF-8 and towards
//   Shift_JIS.
KOVRA_API int kovra_Utf8ToUtf16(const C_String& utf8, C_WString& out);
KOVRA_API int kovra_Utf16ToUtf8(const C_WString& text, C_String& out);
KOVRA_API int kovra_SjisToUtf16(const C_String& sjis, C_WString& out);
KOVRA_API int kovra_Utf16ToSjis(const C_WString& text, C_String& out);
// The two steps through UTF-16; refused when either refuses.
KOVRA_API int kovra_Utf8ToSjis(const C_String& utf8, C_String& out);
KOVRA_API int kovra_SjisToUtf8(const C_String& sjis, C_String& out);

}  // namespace common
}  // namespace kovra
