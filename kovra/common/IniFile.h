#pragma once

#include <stdio.h>
#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kovra/C_FileStream.h"
#include "kovra/C_String.h"
#include "kovra/C_Time.h"
#include "kovra/C_WString.h"
#include "kovra/common/TextAlgorithms.h"

// The settings file shared by C_IniFile (narrow text) and C_WIniFile
// (UTF-16LE text): lines of key = value, one buffered change, commit and
// roll-back, whole-file locking. See C_IniFile.h for the format.
namespace kovra {
namespace common {

struct NarrowIniText {
    using Ch = char;
    using Str = C_String;
    static constexpr int kUnit = 1;
    static int ReadLine(C_FileStream& file, Str* line) { return file.ReadLineA(line); }
    static int ToInt(const Str& s) { return atoi(s.GetString()); }
};

struct WideIniText {
    using Ch = wchar_t;
    using Str = C_WString;
    static constexpr int kUnit = 2;
    static int ReadLine(C_FileStream& file, Str* line) { return file.ReadLineW(line); }
    static int ToInt(const Str& s) { return _wtoi(s.GetString()); }
};

template <typename Text>
class IniFile {
public:
    using Ch = typename Text::Ch;
    using Str = typename Text::Str;

    // Pending kinds.
    static constexpr int kAppend = 1;
    static constexpr int kReplace = 0;
    static constexpr int kDelete = -1;
    static constexpr int kDeleteAll = -2;

    IniFile() : m_position(0), m_shift(0), m_oldLength(0), m_kind(0), m_pending(0), m_lastError(0), m_lockedSize(-1) {}
    explicit IniFile(const C_WString& name) : IniFile() { Open(name); }
    // Commits the pending change, unlocks and closes.
    virtual ~IniFile() { Close(); }

    // Commits what is pending to the file open so far, then opens `name`
    // (created when missing, never truncated); 1 on success.
    int Open(const C_WString& name) {
        Close();
        m_name = name;
        if (m_file.Open(name, kOpenFlags)) return 1;
        m_lastError = 1;
        return 0;
    }
    // Commits what is pending, unlocks and closes.
    int Close() {
        if (m_pending) Commit();
        Unlock();
        return m_file.Close();
    }
    int IsOpen() const { return m_file.IsOpen(); }
    C_WString GetIniName() { return m_name; }

    // The key's value; the empty string and the last-error flag when the
    // key is not defined.
    Str GetStr(const Str& key) {
        Str value;
        ReadValue(key, &value);
        return value;
    }
    Str GetStr(int key) { return GetStr(Number(key)); }
    // -1 when the key is not defined or its value is empty.
    int GetInt(const Str& key) {
        m_lastError = 0;
        Str value;
        if (!ReadValue(key, &value) || value.Empty()) return -1;
        return Text::ToInt(value);
    }
    int GetInt(int key) { return GetInt(Number(key)); }
    // 1 when the key is defined; leaves the last-error flag clear.
    int IsExistStr(const Str& key) {
        Str value;
        int defined = ReadValue(key, &value);
        m_lastError = 0;
        return defined;
    }
    int IsExistStr(int key) { return IsExistStr(Number(key)); }

    void SetStr(const Str& key, const Str& value) { WriteValue(key, value); }
    void SetStr(const Str& key, int value) { WriteValue(key, Number(value)); }
    void SetStr(int key, const Str& value) { WriteValue(Number(key), value); }
    void SetStr(int key, int value) { WriteValue(Number(key), Number(value)); }

    int DeleteStr(const Str& key) {
        if (!m_file.IsOpen() || key.Empty()) return Fail();
        if (m_pending) Commit();
        Found found;
        if (!FindKey(key, &found)) return Fail();
        Pend(kDelete, key, Str(), found.lineStart, found.lineLength, 1);
        return 1;
    }
    int DeleteStr(int key) { return DeleteStr(Number(key)); }
    int DeleteAllStr() {
        if (!m_file.IsOpen()) return Fail();
        if (m_pending) Commit();
        Pend(kDeleteAll, Str(), Str(), 0, 0, 0);
        return 1;
    }

    int Commit();
    int RollBack() {
        if (!m_pending) return Fail();
        m_pending = 0;
        return 1;
    }
    int IsCommit() const { return m_pending; }
    // Drops what is pending and empties the file at once.
    void ClearAll() {
        m_pending = 0;
        m_file.SetEndFile(0);
    }

