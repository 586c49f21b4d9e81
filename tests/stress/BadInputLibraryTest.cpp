// Seeded random and mutated input against the library's parsers: number
// extraction, the shell splitter, settings files, the MIME decoders, the
// Japanese converters and line reading. Each target checks what its
// documentation promises on any input, and round trips where the input is
// valid.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <string>
#include <vector>

#include "Stress.h"
#include "kovra/C_FileStream.h"
#include "kovra/C_IniFile.h"
#include "kovra/C_String.h"
#include "kovra/C_WIniFile.h"
#include "kovra/C_WString.h"
#include "kovra/ShellMain.h"
#include "kovra/common/System.h"
#include "support/TestSupport.h"

using kovra::C_String;
using kovra::C_WString;
using kovra::common::System;
using stress::GuardedPool;
using stress::Rng;
using stress::Show;
using stress::ShowBytes;
using testsupport::Bytes;
using testsupport::CString;

namespace {

// The first number of a text: its digits lie together, end where the
// digits end, give the value (wrapping in 64 bits) and carry the sign of
// the '+'/'-' run right before them; with no skipping (flags 0) it is the
// first digit at or after `start`. The narrow and the 32-bit forms agree.
std::string EncloseCase(Rng& rng) {
    static const std::vector<std::wstring> pieces = {L"0",  L"1", L"9", L"12", L"-", L"+", L"'",
                                                     L"\"", L"<", L">", L"\\", L" ", L"a", L"99999999999999999999",
                                                     L"日"};
    const std::wstring text = rng.Text(pieces, 12);
    const int n = static_cast<int>(text.size());
    const int start = static_cast<int>(rng.Below(static_cast<uint32_t>(n) + 6)) - 3;
    const int flags = static_cast<int>(rng.Below(8));
    int end = -7;
    int digits = -7;
    const C_WString wide(text.c_str());
    const int64_t value = wide.EncloseInt64(start, &end, flags, &digits);
    int intEnd = -7;
    if (wide.EncloseInt(start, &intEnd, flags, nullptr) != static_cast<int>(value) || intEnd != end)
        return "EncloseInt is not the low half of EncloseInt64";
    const size_t firstDigit = text.find_first_of(L"0123456789", static_cast<size_t>(start < 0 ? 0 : start));
    if (end == -1) {
        if (value != -1 || digits != 0) return "no number, yet value " + std::to_string(value);
        if (flags == 0 && start < n && firstDigit != std::wstring::npos) return "a number was missed in " + Show(text);
    } else {
        if (digits < 1 || end > n || end - digits < (start < 0 ? 0 : start)) return "the digits lie outside the text";
        uint64_t magnitude = 0;
        for (int i = end - digits; i < end; ++i) {
            if (text[i] < L'0' || text[i] > L'9') return "a non-digit among the digits";
            magnitude = magnitude * 10u + static_cast<uint64_t>(text[i] - L'0');
        }
        if (end < n && text[end] >= L'0' && text[end] <= L'9') return "the number ends before its last digit";
        int minus = 0;
        for (int i = end - digits - 1; i >= (start < 0 ? 0 : start) && (text[i] == L'-' || text[i] == L'+'); --i)
            minus += text[i] == L'-';
        const uint64_t expected = minus % 2 ? 0u - magnitude : magnitude;
        if (static_cast<uint64_t>(value) != expected) return "value " + std::to_string(value) + " in " + Show(text);
        if (flags == 0 && static_cast<size_t>(end - digits) != firstDigit) return "not the first number";
    }
    if (text.find_first_not_of(L"0123456789-+'\"<>\\ a") == std::wstring::npos) {
        int narrowEnd = -7;
        int narrowDigits = -7;
        if (C_String(std::string(text.begin(), text.end()).c_str())
                    .EncloseInt64(start, &narrowEnd, flags, &narrowDigits) != value ||
            narrowEnd != end || narrowDigits != digits)
            return "the narrow form disagrees on " + Show(text);
    }
    return "";
}

std::vector<std::wstring> Items(const kovra::C_WArrayString& items) {
    std::vector<std::wstring> texts;
    for (int i = 0; i < items.Length(); ++i) texts.push_back(items[i].GetString());
    return texts;
}

const std::vector<std::wstring> kShellPieces = {L"a", L"bc", L" ", L"  ", L"\t", L"\"",   L"\\\"", L"\\", L"`",
                                                L"$", L"$(", L")", L"${", L"}",  L"日本", L"\n",   L"x y"};

// The splitters' words are pieces of the line, in its order.
std::string SplitterCase(Rng& rng) {
    const std::wstring line = rng.Text(kShellPieces, 14);
    const bool ex = rng.OneIn(2);
    const std::vector<std::wstring> words = Items(
        ex ? kovra::ShellMain::getCommandLineToArrayEx(C_WString(line.c_str()), static_cast<int>(rng.Below(2)),
                                                       static_cast<int>(rng.Below(2)), static_cast<int>(rng.Below(2)))
           : kovra::ShellMain::getCommandLineToArray(C_WString(line.c_str())));
    if (words.size() > line.size() + 1) return "more words than characters";
    size_t from = 0;
    for (const auto& word : words) {
        const size_t at = line.find(word, from);
        if (at == std::wstring::npos) return "the word " + Show(word) + " is not in order in " + Show(line);
        from = at + word.size();
    }
    return "";
}

// ShellMain's expansion over arguments that name set, unset, empty and
// self-referring variables, with unclosed delimiters (no command is ever
// complete, so none runs): it ends, and it leaves text without '$' or
// '`' exactly as it was.
std::string ShellMainCase(Rng& rng, GuardedPool& pool) {
    static const std::vector<std::wstring> pieces = {L"a",
                                                     L" ",
                                                     L"\"",
                                                     L"\\",
                                                     L"$",
                                                     L"${",
                                                     L"}",
                                                     L"${VREK_STRESS_A}",
                                                     L"${VREK_STRESS_B}",
                                                     L"${VREK_STRESS_UNSET}",
                                                     L"${}",
                                                     L"\t",
                                                     L"\\\"",
                                                     L"\x65e5"};
    std::vector<std::wstring> args{L"prog"};
    for (uint32_t n = rng.Below(5); n > 0; --n) args.push_back(rng.Text(pieces, 6));
    if (rng.OneIn(8)) args.push_back(L"`unclosed");
    // Self-reference is costly (expanded up to the limit): now and then.
    if (rng.OneIn(40)) args.push_back(L"${VREK_STRESS_LOOP}");
    pool.Reset();
    wchar_t** argv = pool.Argv(args) + 1;  // with the program name this time
    kovra::ShellMain shell;
    const int result = shell.shell_start(static_cast<int>(args.size()), const_cast<const wchar_t**>(argv));
    if (result != 0)
        return result == 1 || result == -1 ? (shell.hasError() ? "" : "a failure without its text")
                                           : "result " + std::to_string(result);
    const int argc = shell.getArgc();
    wchar_t** out = shell.getArgv();
    if (argc < 1 || !out || out[argc] != nullptr || std::wstring(out[0]) != L"prog") return "a broken vector";
    bool special = false;
    for (const auto& a : args) special = special || a.find_first_of(L"$`") != std::wstring::npos;
    if (!special && std::vector<std::wstring>(out, out + argc) != args) return "plain arguments changed";
    const int start = static_cast<int>(rng.Below(static_cast<uint32_t>(argc) + 4)) - 2;
    shell.getConcatArgv(start, C_WString(rng.Text(kShellPieces, 8).c_str()), static_cast<int>(rng.Below(2)));
    return "";
}

// Settings files of hostile content, narrow and UTF-16: a value set is read
// back (the format drops its leading blanks and "="), a refused change
// leaves the file as it was, and no other key changes.
struct NarrowIni {
    using File = kovra::C_IniFile;
    using Str = C_String;
    using Ch = char;
    // 日 as its Shift_JIS bytes, the rest as ASCII.
    static std::string Encode(const std::wstring& units) {
        std::string bytes;
        for (wchar_t c : units) bytes += c == L'日' ? std::string("\x93\xfa") : std::string(1, static_cast<char>(c));
        return bytes;
    }
    static Str Make(const std::wstring& text) { return Str(Encode(text).c_str()); }
    static std::string Of(const Str& s) { return Bytes(s); }
};

struct WideIni {
    using File = kovra::C_WIniFile;
    using Str = C_WString;
    using Ch = wchar_t;
    static Str Make(const std::wstring& text) { return Str(text.c_str()); }
    static std::string Encode(const std::wstring& units) {
        return std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2);
    }
    static std::string Of(const Str& s) { return testsupport::Narrow(s.GetString()); }
};

