#include "kovra/C_WString.h"

#include <windows.h>

#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kovra/C_Memory.h"
#include "kovra/C_String.h"
#include "kovra/common/StringStorage.h"
#include "kovra/common/TextAlgorithms.h"
#include "kovra/common/kovra_safe_vsnprintf.h"

namespace kovra {

namespace {

using Storage = common::StringStorage<wchar_t>;

// ANSI text to UTF-16 in a buffer sized for the worst case (one unit per byte).
std::vector<wchar_t> FromAnsi(const char* s, int n) {
    std::vector<wchar_t> wide(static_cast<size_t>(n) + 1, L'\0');
    if (n > 0) {
        int got = MultiByteToWideChar(CP_ACP, 0, s, n, wide.data(), n);
        wide.resize(static_cast<size_t>(got > 0 ? got : 0) + 1);
        wide.back() = L'\0';
    }
    return wide;
}

C_WString FromAnsiText(const char* s) {
    if (!s) return C_WString();
    std::vector<wchar_t> wide = FromAnsi(s, common::TextLength(s));
    return C_WString(wide.data());
}

}  // namespace

// Storage -------------------------------------------------------------------

#define KOVRA_STORAGE \
    Storage { m_stack, m_heap, m_length, m_capacity }

C_WString C_WString::Piece(int first, int count) const {
    return C_WString(const_cast<wchar_t*>(GetString()) + first, count, false);
}

C_WString C_WString::FromStd(const std::wstring& text) {
    return C_WString(const_cast<wchar_t*>(text.c_str()), static_cast<int>(text.size()), false);
}

void C_WString::_InitString() { KOVRA_STORAGE.Init(); }

void C_WString::_SetString(const wchar_t* s, int n) { KOVRA_STORAGE.Assign(s, n); }

void C_WString::_SetStringStack(const wchar_t* s, int n) { KOVRA_STORAGE.ConstructExact(s, n); }

void C_WString::_appendchar(wchar_t c) { KOVRA_STORAGE.Append(&c, 1); }

int C_WString::_reserve(int n) { return KOVRA_STORAGE.Reserve(n); }

bool C_WString::_common_eq(const wchar_t* s, int n) const {
    return n == m_length && common::TextEqual(GetString(), s, n);
}

C_WString::C_WString() { _InitString(); }

C_WString::C_WString(const wchar_t* s) {
    _InitString();
    KOVRA_STORAGE.Construct(s ? s : L"", common::TextLength(s));
}

C_WString::C_WString(const char* s) {
    _InitString();
    if (!s) return;
    std::vector<wchar_t> wide = FromAnsi(s, common::TextLength(s));
    KOVRA_STORAGE.Construct(wide.data(), common::TextLength(wide.data()));
}

C_WString::C_WString(const C_String& s) : C_WString(s.GetString()) {}

C_WString::C_WString(const C_WString& s) {
    _InitString();
    KOVRA_STORAGE.Construct(s.GetString(), s.m_length);
}

C_WString::C_WString(wchar_t* buffer, const int& length, const bool& adopt) {
    _InitString();
    if (adopt && buffer) {
        m_heap = buffer;
        m_length = length;
        m_capacity = static_cast<unsigned int>(length + 1);
        m_heap[length] = L'\0';
    } else {
        _SetStringStack(buffer ? buffer : L"", buffer ? length : 0);
    }
}

C_WString::~C_WString() { KOVRA_STORAGE.Free(); }

void C_WString::Clear() { KOVRA_STORAGE.Clear(); }

// Assignment ----------------------------------------------------------------

C_WString& C_WString::operator=(const C_WString& s) {
    if (this != &s) _SetString(s.GetString(), s.m_length);
    return *this;
}

C_WString& C_WString::operator=(const wchar_t* s) {
    if (s) _SetString(s, common::TextLength(s));
    return *this;
}

C_WString& C_WString::operator=(const C_String& s) { return *this = FromAnsiText(s.GetString()); }

C_WString& C_WString::operator=(const char* s) {
    if (s) *this = FromAnsiText(s);
    return *this;
}

C_WString& C_WString::operator=(const int& n) { return *this = Stringf(L"%d", n); }
C_WString& C_WString::operator=(const char& c) { return *this = Stringf(L"%hc", c); }
C_WString& C_WString::operator=(const double& d) { return *this = Stringf(L"%f", d); }

// Appending -----------------------------------------------------------------

C_WString& C_WString::operator+=(const C_WString& s) {
    KOVRA_STORAGE.Append(s.GetString(), s.m_length);
    return *this;
}

C_WString& C_WString::operator+=(const wchar_t* s) {
    if (s) KOVRA_STORAGE.Append(s, common::TextLength(s));
    return *this;
}

C_WString& C_WString::operator+=(const char* s) {
    if (s) *this += FromAnsiText(s);
    return *this;
}

C_WString& C_WString::operator+=(const int& n) { return *this += Stringf(L"%d", n); }
C_WString& C_WString::operator+=(const char& c) { return *this += Stringf(L"%hc", c); }
C_WString& C_WString::operator+=(const double& d) { return *this += Stringf(L"%f", d); }

C_WString& C_WString::operator+=(const wchar_t& c) {
    if (c) _appendchar(c);
    return *this;
}

C_WString& C_WString::operator<<(const C_WString& s) { return *this += s; }

C_WString C_WString::operator+(const C_WString& s) const {
    std::wstring joined(GetString(), static_cast<size_t>(m_length));
    joined.append(s.GetString(), static_cast<size_t>(s.m_length));
    return FromStd(joined);
}

C_WString C_WString::operator+(const wchar_t* s) const { return *this + C_WString(s); }
C_WString C_WString::operator+(const char* s) const { return *this + FromAnsiText(s); }
C_WString C_WString::operator+(const int& n) const { return *this + Stringf(L"%d", n); }
C_WString C_WString::operator+(const char& c) const { return *this + Stringf(L"%hc", c); }
C_WString C_WString::operator+(const double& d) const { return *this + Stringf(L"%f", d); }

C_WString C_WString::ConcatWChar(wchar_t c) const {
    wchar_t one[2] = {c, L'\0'};
    return *this + C_WString(one, c ? 1 : 0, false);
}

int C_WString::CharAt(int i) const {
    if (i < 0 || i >= m_length) return -1;
    return static_cast<int>(static_cast<unsigned short>(GetString()[i]));
}

// Comparison ----------------------------------------------------------------

bool C_WString::Equals(const C_WString& s) const { return _common_eq(s.GetString(), s.m_length); }
bool C_WString::operator==(const C_WString& s) const { return Equals(s); }
bool C_WString::operator!=(const C_WString& s) const { return !Equals(s); }
bool C_WString::operator==(const char* s) const { return Equals(FromAnsiText(s)); }
bool C_WString::operator!=(const char* s) const { return !Equals(FromAnsiText(s)); }
bool C_WString::operator<(const C_WString& s) const { return CompareTo(s) < 0; }
bool C_WString::operator<=(const C_WString& s) const { return CompareTo(s) <= 0; }
bool C_WString::operator>(const C_WString& s) const { return CompareTo(s) > 0; }
bool C_WString::operator>=(const C_WString& s) const { return CompareTo(s) >= 0; }

int C_WString::CompareTo(const C_WString& s) const {
    return common::TextCompare<wchar_t, unsigned short>(GetString(), m_length, s.GetString(), s.m_length);
}

// Search --------------------------------------------------------------------

bool C_WString::StartsWith(const C_WString& s) const { return StartsWith(s, 0); }

bool C_WString::StartsWith(const C_WString& s, int start) const {
    if (start < 0 || start > m_length) return false;
    if (s.m_length > m_length - start) return false;
    return common::TextEqual(GetString() + start, s.GetString(), s.m_length);
}

bool C_WString::StartsWith(const char* s) const { return StartsWith(FromAnsiText(s), 0); }
bool C_WString::StartsWith(const char* s, int start) const { return StartsWith(FromAnsiText(s), start); }

bool C_WString::EndsWith(const C_WString& s) const {
    if (s.m_length > m_length) return false;
    return common::TextEqual(GetString() + (m_length - s.m_length), s.GetString(), s.m_length);
}

bool C_WString::EndsWith(const char* s) const { return EndsWith(FromAnsiText(s)); }

int C_WString::IndexOf(const C_WString& s) const { return IndexOf(s, 0); }

int C_WString::IndexOf(const C_WString& s, int start) const {
    return common::TextFind(GetString(), m_length, s.GetString(), s.m_length, start);
}

int C_WString::IndexOf(int ch) const { return IndexOf(ch, 0); }

int C_WString::IndexOf(int ch, int start) const {
    wchar_t one = static_cast<wchar_t>(ch);
    return common::TextFind(GetString(), m_length, &one, 1, start);
}

int C_WString::IndexOf(const char* s) const { return IndexOf(FromAnsiText(s), 0); }
int C_WString::IndexOf(const char* s, int start) const { return IndexOf(FromAnsiText(s), start); }

int C_WString::LastIndexOf(const C_WString& s) const { return LastIndexOf(s, m_length - 1); }

int C_WString::LastIndexOf(const C_WString& s, int start) const {
    return common::TextFindLast(GetString(), m_length, s.GetString(), s.m_length, start);
}

int C_WString::LastIndexOf(int ch) const { return LastIndexOf(ch, m_length - 1); }

int C_WString::LastIndexOf(int ch, int start) const {
    wchar_t one = static_cast<wchar_t>(ch);
    return common::TextFindLast(GetString(), m_length, &one, 1, start);
}

int C_WString::LastIndexOf(const char* s) const { return LastIndexOf(FromAnsiText(s), m_length - 1); }
int C_WString::LastIndexOf(const char* s, int start) const { return LastIndexOf(FromAnsiText(s), start); }

int C_WString::IndexOfWhich(const C_WString& set, int start, int width) const {
    return common::TextIndexOfWhich(GetString(), m_length, set.GetString(), set.m_length, start, width);
}

int C_WString::IndexOfSkip(const C_WString& set, int start, int width) const {
    return common::TextIndexOfSkip(GetString(), m_length, set.GetString(), set.m_length, start, width);
}

int C_WString::IndexOfSkipQuote(const C_WString& s, int start) const {
    return common::TextIndexOfSkipQuote(GetString(), m_length, s.GetString(), s.m_length, start);
}

// New strings ---------------------------------------------------------------

C_WString C_WString::SubString(int start) const { return SubString(start, m_length); }

C_WString C_WString::SubString(int start, int end) const {
    int first = 0;
    int count = 0;
    if (!common::TextSubRange(m_length, start, end, &first, &count)) return C_WString();
    return Piece(first, count);
}

C_WString C_WString::Trim() const {
    int first = 0;
    int count = 0;
    common::TextTrimBounds(GetString(), m_length, &first, &count);
    return Piece(first, count);
}

C_WString C_WString::ToLower() const { return FromStd(common::TextCaseFold(GetString(), m_length, false)); }
C_WString C_WString::ToUpper() const { return FromStd(common::TextCaseFold(GetString(), m_length, true)); }

C_WString C_WString::TrimTokens(const C_WString& set, int width, bool first, bool last) const {
    int from = 0;
    int count = 0;
    common::TextTrimTokenBounds(GetString(), m_length, set.GetString(), set.m_length, width, first, last, &from,
                                &count);
    return Piece(from, count);
}

C_WString C_WString::TrimChars(const C_WString& set, int width) const { return TrimTokens(set, width, true, true); }
C_WString C_WString::TrimFirstChars(const C_WString& set, int width) const {
    return TrimTokens(set, width, true, false);
}
C_WString C_WString::TrimLastChars(const C_WString& set, int width) const {
    return TrimTokens(set, width, false, true);
}
C_WString C_WString::TrimChars(const char* set, int width) const { return TrimChars(FromAnsiText(set), width); }
C_WString C_WString::TrimFirstChars(const char* set, int width) const {
    return TrimFirstChars(FromAnsiText(set), width);
}
C_WString C_WString::TrimLastChars(const char* set, int width) const { return TrimLastChars(FromAnsiText(set), width); }

C_WString C_WString::Squeeze(const C_WString& set) const {
    return FromStd(common::TextSqueeze(GetString(), m_length, set.GetString(), set.m_length));
}

C_WString C_WString::Replace(wchar_t from, wchar_t to) const {
    std::wstring out(GetString(), static_cast<size_t>(m_length));
    for (wchar_t& c : out)
        if (c == from) c = to;
    // Replacing by 0 cuts the text there, as the terminator does; the
    // result is sized exactly, as every new string is.
    out.resize(static_cast<size_t>(common::TextLength(out.c_str())));
    return FromStd(out);
}

C_WString C_WString::Replace(const C_WString& from, const C_WString& to) const {
    return FromStd(
        common::TextReplace(GetString(), m_length, from.GetString(), from.m_length, to.GetString(), to.m_length));
}

C_WString C_WString::Replace(const char* from, const char* to) const {
    return Replace(FromAnsiText(from), FromAnsiText(to));
}

// Extraction ----------------------------------------------------------------

int64_t C_WString::EncloseInt64(int start, int* end, int flags, int* digits) const {
    return common::TextEncloseInt64(GetString(), m_length, start, end, flags, digits);
}

int C_WString::EncloseInt(int start, int* end, int flags, int* digits) const {
    return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(EncloseInt64(start, end, flags, digits))));
}

