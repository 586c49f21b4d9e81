#pragma once

#include <cstdint>
#include <string>

#include "kovra/KovraApi.h"

namespace kovra {

class C_WString;

// Narrow string value: bytes in the system's ANSI code page. The same
// storage design as C_WString, counted in bytes: Length() and ByteLength()
// are the same value. Wide text is converted through the ANSI code page.
class KOVRA_API C_String {
public:
    C_String();
    C_String(const char* s);
    C_String(const wchar_t* s);
    C_String(const C_WString& s);
    C_String(const C_String& s);
    virtual ~C_String();

    // Assignment. A null pointer leaves the string unchanged.
    C_String& operator=(const C_String& s);
    C_String& operator=(const char* s);
    C_String& operator=(const C_WString& s);
    C_String& operator=(const wchar_t* s);
    C_String& operator=(const int& n);   // "%d"
    C_String& operator=(const char& c);  // one byte

    // Appending. Null or empty text changes nothing.
    C_String& operator+=(const C_String& s);
    C_String& operator+=(const char* s);
    C_String& operator+=(const int& n);
    C_String& operator+=(const char& c);
    C_String& operator<<(const C_String& s);
    C_String operator+(const C_String& s) const;
    C_String operator+(const char* s) const;
    C_String operator+(const int& n) const;
    C_String operator+(const char& c) const;
    C_String ConcatChar(char c) const;

    int Length() const { return m_length; }
    int ByteLength() const { return m_length; }
    bool Empty() const { return m_length == 0; }
    void Clear();
    const char* GetString() const { return m_heap ? m_heap : m_stack; }
    // The byte at i as an unsigned value; -1 outside 0..Length()-1.
    int CharAt(int i) const;

    bool Equals(const C_String& s) const;
    bool operator==(const C_String& s) const;
    bool operator!=(const C_String& s) const;
    bool operator==(const char* s) const;
    bool operator!=(const char* s) const;
    bool operator<(const C_String& s) const;
    bool operator<=(const C_String& s) const;
    bool operator>(const C_String& s) const;
    bool operator>=(const C_String& s) const;
    // As C_WString::CompareTo, on unsigned bytes.
    int CompareTo(const C_String& s) const;

    bool StartsWith(const C_String& s) const;
    bool StartsWith(const C_String& s, int start) const;
    bool EndsWith(const C_String& s) const;
    int IndexOf(const C_String& s) const;
    int IndexOf(const C_String& s, int start) const;
    int IndexOf(int ch) const;
    int IndexOf(int ch, int start) const;
    int LastIndexOf(const C_String& s, int start) const;
    int LastIndexOf(int ch) const;
    int LastIndexOf(int ch, int start) const;
    // The last position at which the bytes of `s` occur, searching backwards
    // from the last byte; -1 when not found or `s` is null; an empty `s`
    // gives Length() - 1.
    int LastIndexOf(const char* s) const;
    int IndexOfWhich(const C_String& set, int start, int width) const;
    int IndexOfSkip(const C_String& set, int start, int width) const;
    int IndexOfSkipQuote(const C_String& s, int start) const;

    C_String SubString(int start) const;
    C_String SubString(int start, int end) const;
    C_String Trim() const;
    C_String ToLower() const;
    C_String ToUpper() const;
    C_String TrimChars(const C_String& set, int width) const;
    C_String TrimFirstChars(const C_String& set, int width) const;
    C_String TrimLastChars(const C_String& set, int width) const;
    C_String Squeeze(const C_String& set) const;
    C_String Replace(char from, char to) const;
    C_String Replace(const C_String& from, const C_String& to) const;

    int64_t EncloseInt64(int start, int* end, int flags, int* digits) const;
    int EncloseInt(int start, int* end, int flags, int* digits) const;
    C_String Enclose(const C_String& open, const C_String& close, int start, int* next, int keep) const;

    // Never cuts its result (see C_WString::Stringf).
    static C_String Stringf(const char* format, ...);

    // Sets the text to `count` bytes from data + offset. With stopAtZero
    // non-zero the text ends at the first zero byte among them; with 0 the
    // bytes are kept whole (Length() then counts zero bytes inside).
    void SetBytes(const void* data, int offset, int count, int stopAtZero);
    C_WString ToWString() const;      // from the ANSI code page
    C_WString ToByteWString() const;  // the bytes read as UTF-16LE units
    // Copies the text and its terminator; returns the length.
    int ToCharArray(char* buffer) const;
    // At most size - 1 bytes and a terminator; returns the bytes copied.
    int ToCharArrayEx(char* buffer, unsigned int size) const;
    // Whether the byte at `pos` lies in the Shift_JIS lead-byte ranges
    // (0x81-0x9F, 0xE0-0xFC) or trail-byte ranges (0x40-0x7E, 0x80-0xFC);
    // false outside the string.
    bool IsSJIS_1(int pos) const;
    bool IsSJIS_2(int pos) const;

    int _reserve(int n);

private:
    C_String(const char* buffer, int length, bool exact);
    C_String Piece(int first, int count) const;
    static C_String FromStd(const std::string& text);
    C_String TrimTokens(const C_String& set, int width, bool first, bool last) const;
    void Append(const char* s, int n);

    char m_stack[32];
    char* m_heap;
    int m_length;
    unsigned int m_capacity;
};

}  // namespace kovra
