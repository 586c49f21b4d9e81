#include <windows.h>
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "kovra/C_String.h"
#include "kovra/C_WString.h"
#include "kovra/common/MarkupEscape.h"
#include "kovra/common/TextConversions.h"
#include "kovra/common/WidthConversions.h"
#include "support/TestSupport.h"

using namespace kovra::common;
using kovra::C_String;
using kovra::C_WString;
using testsupport::Bytes;
using testsupport::CString;

namespace {

std::string Hex(const std::string& bytes) {
    std::string text;
    for (unsigned char b : bytes) text += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15], ' '};
    return text;
}

std::wstring Str(const C_WString& s) { return s.GetString(); }

// RFC 3629's grammar row by row: the lead byte's range, the second byte's
// range (later bytes are 80-BF), and the sequence's length.
// clang-format off
struct Utf8Row { int lead0, lead1, second0, second1, length; } const kUtf8Grammar[] = {
    {0x01, 0x7F, 0, 0, 1}, {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3}, {0xE1, 0xEC, 0x80, 0xBF, 3},
    {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3}, {0xF0, 0xF0, 0x90, 0xBF, 4},
    {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4}};
// clang-format on

// The reference: UTF-16 of what the grammar accepts, false for the rest.
bool ReferenceUtf8(const std::string& s, std::wstring* out) {
    for (size_t i = 0; i < s.size();) {
        const int lead = static_cast<unsigned char>(s[i]);
        const Utf8Row* row = nullptr;
        for (const Utf8Row& r : kUtf8Grammar)
            if (lead >= r.lead0 && lead <= r.lead1) row = &r;
        if (!row || s.size() - i < static_cast<size_t>(row->length)) return false;
        unsigned long code = lead & (row->length == 1 ? 0x7F : 0xFF >> (row->length + 1));
        for (int k = 1; k < row->length; ++k) {
            const int b = static_cast<unsigned char>(s[i + k]);
            if (k == 1 ? (b < row->second0 || b > row->second1) : (b < 0x80 || b > 0xBF)) return false;
            code = (code << 6) | (b & 0x3F);
        }
        if (code >= 0x10000)
            *out += {static_cast<wchar_t>(0xD7C0 + (code >> 10)), static_cast<wchar_t>(0xDC00 | (code & 0x3FF))};
        else
            *out += static_cast<wchar_t>(code);
        i += static_cast<size_t>(row->length);
    }
    return true;
}

// The UTF-8 bit pattern of `length` bytes around any value: overlong,
// surrogate and too-large forms come out as often as good ones.
std::string LooseUtf8(unsigned long code, int length) {
    if (length == 1) return std::string(1, static_cast<char>(code % 127 + 1));
    std::string s(static_cast<size_t>(length), '\0');
    for (int k = length - 1; k > 0; --k, code >>= 6)
        s[static_cast<size_t>(k)] = static_cast<char>(0x80 | (code & 0x3F));
    s[0] = static_cast<char>(((0xFF00 >> length) & 0xFF) | (code & (0x7Fu >> length)));
    return s;
}

// Unicode's compatibility mapping (NFKC), as the system computes it.
std::wstring Nfkc(const std::wstring& text) {
    wchar_t out[16];
    const int n = NormalizeString(NormalizationKC, text.c_str(), static_cast<int>(text.size()), out, 16);
    return std::wstring(out, static_cast<size_t>(n > 0 ? n : 0));
}

}  // namespace

TEST(TextConversions, RandomUtf8AgainstTheGrammarAndBack) {
    std::mt19937 random(20240612);
    const char edges[] = "\x41\x7F\x80\xBF\xC0\xC1\xC2\xDF\xE0\xED\xEF\xF0\xF4\xF5\xFF";
    int accepted = 0;
    for (int round = 0; round < 40000; ++round) {
        std::string bytes;
        for (int pieces = 1 + static_cast<int>(random() % 5); pieces > 0; --pieces)
            bytes += random() % 3 ? LooseUtf8(random(), 1 + static_cast<int>(random() % 4))
                                  : std::string(1, edges[random() % (sizeof edges - 1)]);
        if (random() % 8 == 0) bytes.pop_back();  // truncated
        std::wstring expected;
        const bool valid = ReferenceUtf8(bytes, &expected);
        C_WString wide(L"stale");
        C_String back;
        ASSERT_EQ(valid ? 1 : 0, kovra_Utf8ToUtf16(CString(bytes), wide)) << Hex(bytes);
        ASSERT_EQ(valid ? expected : L"", Str(wide)) << Hex(bytes);
        ASSERT_TRUE(!valid || (kovra_Utf16ToUtf8(wide, back) && Bytes(back) == bytes)) << "back: " << Hex(bytes);
        accepted += valid;
    }
    EXPECT_GT(accepted, 4000) << "the generator must reach good text too";
    C_WString bom;
    EXPECT_TRUE(kovra_Utf8ToUtf16(CString("\xEF\xBB\xBF!"), bom) && bom == L"\xFEFF!") << "a byte-order mark is kept";
    C_String utf8("stale");
    for (const wchar_t* unpaired : {L"\xD800", L"a\xDC00", L"\xDBFF\xDBFF\xDFFF", L"\xDFFF\xD800"})
        EXPECT_TRUE(!kovra_Utf16ToUtf8(C_WString(unpaired), utf8) && utf8.Empty()) << testing::PrintToString(unpaired);
}

