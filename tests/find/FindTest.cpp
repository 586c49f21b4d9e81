#include <windows.h>
#include <gtest/gtest.h>
#include <io.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "kovra/C_Find.h"
#include "kovra/C_WString.h"
#include "support/TestSupport.h"

using kovra::C_Find;
using kovra::C_WString;
using kovra::tag_FindInfo;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

namespace {

// A folder with three files and a subfolder.
struct Tree {
    Tree() {
        WriteFileBytes(dir.File(L"b.txt"), "12345");
        WriteFileBytes(dir.File(L"Readme.txt"), "hello, world");
        WriteFileBytes(dir.File(L"a.dat"), "");
        CreateDirectoryW(dir.File(L"sub").c_str(), nullptr);
    }
    // The entries as the system lists them, "." and ".." left out.
    std::vector<std::wstring> SystemOrder(const std::wstring& pattern) const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW(dir.File(pattern).c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return names;
        do {
            std::wstring name = data.cFileName;
            if (name != L"." && name != L"..") names.push_back(name);
        } while (FindNextFileW(find, &data));
        FindClose(find);
        return names;
    }
    TempDir dir;
};

std::wstring CurrentDirectory() {
    wchar_t buffer[MAX_PATH * 2];
    return std::wstring(buffer, GetCurrentDirectoryW(MAX_PATH * 2, buffer));
}

std::vector<std::wstring> Walk(C_Find& find) {
    std::vector<std::wstring> names;
    for (tag_FindInfo* info = find.GetFindInfoFirst(); info; info = find.GetFindInfoNext())
        names.push_back(info->name.GetString());
    return names;
}

}  // namespace

TEST(Find, CollectsEntriesInTheSystemsOrderWithoutDotEntries) {
    Tree tree;
    C_Find find;
    EXPECT_EQ(nullptr, find.GetFindInfoNext());
    ASSERT_EQ(1, find.Start(tree.dir.File(L"*").c_str(), 0));
    std::vector<std::wstring> expected = tree.SystemOrder(L"*");
    ASSERT_EQ(4u, expected.size());
    EXPECT_EQ(expected, Walk(find));
    EXPECT_EQ(nullptr, find.GetFindInfoNext());
    EXPECT_EQ(expected[3], find.GetName(3).GetString());

    tag_FindInfo info;
    ASSERT_EQ(1, find.GetFindInfo(&info, L"Readme.txt"));
    EXPECT_EQ(12, info.size);
    EXPECT_EQ(nullptr, info.next);
    struct _stat64 status;
    ASSERT_EQ(0, _wstat64(tree.dir.File(L"Readme.txt").c_str(), &status));
    EXPECT_EQ(status.st_mtime, info.time_write);
    EXPECT_EQ(5, find.GetSize(L"b.txt"));
    EXPECT_NE(0, find.GetAttrib(L"sub") & _A_SUBDIR);
    EXPECT_EQ(1, find.Serch(L"Readme.txt"));

    for (int index : {-1, 4}) {
        EXPECT_EQ(-1, find.GetAttrib(index));
        EXPECT_EQ(0, find.GetFindInfo(&info, index));
    }
    for (const wchar_t* name : {L"readme.txt", L"", L"Readme"}) {  // exact names only
        EXPECT_EQ(-1, find.GetSize(name));
        EXPECT_EQ(0, find.Serch(name));
    }

    EXPECT_EQ(0, find.Start(tree.dir.File(L"*.txt").c_str(), 0));  // still holds the first list
    EXPECT_EQ(1, find.End());
    EXPECT_EQ(0, find.End());
    EXPECT_EQ(nullptr, find.GetFindInfoFirst());
    EXPECT_EQ(0, find.Start(tree.dir.File(L"*.none").c_str(), 0));
    EXPECT_EQ(0, find.GetFindCount());
}

TEST(Find, SearchesTheVirtualDirectoryAndLeavesTheCurrentDirectoryAlone) {
    Tree tree;
    const std::wstring before = CurrentDirectory();
    C_Find find;
    EXPECT_EQ(0, find.SetVtlDir(L""));
    ASSERT_EQ(1, find.SetVtlDir(tree.dir.Path().c_str()));
    EXPECT_EQ(0, find.SetVtlDir(tree.dir.File(L"missing").c_str()));
    EXPECT_EQ(tree.dir.Path(), find.GetVtlDir().GetString());
    EXPECT_EQ(before, CurrentDirectory());

    ASSERT_EQ(1, find.Start(L"*.txt", 1));
    EXPECT_EQ(tree.SystemOrder(L"*.txt"), Walk(find));
    EXPECT_EQ(before, CurrentDirectory());
    find.End();
    ASSERT_EQ(1, find.SetVtlDir((tree.dir.Path() + L"\\").c_str()));  // no second separator
    ASSERT_EQ(1, find.Start(L"sub", 1));
    EXPECT_EQ(1, find.GetFindCount());
    find.End();
    EXPECT_EQ(0, find.Start(L"Readme.txt", 0));  // not in the current directory
}