// The file's bytes replaced (cheaper than creating it anew).
bool Overwrite(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size() && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

// Keys that lines of the file can define, then keys that the format
// cannot hold (SetStr must refuse them).
const std::vector<std::wstring> kKeys = {L"a", L"b", L"key", L"日", L"a b", L"#a", L"k=", L""};
const size_t kDefinableKeys = 4;

template <typename Kind>
std::string SettingsCase(Rng& rng, const std::wstring& path) {
    static const std::vector<std::wstring> pieces = {
        L"a", L"b",    L"key", L" ",  L"  ", L"\t", L"=",  L"==",
        L"#", L"\r\n", L"\n",  L"\r", L"x",  L"1",  L"日", std::wstring(1, L'\0')};
    std::wstring content;
    for (uint32_t lines = rng.Below(8); lines > 0; --lines) {
        content += rng.Pick(kKeys) + rng.Text(pieces, 6);
        if (rng.OneIn(20)) content += std::wstring(250 + rng.Below(40), L'v');
        content += rng.Pick(std::vector<std::wstring>{L"\r\n", L"\n", L"\r", L""});
    }
    std::string bytes = Kind::Encode(content);
    if (rng.OneIn(10)) bytes += 'z';  // a stray byte (odd length in UTF-16)
    if (!Overwrite(path, bytes)) return "cannot write the file";

    // Each key's value, or "-" when it is not defined.
    auto look = [](typename Kind::File& ini, const std::wstring& key) {
        ini.ClearLastError();
        const std::string value = Kind::Of(ini.GetStr(Kind::Make(key)));
        return ini.IsLastError() ? std::string("-") : "=" + value;
    };
    auto lookAll = [&look](typename Kind::File& ini) {
        std::vector<std::string> seen;
        for (size_t i = 0; i < kDefinableKeys; ++i) seen.push_back(look(ini, kKeys[i]));
        return seen;
    };
    typename Kind::File ini(path.c_str());
    if (!ini.IsOpen()) return "cannot open the file";
    const std::vector<std::string> before = lookAll(ini);
    const std::wstring keyText = rng.Pick(kKeys);
    const bool definedBefore = look(ini, keyText) != "-";
    const std::wstring valueText = rng.Text(pieces, 5);
    const bool setting = !rng.OneIn(3);
    ini.ClearLastError();
    if (setting)
        ini.SetStr(Kind::Make(keyText), Kind::Make(valueText));
    else if (ini.DeleteStr(Kind::Make(keyText)) != (definedBefore ? 1 : 0))
        return "DeleteStr answered wrong";
    const bool refused = ini.IsLastError() != 0;
    if (ini.IsCommit()) ini.Commit();

    // Read from the file now, nothing being pending.
    const std::vector<std::string> after = lookAll(ini);
    const std::string now = look(ini, keyText);
    if (refused && testsupport::ReadFileBytes(path) != bytes) return "a refused change altered the file";
    for (size_t i = 0; i < kDefinableKeys; ++i) {
        if (kKeys[i] == keyText || after[i] == before[i]) continue;
        return "key " + Kind::Of(Kind::Make(kKeys[i])) + " changed with " + (setting ? "a set of " : "a delete of ") +
               Kind::Of(Kind::Make(keyText)) + " in " + ShowBytes(bytes);
    }
    if (setting && !refused) {
        size_t kept = 0;
        while (kept < valueText.size() &&
               (valueText[kept] == L' ' || valueText[kept] == L'\t' || valueText[kept] == L'='))
            ++kept;
        const std::string expected = "=" + Kind::Of(Kind::Make(valueText.substr(kept)));
        if (now != expected) return "the value set is read back as " + ShowBytes(now) + " in " + ShowBytes(bytes);
    }
    return "";
}

std::string Base64Word(Rng& rng, std::string* decoded) {
    std::string bytes = rng.Bytes(60);
    *decoded += bytes;
    return Bytes(System::base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<unsigned int>(bytes.size()), true, true));
}