// Every single byte, and every lead byte with every trail byte, against the
// system's own code page 932; and every UTF-16 unit back.
TEST(TextConversions, ShiftJisIsCodePage932BothWays) {
    int accepted = 0;
    for (int first = 1; first <= 0xFF; ++first) {
        const bool lead = (first >= 0x81 && first <= 0x9F) || (first >= 0xE0 && first <= 0xFC);
        for (int trail = 0; trail <= (lead ? 0xFF : 0); ++trail) {  // 0: the byte alone
            std::string bytes(1, static_cast<char>(first));
            if (trail) bytes += static_cast<char>(trail);
            wchar_t expected[4];
            const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                              expected, 4);
            const std::wstring wide(expected, static_cast<size_t>(n > 0 ? n : 0));
            C_WString out(L"stale");
            C_String utf8("stale");
            ASSERT_EQ(n > 0 ? 1 : 0, kovra_SjisToUtf16(CString(bytes), out)) << Hex(bytes);
            ASSERT_EQ(wide, Str(out)) << Hex(bytes);
            ASSERT_EQ(n > 0 ? 1 : 0, kovra_SjisToUtf8(CString(bytes), utf8)) << Hex(bytes);
            ASSERT_EQ(testsupport::Narrow(wide), Bytes(utf8)) << Hex(bytes);
            accepted += n > 0;
        }
    }
    EXPECT_GT(accepted, 7900) << "code page 932 itself must be there";
    for (unsigned unit = 1; unit <= 0xFFFF; ++unit) {
        const wchar_t text[2] = {static_cast<wchar_t>(unit), 0};
        char expected[8];
        BOOL usedDefault = FALSE;
        int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, text, 1, expected, 8, nullptr, &usedDefault);
        if (usedDefault) n = 0;  // a '?' in its place: no form of its own
        C_String sjis("stale");
        ASSERT_EQ(n > 0 ? 1 : 0, kovra_Utf16ToSjis(C_WString(text), sjis)) << std::hex << unit;
        ASSERT_EQ(std::string(expected, static_cast<size_t>(n > 0 ? n : 0)), Bytes(sjis)) << std::hex << unit;
    }
}

// Known characters of the NEC and IBM extension rows, independent of the
// system: each read, and written back in the row the code page prefers.
TEST(TextConversions, NecAndIbmExtensionRows) {
    // clang-format off
    struct Row { const char* sjis; const wchar_t* text; const char* back; } rows[] = {
        {"\x87\x40", L"①", "\x87\x40"}, {"\x87\x54", L"Ⅰ", "\x87\x54"}, {"\xFA\x4A", L"Ⅰ", "\x87\x54"},
        {"\xED\x40", L"纊", "\xFA\x5C"}, {"\xFA\x5C", L"纊", "\xFA\x5C"}, {"\xEE\xF9", L"￢", "\x81\xCA"},
        {"\x87\x9A", L"∵", "\x81\xE6"}, {"\xFC\x4B", L"黑", "\xFC\x4B"}, {"\x81\x60", L"～", "\x81\x60"},
        {"\x5C", L"\\", "\x5C"}};
    // clang-format on
    for (const Row& row : rows) {
        C_WString wide;
        C_String sjis;
        EXPECT_TRUE(kovra_SjisToUtf16(CString(row.sjis), wide) && wide == row.text) << Hex(row.sjis);
        EXPECT_TRUE(kovra_Utf16ToSjis(C_WString(row.text), sjis) && Bytes(sjis) == row.back) << Hex(row.sjis);
    }
    C_String sjis("stale");
    for (const wchar_t* bestFitOnly : {L"¥", L"〜", L"a\xD83D\xDE00"})
        EXPECT_TRUE(!kovra_Utf16ToSjis(C_WString(bestFitOnly), sjis) && sjis.Empty()) << Hex(Bytes(sjis));
    EXPECT_TRUE(kovra_Utf8ToSjis(CString(u8"日本ｶﾅ"), sjis) && Bytes(sjis) == "\x93\xFA\x96\x7B\xB6\xC5");
    EXPECT_EQ(0, kovra_Utf8ToSjis(CString("\xC2\xA5"), sjis)) << "¥ has no form of its own";
}

