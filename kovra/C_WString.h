#pragma once

#include <cstdint>
#include <string>

#include "kovra/KovraApi.h"

namespace kovra {

class C_String;
class C_Memory;

// UTF-16 string value. Text of up to 30 units lives in an inline buffer;
// longer text moves to a heap buffer with 256 units of slack, which the
// string keeps for the rest of its life (Clear and assignment of short text
// reuse it). Operations that make a new string size it exactly.
//
// Positions and lengths are in UTF-16 code units. Invalid positions never
// fail loudly: searches give -1, SubString gives the empty string. Narrow
// text is converted through the system's ANSI code page.
class KOVRA_API C_WString {
public:
    C_WString();
    C_WString(const wchar_t* s);
    C_WString(const char* s);
    C_WString(const C_String& s);
    C_WString(const C_WString& s);
    virtual ~C_WString();

    // Assignment. A null pointer leaves the string unchanged.
    C_WString& operator=(const C_WString& s);
    C_WString& operator=(const wchar_t* s);
    C_WString& operator=(const C_String& s);
    C_WString& operator=(const char* s);
    C_WString& operator=(const int& n);     // "%d"
    C_WString& operator=(const char& c);    // "%c"
    C_WString& operator=(const double& d);  // "%f"

    // Appending. Null or empty text changes nothing; appending a string to
    // itself doubles it.
    C_WString& operator+=(const C_WString& s);
    C_WString& operator+=(const wchar_t* s);
    C_WString& operator+=(const char* s);
    C_WString& operator+=(const int& n);
    C_WString& operator+=(const char& c);
    C_WString& operator+=(const double& d);
    C_WString& operator+=(const wchar_t& c);
    C_WString& operator<<(const C_WString& s);
    C_WString operator+(const C_WString& s) const;
    C_WString operator+(const wchar_t* s) const;
    C_WString operator+(const char* s) const;
    C_WString operator+(const int& n) const;
    C_WString operator+(const char& c) const;
    C_WString operator+(const double& d) const;
    C_WString ConcatWChar(wchar_t c) const;

    int Length() const { return m_length; }
    bool Empty() const { return m_length == 0; }
    void Clear();
    const wchar_t* GetString() const { return m_heap ? m_heap : m_stack; }
    // The unit at i as an unsigned 16-bit value; -1 outside 0..Length()-1.
    int CharAt(int i) const;

    // Comparison: ordinal, on UTF-16 code units.
    bool Equals(const C_WString& s) const;
    bool operator==(const C_WString& s) const;
    bool operator!=(const C_WString& s) const;
    bool operator==(const char* s) const;
    bool operator!=(const char* s) const;
    bool operator<(const C_WString& s) const;
    bool operator<=(const C_WString& s) const;
    bool operator>(const C_WString& s) const;
    bool operator>=(const C_WString& s) const;
    // 0 when equal; else the difference of the first differing units (this
    // minus other); when one is a prefix of the other, 1 if this is longer
    // and -1 if shorter; against an empty side, the other side's length,
    // negated when this one is empty.
    int CompareTo(const C_WString& s) const;

    // Search. StartsWith/EndsWith with an empty argument are true; IndexOf
    // and LastIndexOf never find an empty pattern.
    bool StartsWith(const C_WString& s) const;
    bool StartsWith(const C_WString& s, int start) const;
    bool StartsWith(const char* s) const;
    bool StartsWith(const char* s, int start) const;
    bool EndsWith(const C_WString& s) const;
    bool EndsWith(const char* s) const;
    int IndexOf(const C_WString& s) const;
    int IndexOf(const C_WString& s, int start) const;
    int IndexOf(int ch) const;
    int IndexOf(int ch, int start) const;
    int IndexOf(const char* s) const;
    int IndexOf(const char* s, int start) const;
    // Backwards from the last unit, or from `start`.
    int LastIndexOf(const C_WString& s) const;
    int LastIndexOf(const C_WString& s, int start) const;
    int LastIndexOf(int ch) const;
    int LastIndexOf(int ch, int start) const;
    int LastIndexOf(const char* s) const;
    int LastIndexOf(const char* s, int start) const;
    // `set` is a list of `width`-unit tokens. IndexOfWhich: the first
    // position >= start where one of them begins; IndexOfSkip: the first
    // position >= start where none begins (skipping whole tokens).
    int IndexOfWhich(const C_WString& set, int start, int width) const;
    int IndexOfSkip(const C_WString& set, int start, int width) const;
    // The first `s` outside text enclosed in double or single quotes.
    int IndexOfSkipQuote(const C_WString& s, int start) const;

