#include "kovra/C_Integer.h"

#include <string>

namespace kovra {

namespace {

const uint64_t kMaxMagnitude = UINT64_C(9223372036854775807);  // INT64_MAX; one more for a negative value

int DigitValue(wchar_t c, int base) {
    int value = 16;
    if (c >= L'0' && c <= L'9') value = c - L'0';
    if (c >= L'a' && c <= L'f') value = c - L'a' + 10;
    if (c >= L'A' && c <= L'F') value = c - L'A' + 10;
    return value < base ? value : -1;
}

// |value| without overflowing on the smallest value.
uint64_t Magnitude(int64_t value) {
    return value < 0 ? UINT64_C(0) - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
}

// The value of a sign and a magnitude, when it fits.
bool FromMagnitude(bool negative, uint64_t magnitude, int64_t* value) {
    if (magnitude > kMaxMagnitude + (negative ? 1 : 0)) return false;
    // Two's complement negation in unsigned arithmetic, then back: defined
    // for the smallest value too.
    const uint64_t bits = negative ? UINT64_C(0) - magnitude : magnitude;
    *value = bits > kMaxMagnitude ? -static_cast<int64_t>(~bits) - 1 : static_cast<int64_t>(bits);
    return true;
}

C_WString Decimal(int64_t value, bool grouped) {
    std::wstring digits;
    uint64_t magnitude = Magnitude(value);
    int count = 0;
    do {
        if (grouped && count > 0 && count % 3 == 0) digits.insert(digits.begin(), L',');
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + magnitude % 10));
        magnitude /= 10;
        ++count;
    } while (magnitude > 0);
    if (value < 0) digits.insert(digits.begin(), L'-');
    return C_WString(digits.c_str());
}

}  // namespace

int C_Integer::Parse(const C_WString& text) {
    const wchar_t* s = text.GetString();
    const int n = text.Length();
    int i = 0;
    const bool negative = i < n && s[i] == L'-';
    if (i < n && (s[i] == L'+' || s[i] == L'-')) ++i;
    int base = 10;
    if (n - i > 2 && s[i] == L'0' && (s[i + 1] == L'x' || s[i + 1] == L'X')) {
        base = 16;
        i += 2;
    }
    uint64_t magnitude = 0;
    int digits = 0;  // in the current group
    bool grouped = false;
    for (; i < n; ++i) {
        if (s[i] == L',' && base == 10) {
            // The first group has one to three digits, every later one three.
            if (digits == 0 || digits > 3 || (grouped && digits != 3)) return 0;
            grouped = true;
            digits = 0;
            continue;
        }
        const int digit = DigitValue(s[i], base);
        if (digit < 0) return 0;
        if (magnitude > (kMaxMagnitude + 1 - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return 0;
        magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        ++digits;
    }
    if (digits == 0 || (grouped && digits != 3)) return 0;
    int64_t value = 0;
    if (!FromMagnitude(negative, magnitude, &value)) return 0;
    m_value = value;
    return 1;
}

C_WString C_Integer::ToString() const { return Decimal(m_value, false); }

C_WString C_Integer::ToGroupedString() const { return Decimal(m_value, true); }

C_WString C_Integer::ToHexString() const {
    wchar_t text[19] = L"0x";
    const uint64_t bits = static_cast<uint64_t>(m_value);
    for (int k = 0; k < 16; ++k) text[2 + k] = L"0123456789ABCDEF"[(bits >> (60 - 4 * k)) & 0xF];
    text[18] = 0;
    return C_WString(text);
}

int C_Integer::Add(const C_Integer& other) {
    const int64_t b = other.m_value;
    if ((b > 0 && m_value > INT64_MAX - b) || (b < 0 && m_value < INT64_MIN - b)) return 0;
    m_value += b;
    return 1;
}

int C_Integer::Subtract(const C_Integer& other) {
    const int64_t b = other.m_value;
    if ((b < 0 && m_value > INT64_MAX + b) || (b > 0 && m_value < INT64_MIN + b)) return 0;
    m_value -= b;
    return 1;
}

int C_Integer::Multiply(const C_Integer& other) {
    const uint64_t a = Magnitude(m_value);
    const uint64_t b = Magnitude(other.m_value);
    if (a != 0 && b > (kMaxMagnitude + 1) / a) return 0;  // the product passes 2^63
    int64_t value = 0;
    if (!FromMagnitude((m_value < 0) != (other.m_value < 0), a * b, &value)) return 0;
    m_value = value;
    return 1;
}

int C_Integer::Divide(const C_Integer& other) {
    if (other.m_value == 0 || (m_value == INT64_MIN && other.m_value == -1)) return 0;
    m_value /= other.m_value;
    return 1;
}

int C_Integer::Compare(const C_Integer& other) const {
    return m_value < other.m_value ? -1 : (m_value > other.m_value ? 1 : 0);
}

}  // namespace kovra
