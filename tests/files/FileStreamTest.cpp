#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <string>
#include <vector>

#include "FilesTest.h"
#include "kovra/C_FileStream.h"

using namespace kovra;
using filestest::Utf16Bytes;
using testsupport::FileExists;
using testsupport::ReadFileBytes;
using testsupport::TempDir;

namespace {

const int kReadWrite = _O_BINARY | _O_RDWR;
const int kCreate = _O_BINARY | _O_CREAT | _O_RDWR;

std::wstring MakeFile(TempDir& dir, const std::string& bytes) {
    std::wstring path = dir.File(L"f.bin");
    testsupport::WriteFileBytes(path, bytes);
    return path;
}

}  // namespace

TEST(FileStream, OpenOnceLeaveHandedInDescriptorsOpenDeleteOnCloseOnce) {
    TempDir dir;
    C_FileStream file;
    EXPECT_EQ(0, file.Open(C_WString(L""), kCreate));
    ASSERT_EQ(1, file.Open(dir.File(L"a").c_str(), kCreate));
    EXPECT_EQ(0, file.Open(dir.File(L"b").c_str(), kCreate)) << "the first file is kept";
    file.DeleteOnClose(1);
    EXPECT_EQ(1, file.Close());
    EXPECT_FALSE(FileExists(dir.File(L"a")));
    EXPECT_EQ(0, file.Close());
    int fd = _wopen(MakeFile(dir, "x").c_str(), _O_BINARY | _O_RDONLY);
    file.SetHandle(fd, 0);
    EXPECT_EQ(1, file.Close());
    char c = 0;
    EXPECT_EQ(1, _read(fd, &c, 1)) << "a descriptor that is not owned stays open";
    _close(fd);
    ASSERT_EQ(1, file.Open(dir.File(L"a").c_str(), kCreate));
    file.Close();
    EXPECT_TRUE(FileExists(dir.File(L"a"))) << "delete on close was cleared";
}

TEST(FileStream, BytesWordsAndDwordsInBothByteOrders) {
    struct Row {
        int size;
        int value;
        bool bigEndian;
        std::string bytes;
    } rows[] = {{1, 0xAB, true, "\xAB"},
                {2, 0x1234, true, "\x12\x34"},
                {2, 0x1234, false, "\x34\x12"},
                {4, 0x12345678, true, "\x12\x34\x56\x78"},
                {4, 0x12345678, false, "\x78\x56\x34\x12"}};
    for (const Row& row : rows) {
        TempDir dir;
        C_FileStream file(dir.File(L"w").c_str(), kCreate);
        auto write = row.size == 1   ? &C_FileStream::WriteByte
                     : row.size == 2 ? &C_FileStream::WriteWord
                                     : &C_FileStream::WriteDword;
        auto read = row.size == 1   ? &C_FileStream::ReadByte
                    : row.size == 2 ? &C_FileStream::ReadWord
                                    : &C_FileStream::ReadDword;
        EXPECT_EQ(row.size, (file.*write)(row.value, row.bigEndian));
        EXPECT_EQ(row.bytes, ReadFileBytes(dir.File(L"w"))) << row.size << (row.bigEndian ? " big" : " little");
        file.Seek(0, SEEK_SET);
        int value = -1;
        EXPECT_EQ(row.size, (file.*read)(&value, row.bigEndian));
        EXPECT_EQ(row.value, value);
    }
    TempDir dir;
    C_FileStream shortFile(MakeFile(dir, "\x12\x34").c_str(), kReadWrite);
    int value = -1;
    EXPECT_EQ(2, shortFile.ReadDword(&value, true)) << "cut short by the end of the file";
    EXPECT_EQ(0x12340000, value);
}

// The file's bytes, and the lines read one after the other with the
// position after each; the read after them must report the end.
struct LineRow {
    const char* what;
    std::string bytes;
    std::vector<std::string> lines;
    std::vector<int> positions;
    int flags = kReadWrite;
    bool handed = false;  // given with SetHandle, not opened by the object
};

template <typename Str>
void CheckLines(const LineRow& row, int unit, int (C_FileStream::*read)(Str*)) {
    TempDir dir;
    const std::wstring path = MakeFile(dir, row.bytes);
    C_FileStream file;
    // A descriptor handed in is read through a duplicate: the position must
    // still move on the descriptor itself, and its mode stay as it was.
    const int handed = row.handed ? _wopen(path.c_str(), row.flags) : -1;
    int mode = 0;
    if (row.handed) {
        mode = _setmode(handed, _O_BINARY);  // the mode as opened, put back at once
        _setmode(handed, mode);
        file.SetHandle(handed, 1);
    } else {
        file.Open(path.c_str(), row.flags);
    }
    for (size_t i = 0; i < row.lines.size(); ++i) {
        Str line;
        std::string expected = unit == 1 ? row.lines[i] : Utf16Bytes(row.lines[i]);
        EXPECT_EQ(static_cast<int>(expected.size()) / unit, (file.*read)(&line)) << row.what << ", line " << i;
        EXPECT_EQ(expected, std::string(reinterpret_cast<const char*>(line.GetString()), line.Length() * unit))
            << row.what << ", line " << i;
        EXPECT_EQ(row.positions[i] * unit, file.GetPos()) << row.what << ", line " << i;
    }
    if (handed != -1) {
        EXPECT_EQ(mode, _setmode(handed, mode)) << row.what;
    }
    Str untouched("keep");
    EXPECT_EQ(-1, (file.*read)(&untouched)) << row.what;
    EXPECT_EQ(Str("keep"), untouched) << row.what;
}