// Every half-width kana alone and before each mark against NFKC, which
// composes what combines (a lone mark is the spacing ゛ or ゜ here, where
// NFKC gives the combining one); then every unit of U+3000-U+30FF that
// anything became goes back to half width, and no other changes.
TEST(Widths, HalfWidthKanaAgainstUnicodeCompatibilityMappingAndBack) {
    std::set<wchar_t> made;
    for (wchar_t half = 0xFF61; half <= 0xFF9F; ++half) {
        for (const wchar_t* mark : {L"", L"\xFF9E", L"\xFF9F"}) {
            const std::wstring text = half + std::wstring(mark);
            std::wstring expected = Nfkc(text);
            for (wchar_t& c : expected) c = c == 0x3099 || c == 0x309A ? static_cast<wchar_t>(c + 2) : c;
            const C_WString full = kovra_ToFullWidthKana(C_WString(text.c_str()));
            ASSERT_EQ(expected, Str(full)) << std::hex << half;
            if (expected.size() == 1) made.insert(expected[0]);
            const bool combined = expected.size() == 1 || !*mark;
            ASSERT_TRUE(!combined || Str(kovra_ToHalfWidthKana(full)) == text) << "back: " << std::hex << half;
        }
    }
    EXPECT_EQ(63u + 21u + 5u + 2u, made.size()) << "63 forms, 21 voiced and 5 semi-voiced ones, ヷ and ヺ";
    for (wchar_t full = 0x3000; full <= 0x30FF; ++full) {
        const std::wstring text(1, full);
        const C_WString half = kovra_ToHalfWidthKana(C_WString(text.c_str()));
        ASSERT_EQ(made.count(full) == 1, Str(half) != text) << std::hex << full;
        ASSERT_EQ(text, Str(kovra_ToFullWidthKana(half))) << std::hex << full;
    }
}

// A unit changes towards half width exactly when it is a full-width form
// whose compatibility mapping is one ASCII letter or digit; towards full
// width exactly the ASCII letters and digits change, and come back.
TEST(Widths, LettersAndDigitsOnly) {
    for (unsigned u = 1; u <= 0xFFFF; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF) continue;
        const std::wstring text(1, static_cast<wchar_t>(u));
        const std::wstring nfkc = Nfkc(text);
        const bool fullAlnum = u >= 0xFF00 && u <= 0xFFEF && nfkc.size() == 1 && nfkc[0] < 128 && isalnum(nfkc[0]);
        ASSERT_EQ(fullAlnum ? nfkc : text, Str(kovra_ToHalfWidthAlnum(C_WString(text.c_str())))) << std::hex << u;
        const C_WString full = kovra_ToFullWidthAlnum(C_WString(text.c_str()));
        const bool asciiAlnum = u < 128 && isalnum(static_cast<int>(u));
        ASSERT_EQ(asciiAlnum, Str(full) != text) << std::hex << u;
        ASSERT_TRUE(!asciiAlnum || Str(kovra_ToHalfWidthAlnum(full)) == text) << std::hex << u;
    }
}

// A stray "&" left by the escape would show in the round trip of "&lt;".
TEST(Markup, RandomTextRoundTripsAndItsEscapeHoldsNoSpecialCharacter) {
    std::mt19937 random(20240612);
    const wchar_t* pieces[] = {L"&",   L"<",  L">",  L"\"",           L"'", L"a", L"#", L"x", L";", L"1",
                               L"amp", L"lt", L"&#", L"\xD83D\xDE00", L"日"};
    for (int round = 0; round < 5000; ++round) {
        std::wstring text;
        for (int n = static_cast<int>(random() % 9); n > 0; --n) text += pieces[random() % 15];
        const std::wstring escaped = Str(kovra_EscapeXml(C_WString(text.c_str())));
        ASSERT_EQ(std::wstring::npos, escaped.find_first_of(L"<>\"'")) << testing::PrintToString(escaped);
        ASSERT_EQ(text, Str(kovra_UnescapeXml(C_WString(escaped.c_str()))));
    }
    EXPECT_EQ(L"a&amp;b&lt;&gt;&quot;&#39;日", Str(kovra_EscapeXml(C_WString(L"a&b<>\"'日"))));
}

TEST(Markup, UnescapeReadsWellFormedReferencesAndKeepsTheRest) {
    const wchar_t* const kept =
        L"&AMP; &nbsp; &amp &#; &#x; &#0; &#xD800; &#57343; &#x110000; &#99999999999999999999; &#65 &#-1; &";
    // clang-format off
    struct Row { const wchar_t* text; const wchar_t* expected; } rows[] = {
        {L"&amp;&lt;&gt;&quot;&apos;&#39;", L"&<>\"''"}, {L"&#65;&#x41;&#X41;&#0065;&#x00041;", L"AAAAA"},
        {L"&#x1F600;&#1114111;", L"\xD83D\xDE00\xDBFF\xDFFF"}, {L"&#xFFFF;&#55295;&#57344;", L"\xFFFF\xD7FF\xE000"},
        {kept, kept}, {L"&amp;amp; &&lt;", L"&amp; &<"}};
    // clang-format on
    for (const Row& row : rows) EXPECT_EQ(row.expected, Str(kovra_UnescapeXml(C_WString(row.text)))) << row.text;
}
