#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <string>
#include <vector>

#include "FilesTest.h"
#include "kovra/C_FileStream.h"

using namespace kovra;
using filestest::Utf16Bytes;
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

namespace {

const int kReadWrite = _O_BINARY | _O_RDWR;
const int kCreate = _O_BINARY | _O_CREAT | _O_RDWR;

// Opens a file of the given bytes.
std::wstring MakeFile(TempDir& dir, const std::string& bytes, const wchar_t* name = L"f.bin") {
    std::wstring path = dir.File(name);
    WriteFileBytes(path, bytes);
    return path;
}

}  // namespace

TEST(FileStream, OpenRefusesAnEmptyNameAndASecondFile) {
    TempDir dir;
    C_FileStream file;
    EXPECT_EQ(0, file.Open(C_WString(L""), kCreate));
    ASSERT_EQ(1, file.Open(dir.File(L"a").c_str(), kCreate));
    EXPECT_EQ(0, file.Open(dir.File(L"b").c_str(), kCreate));
    EXPECT_EQ(dir.File(L"a"), file.GetFileName().GetString());
    EXPECT_FALSE(testsupport::FileExists(dir.File(L"b")));
    EXPECT_EQ(1, file.Close());
    EXPECT_EQ(0, file.Close());
    EXPECT_EQ(L"", std::wstring(file.GetFileName().GetString()));
}

TEST(FileStream, AHandedInDescriptorStaysOpenAndDeleteOnCloseRemovesTheFileOnce) {
    TempDir dir;
    std::wstring path = MakeFile(dir, "x");
    int fd = _wopen(path.c_str(), _O_BINARY | _O_RDONLY);
    ASSERT_NE(-1, fd);
    C_FileStream borrowed;
    borrowed.SetHandle(fd, 0);
    EXPECT_EQ(1, borrowed.IsOpen());
    EXPECT_EQ(1, borrowed.Close());
    char c = 0;
    EXPECT_EQ(1, _read(fd, &c, 1)) << "the descriptor is still open";
    _close(fd);

    C_FileStream file;
    ASSERT_EQ(1, file.Open(path.c_str(), kReadWrite));
    file.DeleteOnClose(1);
    EXPECT_EQ(1, file.Close());
    EXPECT_FALSE(testsupport::FileExists(path));
    ASSERT_EQ(1, file.Open(path.c_str(), kCreate));
    EXPECT_EQ(1, file.Close());
    EXPECT_TRUE(testsupport::FileExists(path)) << "the flag was cleared by the first Close";
}

TEST(FileStream, WordsAndDwordsInBothByteOrders) {
    struct Row {
        int size;  // 1, 2 or 4
        int value;
        bool bigEndian;
        std::string bytes;
    } rows[] = {
        {1, 0x1AB, true, "\xAB"},
        {2, 0x1234, true, "\x12\x34"},
        {2, 0x1234, false, "\x34\x12"},
        {4, 0x12345678, true, "\x12\x34\x56\x78"},
        {4, 0x12345678, false, "\x78\x56\x34\x12"},
    };
    for (const Row& row : rows) {
        TempDir dir;
        std::wstring path = dir.File(L"w.bin");
        C_FileStream file(path.c_str(), kCreate);
        int put = row.size == 1 ? file.WriteByte(row.value, row.bigEndian)
                  : row.size == 2 ? file.WriteWord(row.value, row.bigEndian)
                                  : file.WriteDword(row.value, row.bigEndian);
        EXPECT_EQ(row.size, put);
        EXPECT_EQ(row.bytes, ReadFileBytes(path)) << row.size << " bytes, big-endian " << row.bigEndian;
        file.Seek(0, SEEK_SET);
        int value = -1;
        int got = row.size == 1 ? file.ReadByte(&value, row.bigEndian)
                  : row.size == 2 ? file.ReadWord(&value, row.bigEndian)
                                  : file.ReadDword(&value, row.bigEndian);
        EXPECT_EQ(row.size, got);
        EXPECT_EQ(row.size == 1 ? 0xAB : row.value, value);
    }
}

