#include "kovra/C_String.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "kovra/C_WString.h"
#include "kovra/common/StringStorage.h"
#include "kovra/common/TextAlgorithms.h"
#include "kovra/common/kovra_safe_vsnprintf.h"

namespace kovra {

#define KOVRA_STORAGE (common::StringStorage<char>{m_stack, m_heap, m_length, m_capacity})

C_String::C_String() { KOVRA_STORAGE.Init(); }

C_String::C_String(const char* s) {
    KOVRA_STORAGE.Init();
    KOVRA_STORAGE.Construct(s ? s : "", common::TextLength(s));
}

C_String::C_String(const wchar_t* s) : C_String(C_WString(s).ToString()) {}

C_String::C_String(const C_WString& s) : C_String(s.ToString()) {}

C_String::C_String(const C_String& s) {
    KOVRA_STORAGE.Init();
    KOVRA_STORAGE.Construct(s.GetString(), s.m_length);
}

C_String::C_String(const char* buffer, int length, bool exact) {
    KOVRA_STORAGE.Init();
    if (exact)
        KOVRA_STORAGE.ConstructExact(buffer, length);
    else
        KOVRA_STORAGE.Construct(buffer, length);
}

C_String::~C_String() { KOVRA_STORAGE.Free(); }

C_String C_String::Piece(int first, int count) const { return C_String(GetString() + first, count, true); }

C_String C_String::FromStd(const std::string& text) {
    return C_String(text.data(), static_cast<int>(text.size()), true);
}

void C_String::Append(const char* s, int n) { KOVRA_STORAGE.Append(s, n); }

int C_String::_reserve(int n) { return KOVRA_STORAGE.Reserve(n); }

void C_String::Clear() { KOVRA_STORAGE.Clear(); }

C_String& C_String::operator=(const C_String& s) {
    if (this != &s) KOVRA_STORAGE.Assign(s.GetString(), s.m_length);
    return *this;
}

C_String& C_String::operator=(const char* s) {
    if (s) KOVRA_STORAGE.Assign(s, common::TextLength(s));
    return *this;
}

C_String& C_String::operator=(const C_WString& s) { return *this = s.ToString(); }

C_String& C_String::operator=(const wchar_t* s) {
    if (s) *this = C_WString(s).ToString();
    return *this;
}

C_String& C_String::operator=(const int& n) { return *this = Stringf("%d", n); }

C_String& C_String::operator=(const char& c) {
    char one[2] = {c, '\0'};
    return *this = one;
}

C_String& C_String::operator+=(const C_String& s) {
    Append(s.GetString(), s.m_length);
    return *this;
}

C_String& C_String::operator+=(const char* s) {
    if (s) Append(s, common::TextLength(s));
    return *this;
}

C_String& C_String::operator+=(const int& n) { return *this += Stringf("%d", n); }

C_String& C_String::operator+=(const char& c) {
    if (c) Append(&c, 1);
    return *this;
}

C_String& C_String::operator<<(const C_String& s) { return *this += s; }

C_String C_String::operator+(const C_String& s) const {
    std::string joined(GetString(), static_cast<size_t>(m_length));
    joined.append(s.GetString(), static_cast<size_t>(s.m_length));
    return FromStd(joined);
}

C_String C_String::operator+(const char* s) const { return *this + C_String(s); }
C_String C_String::operator+(const int& n) const { return *this + Stringf("%d", n); }
C_String C_String::operator+(const char& c) const { return ConcatChar(c); }

C_String C_String::ConcatChar(char c) const {
    char one[2] = {c, '\0'};
    return *this + C_String(one);
}

int C_String::CharAt(int i) const {
    if (i < 0 || i >= m_length) return -1;
    return static_cast<unsigned char>(GetString()[i]);
}

bool C_String::Equals(const C_String& s) const {
    return m_length == s.m_length && common::TextEqual(GetString(), s.GetString(), m_length);
}
bool C_String::operator==(const C_String& s) const { return Equals(s); }
bool C_String::operator!=(const C_String& s) const { return !Equals(s); }
bool C_String::operator==(const char* s) const { return Equals(C_String(s)); }
bool C_String::operator!=(const char* s) const { return !Equals(C_String(s)); }
bool C_String::operator<(const C_String& s) const { return CompareTo(s) < 0; }
bool C_String::operator<=(const C_String& s) const { return CompareTo(s) <= 0; }
bool C_String::operator>(const C_String& s) const { return CompareTo(s) > 0; }
bool C_String::operator>=(const C_String& s) const { return CompareTo(s) >= 0; }

int C_String::CompareTo(const C_String& s) const {
    return common::TextCompare<char, unsigned char>(GetString(), m_length, s.GetString(), s.m_length);
}

bool C_String::StartsWith(const C_String& s) const { return StartsWith(s, 0); }

bool C_String::StartsWith(const C_String& s, int start) const {
    if (start < 0 || start > m_length || s.m_length > m_length - start) return false;
    return common::TextEqual(GetString() + start, s.GetString(), s.m_length);
}

bool C_String::EndsWith(const C_String& s) const {
    if (s.m_length > m_length) return false;
    return common::TextEqual(GetString() + (m_length - s.m_length), s.GetString(), s.m_length);
}

int C_String::IndexOf(const C_String& s) const { return IndexOf(s, 0); }

int C_String::IndexOf(const C_String& s, int start) const {
    return common::TextFind(GetString(), m_length, s.GetString(), s.m_length, start);
}

int C_String::IndexOf(int ch) const { return IndexOf(ch, 0); }

int C_String::IndexOf(int ch, int start) const {
    char one = static_cast<char>(ch);
    return common::TextFind(GetString(), m_length, &one, 1, start);
}

int C_String::LastIndexOf(const C_String& s, int start) const {
    return common::TextFindLast(GetString(), m_length, s.GetString(), s.m_length, start);
}

int C_String::LastIndexOf(int ch) const { return LastIndexOf(ch, m_length - 1); }

int C_String::LastIndexOf(int ch, int start) const {
    char one = static_cast<char>(ch);
    return common::TextFindLast(GetString(), m_length, &one, 1, start);
}

int C_String::LastIndexOf(const char* s) const {
    if (!s) return -1;
    int n = common::TextLength(s);
    if (n == 0) return m_length - 1;
    return common::TextFindLast(GetString(), m_length, s, n, m_length - 1);
}

int C_String::IndexOfWhich(const C_String& set, int start, int width) const {
    return common::TextIndexOfWhich(GetString(), m_length, set.GetString(), set.m_length, start, width);
}

int C_String::IndexOfSkip(const C_String& set, int start, int width) const {
    return common::TextIndexOfSkip(GetString(), m_length, set.GetString(), set.m_length, start, width);
}

int C_String::IndexOfSkipQuote(const C_String& s, int start) const {
    return common::TextIndexOfSkipQuote(GetString(), m_length, s.GetString(), s.m_length, start);
}

C_String C_String::SubString(int start) const { return SubString(start, m_length); }

C_String C_String::SubString(int start, int end) const {
    int first = 0;
    int count = 0;
    if (!common::TextSubRange(m_length, start, end, &first, &count)) return C_String();
    return Piece(first, count);
}

C_String C_String::Trim() const {
    int first = 0;
    int count = 0;
    common::TextTrimBounds(GetString(), m_length, &first, &count);
    return Piece(first, count);
}

C_String C_String::ToLower() const { return FromStd(common::TextCaseFold(GetString(), m_length, false)); }
C_String C_String::ToUpper() const { return FromStd(common::TextCaseFold(GetString(), m_length, true)); }

C_String C_String::TrimTokens(const C_String& set, int width, bool first, bool last) const {
    int from = 0;
    int count = 0;
    common::TextTrimTokenBounds(GetString(), m_length, set.GetString(), set.m_length, width, first, last, &from,
                                &count);
    return Piece(from, count);
}

C_String C_String::TrimChars(const C_String& set, int width) const { return TrimTokens(set, width, true, true); }
C_String C_String::TrimFirstChars(const C_String& set, int width) const { return TrimTokens(set, width, true, false); }
C_String C_String::TrimLastChars(const C_String& set, int width) const { return TrimTokens(set, width, false, true); }

C_String C_String::Squeeze(const C_String& set) const {
    return FromStd(common::TextSqueeze(GetString(), m_length, set.GetString(), set.m_length));
}

C_String C_String::Replace(char from, char to) const {
    std::string out(GetString(), static_cast<size_t>(m_length));
    for (char& c : out)
        if (c == from) c = to;
    // Replacing by 0 cuts the text there; the result is sized exactly.
    out.resize(static_cast<size_t>(common::TextLength(out.c_str())));
    return FromStd(out);
}

C_String C_String::Replace(const C_String& from, const C_String& to) const {
    return FromStd(
        common::TextReplace(GetString(), m_length, from.GetString(), from.m_length, to.GetString(), to.m_length));
}

int64_t C_String::EncloseInt64(int start, int* end, int flags, int* digits) const {
    return common::TextEncloseInt64(GetString(), m_length, start, end, flags, digits);
}

int C_String::EncloseInt(int start, int* end, int flags, int* digits) const {
    return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(EncloseInt64(start, end, flags, digits))));
}

