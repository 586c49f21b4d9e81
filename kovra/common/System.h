#pragma once

#include <cstdint>

#include "kovra/C_String.h"
#include "kovra/KovraApi.h"

namespace kovra {
namespace common {

// Japanese mail and text helpers: byte classes of Shift_JIS, EUC-JP and JIS
// X 0208, conversion between Shift_JIS and ISO-2022-JP (JIS) and between
// Shift_JIS and EUC-JP, Base64 in the ISO-2022-JP "B" encoded-word frame,
// quoted-printable decoding, a 16-bit checksum, the MIME content type
// registered for an extension, and the clock in milliseconds. Texts are
// C_String values holding bytes; no function reads past a text's length.
//
// Choices where the behaviour was open:
// - An incomplete double-byte character is dropped: a Shift_JIS lead byte,
//   EUC-JP byte (0xA1-0xFE) or JIS byte (in double-byte mode) that is the
//   last byte of the text, or whose partner lies outside the partner range
//   (0x40-0x7E and 0x80-0xFC, 0xA1-0xFE, 0x21-0x7E). The partner is then
//   read as a byte of its own, so a following line end or escape sequence
//   still counts. An EUC-JP single shift (0x8E) at the end is dropped too.
// - sjis_to_jis closes its double-byte run (ESC ( J) before the next byte it
//   writes and at the end of the text: the same output as closing it right
//   after the last pair.
// - jis_to_sjis copies an escape byte that does not begin one of the four
//   sequences it knows (a lone escape at the end included).
// - sjis_to_euc writes half-width katakana with the single shift 0x8E in
//   front, as EUC-JP requires: without it the byte reads as the first half
//   of a two-byte character and the text is corrupted on the way back.
// - quoted_printable_decode consumes each escape whole in either mode:
//   "=1B(B" five characters, "=" and a line feed two, "=", carriage return
//   and line feed three. An "=" that does not begin a soft break, a mode
//   switch or two hexadecimal digits (kovra_hextoint_a answers -1), a "="
//   at the end included, is kept as it stands.
// - base64_decode: an encoded word without its closing "?=" runs to the end
//   of the text. Decoded bytes may contain zero bytes; they stay in the
//   result (Length() counts them).
// - getContentType opens the key for reading only (KEY_QUERY_VALUE):
//   HKEY_CLASSES_ROOT merges the machine's classes, which a user without
//   administrator rights cannot open with KEY_ALL_ACCESS. An empty
//   extension, a value that is not a string (REG_SZ, REG_EXPAND_SZ) and one
//   that grows between the two reads give the empty string; a stored value
//   without its terminator is read within its size.
class KOVRA_API System {
public:
    virtual ~System() {}

    // Byte classes: 1 or 0.
    static int is_sjis_kanji(unsigned char b);   // lead byte 0x81-0x9F, 0xE0-0xFC
    static int is_sjis_kanji2(unsigned char b);  // trail byte 0x40-0x7E, 0x80-0xFC
    static int is_sjis_kana(unsigned char b);    // half-width katakana 0xA1-0xDF
    static int is_euc_kana(unsigned char b);     // single shift 0x8E
    static int is_euc_kanji(unsigned char b);    // 0xA1-0xFE
    static int is_jis_kanji(unsigned char b);    // 0x21-0x7E

    // The Shift_JIS code (lead byte in bits 8-15) of the JIS X 0208
    // character with the given row and cell bytes, and its inverse.
    static int jis_to_sjis_char(int first, int second);
    static int sjis_to_jis_char(int first, int second);

    // Shift_JIS to ISO-2022-JP: double-byte runs between ESC $ B and ESC ( J;
    // carriage returns dropped unless keepCR is non-zero; other bytes copied.
    static C_String sjis_to_jis(const C_String& text, int keepCR);
    // ISO-2022-JP to Shift_JIS, up to the first zero byte; a line feed not
    // preceded by a carriage return becomes carriage return and line feed.
    static C_String jis_to_sjis(const C_String& text);
    static C_String euc_to_sjis(const C_String& text);
    static C_String sjis_to_euc(const C_String& text);

    // Standard Base64 with "=" padding and no line breaks, framed by
    // "=?ISO-2022-JP?B?" (header) and "?=" (trailer) when asked; the first
    // form stops at the text's first zero byte. Empty input, or null data,
    // gives the empty string.
    static C_String base64_encode(const C_String& text, bool header, bool trailer);
    static C_String base64_encode(const unsigned char* data, unsigned int size, bool header, bool trailer);
    // Every "=?ISO-2022-JP?B?...?=" word (header in any case) decoded in
    // place; other text, and blanks between words, kept.
    static C_String base64_decode(const C_String& text);
    // "=XX" bytes and soft line breaks, with the ISO-2022-JP mode switches
    // "=1B$B" and "=1B(B"; the result ends at the first zero byte decoded.
    static C_String quoted_printable_decode(const C_String& text);
    // The 6-bit value of a Base64 character, 255 for any other ("=" too).
    static unsigned char base64_basetoconv(char c);
    // The character of a value 0-63, "=" for any other value.
    static char base64_convtobase(char v);

    // 16-bit checksum (polynomial 0x1021, register from 0); "abc" gives
    // 0x1EE4, no bytes give 0. A null pointer or a size below 1 gives 0.
    static unsigned short crc16(const unsigned char* data, int size);

    // The "Content Type" registered for `extension` (".txt") under
    // HKEY_CLASSES_ROOT; empty when there is none.
    static C_String getContentType(const C_String& extension);
    // Milliseconds since 1970-01-01 00:00 UTC.
    static int64_t currentTimeMillis();
};

}  // namespace common
}  // namespace kovra
