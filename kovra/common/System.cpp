#include "kovra/common/System.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "kovra/common/kovra_hextoint_a.h"

namespace kovra {
namespace common {

namespace {

const char ESC = 0x1B;
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kHeader[] = "=?ISO-2022-JP?B?";
const size_t kHeaderLength = sizeof kHeader - 1;

C_String Bytes(const std::string& bytes) {
    C_String result;
    result.SetBytes(bytes.data(), 0, static_cast<int>(bytes.size()), 0);
    return result;
}

unsigned char At(const C_String& text, int i) { return static_cast<unsigned char>(text.GetString()[i]); }

void PutCode(std::string& out, int code) {
    out += static_cast<char>((code >> 8) & 0xFF);
    out += static_cast<char>(code & 0xFF);
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The first encoded-word header at or after `from` that has at least one
// character after it, compared without regard to case; npos when none.
size_t FindHeader(const std::string& text, size_t from) {
    for (size_t p = from; p + kHeaderLength < text.size(); ++p) {
        size_t k = 0;
        while (k < kHeaderLength && AsciiLower(text[p + k]) == AsciiLower(kHeader[k])) ++k;
        if (k == kHeaderLength) return p;
    }
    return std::string::npos;
}

// Decodes text[begin, end) padded with "=" to whole groups of four, up to
// the first character outside the alphabet.
std::string DecodeGroups(const std::string& text, size_t begin, size_t end) {
    std::string out;
    size_t length = end - begin;
    size_t padded = (length + 3) / 4 * 4;
    for (size_t g = 0; g < padded; g += 4) {
        unsigned int bits = 0;
        int valid = 0;
        while (valid < 4) {
            size_t i = begin + g + valid;
            unsigned char v = i < end ? System::base64_basetoconv(text[i]) : 255;
            if (v == 255) break;
            bits = (bits << 6) | v;
            ++valid;
        }
        bits <<= 6 * (4 - valid);
        for (int b = 0; b < valid - 1; ++b) out += static_cast<char>((bits >> (16 - 8 * b)) & 0xFF);
        if (valid < 4) break;
    }
    return out;
}

}  // namespace

int System::is_sjis_kanji(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC) ? 1 : 0; }
int System::is_sjis_kanji2(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC) ? 1 : 0; }
int System::is_sjis_kana(unsigned char b) { return b >= 0xA1 && b <= 0xDF ? 1 : 0; }
int System::is_euc_kana(unsigned char b) { return b == 0x8E ? 1 : 0; }
int System::is_euc_kanji(unsigned char b) { return b >= 0xA1 && b <= 0xFE ? 1 : 0; }
int System::is_jis_kanji(unsigned char b) { return b >= 0x21 && b <= 0x7E ? 1 : 0; }

int System::jis_to_sjis_char(int first, int second) {
    int lead = ((first + 1) >> 1) + (first <= 0x5E ? 0x70 : 0xB0);
    int trail;
    if (first & 1)
        trail = second + (second < 0x60 ? 0x1F : 0x20);
    else
        trail = second + 0x7E;
    return ((lead & 0xFF) << 8) | (trail & 0xFF);
}

int System::sjis_to_jis_char(int first, int second) {
    int row = (first - (first <= 0x9F ? 0x71 : 0xB1)) * 2 + 1;
    int cell = second;
    if (cell > 0x7F) --cell;
    if (cell >= 0x9E) {
        cell -= 0x7D;
        ++row;
    } else {
        cell -= 0x1F;
    }
    return ((row & 0xFF) << 8) | (cell & 0xFF);
}

C_String System::sjis_to_jis(const C_String& text, int keepCR) {
    std::string out;
    bool run = false;
    int n = text.Length();
    for (int i = 0; i < n; ++i) {
        unsigned char b = At(text, i);
        if (is_sjis_kanji(b)) {
            if (i + 1 < n && is_sjis_kanji2(At(text, i + 1))) {
                if (!run) out += "\x1B$B";
                run = true;
                PutCode(out, sjis_to_jis_char(b, At(text, i + 1)));
                ++i;
            }
            continue;
        }
        if (b == '\r' && !keepCR) continue;
        if (run) out += "\x1B(J";
        run = false;
        out += static_cast<char>(b);
    }
    if (run) out += "\x1B(J";
    return Bytes(out);
}

C_String System::jis_to_sjis(const C_String& text) {
    std::string out;
    bool doubleByte = false;
    int n = static_cast<int>(std::strlen(text.GetString()));
    for (int i = 0; i < n; ++i) {
        unsigned char b = At(text, i);
        if (b == ESC && i + 2 < n) {
            char c1 = text.GetString()[i + 1];
            char c2 = text.GetString()[i + 2];
            if (c1 == '$' && (c2 == 'B' || c2 == '@')) {
                doubleByte = true;
                i += 2;
                continue;
            }
            if (c1 == '(' && (c2 == 'B' || c2 == 'J')) {
                doubleByte = false;
                i += 2;
                continue;
            }
        }
        if (doubleByte && is_jis_kanji(b)) {
            if (i + 1 < n && is_jis_kanji(At(text, i + 1))) {
                PutCode(out, jis_to_sjis_char(b, At(text, i + 1)));
                ++i;
            }
            continue;
        }
        if (b == '\n' && (i == 0 || At(text, i - 1) != '\r')) out += '\r';
        out += static_cast<char>(b);
    }
    return Bytes(out);
}

C_String System::euc_to_sjis(const C_String& text) {
    std::string out;
    int n = text.Length();
    for (int i = 0; i < n; ++i) {
        unsigned char b = At(text, i);
        if (is_euc_kana(b)) {
            if (i + 1 < n) out += static_cast<char>(At(text, ++i));
            continue;
        }
        if (is_euc_kanji(b)) {
            if (i + 1 < n && is_euc_kanji(At(text, i + 1))) {
                PutCode(out, jis_to_sjis_char(b & 0x7F, At(text, i + 1) & 0x7F));
                ++i;
            }
            continue;
        }
        out += static_cast<char>(b);
    }
    return Bytes(out);
}

C_String System::sjis_to_euc(const C_String& text) {
    std::string out;
    int n = text.Length();
    for (int i = 0; i < n; ++i) {
        unsigned char b = At(text, i);
        if (is_sjis_kanji(b)) {
            if (i + 1 < n && is_sjis_kanji2(At(text, i + 1))) {
                PutCode(out, sjis_to_jis_char(b, At(text, i + 1)) | 0x8080);
                ++i;
            }
            continue;
        }
        if (is_sjis_kana(b)) out += '\x8E';
        out += static_cast<char>(b);
    }
    return Bytes(out);
}

C_String System::base64_encode(const C_String& text, bool header, bool trailer) {
    const char* bytes = text.GetString();
    size_t length = std::strlen(bytes);
    return base64_encode(reinterpret_cast<const unsigned char*>(bytes), static_cast<unsigned int>(length), header,
                         trailer);
}

C_String System::base64_encode(const unsigned char* data, unsigned int size, bool header, bool trailer) {
    if (!data || size == 0) return C_String();
    std::string out;
    if (header) out += kHeader;
    for (unsigned int i = 0; i < size; i += 3) {
        unsigned int left = size - i;
        unsigned int bits = static_cast<unsigned int>(data[i]) << 16;
        if (left > 1) bits |= static_cast<unsigned int>(data[i + 1]) << 8;
        if (left > 2) bits |= data[i + 2];
        out += kAlphabet[(bits >> 18) & 0x3F];
        out += kAlphabet[(bits >> 12) & 0x3F];
        out += left > 1 ? kAlphabet[(bits >> 6) & 0x3F] : '=';
        out += left > 2 ? kAlphabet[bits & 0x3F] : '=';
    }
    if (trailer) out += "?=";
    return Bytes(out);
}

C_String System::base64_decode(const C_String& text) {
    // Each pass replaces the first encoded word with its bytes and searches
    // the result again, so decoded bytes that form a header with the text
    // around them are decoded in turn. The search resumes 15 bytes before
    // the decoded bytes (no header can start earlier), and those 15 bytes
    // and the decoded ones are written back into the space the word took:
    // the text is not copied whole for every word, and no pass recurses.
    std::string work(text.GetString(), static_cast<size_t>(text.Length()));
    std::string done;
    size_t from = 0;
    for (;;) {
        size_t at = FindHeader(work, from);
        if (at == std::string::npos) break;
        size_t begin = at + kHeaderLength;
        size_t close = work.find("?=", begin);
        size_t end = close == std::string::npos ? work.size() : close + 1;
        std::string decoded = DecodeGroups(work, begin, end);
        size_t after = close == std::string::npos ? work.size() : close + 2;
        done.append(work, from, at - from);
        size_t keep = done.size() < kHeaderLength - 1 ? done.size() : kHeaderLength - 1;
        // The word is longer than what replaces it: the header alone is 16
        // bytes, and the bytes decoded are at most 3/4 of the encoded part.
        size_t start = after - decoded.size() - keep;
        work.replace(start, keep, done, done.size() - keep, keep);
        work.replace(start + keep, decoded.size(), decoded);
        done.resize(done.size() - keep);
        from = start;
    }
    done.append(work, from, std::string::npos);
    return Bytes(done);
}

C_String System::quoted_printable_decode(const C_String& text) {
    std::string out;
    const char* s = text.GetString();
    int n = text.Length();
    bool doubleByte = false;
    int i = 0;
    while (i < n) {
        if (s[i] != '=') {
            out += s[i++];
            continue;
        }
        int left = n - i - 1;  // characters after the "="
        if (left >= 1 && s[i + 1] == '\n') {
            i += 2;
            continue;
        }
        if (left >= 2 && s[i + 1] == '\r' && s[i + 2] == '\n') {
            i += 3;
            continue;
        }
        const char* mode = doubleByte ? "1B(B" : "1B$B";
        if (left >= 4 && std::memcmp(s + i + 1, mode, 4) == 0) {
            out += ESC;
            out.append(mode + 2, 2);
            doubleByte = !doubleByte;
            i += 5;
            continue;
        }
        int value = left >= 2 ? kovra_hextoint_a(s + i + 1, 2) : -1;
        if (value < 0) {
            out += s[i++];
            continue;
        }
        out += static_cast<char>(value);
        i += 3;
    }
    size_t zero = out.find('\0');
    if (zero != std::string::npos) out.resize(zero);
    return Bytes(out);
}

unsigned char System::base64_basetoconv(char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c - 'A');
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 26);
    if (c >= '0' && c <= '9') return static_cast<unsigned char>(c - '0' + 52);
    if (c == '+') return 62;
    if (c == '/') return 63;
    return 255;
}

