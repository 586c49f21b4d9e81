#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "kovra/C_String.h"
#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"

namespace kovra {

// One file opened through the C runtime's descriptor functions (_wsopen_s,
// _read, _write, _lseek, _locking, _chsize, _commit): byte, word and
// double-word reads and writes in either byte order, narrow and UTF-16 line
// reading and writing, byte-range locks with an optional wait, truncation,
// and removal of the file when it is closed.
//
// The file is always opened deny-write (_SH_DENYWR): other openers may read
// it but not write it while this object has it open. The object owns its
// descriptor unless it was handed one with SetHandle(fd, 0). Failures give 0
// (-1 for positions and lines) and leave the object as it was; nothing is
// thrown.
//
// Choices where the behaviour was open:
// - Line reading ends a line at a line feed, at a carriage return and line
//   feed, or at a lone carriage return (which counts as one unit), so a
//   carriage return that is not followed by a line feed never swallows the
//   next character; a carriage return at the very end of the file ends the
//   last line without moving the position past the end.
// - Line reading reads 260 units first and then ever larger chunks (up to
//   64 KiB), into a buffer that doubles, so a line of many megabytes costs
//   few reads and no quadratic copying; the position is set back to just
//   after the line's end whatever was read ahead.
// - Line reading takes the file's bytes as they are whatever mode the file
//   was opened in (_O_TEXT, _O_U16TEXT, ...), so the line ends and the
//   position after a line are the same as in binary mode (and a Ctrl+Z byte
//   is part of a line, not the end of the file). A descriptor this object
//   opened is switched to binary for the read and put back; one handed in
//   with SetHandle, which others may use at the same time (descriptor 0
//   under stdin), keeps its mode throughout: the line is read through a
//   duplicate (_dup), which shares its position. A duplicate that cannot be
//   made fails the read (-1).
// - ReadLineW over a file of odd length ignores the last, incomplete byte: a
//   line ends before it, and a read that finds only that byte is the end of
//   the file.
// - A line's result counts its units in the file; ReadLineA keeps zero bytes
//   inside the line, ReadLineW's text ends at a zero unit (a C_WString holds
//   none), so callers computing file offsets use the result.
// - Big-endian word and double-word reads that meet the end of the file
//   part-way leave the missing low bytes 0 and return the bytes read.
// - SetEndFile refuses (0) a length that _chsize cannot take (negative, or
//   2 GiB and more) instead of cutting it to 32 bits, which would shorten
//   the file to a wrong length.
// - Lock measures its wait with timeGetTime in a wrap-safe way; any
//   negative time-out waits without limit; a negative count is refused (1).
class KOVRA_API C_FileStream {
public:
    C_FileStream();
    C_FileStream(const C_WString& name, const int& flags);
    virtual ~C_FileStream();

    // 0 when the name is empty, the object is already open or _wsopen_s
    // fails; else 1. `flags` are the _O_* flags; `permission` is used when
    // the file is created (_S_IREAD | _S_IWRITE in the second form).
    int Open(const C_WString& name, const int& flags, const int& permission);
    int Open(const C_WString& name, const int& flags);
    int ReOpen(const C_WString& name, const int& flags);
    // 0 when closed. Closes an owned descriptor (1 when _close succeeded)
    // and then removes the file when asked to; a descriptor that is not
    // owned is left open (1). The name is cleared either way.
    int Close();
    int IsOpen() const { return m_fd != -1 ? 1 : 0; }
    // Ignored for -1; otherwise closes the current file and adopts `fd`.
    void SetHandle(int fd, const int& owns);
    void DeleteOnClose(const int& flag) { m_deleteOnClose = flag; }
    C_WString GetFileName() { return m_name; }
    // 1 when open and _fstat64i32 succeeded.
    int GetStat(struct stat& st) const;

    // Reading and writing; all give 0 when the object is closed.
    int Write(const void* data, const int& size);
    int Read(void* buffer, const int& size);
    int WriteStringA(const C_String& s);
    int WriteStringA(const C_String& s, int n);
    // UTF-16 code units, little-endian; the result counts characters.
    int WriteStringW(const C_WString& s);
    int WriteStringW(const C_WString& s, int n);
    int WriteString(const C_WString& s) { return WriteStringW(s); }
    int WriteString(const C_WString& s, int n) { return WriteStringW(s, n); }
    // The text and "\r\n": bytes (A) or characters (W) written.
    int WriteLineA(const C_String& s);
    int WriteLineW(const C_WString& s);
    int WriteLine(const C_WString& s) { return WriteLineW(s); }
    int WriteByte(int value, const bool& bigEndian);
    int WriteWord(int value, const bool& bigEndian);
    int WriteDword(int value, const bool& bigEndian);
    int ReadByte(int* value, const bool& bigEndian);
    int ReadWord(int* value, const bool& bigEndian);
    int ReadDword(int* value, const bool& bigEndian);
    // The next line from the current position: its length in bytes (A) or
    // characters (W), 0 for an empty line; -1 at the end of the file or for
    // a null `line` (which is then left unchanged).
    int ReadLineA(C_String* line);
    int ReadLineW(C_WString* line);
    int ReadLine(C_WString* line) { return ReadLineW(line); }
    // 1 when _commit forced the data to disk.
    int Flush();

    // Positions. Seek and Seek64 give 0 on failure as for position 0.
    int Seek(const int& offset, const int& origin);
    int64_t Seek64(const int64_t& offset, const int& origin);
    int GetPos() const;  // -1 when closed
    int64_t GetPos64() const;
    unsigned long GetSize() const;
    uint64_t GetSize64() const;
    // Cuts (or extends) the file to `length` bytes; 1 on success.
    int SetEndFile(const int64_t& length) const;
    int SetEndFile() const;  // at the current position

    // Byte-range locks. Lock: 0 locked, 1 refused (or closed), 2 time-out.
    void SetLockWait(bool wait, int timeoutMs);
    int IsLockWait() const { return m_lockWait ? 1 : 0; }
    int GetLockTimeout() const { return m_lockTimeout; }
    int Lock(int count);    // from the current position
    int Unlock(int count);  // 1 on success
    // At `position` from the start; the file position is kept.
    int Lock(int64_t position, int count);
    int Unlock(int64_t position, int count);

private:
    C_FileStream(const C_FileStream&) = delete;
    C_FileStream& operator=(const C_FileStream&) = delete;

    void _Init();
    // Reads the next line of `unit`-byte code units into `bytes` (without
    // its end) and moves past the line's end; the line's length in units,
    // or -1 at the end of the file.
    int ReadLineBytes(int unit, std::string* bytes);
    // The result of `count` one-byte reads (big-endian) or one native read.
    int ReadBytes(int* value, int count, const bool& bigEndian);
    int WriteBytes(int value, int count, const bool& bigEndian);
    // `operation` on `count` bytes at `position`, the file position kept;
    // `failure` when closed or the position cannot be reached.
    int AtPosition(int64_t position, int count, int (C_FileStream::*operation)(int), int failure);

    int m_fd;
    int m_owns;
    int m_deleteOnClose;
    unsigned char m_lockWait;
    int m_lockTimeout;
    C_WString m_name;
};

}  // namespace kovra
