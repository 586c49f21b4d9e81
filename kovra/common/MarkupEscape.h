#pragma once

#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"

namespace kovra {
namespace common {

// Escaping of the characters that HTML and XML give a meaning.
//
// Choices where the behaviour was open:
// - The apostrophe is written &#39;: &apos; is XML's and HTML 5's but not
//   HTML 4's, and a numeric reference is read the same by all three.
// - Names are matched as written (&AMP; stays): XML's names are
//   case-sensitive. Numeric references take any number of leading zeros
//   (&#0065; is A). A value is read only up to U+10FFFF: a reference that
//   passes it stays as written, however many digits follow, so no length
//   of digits can overflow.

// & < > " ' as &amp; &lt; &gt; &quot; &#39;; everything else unchanged.
KOVRA_API C_WString kovra_EscapeXml(const C_WString& text);
// &amp; &lt; &gt; &quot; &apos;, &#N; and &#xH; (x or X) to their character
// (above U+FFFF a surrogate pair). Any other name, a reference without ";"
// or without digits, and a value of 0, of a surrogate or above U+10FFFF,
// stay as written. kovra_UnescapeXml(kovra_EscapeXml(s)) is s for every s.
KOVRA_API C_WString kovra_UnescapeXml(const C_WString& text);

}  // namespace common
}  // namespace kovra
