#include "kovra/common/MarkupEscape.h"

#include <cstring>
#include <string>

namespace kovra {
namespace common {

namespace {

struct Entity {
    const wchar_t* name;  // between "&" and ";"
    wchar_t character;
};

const Entity kEntities[] = {{L"amp", L'&'}, {L"lt", L'<'}, {L"gt", L'>'}, {L"quot", L'"'}, {L"apos", L'\''}};

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// The reference "&..." at s[i]: its code point and its length up to and
// including ";", or 0 when it is not one this reads.
size_t ReadReference(const wchar_t* s, size_t n, size_t i, unsigned long* code) {
    for (const Entity& entity : kEntities) {
        const size_t length = std::wcslen(entity.name);
        if (n - i >= length + 2 && std::wcsncmp(s + i + 1, entity.name, length) == 0 && s[i + 1 + length] == L';') {
            *code = entity.character;
            return length + 2;
        }
    }
    if (i + 2 >= n || s[i + 1] != L'#') return 0;
    const bool hex = s[i + 2] == L'x' || s[i + 2] == L'X';
    const int base = hex ? 16 : 10;
    size_t at = i + (hex ? 3 : 2);
    const size_t first = at;
    unsigned long value = 0;
    for (; at < n; ++at) {
        const int digit = HexDigit(s[at]);
        if (digit < 0 || digit >= base) break;
        value = value * static_cast<unsigned long>(base) + static_cast<unsigned long>(digit);
        if (value > 0x10FFFF) return 0;  // before the next digit could overflow
    }
    if (at == first || at >= n || s[at] != L';') return 0;
    if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code = value;
    return at + 1 - i;
}

}  // namespace

C_WString kovra_EscapeXml(const C_WString& text) {
    const wchar_t* s = text.GetString();
    std::wstring out;
    out.reserve(static_cast<size_t>(text.Length()));
    for (int i = 0; i < text.Length(); ++i) {
        switch (s[i]) {
        case L'&':
            out += L"&amp;";
            break;
        case L'<':
            out += L"&lt;";
            break;
        case L'>':
            out += L"&gt;";
            break;
        case L'"':
            out += L"&quot;";
            break;
        case L'\'':
            out += L"&#39;";
            break;
        default:
            out.push_back(s[i]);
            break;
        }
    }
    return C_WString(out.c_str());
}

C_WString kovra_UnescapeXml(const C_WString& text) {
    const wchar_t* s = text.GetString();
    const size_t n = static_cast<size_t>(text.Length());
    std::wstring out;
    out.reserve(n);
    for (size_t i = 0; i < n;) {
        unsigned long code = 0;
        const size_t length = s[i] == L'&' ? ReadReference(s, n, i, &code) : 0;
        if (length == 0) {
            out.push_back(s[i++]);
            continue;
        }
        if (code >= 0x10000) {
            out.push_back(static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(code));
        }
        i += length;
    }
    return C_WString(out.c_str());
}

}  // namespace common
}  // namespace kovra