    // 3 when already locked; else locks bytes 0 up to the current size,
    // waiting up to `timeoutMs` (-1 without limit): 0 locked, 1 refused,
    // 2 time-out.
    int Lock(int timeoutMs) {
        if (m_lockedSize != -1) return 3;
        uint64_t size = m_file.GetSize64();
        int count = size > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
        m_file.SetLockWait(true, timeoutMs);
        int result = m_file.Lock(static_cast<int64_t>(0), count);
        if (result == 0)
            m_lockedSize = count;
        else
            m_file.SetLockWait(false, m_file.GetLockTimeout());
        return result;
    }
    void Unlock() {
        if (m_lockedSize == -1) return;
        m_file.Unlock(static_cast<int64_t>(0), m_lockedSize);
        m_file.SetLockWait(false, m_file.GetLockTimeout());
        m_lockedSize = -1;
    }
    int IsLocked() const { return m_lockedSize != -1 ? 1 : 0; }

    int IsLastError() const { return m_lastError; }
    void ClearLastError() { m_lastError = 0; }

    // The file's last modification time; time 0 and the last-error flag
    // when it cannot be read.
    C_Time GetLastModified() {
        struct stat st;
        if (!m_file.GetStat(st)) {
            Fail();
            return C_Time(0);
        }
        return C_Time(static_cast<int64_t>(st.st_mtime));
    }

private:
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    static constexpr int kOpenFlags = 0x8102;  // _O_BINARY | _O_CREAT | _O_RDWR
    static constexpr int kUnit = Text::kUnit;

    // Where a key was found: its line's offset in the file and length in
    // units (without the line end), the value's offset within the line.
    struct Found {
        int lineStart;
        int lineLength;
        int valueOffset;
        Str line;
    };

    static bool IsBlank(Ch c) { return c == Ch(' ') || c == Ch('\t'); }
    static bool IsLineEnd(Ch c) { return c == Ch('\r') || c == Ch('\n'); }

    static Str Number(int n) {
        Str text;
        text = n;
        return text;
    }

    int Fail() {
        m_lastError = 1;
        return 0;
    }

    // A key is written as the start of a line and found again up to the
    // first blank or "=", so it may hold neither, nor a line end, and may
    // not start a comment; a value may hold no line end.
    static bool CanWrite(const Str& key, const Str& value) {
        const Ch* k = key.GetString();
        if (key.Empty() || k[0] == Ch('#')) return false;
        for (int i = 0; i < key.Length(); ++i)
            if (IsBlank(k[i]) || k[i] == Ch('=') || IsLineEnd(k[i])) return false;
        const Ch* v = value.GetString();
        for (int i = 0; i < value.Length(); ++i)
            if (IsLineEnd(v[i])) return false;
        return true;
    }

    void Pend(int kind, const Str& key, const Str& value, int position, int oldLength, int shift) {
        m_kind = kind;
        m_key = key;
        m_value = value;
        m_position = position;
        m_oldLength = oldLength;
        m_shift = shift;
        m_pending = 1;
    }

    // The first line that defines `key`.
    bool FindKey(const Str& key, Found* found) {
        if (m_file.Seek64(0, SEEK_SET) != 0) return false;
        for (;;) {
            int64_t start = m_file.GetPos64();
            Str line;
            int length = Text::ReadLine(m_file, &line);
            if (length < 0 || start > INT_MAX) return false;
            const Ch* s = line.GetString();
            int n = line.Length();
            if (n == 0 || s[0] == Ch('#') || IsBlank(s[0])) continue;
            int keyEnd = 0;
            while (keyEnd < n && !IsBlank(s[keyEnd]) && s[keyEnd] != Ch('=')) ++keyEnd;
            if (keyEnd != key.Length() || !TextEqual(s, key.GetString(), keyEnd)) continue;
            // Blanks and other text up to the first "=", then "=" and
            // blanks; the value starts at the first unit that is neither.
            int at = keyEnd;
            int equals = 0;
            while (at < n) {
                if (s[at] == Ch('='))
                    ++equals;
                else if (!IsBlank(s[at]) && equals > 0)
                    break;
                ++at;
            }
            if (equals == 0) continue;  // no "=": the line does not define the key
            found->lineStart = static_cast<int>(start);
            found->lineLength = length;
            found->valueOffset = at;
            found->line = line;
            return true;
        }
    }