// Encoded words between plain text decode back to their bytes, zero bytes
// included; random text around the frame's pieces decodes without harm, and
// text without a frame stays as it is.
std::string Base64Case(Rng& rng, GuardedPool& pool) {
    static const std::vector<std::string> plain = {"a", " ", "Subject: ", "b=c", "\r\n", "x?y"};
    std::string text;
    std::string expected;
    for (uint32_t words = 1 + rng.Below(3); words > 0; --words) {
        const std::string before = plain[rng.Below(static_cast<uint32_t>(plain.size()))];
        text += before;
        expected += before;
        text += Base64Word(rng, &expected);
    }
    const std::string decoded = Bytes(System::base64_decode(CString(text)));
    if (decoded != expected) return "decoded " + ShowBytes(decoded) + " from " + ShowBytes(text);

    static const std::vector<std::string> garbage = {"=?ISO-2022-JP?B?",
                                                     "=?iso-2022-jp?b?",
                                                     "?=",
                                                     "?",
                                                     "=",
                                                     "QUJD",
                                                     "A",
                                                     "+/",
                                                     "\x80",
                                                     "=?ISO-2022-JP?Q?",
                                                     "\x1b$B"};
    std::string noise;
    for (uint32_t n = rng.Below(10); n > 0; --n) noise += garbage[rng.Below(static_cast<uint32_t>(garbage.size()))];
    if (rng.OneIn(3)) noise += rng.Bytes(20);
    const std::string out = Bytes(System::base64_decode(CString(noise)));
    std::string lower = noise;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    const size_t header = lower.find("=?iso-2022-jp?b?");
    if ((header == std::string::npos || header + 16 >= lower.size()) && out != noise)
        return "text without a frame changed";
    if (out.size() > noise.size()) return "decoding grew the text";

    const std::string data = rng.Bytes(40);
    pool.Reset();
    const unsigned char* guarded = pool.Place(data.data(), data.size());
    const std::string encoded =
        Bytes(System::base64_encode(guarded, static_cast<unsigned int>(data.size()), false, false));
    System::crc16(guarded, static_cast<int>(data.size()));
    const std::string upToZero = data.substr(0, data.find('\0'));
    if (Bytes(System::base64_encode(CString(data), false, false)) !=
        Bytes(System::base64_encode(reinterpret_cast<const unsigned char*>(upToZero.data()),
                                    static_cast<unsigned int>(upToZero.size()), false, false)))
        return "the text form does not stop at the first zero byte";
    if (encoded.size() != (data.size() + 2) / 3 * 4) return "an encoding of the wrong length";
    return "";
}