char System::base64_convtobase(char v) { return v >= 0 && v < 64 ? kAlphabet[static_cast<int>(v)] : '='; }

unsigned short System::crc16(const unsigned char* data, int size) {
    if (!data || size < 1) return 0;
    uint32_t reg = 0;
    for (int i = 0; i < size; ++i) {
        reg |= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            reg <<= 1;
            if (reg & 0x1000000u) reg ^= 0x102100u;
        }
    }
    return static_cast<unsigned short>((reg >> 8) & 0xFFFF);
}

C_String System::getContentType(const C_String& extension) {
    if (extension.Empty()) return C_String();
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, extension.GetString(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return C_String();
    std::string value(32, '\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(value.size());
    LONG outcome = RegQueryValueExA(key, "Content Type", nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &size);
    if (outcome == ERROR_MORE_DATA) {
        value.assign(size, '\0');
        outcome = RegQueryValueExA(key, "Content Type", nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &size);
    }
    RegCloseKey(key);
    if (outcome != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return C_String();
    C_String result;
    result.SetBytes(value.data(), 0, static_cast<int>(size), 1);
    return result;
}

int64_t System::currentTimeMillis() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    return static_cast<int64_t>(ticks.QuadPart / 10000) - 11644473600000LL;
}

}  // namespace common
}  // namespace kovra