C_WString C_WString::Enclose(const C_WString& open, const C_WString& close, int start, int* next, int keep) const {
    return EncloseWhich(&open, &close, 1, start, next, keep, nullptr);
}

C_WString C_WString::EncloseWhich(const C_WString* opens, const C_WString* closes, int count, int start, int* next,
                                  int keep, int* which) const {
    int after = -1;
    int found = -1;
    C_WString result;
    if (opens && closes && count > 0) {
        std::vector<const wchar_t*> o(count), c(count);
        std::vector<int> ol(count), cl(count);
        for (int i = 0; i < count; ++i) {
            o[i] = opens[i].GetString();
            ol[i] = opens[i].m_length;
            c[i] = closes[i].GetString();
            cl[i] = closes[i].m_length;
        }
        int first = 0;
        int length = 0;
        found = common::TextEnclose(GetString(), m_length, o.data(), ol.data(), c.data(), cl.data(), count, start,
                                    keep != 0, &first, &length, &after);
        if (found >= 0) result = Piece(first, length);
    }
    if (next) *next = after;
    if (which) *which = found;
    return result;
}

// Formatting ----------------------------------------------------------------

namespace {

// The whole formatted text: a stack buffer of 1024 units when it fits,
// else the growing heap buffer of kovra_safe_vsnprintf. `ok` is false when
// the text cannot be made.
C_WString FormatWhole(const wchar_t* format, va_list args, bool* ok) {
    wchar_t buffer[1024];
    int allocated = 0;
    int length = 0;
    wchar_t* text = common::kovra_safe_vsnprintf(buffer, 1024, format, args, &allocated, &length);
    *ok = text != nullptr;
    if (!text) return C_WString();
    C_WString result(text);
    if (allocated) free(text);
    return result;
}

}  // namespace

