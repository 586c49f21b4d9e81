#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kovra/C_Mapping.h"
#include "kovra/C_MappingFile.h"
#include "support/TestSupport.h"

using namespace kovra;
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

namespace {

LONGLONG FilePointer(HANDLE file) {
    LARGE_INTEGER zero = {};
    LARGE_INTEGER at = {};
    SetFilePointerEx(file, zero, &at, FILE_CURRENT);
    return at.QuadPart;
}

}  // namespace

TEST(MappingFile, OpenFlags) {
    struct Case {
        const char* what;
        bool exists;
        unsigned long flags;
        int opened;
        std::string contentAfter;  // file bytes once closed ("-" when the file must not exist)
        LONGLONG pointer;          // file pointer right after opening
    };
    const Case cases[] = {
        {"missing file, no create", false, 0x2, 0, "-", 0},
        {"missing file, create", false, 0x2 | 0x100, 1, "", 0},
        {"missing file, create new", false, 0x2 | 0x100 | 0x400, 1, "", 0},
        {"existing file, create new", true, 0x2 | 0x100 | 0x400, 0, "hello", 0},
        {"existing file, create", true, 0x2 | 0x100, 1, "hello", 0},
        {"existing file, read only", true, 0, 1, "hello", 0},
        {"existing file, write", true, 0x1, 1, "hello", 0},
        {"truncate with write access", true, 0x2 | 0x200, 1, "", 0},
        {"truncate with access 0x1", true, 0x1 | 0x200, 1, "", 0},
        {"truncate without write access", true, 0x200, 0, "hello", 0},
        {"to the end", true, 0x2 | 0x8, 1, "hello", 5},
        {"new-file bit without create", false, 0x2 | 0x400, 0, "-", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::wstring path = dir.File(L"data.bin");
        if (c.exists) {
            ASSERT_TRUE(WriteFileBytes(path, "hello"));
        }
        C_MappingFile file;
        EXPECT_EQ(c.opened, file.Open(path.c_str(), c.flags));
        EXPECT_EQ(c.opened, file.IsOpen());
        if (c.opened) {
            EXPECT_EQ(c.flags, file.GetMode());
            EXPECT_NE(INVALID_HANDLE_VALUE, file.GetHandle());
            EXPECT_EQ(c.pointer, FilePointer(file.GetHandle()));
        } else {
            EXPECT_EQ(0u, file.GetMode());
            EXPECT_EQ(INVALID_HANDLE_VALUE, file.GetHandle());
        }
        EXPECT_EQ(1, file.Close());
        EXPECT_EQ(0, file.IsOpen());
        if (c.contentAfter == "-") {
            EXPECT_FALSE(testsupport::FileExists(path));
        } else {
            EXPECT_EQ(c.contentAfter, ReadFileBytes(path));
        }
    }
}

TEST(MappingFile, NullPathSizeAndExclusiveOpen) {
    TempDir dir;
    TempDir other;  // both outlive the files opened in them
    C_MappingFile file;
    EXPECT_EQ(0, file.Open(nullptr, 0x2));
    unsigned long low = 7, high = 7;
    EXPECT_EQ(0, file.GetSize(&low, &high)) << "closed";

    std::wstring path = dir.File(L"data.bin");
    ASSERT_TRUE(WriteFileBytes(path, std::string(5000, 'x')));
    ASSERT_EQ(1, file.Open(path.c_str(), 0x2));
    EXPECT_EQ(1, file.GetSize(&low, &high));
    EXPECT_EQ(5000u, low);
    EXPECT_EQ(0u, high);
    EXPECT_EQ(1, file.GetSize(&low, nullptr));

    // Share mode 0: nobody else opens the file meanwhile.
    C_MappingFile second;
    EXPECT_EQ(0, second.Open(path.c_str(), 0));
    HANDLE raw = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, raw);
    if (raw != INVALID_HANDLE_VALUE) CloseHandle(raw);

    // Opening again closes the old file first, so it is not left locked.
    std::wstring otherPath = other.File(L"other.bin");
    ASSERT_EQ(1, file.Open(otherPath.c_str(), 0x2 | 0x100));
    EXPECT_EQ(1, second.Open(path.c_str(), 0));
}

TEST(MappingFile, ModeBitsPairWithTheViewProtection) {
    struct Case {
        unsigned long flags;
        bool writable;
    };
    const Case cases[] = {{0x2, true}, {0x1, true}, {0x0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        TempDir dir;
        std::wstring path = dir.File(L"data.bin");
        ASSERT_TRUE(WriteFileBytes(path, "abcdefgh"));
        {
            C_MappingFile file;
            ASSERT_EQ(1, file.Open(path.c_str(), c.flags));
            C_Mapping mapping;
            char* view = static_cast<char*>(mapping.Map(&file, nullptr, 1));
            ASSERT_NE(nullptr, view) << "a file opened with these flags must map with the protection they choose";
            EXPECT_EQ(0, std::memcmp(view, "abcdefgh", 8)) << "size 0 maps the whole file";
            MEMORY_BASIC_INFORMATION info = {};
            ASSERT_NE(0u, VirtualQuery(view, &info, sizeof info));
            EXPECT_EQ(static_cast<DWORD>(c.writable ? PAGE_READWRITE : PAGE_READONLY), info.Protect);
            if (c.writable) {
                view[0] = 'Z';
                EXPECT_EQ(1, mapping.Sync());
            }
            mapping.Unmap(1);
            EXPECT_EQ(0, file.IsOpen()) << "Unmap(1) closes the file";
        }
        EXPECT_EQ(c.writable ? "Zbcdefgh" : "abcdefgh", ReadFileBytes(path));
    }

    // An empty file cannot be mapped whole.
    TempDir dir;
    std::wstring path = dir.File(L"empty.bin");
    ASSERT_TRUE(WriteFileBytes(path, ""));
    C_MappingFile file;
    ASSERT_EQ(1, file.Open(path.c_str(), 0x2));
    C_Mapping mapping;
    EXPECT_EQ(nullptr, mapping.Map(&file, nullptr, 1));
    C_MappingFile closed;
    EXPECT_EQ(nullptr, mapping.Map(&closed, nullptr, 1)) << "a closed source has no size";
}
