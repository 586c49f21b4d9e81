#include <gtest/gtest.h>

#include <string>

#include "kovra/C_String.h"
#include "kovra/common/System.h"
#include "support/TestSupport.h"

using kovra::C_String;
using kovra::common::System;
using testsupport::Bytes;
using testsupport::CString;
using testsupport::SameBytes;

namespace {

// Shift_JIS samples; string pieces are split so that hexadecimal escapes
// never run into the following letters.
const std::string kKanji = "\x8A\xBF\x8E\x9A";  // two kanji, JIS 3441 3B7A
const std::string kKanjiJis = "\x1B$B\x34\x41\x3B\x7A\x1B(J";
const std::string kMixed = "abc\xB1\xB2\xB3" + kKanji +
                           "\r\n\xDF\x83\x4A\x83\x69"
                           "x \x81\x40.";

using Converter = C_String (*)(const C_String&);
C_String ToJis(const C_String& text) { return System::sjis_to_jis(text, 0); }
C_String ToJisKeepCR(const C_String& text) { return System::sjis_to_jis(text, 1); }
const Converter FromJis = System::jis_to_sjis, FromEuc = System::euc_to_sjis, ToEuc = System::sjis_to_euc;

}  // namespace

TEST(JapaneseEncodings, EveryJisX0208RowAndCellRoundTripsThroughShiftJisJisAndEuc) {
    std::string sjis, jis, euc;
    for (int row = 0x21; row <= 0x7E; ++row) {
        for (int cell = 0x21; cell <= 0x7E; ++cell) {
            int code = System::jis_to_sjis_char(row, cell);
            ASSERT_TRUE(System::is_sjis_kanji(static_cast<unsigned char>(code >> 8)) &&
                        System::is_sjis_kanji2(static_cast<unsigned char>(code)))
                << row << " " << cell;
            ASSERT_EQ((row << 8) | cell, System::sjis_to_jis_char(code >> 8, code & 0xFF));
            sjis += {static_cast<char>(code >> 8), static_cast<char>(code)};
            jis += {static_cast<char>(row), static_cast<char>(cell)};
            euc += {static_cast<char>(row | 0x80), static_cast<char>(cell | 0x80)};
        }
    }
    // Known characters, for the mapping itself (the loop proves it one to one).
    const int known[][2] = {{0x2121, 0x8140}, {0x3441, 0x8ABF}, {0x5E7E, 0x9FFC}, {0x5F21, 0xE040}, {0x7426, 0xEAA4}};
    for (const auto& pair : known)
        EXPECT_EQ(pair[1], System::jis_to_sjis_char(pair[0] >> 8, pair[0] & 0xFF)) << std::hex << pair[0];
    jis = "\x1B$B" + jis + "\x1B(J";
    EXPECT_TRUE(SameBytes(jis, Bytes(System::sjis_to_jis(CString(sjis), 0))));
    EXPECT_TRUE(SameBytes(sjis, Bytes(System::jis_to_sjis(CString(jis)))));
    EXPECT_TRUE(SameBytes(euc, Bytes(System::sjis_to_euc(CString(sjis)))));
    EXPECT_TRUE(SameBytes(sjis, Bytes(System::euc_to_sjis(CString(euc)))));
}

TEST(JapaneseEncodings, MixedTextWithHalfWidthKatakanaRoundTrips) {
    for (int keepCR = 0; keepCR <= 1; ++keepCR)
        EXPECT_TRUE(SameBytes(kMixed, Bytes(System::jis_to_sjis(System::sjis_to_jis(CString(kMixed), keepCR)))));
    C_String euc = System::sjis_to_euc(CString(kMixed));
    EXPECT_EQ(0, Bytes(euc).find("abc\x8E\xB1\x8E\xB2\x8E\xB3\xB4\xC1"));  // single shift before each kana
    EXPECT_TRUE(SameBytes(kMixed, Bytes(System::euc_to_sjis(euc))));
}

TEST(JapaneseEncodings, ConvertersHandleRunsLineEndsAndTruncatedInput) {
    struct Row {
        Converter fn;
        std::string in, out;
    } rows[] = {
        {ToJis, kKanji + "a", kKanjiJis + "a"},
        {ToJis, "a" + kKanji, "a" + kKanjiJis},
        {ToJis, "a\r\nb", "a\nb"},
        {ToJisKeepCR, "a\r\nb", "a\r\nb"},
        {ToJis, "x\x8A", "x"},                // lead byte at the end
        {ToJis, kKanji + "\x8A", kKanjiJis},  // ... after a run: still closed
        {ToJis, "\x8A\n", "\n"},              // lead byte without a partner
        {FromJis, "a\nb\r\nc", "a\r\nb\r\nc"},
        {FromJis, "\x1B$@\x34\x41\x1B(Bz", "\x8A\xBFz"},
        {FromJis, "\x1B$B\x34", ""},          // half a pair at the end
        {FromJis, "\x1B$B\x34\x1B(Bq", "q"},  // half a pair before an escape
        {FromJis, "ab\x1B", "ab\x1B"},        // lone escape
        {FromJis, "ab\x1B(", "ab\x1B("},
        {FromEuc, "\x8E\xB1\xB4\xC1", "\xB1\x8A\xBF"},
        {FromEuc, "a\xB4", "a"},
        {FromEuc, "a\x8E", "a"},
        {FromEuc, "\xB4\n", "\n"},
        {ToEuc, "\xB1\x8A\xBF", "\x8E\xB1\xB4\xC1"},
        {ToEuc, "a\x8A", "a"},
    };
    for (const Row& row : rows)
        EXPECT_TRUE(SameBytes(row.out, Bytes(row.fn(CString(row.in))))) << "row " << (&row - rows);
}

