#include <gtest/gtest.h>

#include <string>

#include "kovra/FileHandle.h"
#include "kovra/RedirectHandle.h"
#include "support/TestSupport.h"

using namespace kovra;
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

namespace {

bool WriteThrough(FileHandle* file, const std::string& bytes) {
    DWORD put = 0;
    return WriteFile(file->GetHandle(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
           put == bytes.size();
}

bool Inheritable(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) && (flags & HANDLE_FLAG_INHERIT);
}

struct OpenCase {
    const char* name;
    int type;
    bool fileExists;
    bool opens;
    const char* contentAfterWrite;  // file content after writing "new" (when it opens)
};

}  // namespace

TEST(FileHandle, EachOpenTypeOnAnExistingAndAMissingFile) {
    const OpenCase cases[] = {
        {"create new, missing", FH_CREATE_NEW, false, true, "new"},
        {"create new, existing", FH_CREATE_NEW, true, false, nullptr},
        {"create always, missing", FH_CREATE_ALWAYS, false, true, "new"},
        {"create always, existing", FH_CREATE_ALWAYS, true, true, "new"},
        {"open existing, missing", FH_OPEN_EXISTING, false, false, nullptr},
        {"open existing, existing", FH_OPEN_EXISTING, true, true, "newer-text"},
        {"open always, missing", FH_OPEN_ALWAYS, false, true, "new"},
        {"open always, existing", FH_OPEN_ALWAYS, true, true, "newer-text"},
        {"truncate existing, missing", FH_TRUNCATE_EXISTING, false, false, nullptr},
        {"truncate existing, existing", FH_TRUNCATE_EXISTING, true, true, "new"},
        {"append, missing", FH_APPEND, false, true, "new"},
        {"append, existing", FH_APPEND, true, true, "older-textnew"},
        {"type 0", 0, true, false, nullptr},
        {"type 7", 7, true, false, nullptr},
        {"type 0, missing", 0, false, false, nullptr},
    };
    TempDir dir;
    int serial = 0;
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring path = dir.File(L"f" + std::to_wstring(++serial) + L".txt");
        if (c.fileExists) {
            ASSERT_TRUE(WriteFileBytes(path, "older-text"));
        }
        FileHandle* file = FileHandle::CreateFileHandle(path.c_str(), FH_READ | FH_WRITE, c.type);
        if (!c.opens) {
            EXPECT_EQ(nullptr, file);
            EXPECT_EQ(c.fileExists, testsupport::FileExists(path)) << "a failed open creates nothing";
            if (c.fileExists) {
                EXPECT_EQ("older-text", ReadFileBytes(path));
            }
            continue;
        }
        ASSERT_NE(nullptr, file);
        EXPECT_TRUE(Inheritable(file->GetHandle()));
        EXPECT_TRUE(WriteThrough(file, "new"));
        FileHandle::CloseFileHandle(&file);
        EXPECT_EQ(nullptr, file);
        EXPECT_EQ(c.contentAfterWrite, ReadFileBytes(path));
    }
}

TEST(FileHandle, AccessAndShareBits) {
    TempDir dir;
    std::wstring path = dir.File(L"a.txt");
    ASSERT_TRUE(WriteFileBytes(path, "abc"));

    FileHandle* readOnly = FileHandle::CreateFileHandle(path.c_str(), FH_READ, FH_OPEN_EXISTING);
    ASSERT_NE(nullptr, readOnly);
    EXPECT_FALSE(WriteThrough(readOnly, "x")) << "no FH_WRITE, no writing";
    char got[8] = {};
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(readOnly->GetHandle(), got, sizeof got, &n, nullptr));
    EXPECT_EQ("abc", std::string(got, n));
    // Opened without sharing: nobody else may open the file meanwhile.
    HANDLE other =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, other);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    FileHandle::CloseFileHandle(&readOnly);

    FileHandle* shared =
        FileHandle::CreateFileHandle(path.c_str(), FH_READ | FH_SHARE_READ | FH_SHARE_WRITE, FH_OPEN_EXISTING);
    ASSERT_NE(nullptr, shared);
    other = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, other);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    FileHandle::CloseFileHandle(&shared);

    EXPECT_EQ(nullptr, FileHandle::CreateFileHandle(nullptr, FH_READ, FH_OPEN_EXISTING));
}

TEST(FileHandle, NullHandleAndCloseOnNothing) {
    FileHandle* none = FileHandle::CreateNullHandle();
    ASSERT_NE(nullptr, none);
    EXPECT_EQ(INVALID_HANDLE_VALUE, none->GetHandle());
    FileHandle::CloseFileHandle(&none);
    EXPECT_EQ(nullptr, none);
    FileHandle::CloseFileHandle(&none);  // already null: nothing
    FileHandle::CloseFileHandle(nullptr);
}

TEST(RedirectHandle, StdinNeedsAnExistingFileAndSharesIt) {
    TempDir dir;
    std::wstring path = dir.File(L"in.txt");
    EXPECT_EQ(nullptr, RedirectHandle::CreateStdin(path.c_str()));
    EXPECT_FALSE(testsupport::FileExists(path));

    ASSERT_TRUE(WriteFileBytes(path, "input"));
    FileHandle* in = RedirectHandle::CreateStdin(path.c_str());
    ASSERT_NE(nullptr, in);
    EXPECT_TRUE(Inheritable(in->GetHandle()));
    EXPECT_FALSE(WriteThrough(in, "x"));
    // Shared for reading and writing: another writer may open it meanwhile.
    EXPECT_TRUE(WriteFileBytes(path, "other"));
    char got[8] = {};
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(in->GetHandle(), got, sizeof got, &n, nullptr));
    EXPECT_EQ("other", std::string(got, n));
    FileHandle::CloseFileHandle(&in);
}

TEST(RedirectHandle, StdouterrCreatesOrTruncates) {
    TempDir dir;
    std::wstring path = dir.File(L"out.txt");
    ASSERT_TRUE(WriteFileBytes(path, "old content"));
    FileHandle* out = RedirectHandle::CreateStdouterr(path.c_str());
    ASSERT_NE(nullptr, out);
    EXPECT_TRUE(Inheritable(out->GetHandle()));
    EXPECT_EQ("", ReadFileBytes(path)) << "shared for reading, truncated";
    EXPECT_TRUE(WriteThrough(out, "fresh"));
    FileHandle::CloseFileHandle(&out);
    EXPECT_EQ("fresh", ReadFileBytes(path));

    std::wstring missing = dir.File(L"new.txt");
    out = RedirectHandle::CreateStdouterr(missing.c_str());
    ASSERT_NE(nullptr, out);
    FileHandle::CloseFileHandle(&out);
    EXPECT_TRUE(testsupport::FileExists(missing));

    EXPECT_EQ(nullptr, RedirectHandle::CreateStdouterr(dir.File(L"no-such-dir\\x.txt").c_str()));
    EXPECT_EQ(nullptr, RedirectHandle::CreateRedirectHandle(path.c_str(), FH_WRITE, 7));
}

TEST(RedirectHandle, AppendRedirectKeepsTheFile) {
    TempDir dir;
    std::wstring path = dir.File(L"log.txt");
    ASSERT_TRUE(WriteFileBytes(path, "line1\n"));
    FileHandle* log = RedirectHandle::CreateRedirectHandle(path.c_str(), FH_WRITE | FH_SHARE_READ, FH_APPEND);
    ASSERT_NE(nullptr, log);
    EXPECT_TRUE(WriteThrough(log, "line2\n"));
    FileHandle::CloseFileHandle(&log);
    EXPECT_EQ("line1\nline2\n", ReadFileBytes(path));
}
