#include <gtest/gtest.h>

#include <string>

#include "kovra/C_Mapping.h"
#include "kovra/C_MappingMemory.h"
#include "support/TestSupport.h"

using namespace kovra;
using testsupport::ChildCommand;
using testsupport::ChildProcess;
using testsupport::UniqueName;

namespace {

const unsigned long kSize = 4096;

unsigned char* Bytes(void* view) { return static_cast<unsigned char*>(view); }

DWORD Protection(void* view) {
    MEMORY_BASIC_INFORMATION info = {};
    if (!VirtualQuery(view, &info, sizeof info)) return 0;
    return info.Protect;
}

}  // namespace

// Maps the name in argv[0] as the second process: it must find the mapping
// existing, see the parent's byte and leave its own.
TEST_CHILD(map_peer) {
    if (argc < 1) return 10;
    C_MappingMemory source;
    source.Open(2);
    C_Mapping mapping;
    void* view = mapping.Map(&source, argv[0], 1, PAGE_READWRITE, 0, kSize);
    if (!view) return 11;
    if (mapping.IsExistMap() != 1) return 12;
    if (Bytes(view)[0] != 'P') return 13;
    Bytes(view)[1] = 'C';
    if (!mapping.Sync()) return 14;
    return 0;
}

TEST(Mapping, TwoProcessesShareTheNamedBlockAndOnlyTheSecondFindsItExisting) {
    std::wstring name = UniqueName(L"map");
    C_MappingMemory source;
    source.Open(2);
    C_Mapping mapping;
    void* view = mapping.Map(&source, name.c_str(), 1, PAGE_READWRITE, 0, kSize);
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(0, mapping.IsExistMap());
    EXPECT_EQ(0, Bytes(view)[0]) << "a new pagefile block is zero-filled";
    Bytes(view)[0] = 'P';

    ChildProcess child;
    ASSERT_TRUE(child.Start(ChildCommand(L"map_peer", L"\"" + name + L"\"")));
    ASSERT_TRUE(child.Wait(30000));
    EXPECT_EQ(0u, child.ExitCode()) << "11 no view, 12 not seen as existing, 13 parent's write not seen";
    EXPECT_EQ('C', Bytes(view)[1]) << "the child's write is seen by the parent";
    EXPECT_EQ(0, mapping.IsExistMap()) << "the first mapper's flag stays 0";
}

TEST(Mapping, ThreeArgumentMapOfPagefileSourceIsReadWriteOfTheSourceSize) {
    C_MappingMemory source;
    EXPECT_EQ(INVALID_HANDLE_VALUE, source.GetHandle());
    EXPECT_EQ(2, source.Open(2));
    source.SetSize(3 * kSize, 0);
    unsigned long low = 1, high = 1;
    EXPECT_EQ(1, source.GetSize(&low, &high));
    EXPECT_EQ(3 * kSize, low);
    EXPECT_EQ(0u, high);

    std::wstring name = UniqueName(L"map");
    C_Mapping mapping;
    void* view = mapping.Map(&source, name.c_str(), 1);
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(static_cast<DWORD>(PAGE_READWRITE), Protection(view));
    Bytes(view)[3 * kSize - 1] = 0x5A;  // the last byte of the requested size is ours

    // A second mapper of the same name sees the write.
    C_MappingMemory other;
    other.Open(2);
    other.SetSize(3 * kSize, 0);
    C_Mapping second;
    void* again = second.Map(&other, name.c_str(), 1);
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(1, second.IsExistMap());
    EXPECT_EQ(0x5A, Bytes(again)[3 * kSize - 1]);

    // Mode 0 asks for a read-only mapping.
    C_MappingMemory reader;
    reader.SetSize(kSize, 0);
    C_Mapping readOnly;
    void* readView = readOnly.Map(&reader, UniqueName(L"map").c_str(), 1);
    ASSERT_NE(nullptr, readView);
    EXPECT_EQ(static_cast<DWORD>(PAGE_READONLY), Protection(readView));

    source.Close();
    EXPECT_EQ(0u, source.GetMode());
    EXPECT_EQ(1, source.GetSize(&low, &high));
    EXPECT_EQ(0u, low);
}

TEST(Mapping, MapOnAMappedObjectReturnsTheSameViewAndChangesNothing) {
    std::wstring name = UniqueName(L"map");
    std::wstring otherName = UniqueName(L"map");
    C_MappingMemory source;
    source.Open(2);
    C_Mapping mapping;
    void* view = mapping.Map(&source, name.c_str(), 1, PAGE_READWRITE, 0, kSize);
    ASSERT_NE(nullptr, view);

    C_MappingMemory otherSource;
    EXPECT_EQ(view, mapping.Map(&otherSource, otherName.c_str(), 1, PAGE_READONLY, 0, 100));
    EXPECT_EQ(view, mapping.Map(&otherSource, otherName.c_str(), 0));
    EXPECT_EQ(view, mapping.Pointer());
    EXPECT_EQ(0, mapping.IsExistMap());

    // The other name was never created by those calls.
    C_Mapping probe;
    ASSERT_NE(nullptr, probe.Map(&source, otherName.c_str(), 1, PAGE_READWRITE, 0, kSize));
    EXPECT_EQ(0, probe.IsExistMap());
}