TEST(FileStream, ABigEndianReadCutShortCountsTheBytesItGot) {
    TempDir dir;
    C_FileStream file(MakeFile(dir, "\x12\x34").c_str(), kReadWrite);
    int value = -1;
    EXPECT_EQ(2, file.ReadDword(&value, true));
    EXPECT_EQ(0x12340000, value);
    EXPECT_EQ(0, file.ReadWord(&value, false));
    EXPECT_EQ(0, value);
}

// Each row: the file's bytes and the lines read one after the other, with
// the position after each; the last read must report the end.
struct LineRow {
    const char* what;
    std::string bytes;
    std::vector<std::string> lines;
    std::vector<int> positions;
};

template <typename Str, typename ReadFn>
void CheckLines(const LineRow& row, int unit, ReadFn read) {
    TempDir dir;
    C_FileStream file(MakeFile(dir, row.bytes).c_str(), kReadWrite);
    for (size_t i = 0; i < row.lines.size(); ++i) {
        Str line;
        int n = read(file, &line);
        std::string expected = unit == 1 ? row.lines[i] : Utf16Bytes(row.lines[i]);
        EXPECT_EQ(static_cast<int>(expected.size()) / unit, n) << row.what << ", line " << i;
        std::string got = unit == 1 ? std::string(reinterpret_cast<const char*>(line.GetString()), line.Length())
                                    : std::string(reinterpret_cast<const char*>(line.GetString()), line.Length() * 2);
        EXPECT_EQ(expected, got) << row.what << ", line " << i;
        EXPECT_EQ(row.positions[i] * unit, file.GetPos()) << row.what << ", line " << i;
    }
    Str untouched("keep");
    EXPECT_EQ(-1, read(file, &untouched)) << row.what;
    EXPECT_EQ(Str("keep"), untouched) << row.what;
}

std::vector<LineRow> LineRows() {
    std::string longLine(1000, 'x');
    std::string huge(5 << 20, 'h');
    return {
        {"line end and a last line without one", "ab\r\nc", {"ab", "c"}, {4, 5}},
        {"empty file", "", {}, {}},
        {"empty lines", "\n\n", {"", ""}, {1, 2}},
        {"a lone carriage return ends a line of one unit", "a\rb\n", {"a", "b"}, {2, 4}},
        {"a carriage return at the very end", "a\r", {"a"}, {2}},
        {"carriage return and line feed across a chunk", std::string(259, 'y') + "\r\nz", {std::string(259, 'y'), "z"},
         {261, 262}},
        {"a line longer than a chunk, no line end", longLine, {longLine}, {1000}},
        {"a line of five megabytes", huge + "\nq", {huge, "q"}, {(5 << 20) + 1, (5 << 20) + 2}},
    };
}

TEST(FileStream, ReadLineA) {
    for (const LineRow& row : LineRows())
        CheckLines<C_String>(row, 1, [](C_FileStream& f, C_String* s) { return f.ReadLineA(s); });
}

TEST(FileStream, ReadLineW) {
    for (LineRow row : LineRows()) {
        row.bytes = Utf16Bytes(row.bytes);
        CheckLines<C_WString>(row, 2, [](C_FileStream& f, C_WString* s) { return f.ReadLineW(s); });
    }
}

TEST(FileStream, ReadLinesKeepZeroBytesAndIgnoreAStrayLastByte) {
    TempDir dir;
    C_FileStream narrow(MakeFile(dir, std::string("a\0b\n", 4), L"n").c_str(), kReadWrite);
    C_String bytes;
    EXPECT_EQ(3, narrow.ReadLineA(&bytes));
    EXPECT_EQ(std::string("a\0b", 3), std::string(bytes.GetString(), bytes.Length()));
    for (const char* tail : {"\n", ""}) {
        C_FileStream wide(MakeFile(dir, Utf16Bytes(std::string("ab") + tail) + "\x01", L"w").c_str(), kReadWrite);
        C_WString line;
        EXPECT_EQ(2, wide.ReadLineW(&line)) << "tail " << tail;
        EXPECT_EQ(L"ab", std::wstring(line.GetString()));
        EXPECT_EQ(-1, wide.ReadLineW(&line)) << "one byte is no unit";
    }
}