    // 1 with the value when the key is defined (the pending change counts);
    // else 0, the empty string and the last-error flag.
    int ReadValue(const Str& key, Str* value) {
        *value = Str();
        if (!m_file.IsOpen() || key.Empty()) return Fail();
        if (m_pending) {
            if (m_kind == kDeleteAll) return Fail();
            if (m_key.Equals(key)) {
                if (m_kind == kDelete) return Fail();
                *value = m_value;
                return 1;
            }
        }
        Found found;
        if (!FindKey(key, &found)) return Fail();
        *value = found.line.SubString(found.valueOffset);
        return 1;
    }

    void WriteValue(const Str& key, const Str& value) {
        if (!m_file.IsOpen() || !CanWrite(key, value)) {
            Fail();
            return;
        }
        if (m_pending) Commit();
        Found found;
        if (!FindKey(key, &found)) {
            // A UTF-16 file of odd length: the new line starts on a whole
            // unit, over the stray byte, so that it can be read back.
            uint64_t size = m_file.GetSize64();
            int end = static_cast<int>(size > static_cast<uint64_t>(INT_MAX) ? INT_MAX : size);
            Pend(kAppend, key, value, end - end % kUnit, 0, 0);
            return;
        }
        int oldLength = found.lineLength - found.valueOffset;
        Pend(kReplace, key, value, found.lineStart + found.valueOffset * kUnit, oldLength, value.Length() - oldLength);
    }

    void WriteUnits(const Ch* text, int count) { m_file.Write(text, count * kUnit); }

    // Everything from `from` to the end of the file.
    std::string ReadRest(int64_t from) {
        std::string rest;
        if (m_file.Seek64(from, SEEK_SET) != from) return rest;
        char chunk[65536];
        int got = 0;
        while ((got = m_file.Read(chunk, static_cast<int>(sizeof chunk))) > 0)
            rest.append(chunk, static_cast<size_t>(got));
        return rest;
    }

    // The unit just before `position` is a line end (or there is none).
    bool StartsLine(int position) {
        if (position < kUnit) return true;
        Ch before = 0;
        m_file.Seek64(position - kUnit, SEEK_SET);
        if (m_file.Read(&before, kUnit) != kUnit) return true;
        return IsLineEnd(before);
    }

    C_WString m_name;
    C_FileStream m_file;
    Str m_key;
    Str m_value;
    int m_position;
    int m_shift;
    int m_oldLength;
    int m_kind;
    int m_pending;
    int m_lastError;
    int m_lockedSize;
};

template <typename Text>
int IniFile<Text>::Commit() {
    if (!m_pending) return Fail();
    m_pending = 0;
    if (m_kind == kDeleteAll) {
        ClearAll();
        return 1;
    }
    std::string tail;
    if (m_shift != 0) tail = ReadRest(static_cast<int64_t>(m_position) + static_cast<int64_t>(m_oldLength) * kUnit);
    const Ch crlf[2] = {Ch('\r'), Ch('\n')};
    if (m_kind == kAppend) {
        const Ch separator[3] = {Ch(' '), Ch('='), Ch(' ')};
        bool needsLineEnd = !StartsLine(m_position);
        m_file.Seek64(m_position, SEEK_SET);
        if (needsLineEnd) WriteUnits(crlf, 2);
        WriteUnits(m_key.GetString(), m_key.Length());
        WriteUnits(separator, 3);
    } else {
        m_file.Seek64(m_position, SEEK_SET);
    }
    if (m_kind == kAppend || m_kind == kReplace) WriteUnits(m_value.GetString(), m_value.Length());
    if (m_kind == kAppend) WriteUnits(crlf, 2);
    if (m_shift != 0) {
        // A deleted line's end goes, and the empty lines right after it.
        size_t skip = 0;
        while (m_kind == kDelete && skip + kUnit <= tail.size()) {
            Ch unit = 0;
            tail.copy(reinterpret_cast<char*>(&unit), kUnit, skip);
            if (!IsLineEnd(unit)) break;
            skip += kUnit;
        }
        if (tail.size() > skip) m_file.Write(tail.data() + skip, static_cast<int>(tail.size() - skip));
        m_file.SetEndFile();
    }
    return 1;
}

}  // namespace common
}  // namespace kovra