// Quoted-printable of any bytes, escaped at random and broken by soft line
// breaks, decodes back to them (up to the first zero byte); random escapes
// decode without harm and never grow the text.
std::string QuotedPrintableCase(Rng& rng) {
    static const char hex[] = "0123456789ABCDEFabcdef";
    const std::string data = rng.Bytes(80);
    std::string text;
    for (unsigned char c : data) {
        if (c >= 33 && c <= 126 && c != '=' && !rng.OneIn(4)) {
            text += static_cast<char>(c);
        } else {
            text += '=';
            text += hex[(c >> 4) + (c >> 4 >= 10 && rng.OneIn(2) ? 6 : 0)];
            text += hex[(c & 15) + ((c & 15) >= 10 && rng.OneIn(2) ? 6 : 0)];
        }
        if (rng.OneIn(15)) text += rng.OneIn(2) ? "=\r\n" : "=\n";
    }
    const std::string decoded = Bytes(System::quoted_printable_decode(CString(text)));
    if (decoded != data.substr(0, data.find('\0'))) return "decoded " + ShowBytes(decoded) + " from " + ShowBytes(text);

    static const std::vector<std::string> pieces = {"=",   "=1B$B", "=1B(B", "=\r\n", "=\n",  "=4",  "=41",
                                                    "=G1", "\r",    "a",     "=\r",   "\x1b", "=00", "$B"};
    std::string noise;
    for (uint32_t n = rng.Below(12); n > 0; --n) noise += pieces[rng.Below(static_cast<uint32_t>(pieces.size()))];
    if (Bytes(System::quoted_printable_decode(CString(noise))).size() > noise.size()) return "decoding grew the text";
    return "";
}