TEST(FileStream, WritesLinesAndStrings) {
    TempDir dir;
    std::wstring path = dir.File(L"t.txt");
    C_FileStream file(path.c_str(), kCreate);
    EXPECT_EQ(4, file.WriteLineA(C_String("ab")));
    EXPECT_EQ(3, file.WriteLineW(C_WString(L"c")));
    EXPECT_EQ(2, file.WriteStringW(C_WString(L"xyz"), 2));
    EXPECT_EQ(1, file.WriteStringA(C_String("pq"), 1));
    EXPECT_EQ(0, file.WriteStringA(C_String("")));
    EXPECT_EQ(std::string("ab\r\n") + Utf16Bytes("c\r\nxy") + "p", ReadFileBytes(path));
}

TEST(FileStream, SetEndFileCutsAtThePositionAndRefusesLengthsBeyond32Bits) {
    TempDir dir;
    std::wstring path = MakeFile(dir, std::string(100, 'z'));
    C_FileStream file(path.c_str(), kReadWrite);
    char buffer[10];
    ASSERT_EQ(10, file.Read(buffer, 10));
    EXPECT_EQ(1, file.SetEndFile());
    EXPECT_EQ(10u, file.GetSize());
    EXPECT_EQ(0, file.SetEndFile(int64_t(1) << 32)) << "would otherwise cut the file to 0 bytes";
    EXPECT_EQ(0, file.SetEndFile(-1));
    EXPECT_EQ(10u, file.GetSize64());
    struct stat st;
    ASSERT_EQ(1, file.GetStat(st));
    EXPECT_EQ(10, st.st_size);
}

TEST(FileStream, ALockByPositionKeepsTheFilePosition) {
    TempDir dir;
    C_FileStream file(MakeFile(dir, std::string(100, 'z')).c_str(), kReadWrite);
    EXPECT_EQ(7, file.Seek(7, SEEK_SET));
    EXPECT_EQ(0, file.Lock(static_cast<int64_t>(50), 10));
    EXPECT_EQ(7, file.GetPos());
    EXPECT_EQ(1, file.Unlock(static_cast<int64_t>(50), 10));
    EXPECT_EQ(7, file.GetPos());
}

// Byte-range locks are real between processes under Wine as on Windows.
TEST(FileStream, ARangeThatAnotherProcessLockedIsRefusedOrTimesOut) {
    TempDir dir;
    std::wstring path = MakeFile(dir, std::string(100, 'z'));
    filestest::Holder holder;
    ASSERT_TRUE(holder.Start(path, L"lock"));

    C_FileStream file(path.c_str(), _O_BINARY | _O_RDONLY);
    ASSERT_EQ(1, file.IsOpen()) << "read-only openers share a deny-write file";
    EXPECT_EQ(1, file.Lock(static_cast<int64_t>(5), 10)) << "refused at once without lock wait";
    file.SetLockWait(true, 200);
    DWORD start = GetTickCount();
    EXPECT_EQ(2, file.Lock(static_cast<int64_t>(5), 10));
    EXPECT_GE(GetTickCount() - start, 150u);
    EXPECT_EQ(0, file.Lock(static_cast<int64_t>(10), 5)) << "the bytes after the held range are free";

    EXPECT_EQ(0u, holder.Release());
    file.SetLockWait(true, -1);
    EXPECT_EQ(0, file.Lock(static_cast<int64_t>(0), 10)) << "released when the holder ended";
}

TEST(FileStream, AnotherProcessCannotWriteAFileThatIsOpen) {
    TempDir dir;
    std::wstring path = dir.File(L"held.txt");
    filestest::Holder holder;
    ASSERT_TRUE(holder.Start(path, L"open"));
    C_FileStream file;
    EXPECT_EQ(0, file.Open(path.c_str(), kReadWrite));
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, reader) << "readers that let the writer write are welcome";
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    EXPECT_EQ(0u, holder.Release());
    EXPECT_EQ(1, file.Open(path.c_str(), kReadWrite));
}