TEST(Base64, EncodesKnownVectorsWithAndWithoutTheEncodedWordFrame) {
    struct Row {
        std::string in;
        bool header, trailer;
        std::string out;
    } rows[] = {{"", true, true, ""},
                {"f", false, false, "Zg=="},
                {"fo", false, false, "Zm8="},
                {"foo", false, false, "Zm9v"},
                {"foobar", false, false, "Zm9vYmFy"},
                {"abc", true, false, "=?ISO-2022-JP?B?YWJj"},
                {"abc", true, true, "=?ISO-2022-JP?B?YWJj?="}};
    for (const Row& row : rows)
        EXPECT_EQ(row.out, Bytes(System::base64_encode(CString(row.in), row.header, row.trailer))) << row.in;
    EXPECT_EQ("YQ==", Bytes(System::base64_encode(CString(std::string("a\0b", 3)), false, false)));  // to the zero
    const unsigned char zeros[] = {0, 0, 0};
    EXPECT_EQ("AAAA", Bytes(System::base64_encode(zeros, 3, false, false)));
    EXPECT_EQ('=', System::base64_convtobase(64));
    EXPECT_EQ(255, System::base64_basetoconv('='));
}

TEST(Base64, DecodesEveryEncodedWordInPlace) {
    const std::string inner = "=?ISO-2022-JP?B?YWJj?=";
    struct Row {
        std::string in, out;
    } rows[] = {
        {"", ""},
        {"YWJj", "YWJj"},  // plain Base64 is left alone
        {"=?ISO-2022-JP?B?YWJj?=", "abc"},
        {"=?iso-2022-jp?b?YWJj?= =?ISO-2022-JP?B?ZGVm?=", "abc def"},
        {"Subject: =?ISO-2022-JP?B?YW?=!", "Subject: a!"},
        {"=?ISO-2022-JP?B?YWJj", "abc"},               // no "?=": to the end
        {"x =?ISO-2022-JP?B?", "x =?ISO-2022-JP?B?"},  // nothing follows the header
        {"=?ISO-2022-JP?B?" + Bytes(System::base64_encode(CString(inner), false, false)) + "?=", "abc"},
        // decoded bytes that complete a header with the text before them
        {"=?ISO-2022=?ISO-2022-JP?B?" + Bytes(System::base64_encode(CString("-JP?B?YWJj?="), false, false)) + "?=!",
         "abc!"},
    };
    for (const Row& row : rows) EXPECT_EQ(row.out, Bytes(System::base64_decode(CString(row.in)))) << row.in;
}

TEST(QuotedPrintable, DecodesEscapesSoftBreaksAndJisModeSwitches) {
    struct Row {
        std::string in, out;
    } rows[] = {
        {"=41", "A"},
        {"ab=\r\ncd=\nef", "abcdef"},
        {"=1B$B$3=1B(Bx", "\x1B$B$3\x1B(Bx"},
        {"=1B$B$3=\n$3=1B(B", "\x1B$B$3$3\x1B(B"},  // soft break inside a run takes no character
        {"=1b$B=4a", "\x1B$BJ"},
        {"abc=", "abc="},  // "=" at the very end
        {"abc=4", "abc=4"},
        {"=ZZ", "=ZZ"},
        {"a=00b", "a"},
    };
    for (const Row& row : rows)
        EXPECT_TRUE(SameBytes(row.out, Bytes(System::quoted_printable_decode(CString(row.in))))) << row.in;
}

TEST(Checksum, Crc16MatchesKnownValues) {
    struct Row {
        std::string in;
        unsigned short crc;
    } rows[] = {{"", 0},
                {"abc", 0x1EE4},
                {"a", 0x0061},
                {std::string("123456789\0\0", 11), 0x31C3}};  // two zero bytes flush the register: XMODEM's value
    for (const Row& row : rows)
        EXPECT_EQ(row.crc,
                  System::crc16(reinterpret_cast<const unsigned char*>(row.in.data()), static_cast<int>(row.in.size())))
            << row.in;
    EXPECT_EQ(0, System::crc16(nullptr, 3));
}