C_String C_String::Enclose(const C_String& open, const C_String& close, int start, int* next, int keep) const {
    const char* opens[1] = {open.GetString()};
    const char* closes[1] = {close.GetString()};
    int openLength = open.m_length;
    int closeLength = close.m_length;
    int first = 0;
    int length = 0;
    int after = -1;
    int found = common::TextEnclose(GetString(), m_length, opens, &openLength, closes, &closeLength, 1, start,
                                    keep != 0, &first, &length, &after);
    if (next) *next = after;
    return found < 0 ? C_String() : Piece(first, length);
}

C_String C_String::Stringf(const char* format, ...) {
    if (!format) return C_String();
    char buffer[1024];
    va_list args;
    va_start(args, format);
    int allocated = 0;
    int length = 0;
    char* text = common::kovra_safe_vsnprintfA(buffer, sizeof buffer, format, args, &allocated, &length);
    va_end(args);
    if (!text) return C_String();
    C_String result(text, length, false);
    if (allocated) free(text);
    return result;
}

void C_String::SetBytes(const void* data, int offset, int count, int stopAtZero) {
    if (!data || count <= 0) {
        Clear();
        return;
    }
    const char* bytes = static_cast<const char*>(data) + offset;
    int n = count;
    if (stopAtZero) {
        const void* zero = std::memchr(bytes, 0, static_cast<size_t>(count));
        if (zero) n = static_cast<int>(static_cast<const char*>(zero) - bytes);
    }
    KOVRA_STORAGE.Assign(bytes, n);
}

C_WString C_String::ToWString() const { return C_WString(GetString()); }

C_WString C_String::ToByteWString() const {
    std::wstring units(static_cast<size_t>(m_length / 2), L'\0');
    std::memcpy(&units[0], GetString(), units.size() * sizeof(wchar_t));
    return C_WString(units.c_str());
}

int C_String::ToCharArray(char* buffer) const {
    if (!buffer) return -1;
    std::memcpy(buffer, GetString(), static_cast<size_t>(m_length) + 1);
    return m_length;
}

int C_String::ToCharArrayEx(char* buffer, unsigned int size) const {
    if (!buffer || size == 0) return -1;
    unsigned int n = static_cast<unsigned int>(m_length) < size - 1 ? static_cast<unsigned int>(m_length) : size - 1;
    std::memcpy(buffer, GetString(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

bool C_String::IsSJIS_1(int pos) const {
    int c = CharAt(pos);
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool C_String::IsSJIS_2(int pos) const {
    int c = CharAt(pos);
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

}  // namespace kovra