C_WString C_WString::Stringf(const wchar_t* format, ...) {
    if (!format) return C_WString();
    va_list args;
    va_start(args, format);
    bool ok = false;
    C_WString result = FormatWhole(format, args, &ok);
    va_end(args);
    return result;
}

int C_WString::StringfEx(wchar_t* buffer, unsigned int count, const wchar_t* format, ...) {
    if (!buffer || count == 0 || !format) return -1;
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(buffer, count, format, args);
    va_end(args);
    if (n < 0 || static_cast<unsigned int>(n) >= count) {
        buffer[count - 1] = L'\0';
        return -1;
    }
    buffer[n] = L'\0';
    return n;
}

int C_WString::StringfEx(C_Memory* buffer, const wchar_t* format, ...) {
    if (!buffer || !format) return -1;
    va_list args;
    va_start(args, format);
    bool ok = false;
    C_WString text = FormatWhole(format, args, &ok);
    va_end(args);
    if (!ok) return -1;
    unsigned long bytes = static_cast<unsigned long>(text.Length() + 1) * sizeof(wchar_t);
    if (buffer->GetSize() < bytes && !buffer->CreateBuffer(bytes)) return -1;
    buffer->CopyBuffer(text.GetString(), bytes);
    return text.Length();
}

// Conversion ----------------------------------------------------------------

