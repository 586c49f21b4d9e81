#pragma once

#include <cstdint>

#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"

namespace kovra {

// A signed 64-bit integer whose arithmetic and parsing refuse what does not
// fit instead of wrapping: an operation returns 1 and keeps its result, or
// returns 0 and leaves the value as it was.
//
// Choices where the behaviour was open:
// - Parse reads hexadecimal digits as a magnitude, like decimal ones: the
//   sign goes in front ("-0x10" is -16) and "0xFFFFFFFFFFFFFFFF" is out of
//   range. So ToHexString of a negative value (its two's-complement bits)
//   does not parse back; ToString always does.
// - Parse takes no blanks, and a comma only in a decimal number whose every
//   group after the first has exactly three digits (the first one to three).
class KOVRA_API C_Integer {
public:
    C_Integer() : m_value(0) {}
    explicit C_Integer(const int64_t& value) : m_value(value) {}
    virtual ~C_Integer() {}

    int64_t Get() const { return m_value; }
    void Set(const int64_t& value) { m_value = value; }

    // The whole text: an optional + or -, then decimal digits ("1,234,567"
    // grouping allowed) or 0x / 0X and hexadecimal digits, within
    // -9223372036854775808 to 9223372036854775807. 1 and the value set, or
    // 0 and the value unchanged.
    int Parse(const C_WString& text);

    C_WString ToString() const;         // "-1234567"
    C_WString ToGroupedString() const;  // "-1,234,567"
    C_WString ToHexString() const;      // "0x" and 16 upper-case digits of the two's complement

    // 1 with the result kept, or 0 with the value unchanged on overflow or
    // division by zero. Divide truncates towards zero; the smallest value
    // divided by -1 overflows.
    int Add(const C_Integer& other);
    int Subtract(const C_Integer& other);
    int Multiply(const C_Integer& other);
    int Divide(const C_Integer& other);
    // -1, 0 or 1 as this value is below, equal to or above the other.
    int Compare(const C_Integer& other) const;

private:
    int64_t m_value;
};

}  // namespace kovra