TEST(Mapping, UnmapReleasesAndAllowsANewMap) {
    std::wstring name = UniqueName(L"map");
    C_MappingMemory source;
    source.Open(2);
    C_Mapping keeper;
    void* kept = keeper.Map(&source, name.c_str(), 1, PAGE_READWRITE, 0, kSize);
    ASSERT_NE(nullptr, kept);
    Bytes(kept)[7] = 7;

    C_Mapping mapping;
    mapping.Unmap(1);  // unmapped: nothing happens, the source is not closed
    EXPECT_EQ(2u, source.GetMode());
    ASSERT_NE(nullptr, mapping.Map(&source, name.c_str(), 1, PAGE_READWRITE, 0, kSize));
    EXPECT_EQ(1, mapping.IsExistMap());

    mapping.Unmap(0);
    EXPECT_EQ(nullptr, mapping.Pointer());
    EXPECT_EQ(0, mapping.IsExistMap());
    EXPECT_EQ(0, mapping.Sync()) << "nothing mapped";
    EXPECT_EQ(2u, source.GetMode()) << "Unmap(0) leaves the source open";

    void* again = mapping.Map(&source, name.c_str(), 1, PAGE_READWRITE, 0, kSize);
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(1, mapping.IsExistMap());
    EXPECT_EQ(7, Bytes(again)[7]);
    EXPECT_EQ(1, mapping.Sync());

    mapping.Unmap(1);
    EXPECT_EQ(0u, source.GetMode()) << "Unmap(1) closes the source";

    // With the last holder gone the block goes too: the next Map creates it
    // afresh, zero-filled.
    keeper.Unmap(0);
    C_MappingMemory fresh;
    fresh.Open(2);
    C_Mapping recreated;
    void* view = recreated.Map(&fresh, name.c_str(), 1, PAGE_READWRITE, 0, kSize);
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(0, recreated.IsExistMap());
    EXPECT_EQ(0, Bytes(view)[7]);
}

TEST(Mapping, ANonSharedViewIsAPrivateCopy) {
    std::wstring name = UniqueName(L"map");
    C_MappingMemory source;
    source.Open(2);
    C_Mapping shared;
    void* sharedView = shared.Map(&source, name.c_str(), 1, PAGE_READWRITE, 0, kSize);
    ASSERT_NE(nullptr, sharedView);
    Bytes(sharedView)[0] = 'S';

    C_Mapping copy;
    void* copyView = copy.Map(&source, name.c_str(), 0, PAGE_READWRITE, 0, kSize);
    ASSERT_NE(nullptr, copyView);
    EXPECT_EQ('S', Bytes(copyView)[0]);
    Bytes(copyView)[0] = 'X';
    EXPECT_EQ('S', Bytes(sharedView)[0]) << "copy-on-write: the shared block keeps its byte";
}

TEST(Mapping, FailuresLeaveTheObjectUnmapped) {
    C_Mapping mapping;
    EXPECT_EQ(nullptr, mapping.Map(nullptr, UniqueName(L"map").c_str(), 1));

    // A pagefile mapping needs a size.
    C_MappingMemory empty;
    empty.Open(2);
    EXPECT_EQ(nullptr, mapping.Map(&empty, UniqueName(L"map").c_str(), 1));
    EXPECT_EQ(nullptr, mapping.Pointer());
    EXPECT_EQ(0, mapping.IsExistMap());

    // An existing read-only mapping cannot give a writable view: the handle
    // that Map opened on it is closed again, so once the creator lets go the
    // name is free.
    testsupport::TempDir dir;
    std::wstring path = dir.File(L"data.bin");
    ASSERT_TRUE(testsupport::WriteFileBytes(path, std::string(kSize, 'r')));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::wstring name = UniqueName(L"map");
    HANDLE readOnly = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, name.c_str());
    ASSERT_NE(nullptr, readOnly);
    C_MappingMemory source;
    source.Open(2);
    EXPECT_EQ(nullptr, mapping.Map(&source, name.c_str(), 1, PAGE_READWRITE, 0, kSize));
    EXPECT_EQ(nullptr, mapping.Pointer());
    EXPECT_EQ(0, mapping.IsExistMap());
    CloseHandle(readOnly);
    CloseHandle(file);
    C_Mapping probe;
    ASSERT_NE(nullptr, probe.Map(&source, name.c_str(), 1, PAGE_READWRITE, 0, kSize));
    EXPECT_EQ(0, probe.IsExistMap()) << "the failed Map left a handle open";

    // An existing mapping smaller than the size asked for: its view would
    // end before that size.
    std::wstring small = UniqueName(L"map");
    HANDLE block = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, small.c_str());
    ASSERT_NE(nullptr, block);
    C_Mapping tooSmall;
    EXPECT_EQ(nullptr, tooSmall.Map(&source, small.c_str(), 1, PAGE_READWRITE, 0, 2 * kSize));
    EXPECT_EQ(nullptr, tooSmall.Pointer());
    EXPECT_NE(nullptr, tooSmall.Map(&source, small.c_str(), 1, PAGE_READWRITE, 0, 100)) << "the block's own size";
    CloseHandle(block);
}
