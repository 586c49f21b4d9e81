#include "kovra/common/WidthConversions.h"

#include <string>

namespace kovra {
namespace common {

namespace {

const wchar_t kHalfFirst = 0xFF61;  // ｡
const wchar_t kHalfLast = 0xFF9F;   // ﾟ
const wchar_t kHalfVoiced = 0xFF9E;
const wchar_t kHalfSemiVoiced = 0xFF9F;
const wchar_t kFullVoiced = 0x309B;
const wchar_t kFullSemiVoiced = 0x309C;

// The full-width form of U+FF61 + i, in Unicode's half-width order.
const wchar_t kFullOf[kHalfLast - kHalfFirst + 1] = {
    0x3002,      0x300C,          0x300D, 0x3001, 0x30FB,                                  // ｡ ｢ ｣ ､ ･
    0x30F2,                                                                                // ｦ
    0x30A1,      0x30A3,          0x30A5, 0x30A7, 0x30A9, 0x30E3, 0x30E5, 0x30E7, 0x30C3,  // ｧ-ｯ
    0x30FC,                                                                                // ｰ
    0x30A2,      0x30A4,          0x30A6, 0x30A8, 0x30AA,                                  // ｱ-ｵ
    0x30AB,      0x30AD,          0x30AF, 0x30B1, 0x30B3,                                  // ｶ-ｺ
    0x30B5,      0x30B7,          0x30B9, 0x30BB, 0x30BD,                                  // ｻ-ｿ
    0x30BF,      0x30C1,          0x30C4, 0x30C6, 0x30C8,                                  // ﾀ-ﾄ
    0x30CA,      0x30CB,          0x30CC, 0x30CD, 0x30CE,                                  // ﾅ-ﾉ
    0x30CF,      0x30D2,          0x30D5, 0x30D8, 0x30DB,                                  // ﾊ-ﾎ
    0x30DE,      0x30DF,          0x30E0, 0x30E1, 0x30E2,                                  // ﾏ-ﾓ
    0x30E4,      0x30E6,          0x30E8,                                                  // ﾔ ﾕ ﾖ
    0x30E9,      0x30EA,          0x30EB, 0x30EC, 0x30ED,                                  // ﾗ-ﾛ
    0x30EF,      0x30F3,                                                                   // ﾜ ﾝ
    kFullVoiced, kFullSemiVoiced,                                                          // ﾞ ﾟ
};

bool IsHaRow(wchar_t full) { return full >= 0x30CF && full <= 0x30DB && (full - 0x30CF) % 3 == 0; }

// The voiced form of a full-width base, or 0.
wchar_t VoicedOf(wchar_t full) {
    if (full >= 0x30AB && full <= 0x30C1 && (full - 0x30AB) % 2 == 0) return static_cast<wchar_t>(full + 1);  // カ-チ
    if (full == 0x30C4 || full == 0x30C6 || full == 0x30C8) return static_cast<wchar_t>(full + 1);  // ツ テ ト
    if (IsHaRow(full)) return static_cast<wchar_t>(full + 1);
    if (full == 0x30A6) return 0x30F4;  // ウ ヴ
    if (full == 0x30EF) return 0x30F7;  // ワ ヷ
    if (full == 0x30F2) return 0x30FA;  // ヲ ヺ
    return 0;
}

wchar_t SemiVoicedOf(wchar_t full) { return IsHaRow(full) ? static_cast<wchar_t>(full + 2) : 0; }

// Full-width katakana and marks (U+3000-U+30FF) to their half-width
// spelling: one unit, or a base and a mark.
struct HalfSpelling {
    wchar_t base = 0;
    wchar_t mark = 0;
};

class HalfTable {
public:
    HalfTable() {
        for (int i = 0; i <= kHalfLast - kHalfFirst; ++i) {
            const wchar_t half = static_cast<wchar_t>(kHalfFirst + i);
            const wchar_t full = kFullOf[i];
            Put(full, half, 0);
            if (wchar_t voiced = VoicedOf(full)) Put(voiced, half, kHalfVoiced);
            if (wchar_t semi = SemiVoicedOf(full)) Put(semi, half, kHalfSemiVoiced);
        }
    }
    const HalfSpelling* Find(wchar_t full) const {
        if (full < 0x3000 || full > 0x30FF) return nullptr;
        const HalfSpelling& spelling = m_spelling[full - 0x3000];
        return spelling.base ? &spelling : nullptr;
    }

private:
    void Put(wchar_t full, wchar_t base, wchar_t mark) {
        m_spelling[full - 0x3000].base = base;
        m_spelling[full - 0x3000].mark = mark;
    }
    HalfSpelling m_spelling[0x100];
};

const HalfTable& Half() {
    static const HalfTable table;  // built once, thread-safe since C++11
    return table;
}

// `delta` added to every unit in one of the three ranges starting at the
// given letters or digit.
C_WString ShiftAlnum(const C_WString& text, wchar_t upper, wchar_t lower, wchar_t digit, int delta) {
    std::wstring out(text.GetString(), static_cast<size_t>(text.Length()));
    for (wchar_t& c : out) {
        const bool letter = (c >= upper && c < upper + 26) || (c >= lower && c < lower + 26);
        if (letter || (c >= digit && c < digit + 10)) c = static_cast<wchar_t>(c + delta);
    }
    return C_WString(out.c_str());
}

}  // namespace

C_WString kovra_ToFullWidthKana(const C_WString& text) {
    const wchar_t* s = text.GetString();
    const int n = text.Length();
    std::wstring out;
    out.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        if (s[i] < kHalfFirst || s[i] > kHalfLast) {
            out.push_back(s[i]);
            continue;
        }
        const wchar_t full = kFullOf[s[i] - kHalfFirst];
        const bool base = s[i] != kHalfVoiced && s[i] != kHalfSemiVoiced;
        const wchar_t next = i + 1 < n ? s[i + 1] : 0;
        wchar_t combined = 0;
        if (base && next == kHalfVoiced) combined = VoicedOf(full);
        if (base && next == kHalfSemiVoiced) combined = SemiVoicedOf(full);
        if (combined) {
            out.push_back(combined);
            ++i;
        } else {
            out.push_back(full);
        }
    }
    return C_WString(out.c_str());
}

C_WString kovra_ToHalfWidthKana(const C_WString& text) {
    const wchar_t* s = text.GetString();
    std::wstring out;
    out.reserve(static_cast<size_t>(text.Length()));
    for (int i = 0; i < text.Length(); ++i) {
        const HalfSpelling* spelling = Half().Find(s[i]);
        if (!spelling) {
            out.push_back(s[i]);
            continue;
        }
        out.push_back(spelling->base);
        if (spelling->mark) out.push_back(spelling->mark);
    }
    return C_WString(out.c_str());
}

C_WString kovra_ToHalfWidthAlnum(const C_WString& text) {
    return ShiftAlnum(text, 0xFF21, 0xFF41, 0xFF10, 'A' - 0xFF21);
}

C_WString kovra_ToFullWidthAlnum(const C_WString& text) { return ShiftAlnum(text, L'A', L'a', L'0', 0xFF21 - 'A'); }

}  // namespace common
}  // namespace kovra