    // New strings.
    C_WString SubString(int start) const;
    // Units start..end inclusive; valid for 0 <= start < Length() and
    // start <= end <= Length() (end == Length() counts as Length() - 1).
    C_WString SubString(int start, int end) const;
    // Without leading and trailing units of code 32 or less.
    C_WString Trim() const;
    C_WString ToLower() const;  // units below 128 only
    C_WString ToUpper() const;
    C_WString TrimChars(const C_WString& set, int width) const;
    C_WString TrimChars(const char* set, int width) const;
    C_WString TrimFirstChars(const C_WString& set, int width) const;
    C_WString TrimFirstChars(const char* set, int width) const;
    C_WString TrimLastChars(const C_WString& set, int width) const;
    C_WString TrimLastChars(const char* set, int width) const;
    // Runs of equal units collapse to one; with a non-empty set only runs
    // of units from the set.
    C_WString Squeeze(const C_WString& set) const;
    C_WString Replace(wchar_t from, wchar_t to) const;
    C_WString Replace(const C_WString& from, const C_WString& to) const;
    C_WString Replace(const char* from, const char* to) const;

    // The first decimal number at or after `start`. Before the first digit
    // '-' flips the sign, '+' keeps it, any other unit clears it; with flag
    // 0x1 single-quoted and with 0x2 double-quoted text is skipped, with 0x4
    // "<...>" tags are skipped. Digits are counted into *digits; *end gets
    // the position after the last digit, or -1 (and the result -1) when
    // there is none. The value wraps on overflow.
    int64_t EncloseInt64(int start, int* end, int flags, int* digits) const;
    int EncloseInt(int start, int* end, int flags, int* digits) const;
    // The text between the first `open` at or after `start` and the next
    // `close` after it (with both when keep is non-zero); *next gets the
    // position after `close`, or -1 (and the result is empty).
    C_WString Enclose(const C_WString& open, const C_WString& close, int start, int* next, int keep) const;
    // As Enclose for the pair (opens[i], closes[i]) whose opening delimiter
    // comes first; *which gets i (or -1).
    C_WString EncloseWhich(const C_WString* opens, const C_WString* closes, int count, int start, int* next, int keep,
                           int* which) const;

    // Formatting with the C runtime's wide printf conventions. Stringf never
    // cuts its result: text that does not fit 1024 units is formatted into
    // a growing buffer. A null format gives the empty string.
    static C_WString Stringf(const wchar_t* format, ...);
    // Into the caller's buffer of `count` units; the characters written, or
    // -1 when the text does not fit (the buffer then holds a cut text).
    static int StringfEx(wchar_t* buffer, unsigned int count, const wchar_t* format, ...);
    // Into a C_Memory, which is grown until the text fits; its length.
    static int StringfEx(C_Memory* buffer, const wchar_t* format, ...);

    // Conversion and measurement.
    C_String ToString() const;      // ANSI code page
    C_String ToByteString() const;  // the UTF-16LE bytes, cut at a zero byte
    C_WString ToWString() const;
    // ANSI text into `buffer` of `size` bytes (cut and terminated when it
    // does not fit); returns the bytes the whole text needs, terminator
    // included.
    unsigned int ToCharArray(char* buffer, unsigned int size) const;
    int WByteLength() const { return m_length * 2; }
    int ByteLength() const;  // units above 255 count 2

    // Storage routines.
    int _reserve(int n);

protected:
    void _InitString();
    void _SetString(const wchar_t* s, int n);
    void _SetStringStack(const wchar_t* s, int n);
    void _appendchar(wchar_t c);
    bool _common_eq(const wchar_t* s, int n) const;

private:
    // Adopts a heap buffer made with new[] (adopt) or copies `length` units.
    C_WString(wchar_t* buffer, const int& length, const bool& adopt);
    C_WString Piece(int first, int count) const;
    static C_WString FromStd(const std::wstring& text);
    C_WString TrimTokens(const C_WString& set, int width, bool first, bool last) const;

    wchar_t m_stack[32];
    wchar_t* m_heap;
    int m_length;
    unsigned int m_capacity;
};

}  // namespace kovra