C_String C_WString::ToString() const {
    if (m_length == 0) return C_String();
    // Worst case: two bytes per unit, plus the terminator.
    std::vector<char> narrow(static_cast<size_t>(m_length) * 2 + 1, '\0');
    int got = WideCharToMultiByte(CP_ACP, 0, GetString(), m_length, narrow.data(), m_length * 2, nullptr, nullptr);
    narrow[got > 0 ? got : 0] = '\0';
    return C_String(narrow.data());
}

C_String C_WString::ToByteString() const {
    C_String bytes;
    bytes.SetBytes(GetString(), 0, m_length * 2, 0);
    return bytes;
}

C_WString C_WString::ToWString() const { return *this; }

unsigned int C_WString::ToCharArray(char* buffer, unsigned int size) const {
    int needed = WideCharToMultiByte(CP_ACP, 0, GetString(), m_length + 1, nullptr, 0, nullptr, nullptr);
    if (buffer && size > 0) {
        int got =
            WideCharToMultiByte(CP_ACP, 0, GetString(), m_length, buffer, static_cast<int>(size - 1), nullptr, nullptr);
        if (got <= 0 && m_length > 0) {
            // Too small for the whole text: convert what fits, unit by unit.
            got = 0;
            for (int i = 0; i < m_length; ++i) {
                char one[4];
                int n = WideCharToMultiByte(CP_ACP, 0, GetString() + i, 1, one, 4, nullptr, nullptr);
                if (n <= 0 || static_cast<unsigned int>(got + n) > size - 1) break;
                std::memcpy(buffer + got, one, static_cast<size_t>(n));
                got += n;
            }
        }
        buffer[got > 0 ? got : 0] = '\0';
    }
    return static_cast<unsigned int>(needed > 0 ? needed : 1);
}

int C_WString::ByteLength() const {
    int n = 0;
    for (int i = 0; i < m_length; ++i) n += GetString()[i] > 255 ? 2 : 1;
    return n;
}

}  // namespace kovra