std::vector<LineRow> LineRows() {
    std::string huge(5 << 20, 'h');
    return {
        {"a line end, then a last line without one", "ab\r\nc", {"ab", "c"}, {4, 5}},
        {"an empty file", "", {}, {}},
        {"empty lines", "\n\n", {"", ""}, {1, 2}},
        {"a lone carriage return ends a line and takes one unit", "a\rb\n", {"a", "b"}, {2, 4}},
        {"a carriage return at the very end", "a\r", {"a"}, {2}},
        {"a line end across two chunks", std::string(259, 'y') + "\r\nz", {std::string(259, 'y'), "z"}, {261, 262}},
        {"five megabytes without a line end", huge, {huge}, {5 << 20}},
        {"opened in text mode", "ab\r\ncd\r\nef", {"ab", "cd", "ef"}, {4, 8, 10}, _O_TEXT | _O_RDWR},
        {"handed in, in text mode", "ab\r\ncd\r\nef", {"ab", "cd", "ef"}, {4, 8, 10}, _O_TEXT | _O_RDWR, true},
    };
}

TEST(FileStream, ReadLineA) {
    for (const LineRow& row : LineRows()) CheckLines<C_String>(row, 1, &C_FileStream::ReadLineA);
}

TEST(FileStream, ReadLineW) {
    std::vector<LineRow> rows = LineRows();
    for (LineRow& row : rows) row.bytes = Utf16Bytes(row.bytes);
    rows.push_back({"a stray last byte is no unit", Utf16Bytes("ab\n") + "\x01", {"ab"}, {3}});
    rows.push_back({"a stray byte after the last line", Utf16Bytes("ab") + "\x01", {"ab"}, {2}});
    rows.push_back({"opened in UTF-16 text mode",
                    Utf16Bytes("ab\r\ncd\r\nef"),
                    {"ab", "cd", "ef"},
                    {4, 8, 10},
                    _O_U16TEXT | _O_RDWR});
    rows.push_back(
        {"handed in, in UTF-16 text mode", Utf16Bytes("ab\r\ncd"), {"ab", "cd"}, {4, 6}, _O_U16TEXT | _O_RDWR, true});
    for (const LineRow& row : rows) CheckLines<C_WString>(row, 2, &C_FileStream::ReadLineW);
}

TEST(FileStream, SetEndFileCutsAtThePositionAndRefusesLengthsBeyond32Bits) {
    TempDir dir;
    C_FileStream file(MakeFile(dir, std::string(100, 'z')).c_str(), kReadWrite);
    char buffer[10];
    ASSERT_EQ(10, file.Read(buffer, 10));
    EXPECT_EQ(1, file.SetEndFile());
    EXPECT_EQ(0, file.SetEndFile(int64_t(1) << 32)) << "cut to 32 bits it would empty the file";
    EXPECT_EQ(0, file.SetEndFile(-1));
    struct stat st;
    ASSERT_EQ(1, file.GetStat(st));
    EXPECT_EQ(10, st.st_size);
}

// Byte-range locks are real between processes under Wine as on Windows.
TEST(FileStream, ARangeAnotherProcessLockedIsRefusedAtOnceOrAfterTheTimeOut) {
    TempDir dir;
    std::wstring path = MakeFile(dir, std::string(100, 'z'));
    filestest::Holder holder;
    ASSERT_TRUE(holder.Start(L"hold_file", filestest::Quoted(path) + L" lock"));  // bytes 0-9
    C_FileStream file(path.c_str(), _O_BINARY | _O_RDONLY);
    EXPECT_EQ(7, file.Seek(7, SEEK_SET));
    EXPECT_EQ(1, file.Lock(static_cast<int64_t>(5), 10));
    file.SetLockWait(true, 200);
    DWORD start = GetTickCount();
    EXPECT_EQ(2, file.Lock(static_cast<int64_t>(5), 10));
    EXPECT_GE(GetTickCount() - start, 150u);
    EXPECT_EQ(0, file.Lock(static_cast<int64_t>(10), 5)) << "the bytes after the held range are free";
    EXPECT_EQ(7, file.GetPos());
    EXPECT_EQ(0u, holder.Release());
    file.SetLockWait(true, -1);
    EXPECT_EQ(0, file.Lock(static_cast<int64_t>(0), 10)) << "released when the holder ended";
}
