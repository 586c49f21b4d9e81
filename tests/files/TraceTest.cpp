#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "FilesTest.h"
#include "kovra/C_Trace.h"

using namespace kovra;
using testsupport::ChildCommand;
using testsupport::ChildProcess;
using testsupport::FileExists;
using testsupport::TempDir;
using Texts = std::vector<std::wstring>;

namespace {

const size_t kPrefixLength = 22;  // "[2011/08/21 14:05:09] "

// The entries of a trace file (UTF-16LE, each ended by one line feed), with
// or without their time-stamp prefix.
Texts Entries(const std::wstring& path, bool withPrefix = false) {
    std::string bytes = testsupport::ReadFileBytes(path);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    Texts entries;
    for (size_t at = 0, end = 0; at < text.size(); at = end + 1) {
        end = text.find(L'\n', at);
        if (end == std::wstring::npos) end = text.size();
        entries.push_back(text.substr(at, end - at).substr(withPrefix ? 0 : kPrefixLength));
    }
    return entries;
}

std::wstring Stamp(const SYSTEMTIME& t) {
    wchar_t text[64];
    swprintf(text, 64, L"[%d/%02d/%02d %02d:%02d:%02d] ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

}  // namespace

TEST(Trace, EntriesAreTimeStampedUtf16LinesAndClearStartsAfresh) {
    TempDir dir;
    C_Trace trace;
    EXPECT_EQ(L"Trace.trc", std::wstring(trace.GetTraceName().GetString()));
    trace.SetTraceName(dir.File(L"t.trc").c_str());
    trace.Trace(L"while off");
    EXPECT_FALSE(FileExists(dir.File(L"t.trc")));
    ASSERT_EQ(1, trace.TraceON(0));
    trace.Trace(L"gone");
    trace.TraceClear();
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    trace.Trace(L"abc");
    GetLocalTime(&after);
    trace.Tracef(L"%ls-%d", std::wstring(300, L'x').c_str(), 7);
    trace.TraceOFF();
    EXPECT_EQ(std::string("[\0", 2), testsupport::ReadFileBytes(dir.File(L"t.trc")).substr(0, 2)) << "no BOM";
    Texts entries = Entries(dir.File(L"t.trc"), true);
    ASSERT_EQ(2u, entries.size());
    EXPECT_TRUE(entries[0] == Stamp(before) + L"abc" || entries[0] == Stamp(after) + L"abc")
        << testsupport::Narrow(entries[0]);
    EXPECT_EQ(std::wstring(300, L'x') + L"-7", entries[1].substr(kPrefixLength)) << "Tracef is not cut at 260";
}

TEST(Trace, DumpRowsOf16BytesNumberedInTens) {
    unsigned char data[40];
    for (int i = 0; i < 40; ++i) data[i] = static_cast<unsigned char>(i * 7);
    const std::wstring row0 = L"000000\t00 07 0E 15 1C 23 2A 31 38 3F 46 4D 54 5B 62 69";
    const std::wstring row1 = L"000010\t70 77 7E 85 8C 93 9A A1 A8 AF B6 BD C4 CB D2 D9";
    struct Row {
        unsigned int size;
        Texts rows;
    } rows[] = {
        {0, {}}, {16, {row0}}, {17, {row0, L"000010\t70 "}}, {40, {row0, row1, L"000020\tE0 E7 EE F5 FC 03 0A 11 "}}};
    for (const Row& row : rows) {
        TempDir dir;
        C_Trace trace;
        trace.SetTraceName(dir.File(L"d.trc").c_str());
        ASSERT_EQ(1, trace.TraceON(0));
        trace.TraceDump(data, row.size);
        trace.TraceOFF();
        EXPECT_EQ(row.rows, Entries(dir.File(L"d.trc"))) << row.size << " bytes";
    }
}

TEST(Trace, TheLockDirectoryBesideTheFileIsHeldWhileOnAndGivenUpByItsTakerOnly) {
    TempDir dir;
    std::wstring lock = dir.File(L"_lock_m.trc");
    ASSERT_TRUE(CreateDirectoryW(lock.c_str(), nullptr));
    C_Trace trace;
    trace.SetTraceName(dir.File(L"m.trc").c_str());
    trace.OnLock(1);
    DWORD start = GetTickCount();
    EXPECT_EQ(0, trace.TraceON(1)) << "another holder";
    EXPECT_GE(GetTickCount() - start, 900u);
    trace.OnLock(0);
    ASSERT_EQ(1, trace.TraceON(0));
    trace.OnLock(1);
    trace.TraceOFF();
    EXPECT_TRUE(FileExists(lock)) << "a lock this object never took is left alone";
    RemoveDirectoryW(lock.c_str());
    {
        C_Trace scoped;
        scoped.SetTraceName(dir.File(L"m.trc").c_str());
        scoped.OnLock(1);
        ASSERT_EQ(1, scoped.TraceON(0));
        EXPECT_TRUE(FileExists(lock));
        scoped.SetTraceName(dir.File(L"other.trc").c_str());
        EXPECT_EQ(dir.File(L"m.trc"), scoped.GetTraceName().GetString()) << "names are kept while on";
        scoped.OnLock(0);
    }
    EXPECT_FALSE(FileExists(lock)) << "the destructor gives up the lock it took, whatever the mode became";
    ASSERT_TRUE(CreateDirectoryW(dir.File(L"isdir").c_str(), nullptr));
    trace.SetTraceName(dir.File(L"isdir").c_str());
    EXPECT_EQ(2, trace.TraceON(0)) << "a directory is no trace file";
    EXPECT_FALSE(FileExists(dir.File(L"_lock_isdir"))) << "a failed open gives the lock up";
}

TEST(Trace, ALockDirectoryThatCannotBeMadeFailsAtOnceEvenWithoutTimeLimit) {
    TempDir dir;
    ASSERT_TRUE(testsupport::WriteFileBytes(dir.File(L"file"), "x"));
    // Under a file the lock directory can never exist. A child waits in the
    // test's place, so that waiting for ever fails instead of hanging.
    ChildProcess child;
    std::wstring args = filestest::Quoted(dir.File(L"n.trc")) + L" " + filestest::Quoted(dir.File(L"file\\lock"));
    ASSERT_TRUE(child.Start(ChildCommand(L"trace_on", args)));
    ASSERT_TRUE(child.Wait(10000)) << "TraceON waits for a lock that can never be taken";
    EXPECT_EQ(0u, child.ExitCode());
}

// _wsopen_s share modes are enforced between processes under Wine.
TEST(Trace, WithoutLockModeASecondProcessCannotTraceToAFileInUse) {
    TempDir dir;
    filestest::Holder holder;
    ASSERT_TRUE(holder.Start(L"hold_file", filestest::Quoted(dir.File(L"busy.trc")) + L" trace"));
    C_Trace trace;
    trace.SetTraceName(dir.File(L"busy.trc").c_str());
    EXPECT_EQ(2, trace.TraceON(0));
    EXPECT_EQ(0u, holder.Release());
    EXPECT_EQ(1, trace.TraceON(0));
}

TEST(Trace, TheLockDirectorySerialisesTwoWriters) {
    TempDir dir;
    std::wstring path = dir.File(L"shared.trc");
    const int periods = 25;
    filestest::Holder a, b;  // each starts its periods at the end of its input
    std::wstring args = filestest::Quoted(path) + L" " + std::to_wstring(periods);
    ASSERT_TRUE(a.Start(L"trace_periods", args) && b.Start(L"trace_periods", args));
    a.EndInput();
    b.EndInput();
    EXPECT_EQ(0u, a.Release()) << "3: TraceON did not wait for the lock";
    EXPECT_EQ(0u, b.Release());
    Texts texts = Entries(path);
    ASSERT_EQ(2u * periods * 5, texts.size());
    std::set<std::wstring> writers;
    for (size_t i = 0; i < texts.size(); i += 5) {
        std::wstring pid = texts[i].substr(0, texts[i].find(L' '));
        writers.insert(pid);
        Texts period(texts.begin() + i, texts.begin() + i + 5);
        EXPECT_EQ((Texts{pid + L" begin", pid + L" line 0", pid + L" line 1", pid + L" line 2", pid + L" end"}), period)
            << "periods must not interleave";
    }
    EXPECT_EQ(2u, writers.size());
    EXPECT_FALSE(FileExists(dir.File(L"_lock_shared.trc")));
}
