#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <type_traits>

// Text algorithms shared by the wide and the narrow string classes. They work
// on a pointer and a length in code units and never read past the length.
namespace kovra {
namespace common {

template <typename Ch>
int TextLength(const Ch* s) {
    if (!s) return 0;
    int n = 0;
    while (s[n]) ++n;
    return n;
}

template <typename Ch>
bool TextEqual(const Ch* a, const Ch* b, int n) {
    for (int i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// First position >= start where the pattern occurs; -1 when the pattern is
// empty or does not occur.
template <typename Ch>
int TextFind(const Ch* s, int n, const Ch* p, int m, int start) {
    if (m <= 0 || n <= 0) return -1;
    if (start < 0) start = 0;
    for (int i = start; i + m <= n; ++i)
        if (TextEqual(s + i, p, m)) return i;
    return -1;
}

// Last position <= start where the pattern occurs, searching backwards.
template <typename Ch>
int TextFindLast(const Ch* s, int n, const Ch* p, int m, int start) {
    if (m <= 0 || n <= 0 || start < 0) return -1;
    if (start > n - m) start = n - m;
    for (int i = start; i >= 0; --i)
        if (TextEqual(s + i, p, m)) return i;
    return -1;
}

// Whether the `width` units at position p equal one of the width-wide tokens
// of `set`; a shorter last piece of the set never matches.
template <typename Ch>
bool TextTokenAt(const Ch* s, int n, int p, const Ch* set, int setLength, int width) {
    if (width <= 0 || p < 0 || p + width > n) return false;
    for (int t = 0; t + width <= setLength; t += width)
        if (TextEqual(s + p, set + t, width)) return true;
    return false;
}

template <typename Ch>
int TextIndexOfWhich(const Ch* s, int n, const Ch* set, int setLength, int start, int width) {
    if (width <= 0) return -1;
    if (start < 0) start = 0;
    for (int p = start; p < n; ++p)
        if (TextTokenAt(s, n, p, set, setLength, width)) return p;
    return -1;
}

template <typename Ch>
int TextIndexOfSkip(const Ch* s, int n, const Ch* set, int setLength, int start, int width) {
    if (width <= 0) return start < n && start >= 0 ? start : -1;
    if (start < 0) start = 0;
    int p = start;
    while (p < n && TextTokenAt(s, n, p, set, setLength, width)) p += width;
    return p < n ? p : -1;
}

// Position just after a quoted section that starts at `p` with the quote
// character s[p]; a backslash makes the next unit ordinary. An unclosed
// section runs to the end.
template <typename Ch>
int TextSkipQuoted(const Ch* s, int n, int p) {
    Ch quote = s[p];
    for (int i = p + 1; i < n; ++i) {
        if (s[i] == Ch('\\')) {
            ++i;
            continue;
        }
        if (s[i] == quote) return i + 1;
    }
    return n;
}

// First occurrence of the pattern outside single- or double-quoted text.
template <typename Ch>
int TextIndexOfSkipQuote(const Ch* s, int n, const Ch* p, int m, int start) {
    if (m <= 0) return -1;
    if (start < 0) start = 0;
    int i = start;
    while (i < n) {
        if (i + m <= n && TextEqual(s + i, p, m)) return i;
        if (s[i] == Ch('"') || s[i] == Ch('\'')) {
            i = TextSkipQuoted(s, n, i);
            continue;
        }
        ++i;
    }
    return -1;
}

// The first decimal number at or after `start`; see C_WString::EncloseInt64.
template <typename Ch>
int64_t TextEncloseInt64(const Ch* s, int n, int start, int* end, int flags, int* digits) {
    if (start < 0) start = 0;
    if (start >= n) {
        if (digits) *digits = 0;
        if (end) *end = -1;
        return -1;
    }
    int count = 0;
    uint64_t value = 0;  // unsigned: wraps on overflow without undefined behaviour
    bool negative = false;
    int i = start;
    while (i < n) {
        Ch c = s[i];
        if (c >= Ch('0') && c <= Ch('9')) {
            value = value * 10u + static_cast<uint64_t>(c - Ch('0'));
            ++count;
            ++i;
            continue;
        }
        if (count > 0) break;
        if (c == Ch('-')) {
            negative = !negative;
            ++i;
            continue;
        }
        if (c == Ch('+')) {
            ++i;
            continue;
        }
        if ((c == Ch('\'') && (flags & 0x1)) || (c == Ch('"') && (flags & 0x2))) {
            i = TextSkipQuoted(s, n, i);
            negative = false;
            continue;
        }
        if (c == Ch('<') && (flags & 0x4)) {
            // A tag runs to the next '>' outside its quoted attribute values.
            int j = i + 1;
            while (j < n && s[j] != Ch('>')) {
                if (s[j] == Ch('"') || s[j] == Ch('\''))
                    j = TextSkipQuoted(s, n, j);
                else
                    ++j;
            }
            i = j < n ? j + 1 : n;
            negative = false;
            continue;
        }
        negative = false;
        ++i;
    }
    if (digits) *digits = count;
    if (count == 0) {
        if (end) *end = -1;
        return -1;
    }
    if (end) *end = i;
    if (negative) value = 0u - value;
    return static_cast<int64_t>(value);
}

// Ordinal comparison: the difference of the first differing units, else
// 1 / -1 by length, and against an empty side the other side's length.
template <typename Ch, typename Unit>
int TextCompare(const Ch* a, int na, const Ch* b, int nb) {
    if (na == 0 || nb == 0) return na == 0 ? -nb : na;
    int n = na < nb ? na : nb;
    for (int i = 0; i < n; ++i) {
        Unit x = static_cast<Unit>(a[i]);
        Unit y = static_cast<Unit>(b[i]);
        if (x != y) return static_cast<int>(x) - static_cast<int>(y);
    }
    if (na == nb) return 0;
    return na > nb ? 1 : -1;
}

template <typename Ch>
bool IsBlankUnit(Ch c) {
    return static_cast<unsigned>(static_cast<typename std::make_unsigned<Ch>::type>(c)) <= 32u;
}

// The range [first, first + count) of SubString(start, end): units start..end
// inclusive, valid for 0 <= start < n and start <= end <= n (end == n is
// taken as n - 1). False for an invalid call.
inline bool TextSubRange(int n, int start, int end, int* first, int* count) {
    if (start < 0 || start >= n || end < start || end > n) return false;
    if (end == n) end = n - 1;
    *first = start;
    *count = end - start + 1;
    return true;
}

// Bounds without leading and trailing units of code 32 or less.
template <typename Ch>
void TextTrimBounds(const Ch* s, int n, int* first, int* count) {
    int a = 0;
    int b = n;
    while (a < b && IsBlankUnit(s[a])) ++a;
    while (b > a && IsBlankUnit(s[b - 1])) --b;
    *first = a;
    *count = b - a;
}

// Bounds without leading (trimFirst) and trailing (trimLast) width-wide
// tokens of `set`.
template <typename Ch>
void TextTrimTokenBounds(const Ch* s, int n, const Ch* set, int setLength, int width, bool trimFirst, bool trimLast,
                         int* first, int* count) {
    int a = 0;
    int b = n;
    if (width > 0) {
        while (trimFirst && a < b && TextTokenAt(s, b, a, set, setLength, width)) a += width;
        while (trimLast && b - width >= a && TextTokenAt(s, b, b - width, set, setLength, width)) b -= width;
    }
    *first = a;
    *count = b - a;
}

// Units below 128 through the C runtime's tolower/toupper; others unchanged.
template <typename Ch>
std::basic_string<Ch> TextCaseFold(const Ch* s, int n, bool upper) {
    std::basic_string<Ch> out(s, static_cast<size_t>(n));
    for (Ch& c : out) {
        unsigned u = static_cast<unsigned>(static_cast<typename std::make_unsigned<Ch>::type>(c));
        if (u < 128u) c = static_cast<Ch>(upper ? toupper(static_cast<int>(u)) : tolower(static_cast<int>(u)));
    }
    return out;
}

// Runs of equal units collapse to one; with a non-empty set only runs of
// units from the set.
template <typename Ch>
std::basic_string<Ch> TextSqueeze(const Ch* s, int n, const Ch* set, int setLength) {
    std::basic_string<Ch> out;
    out.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        bool repeat = !out.empty() && out.back() == s[i];
        bool squeezable = setLength == 0 || TextFind(set, setLength, s + i, 1, 0) >= 0;
        if (!(repeat && squeezable)) out.push_back(s[i]);
    }
    return out;
}

// Every occurrence of `from` replaced by `to`; an empty `from` replaces
// nothing.
template <typename Ch>
std::basic_string<Ch> TextReplace(const Ch* s, int n, const Ch* from, int fromLength, const Ch* to, int toLength) {
    std::basic_string<Ch> out;
    int at = 0;
    while (fromLength > 0) {
        int found = TextFind(s, n, from, fromLength, at);
        if (found < 0) break;
        out.append(s + at, static_cast<size_t>(found - at));
        out.append(to, static_cast<size_t>(toLength));
        at = found + fromLength;
    }
    out.append(s + at, static_cast<size_t>(n - at));
    return out;
}

// Enclose/EncloseWhich: among the pairs (opens[i], closes[i]) the one whose
// opening delimiter comes first at or after `start`, and its closing
// delimiter after it. Gives the pair's index and the range of the result
// (with the delimiters when keep is set), and the position after the
// closing delimiter; -1 when nothing encloses.
template <typename Ch>
int TextEnclose(const Ch* s, int n, const Ch* const* opens, const int* openLengths, const Ch* const* closes,
                const int* closeLengths, int count, int start, bool keep, int* first, int* length, int* next) {
    int best = -1;
    int bestAt = -1;
    for (int i = 0; i < count; ++i) {
        int at = TextFind(s, n, opens[i], openLengths[i], start);
        if (at >= 0 && (bestAt < 0 || at < bestAt)) {
            best = i;
            bestAt = at;
        }
    }
    *next = -1;
    if (best < 0) return -1;
    int inner = bestAt + openLengths[best];
    int closeAt = TextFind(s, n, closes[best], closeLengths[best], inner);
    if (closeAt < 0) return -1;
    *next = closeAt + closeLengths[best];
    *first = keep ? bestAt : inner;
    *length = keep ? *next - bestAt : closeAt - inner;
    return best;
}

}  // namespace common
}  // namespace kovra
