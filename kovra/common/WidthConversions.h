#pragma once

#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"

namespace kovra {
namespace common {

// Conversion between the half-width and full-width forms of Japanese
// katakana, and of Latin letters and digits. Every character not named is
// copied unchanged.
//
// Choices where the behaviour was open:
// - Only a half-width base combines with a following half-width voiced or
//   semi-voiced mark (U+FF9E, U+FF9F); a mark after a full-width katakana, or
//   after a half-width base without such a form (ｱﾞ, ｶﾟ), becomes the
//   full-width mark ゛ or ゜ (U+309B, U+309C) on its own.
// - Towards half width the marks ゛ and ゜ become ﾞ and ﾟ; the combining
//   marks U+3099 and U+309A, hiragana, and the katakana without a half-width
//   form (ヰ ヱ ヮ ヵ ヶ, ヸ ヹ and the small forms ㇰ-ㇿ) stay as they are.
// - Letters and digits: Ａ-Ｚ, ａ-ｚ and ０-９ against A-Z, a-z and 0-9 only;
//   other full-width symbols (！, ＃, the full-width space) stay.

// Half-width katakana and marks (U+FF61-U+FF9F) to full width: a base and
// a following ﾞ or ﾟ become its voiced or semi-voiced form where one exists
// (ｶﾞ ガ, ｳﾞ ヴ, ﾜﾞ ヷ, ｦﾞ ヺ, ﾊﾟ パ).
KOVRA_API C_WString kovra_ToFullWidthKana(const C_WString& text);
// Full-width katakana and marks to half width; a voiced or semi-voiced form
// becomes its base and ﾞ or ﾟ. The inverse of kovra_ToFullWidthKana for any
// half-width text whose marks all combine.
KOVRA_API C_WString kovra_ToHalfWidthKana(const C_WString& text);
// Ａ-Ｚ, ａ-ｚ, ０-９ to A-Z, a-z, 0-9, and back.
KOVRA_API C_WString kovra_ToHalfWidthAlnum(const C_WString& text);
KOVRA_API C_WString kovra_ToFullWidthAlnum(const C_WString& text);

}  // namespace common
}  // namespace kovra