// Valid Shift_JIS text (ASCII, CR LF pairs, half-width katakana, every
// lead byte that JIS X 0208 rows reach) survives the trips through JIS and
// EUC-JP; any bytes pass every converter without harm.
std::string ConvertersCase(Rng& rng) {
    std::string sjis;
    for (uint32_t n = rng.Below(40); n > 0; --n) {
        switch (rng.Below(5)) {
        case 0:
            sjis += static_cast<char>(0x20 + rng.Below(0x5F));
            break;
        case 1:
            sjis += "\r\n";
            break;
        case 2:
            sjis += static_cast<char>(0xA1 + rng.Below(0x3F));
            break;
        default: {
            const uint32_t lead = rng.Below(0x2F);
            sjis += static_cast<char>(lead < 0x1F ? 0x81 + lead : 0xE0 + lead - 0x1F);
            const uint32_t trail = rng.Below(0xBC);
            sjis += static_cast<char>(trail < 0x3F ? 0x40 + trail : 0x80 + trail - 0x3F);
        }
        }
    }
    const C_String text = CString(sjis);
    const std::string viaJis = Bytes(System::jis_to_sjis(System::sjis_to_jis(text, 1)));
    if (viaJis != sjis) return "through JIS " + ShowBytes(sjis) + " became " + ShowBytes(viaJis);
    const std::string viaEuc = Bytes(System::euc_to_sjis(System::sjis_to_euc(text)));
    if (viaEuc != sjis) return "through EUC-JP " + ShowBytes(sjis) + " became " + ShowBytes(viaEuc);

    // Random bytes, or pieces of the formats cut anywhere: each result stays
    // within its bound of output bytes per input byte.
    static const std::vector<std::string> pieces = {"\x1b$B", "\x1b$@", "\x1b(J", "\x1b(B", "\x1b", "\r\n", "\n",
                                                    "\x8e",   "\x8a",   "\xbf",   "\xb1",   "!",    "a"};
    std::string noise;
    if (rng.OneIn(2)) {
        for (uint32_t n = rng.Below(16); n > 0; --n) noise += rng.Pick(pieces);
    } else {
        noise = rng.Bytes(40);
        if (rng.OneIn(2)) noise = (rng.OneIn(2) ? "\x1b$B" : "\x1b$@") + noise;
    }
    const C_String bad = CString(noise);
    const size_t n = noise.size();
    if (Bytes(System::sjis_to_jis(bad, static_cast<int>(rng.Below(2)))).size() > 4 * n + 3 ||
        Bytes(System::jis_to_sjis(bad)).size() > 2 * n + 3 || Bytes(System::euc_to_sjis(bad)).size() > n + 3 ||
        Bytes(System::sjis_to_euc(bad)).size() > 2 * n + 3)
        return "a conversion ran away on " + ShowBytes(noise);
    return "";
}

// A line's text as the reader gives it: the bytes, or the UTF-16 units up to
// the first zero unit.
template <typename Line>
Line ExpectedLine(const std::string& bytes);
template <>
C_String ExpectedLine<C_String>(const std::string& bytes) {
    return CString(bytes);
}
template <>
C_WString ExpectedLine<C_WString>(const std::string& bytes) {
    std::wstring units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const wchar_t c =
            static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (c == 0) break;
        units += c;
    }
    return C_WString(units.c_str());
}

int ReadLineOf(kovra::C_FileStream& file, C_String* line) { return file.ReadLineA(line); }
int ReadLineOf(kovra::C_FileStream& file, C_WString* line) { return file.ReadLineW(line); }
bool SameText(const C_String& a, const C_String& b) { return Bytes(a) == Bytes(b); }
bool SameText(const C_WString& a, const C_WString& b) { return std::wstring(a.GetString()) == b.GetString(); }

