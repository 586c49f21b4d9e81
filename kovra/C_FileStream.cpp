#include "kovra/C_FileStream.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/locking.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <climits>
#include <cstdio>

namespace kovra {

namespace {

// Line reading: the first read takes 260 units, later reads grow to this.
const size_t kFirstLineChunkUnits = 260;
const size_t kMaxLineChunkBytes = 65536;

unsigned UnitAt(const std::string& bytes, size_t pos, int unit) {
    unsigned low = static_cast<unsigned char>(bytes[pos]);
    if (unit == 1) return low;
    return low | (static_cast<unsigned>(static_cast<unsigned char>(bytes[pos + 1])) << 8);
}

// The descriptor that line reading reads in binary mode. Text modes shrink
// a line end to one unit (and stop at Ctrl+Z) as they read, so the bytes read
// no longer count the file's bytes and a position computed from them lands
// before the line end. The object's own descriptor is switched while this
// lives and put back; one handed in with SetHandle may be shared (descriptor
// 0 under stdin, say), and another user of it must never see its mode
// change, so it is read through a duplicate, which shares the file position
// but has a mode of its own.
class BinaryReader {
public:
    BinaryReader(int fd, bool shared)
        : m_fd(shared ? _dup(fd) : fd), m_duplicate(shared), m_old(m_fd == -1 ? -1 : _setmode(m_fd, _O_BINARY)) {}
    ~BinaryReader() {
        if (m_duplicate) {
            if (m_fd != -1) _close(m_fd);
        } else if (m_old != -1 && m_old != _O_BINARY) {
            _setmode(m_fd, m_old);
        }
    }
    BinaryReader(const BinaryReader&) = delete;
    BinaryReader& operator=(const BinaryReader&) = delete;
    int Fd() const { return m_fd; }  // -1 when no duplicate could be made

private:
    int m_fd;
    bool m_duplicate;
    int m_old;
};

}  // namespace

C_FileStream::C_FileStream() : m_fd(-1), m_owns(1), m_deleteOnClose(0) { _Init(); }

C_FileStream::C_FileStream(const C_WString& name, const int& flags) : C_FileStream() { Open(name, flags); }

C_FileStream::~C_FileStream() { Close(); }

void C_FileStream::_Init() {
    m_lockWait = 0;
    m_lockTimeout = -1;
}

// Opening and closing --------------------------------------------------------

int C_FileStream::Open(const C_WString& name, const int& flags, const int& permission) {
    if (name.Empty() || m_fd != -1) return 0;
    int fd = -1;
    if (_wsopen_s(&fd, name.GetString(), flags, _SH_DENYWR, permission) != 0 || fd == -1) return 0;
    m_fd = fd;
    m_owns = 1;
    m_name = name;
    return 1;
}

int C_FileStream::Open(const C_WString& name, const int& flags) { return Open(name, flags, _S_IREAD | _S_IWRITE); }

int C_FileStream::ReOpen(const C_WString& name, const int& flags) {
    Close();
    return Open(name, flags);
}

int C_FileStream::Close() {
    if (m_fd == -1) return 0;
    int result = 1;
    if (m_owns) {
        result = _close(m_fd) == 0 ? 1 : 0;
        if (m_deleteOnClose) {
            if (!m_name.Empty()) _wremove(m_name.GetString());
            m_deleteOnClose = 0;
        }
    } else {
        m_owns = 1;
    }
    m_fd = -1;
    m_name.Clear();
    return result;
}

void C_FileStream::SetHandle(int fd, const int& owns) {
    if (fd == -1) return;
    Close();
    m_fd = fd;
    m_owns = owns;
}

int C_FileStream::GetStat(struct stat& st) const {
    if (m_fd == -1) return 0;
    struct _stat64i32 info;
    if (_fstat64i32(m_fd, &info) != 0) return 0;
    st.st_dev = info.st_dev;
    st.st_ino = info.st_ino;
    st.st_mode = info.st_mode;
    st.st_nlink = info.st_nlink;
    st.st_uid = info.st_uid;
    st.st_gid = info.st_gid;
    st.st_rdev = info.st_rdev;
    st.st_size = info.st_size;
    st.st_atime = info.st_atime;
    st.st_mtime = info.st_mtime;
    st.st_ctime = info.st_ctime;
    return 1;
}

// Reading and writing ------------------------------------------------------

int C_FileStream::Write(const void* data, const int& size) {
    if (m_fd == -1 || !data || size <= 0) return 0;
    int put = _write(m_fd, data, static_cast<unsigned int>(size));
    return put > 0 ? put : 0;
}

int C_FileStream::Read(void* buffer, const int& size) {
    if (m_fd == -1 || !buffer || size <= 0) return 0;
    int got = _read(m_fd, buffer, static_cast<unsigned int>(size));
    return got > 0 ? got : 0;
}

int C_FileStream::WriteStringA(const C_String& s) { return WriteStringA(s, s.ByteLength()); }

int C_FileStream::WriteStringA(const C_String& s, int n) {
    if (n > s.ByteLength()) n = s.ByteLength();
    return Write(s.GetString(), n);
}

int C_FileStream::WriteStringW(const C_WString& s) { return WriteStringW(s, s.Length()); }

int C_FileStream::WriteStringW(const C_WString& s, int n) {
    if (n > s.Length()) n = s.Length();
    if (n <= 0) return 0;
    return Write(s.GetString(), n * 2) / 2;
}

int C_FileStream::WriteLineA(const C_String& s) {
    if (m_fd == -1) return 0;
    return WriteStringA(s) + Write("\r\n", 2);
}

int C_FileStream::WriteLineW(const C_WString& s) {
    if (m_fd == -1) return 0;
    return WriteStringW(s) + Write(L"\r\n", 4) / 2;
}

int C_FileStream::WriteBytes(int value, int count, const bool& bigEndian) {
    unsigned int bits = static_cast<unsigned int>(value);
    if (!bigEndian) {
        unsigned char native[4];
        for (int i = 0; i < count; ++i) native[i] = static_cast<unsigned char>(bits >> (8 * i));
        return Write(native, count) == count ? count : 0;
    }
    for (int i = count - 1; i >= 0; --i) {
        unsigned char one = static_cast<unsigned char>(bits >> (8 * i));
        if (Write(&one, 1) != 1) return 0;
    }
    return count;
}

int C_FileStream::WriteByte(int value, const bool& bigEndian) { return WriteBytes(value, 1, bigEndian); }
int C_FileStream::WriteWord(int value, const bool& bigEndian) { return WriteBytes(value, 2, bigEndian); }
int C_FileStream::WriteDword(int value, const bool& bigEndian) { return WriteBytes(value, 4, bigEndian); }

int C_FileStream::ReadBytes(int* value, int count, const bool& bigEndian) {
    if (!value) return 0;
    *value = 0;
    unsigned int bits = 0;
    int got = 0;
    if (bigEndian) {
        for (; got < count; ++got) {
            unsigned char one = 0;
            if (Read(&one, 1) != 1) break;
            bits |= static_cast<unsigned int>(one) << (8 * (count - 1 - got));
        }
    } else {
        unsigned char native[4] = {0, 0, 0, 0};
        got = Read(native, count);
        for (int i = 0; i < got; ++i) bits |= static_cast<unsigned int>(native[i]) << (8 * i);
    }
    *value = static_cast<int>(bits);
    return got;
}

int C_FileStream::ReadByte(int* value, const bool& bigEndian) { return ReadBytes(value, 1, bigEndian); }
int C_FileStream::ReadWord(int* value, const bool& bigEndian) { return ReadBytes(value, 2, bigEndian); }
int C_FileStream::ReadDword(int* value, const bool& bigEndian) { return ReadBytes(value, 4, bigEndian); }

int C_FileStream::ReadLineBytes(int unit, std::string* line) {
    // Open() stores a name; a descriptor without one was handed in.
    BinaryReader reader(m_fd, m_name.Empty());
    const int fd = reader.Fd();
    if (fd == -1) return -1;
    const int64_t start = _lseeki64(fd, 0, SEEK_CUR);
    if (start < 0) return -1;
    std::string data;  // what was read from `start` on, possibly past the line
    size_t chunk = kFirstLineChunkUnits * static_cast<size_t>(unit);
    bool atEnd = false;
    auto readMore = [&]() {
        size_t old = data.size();
        data.resize(old + chunk);
        int got = _read(fd, &data[old], static_cast<unsigned int>(chunk));
        data.resize(old + static_cast<size_t>(got > 0 ? got : 0));
        if (got <= 0) atEnd = true;
        if (chunk < kMaxLineChunkBytes) chunk *= 2;
    };
    const size_t u = static_cast<size_t>(unit);
    size_t pos = 0;  // scan position, always on a unit boundary
    size_t endLength = 0;
    for (;;) {
        if (pos + u > data.size()) {
            if (!atEnd) {
                readMore();
                continue;
            }
            // Nothing but an incomplete unit (or nothing) was left: the end.
            if (pos == 0) return -1;
            break;  // the last line has no line end
        }
        unsigned c = UnitAt(data, pos, unit);
        if (c == '\n') {
            endLength = u;
            break;
        }
        if (c == '\r') {
            // Whether a line feed follows may lie in the next chunk.
            if (pos + 2 * u > data.size() && !atEnd) {
                readMore();
                continue;
            }
            bool pair = pos + 2 * u <= data.size() && UnitAt(data, pos + u, unit) == '\n';
            endLength = pair ? 2 * u : u;
            break;
        }
        pos += u;
    }
    if (pos / u > static_cast<size_t>(INT_MAX)) return -1;
    _lseeki64(fd, start + static_cast<int64_t>(pos + endLength), SEEK_SET);
    line->assign(data, 0, pos);
    return static_cast<int>(pos / u);
}

int C_FileStream::ReadLineA(C_String* line) {
    if (m_fd == -1 || !line) return -1;
    std::string bytes;
    int n = ReadLineBytes(1, &bytes);
    if (n < 0) return -1;
    line->SetBytes(bytes.data(), 0, n, 0);
    return n;
}

int C_FileStream::ReadLineW(C_WString* line) {
    if (m_fd == -1 || !line) return -1;
    std::string bytes;
    int n = ReadLineBytes(2, &bytes);
    if (n < 0) return -1;
    std::wstring units(static_cast<size_t>(n), L'\0');
    for (int i = 0; i < n; ++i) units[static_cast<size_t>(i)] = static_cast<wchar_t>(UnitAt(bytes, 2 * i, 2));
    *line = units.c_str();
    return n;
}

int C_FileStream::Flush() { return m_fd != -1 && _commit(m_fd) == 0 ? 1 : 0; }

// Position, size and length ------------------------------------------------

int C_FileStream::Seek(const int& offset, const int& origin) {
    if (m_fd == -1) return 0;
    long at = _lseek(m_fd, offset, origin);
    return at > 0 ? static_cast<int>(at) : 0;
}

int64_t C_FileStream::Seek64(const int64_t& offset, const int& origin) {
    if (m_fd == -1) return 0;
    int64_t at = _lseeki64(m_fd, offset, origin);
    return at > 0 ? at : 0;
}

int C_FileStream::GetPos() const {
    if (m_fd == -1) return -1;
    return static_cast<int>(_lseek(m_fd, 0, SEEK_CUR));
}

int64_t C_FileStream::GetPos64() const {
    if (m_fd == -1) return -1;
    return _lseeki64(m_fd, 0, SEEK_CUR);
}

unsigned long C_FileStream::GetSize() const {
    if (m_fd == -1) return 0;
    return static_cast<unsigned long>(_filelength(m_fd));
}

uint64_t C_FileStream::GetSize64() const {
    if (m_fd == -1) return 0;
    return static_cast<uint64_t>(_filelengthi64(m_fd));
}

int C_FileStream::SetEndFile(const int64_t& length) const {
    if (m_fd == -1 || length < 0 || length > LONG_MAX) return 0;
    return _chsize(m_fd, static_cast<long>(length)) == 0 ? 1 : 0;
}

int C_FileStream::SetEndFile() const { return SetEndFile(GetPos64()); }

// Locking --------------------------------------------------------------------

void C_FileStream::SetLockWait(bool wait, int timeoutMs) {
    m_lockWait = wait ? 1 : 0;
    m_lockTimeout = timeoutMs;
}

int C_FileStream::Lock(int count) {
    if (m_fd == -1 || count < 0) return 1;
    if (_locking(m_fd, _LK_NBLCK, count) == 0) return 0;
    if (!m_lockWait) return 1;
    const DWORD start = timeGetTime();
    for (;;) {
        if (_locking(m_fd, _LK_NBLCK, count) == 0) return 0;
        if (m_lockTimeout >= 0 && timeGetTime() - start > static_cast<DWORD>(m_lockTimeout)) return 2;
        Sleep(50);
    }
}

int C_FileStream::Unlock(int count) {
    if (m_fd == -1 || count < 0) return 0;
    return _locking(m_fd, _LK_UNLCK, count) == 0 ? 1 : 0;
}

int C_FileStream::AtPosition(int64_t position, int count, int (C_FileStream::*operation)(int), int failure) {
    if (m_fd == -1) return failure;
    const int64_t here = GetPos64();
    if (_lseeki64(m_fd, position, SEEK_SET) < 0) return failure;
    int result = (this->*operation)(count);
    _lseeki64(m_fd, here, SEEK_SET);
    return result;
}

int C_FileStream::Lock(int64_t position, int count) {
    return AtPosition(position, count, static_cast<int (C_FileStream::*)(int)>(&C_FileStream::Lock), 1);
}

int C_FileStream::Unlock(int64_t position, int count) {
    return AtPosition(position, count, static_cast<int (C_FileStream::*)(int)>(&C_FileStream::Unlock), 0);
}

}  // namespace kovra
