#include "kovra/common/TextConversions.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

namespace kovra {
namespace common {

namespace {

const UINT kShiftJis = 932;

// The bytes of `text` up to its first zero byte (SetBytes may have stored
// more).
std::string NarrowBytes(const C_String& text) {
    const char* s = text.GetString();
    const void* zero = std::memchr(s, 0, static_cast<size_t>(text.Length()));
    size_t n = zero ? static_cast<size_t>(static_cast<const char*>(zero) - s) : static_cast<size_t>(text.Length());
    return std::string(s, n);
}

int Refuse(C_WString& out) {
    out.Clear();
    return 0;
}

int Refuse(C_String& out) {
    out.Clear();
    return 0;
}

void Assign(C_String& out, const std::string& bytes) {
    if (bytes.empty())
        out.Clear();
    else
        out.SetBytes(bytes.data(), 0, static_cast<int>(bytes.size()), 1);
}

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Strict UTF-8 to UTF-16; false for anything RFC 3629 does not allow.
bool DecodeUtf8(const std::string& in, std::wstring* out) {
    out->reserve(in.size());
    const size_t n = in.size();
    for (size_t i = 0; i < n;) {
        const unsigned char lead = static_cast<unsigned char>(in[i]);
        if (lead < 0x80) {
            out->push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        size_t length = 0;
        unsigned long code = 0;
        unsigned long least = 0;  // below this the form is overlong
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1Fu;
            least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0Fu;
            least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07u;
            least = 0x10000;
        } else {
            return false;  // a stray continuation byte, C0, C1 or F5-FF
        }
        if (n - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char b = static_cast<unsigned char>(in[i + k]);
            if (!IsContinuation(b)) return false;
            code = (code << 6) | (b & 0x3Fu);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            out->push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
            out->push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out->push_back(static_cast<wchar_t>(code));
        }
        i += length;
    }
    return true;
}

// UTF-16 to UTF-8; false for an unpaired surrogate.
bool EncodeUtf8(const wchar_t* in, size_t n, std::string* out) {
    out->reserve(n * 3);
    for (size_t i = 0; i < n; ++i) {
        unsigned long code = static_cast<unsigned short>(in[i]);
        if (code >= 0xDC00 && code <= 0xDFFF) return false;
        if (code >= 0xD800 && code <= 0xDBFF) {
            const unsigned long low = i + 1 < n ? static_cast<unsigned short>(in[i + 1]) : 0;
            if (low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        }
        if (code < 0x80) {
            out->push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (code >> 6)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (code >> 12)));
            out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (code >> 18)));
            out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return true;
}

// Code page 932 to UTF-16 through the system's table; with
// MB_ERR_INVALID_CHARS false for an invalid or unmapped byte sequence.
bool DecodeShiftJis(const std::string& in, std::wstring* out, DWORD flags = MB_ERR_INVALID_CHARS) {
    out->clear();
    if (in.empty()) return true;
    if (in.size() > 0x7FFFFFFF) return false;
    const int n = static_cast<int>(in.size());
    const int needed = MultiByteToWideChar(kShiftJis, flags, in.data(), n, nullptr, 0);
    if (needed <= 0) return false;
    out->resize(static_cast<size_t>(needed));
    const int written = MultiByteToWideChar(kShiftJis, flags, in.data(), n, &(*out)[0], needed);
    return written == needed;
}

// UTF-16 to code page 932 through the system's table; false for a character
// that has no code page 932 form of its own.
bool EncodeShiftJis(const wchar_t* in, size_t n, std::string* out) {
    out->clear();
    if (n == 0) return true;
    if (n > 0x7FFFFFFF) return false;
    const int count = static_cast<int>(n);
    BOOL usedDefault = FALSE;
    const int needed =
        WideCharToMultiByte(kShiftJis, WC_NO_BEST_FIT_CHARS, in, count, nullptr, 0, nullptr, &usedDefault);
    if (needed <= 0 || usedDefault) return false;
    out->resize(static_cast<size_t>(needed));
    const int written =
        WideCharToMultiByte(kShiftJis, WC_NO_BEST_FIT_CHARS, in, count, &(*out)[0], needed, nullptr, &usedDefault);
    if (written != needed || usedDefault) return false;
    // No best fit means the bytes read back as the same text; checked, so
    // that a system whose best fit slipped past the flag and its report
    // still never gives a substitute. Read back without
    // MB_ERR_INVALID_CHARS: the code page writes U+F8F0-U+F8F3 as the
    // single bytes A0 and FD-FF, which it maps back but may call invalid.
    std::wstring back;
    return DecodeShiftJis(*out, &back, 0) && back.size() == n && std::wmemcmp(back.data(), in, n) == 0;
}

}  // namespace

int kovra_Utf8ToUtf16(const C_String& utf8, C_WString& out) {
    std::wstring wide;
    if (!DecodeUtf8(NarrowBytes(utf8), &wide)) return Refuse(out);
    out = wide.c_str();
    return 1;
}

int kovra_Utf16ToUtf8(const C_WString& text, C_String& out) {
    std::string bytes;
    if (!EncodeUtf8(text.GetString(), static_cast<size_t>(text.Length()), &bytes)) return Refuse(out);
    Assign(out, bytes);
    return 1;
}

int kovra_SjisToUtf16(const C_String& sjis, C_WString& out) {
    std::wstring wide;
    if (!DecodeShiftJis(NarrowBytes(sjis), &wide)) return Refuse(out);
    out = wide.c_str();
    return 1;
}

int kovra_Utf16ToSjis(const C_WString& text, C_String& out) {
    std::string bytes;
    if (!EncodeShiftJis(text.GetString(), static_cast<size_t>(text.Length()), &bytes)) return Refuse(out);
    Assign(out, bytes);
    return 1;
}

int kovra_Utf8ToSjis(const C_String& utf8, C_String& out) {
    std::wstring wide;
    std::string bytes;
    if (!DecodeUtf8(NarrowBytes(utf8), &wide) || !EncodeShiftJis(wide.data(), wide.size(), &bytes)) return Refuse(out);
    Assign(out, bytes);
    return 1;
}

int kovra_SjisToUtf8(const C_String& sjis, C_String& out) {
    std::wstring wide;
    std::string bytes;
    if (!DecodeShiftJis(NarrowBytes(sjis), &wide) || !EncodeUtf8(wide.data(), wide.size(), &bytes)) return Refuse(out);
    Assign(out, bytes);
    return 1;
}

}  // namespace common
}  // namespace kovra