// Line reading over any bytes: each line is the file's units up to a line
// feed, a carriage return and line feed, a lone carriage return or the end,
// the position moves just past that end, and the end of the file is -1.
template <typename Line>
std::string LinesCase(Rng& rng, kovra::C_FileStream& file, int unit) {
    static const std::vector<std::string> pieces = {"a", "xyz", "\r", "\n", "\r\n", std::string(1, '\0'), "\xff"};
    std::string bytes;
    for (uint32_t n = rng.Below(12); n > 0; --n) {
        if (rng.OneIn(12)) {
            const uint32_t length = rng.OneIn(20) ? 70000 + rng.Below(70000) : 250 + rng.Below(1100);
            bytes += std::string(length, 'L');
        }
        const std::string& piece = pieces[rng.Below(static_cast<uint32_t>(pieces.size()))];
        for (char c : piece) {
            bytes += c;
            if (unit == 2) bytes += '\0';
        }
    }
    if (unit == 2 && rng.OneIn(4)) bytes += rng.OneIn(2) ? '\r' : 'q';  // half a unit at the end
    if (file.Seek64(0, SEEK_SET) != 0 ||
        file.Write(bytes.data(), static_cast<int>(bytes.size())) != static_cast<int>(bytes.size()) ||
        !file.SetEndFile() || file.Seek64(0, SEEK_SET) != 0)
        return "cannot prepare the file";

    const size_t u = static_cast<size_t>(unit);
    auto unitAt = [&](size_t at) {
        return unit == 1 ? static_cast<unsigned char>(bytes[at])
                         : static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
    };
    size_t position = 0;
    for (int lines = 0;; ++lines) {
        Line line;
        const int result = ReadLineOf(file, &line);
        if (position + u > bytes.size()) return result == -1 ? "" : "a line after the end";
        size_t end = position;
        while (end + u <= bytes.size() && unitAt(end) != '\r' && unitAt(end) != '\n') end += u;
        size_t next = end;
        if (end + u <= bytes.size())
            next += unitAt(end) == '\r' && end + 2 * u <= bytes.size() && unitAt(end + u) == '\n' ? 2 * u : u;
        if (result != static_cast<int>((end - position) / u))
            return "line " + std::to_string(lines) + " counts " + std::to_string(result) + " units";
        if (file.GetPos64() != static_cast<int64_t>(next))
            return "the position after line " + std::to_string(lines) + " is wrong";
        if (!SameText(line, ExpectedLine<Line>(bytes.substr(position, end - position))))
            return "line " + std::to_string(lines) + " has the wrong text";
        position = next;
    }
}

// The environment the expansion cases name.
struct ShellVariables {
    ShellVariables() {
        SetEnvironmentVariableW(L"VREK_STRESS_A", L"a b");
        SetEnvironmentVariableW(L"VREK_STRESS_B", L"${VREK_STRESS_A}-\"q\"");
        SetEnvironmentVariableW(L"VREK_STRESS_LOOP", L"x${VREK_STRESS_LOOP}");
    }
    ~ShellVariables() {
        for (const wchar_t* name : {L"VREK_STRESS_A", L"VREK_STRESS_B", L"VREK_STRESS_LOOP"})
            SetEnvironmentVariableW(name, nullptr);
    }
};

}  // namespace

TEST(BadInput, EncloseInt64FindsTheFirstNumberOrNone) {
    EXPECT_EQ(0, stress::Fuzz("EncloseInt64", stress::Cases(), EncloseCase));
}

TEST(BadInput, TheShellSplittersKeepTheLinesWordsInOrder) {
    EXPECT_EQ(0, stress::Fuzz("ShellMain splitters", stress::Cases(), SplitterCase));
}

TEST(BadInput, ShellMainExpansionEndsAndLeavesPlainArgumentsAlone) {
    ShellVariables variables;
    GuardedPool pool;
    EXPECT_EQ(0,
              stress::Fuzz("ShellMain expansion", stress::Cases(), [&](Rng& rng) { return ShellMainCase(rng, pool); }));
}

TEST(BadInput, SettingsFilesReadBackWhatWasSetAndNothingElseChanges) {
    testsupport::TempDir dir;
    EXPECT_EQ(0, stress::Fuzz("settings files, narrow and UTF-16", stress::Cases(), [&](Rng& rng) {
                  return rng.OneIn(2) ? SettingsCase<NarrowIni>(rng, dir.File(L"s.ini"))
                                      : SettingsCase<WideIni>(rng, dir.File(L"w.ini"));
              }));
}

TEST(BadInput, Base64AndQuotedPrintableDecodeWhatWasEncoded) {
    GuardedPool pool;
    EXPECT_EQ(0, stress::Fuzz("Base64", stress::Cases(), [&](Rng& rng) { return Base64Case(rng, pool); }));
    EXPECT_EQ(0, stress::Fuzz("quoted-printable", stress::Cases(), QuotedPrintableCase));
}

TEST(BadInput, JapaneseConvertersRoundTripValidText) {
    EXPECT_EQ(0, stress::Fuzz("Shift_JIS/JIS/EUC-JP", stress::Cases(), ConvertersCase));
}

TEST(BadInput, LineReadingRebuildsAnyFile) {
    testsupport::TempDir dir;
    kovra::C_FileStream file(C_WString(dir.File(L"lines.bin").c_str()), _O_BINARY | _O_CREAT | _O_RDWR);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(0, stress::Fuzz("ReadLineA and ReadLineW", stress::Cases(), [&](Rng& rng) {
                  return rng.OneIn(2) ? LinesCase<C_String>(rng, file, 1) : LinesCase<C_WString>(rng, file, 2);
              }));
}
