#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "FilesTest.h"
#include "kovra/C_Trace.h"

using namespace kovra;
using filestest::NamedEvent;
using filestest::Quoted;
using testsupport::ChildCommand;
using testsupport::ChildProcess;
using testsupport::FileExists;
using testsupport::ReadFileBytes;
using testsupport::TempDir;

namespace {

const size_t kPrefixLength = 22;  // "[2011/08/21 14:05:09] "

// The trace file's entries (UTF-16LE, each ended by one line feed).
std::vector<std::wstring> Entries(const std::wstring& path) {
    std::string bytes = ReadFileBytes(path);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    std::vector<std::wstring> entries;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos) end = text.size();
        entries.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return entries;
}

// The texts of the entries, without their time-stamp prefix.
std::vector<std::wstring> Texts(const std::wstring& path) {
    std::vector<std::wstring> texts;
    for (const std::wstring& entry : Entries(path)) texts.push_back(entry.substr(kPrefixLength));
    return texts;
}

std::wstring Stamp(const SYSTEMTIME& t) {
    wchar_t text[64];
    swprintf(text, 64, L"[%d/%02d/%02d %02d:%02d:%02d] ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

struct Tracer {
    explicit Tracer(const std::wstring& path) { trace.SetTraceName(path.c_str()); }
    C_Trace trace;
};

}  // namespace

TEST(Trace, NamesLockDirectoryBesideTheFileAndKeepsThemWhileOn) {
    TempDir dir;
    C_Trace trace;
    EXPECT_EQ(L"Trace.trc", std::wstring(trace.GetTraceName().GetString()));
    trace.SetTraceName(dir.File(L"app.trc").c_str());
    trace.Trace(L"while off");
    EXPECT_FALSE(FileExists(dir.File(L"app.trc"))) << "nothing is written while off";
    trace.OnLock(1);
    ASSERT_EQ(1, trace.TraceON(0));
    EXPECT_TRUE(FileExists(dir.File(L"_lock_app.trc")));
    trace.SetTraceName(dir.File(L"other.trc").c_str());
    EXPECT_EQ(dir.File(L"app.trc"), trace.GetTraceName().GetString()) << "names are kept while on";
    EXPECT_EQ(2, trace.TraceON(0));
    trace.TraceOFF();
    EXPECT_FALSE(FileExists(dir.File(L"_lock_app.trc")));
}

TEST(Trace, AnEntryIsALocalTimeStampTheTextAndOneLineFeedInUtf16) {
    TempDir dir;
    Tracer t(dir.File(L"t.trc"));
    ASSERT_EQ(1, t.trace.TraceON(0));
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    t.trace.Trace(L"abc");
    GetLocalTime(&after);
    t.trace.Tracef(L"%ls-%d", std::wstring(300, L'x').c_str(), 7);
    t.trace.TraceOFF();
    std::string bytes = ReadFileBytes(dir.File(L"t.trc"));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(std::string("[\0", 2), bytes.substr(0, 2)) << "no byte-order mark";
    std::vector<std::wstring> entries = Entries(dir.File(L"t.trc"));
    ASSERT_EQ(2u, entries.size());
    std::wstring stamp = entries[0].substr(0, kPrefixLength);
    EXPECT_TRUE(stamp == Stamp(before) || stamp == Stamp(after)) << testsupport::Narrow(entries[0]);
    EXPECT_EQ(L"abc", entries[0].substr(kPrefixLength)) << "no carriage return";
    EXPECT_EQ(std::wstring(300, L'x') + L"-7", entries[1].substr(kPrefixLength)) << "Tracef is not cut at 260";
}

TEST(Trace, DumpRowsOf16BytesNumberedInTens) {
    unsigned char data[40];
    for (int i = 0; i < 40; ++i) data[i] = static_cast<unsigned char>(i * 7);
    struct Row {
        unsigned int size;
        std::vector<std::wstring> rows;
    } rows[] = {
        {0, {}},
        {16, {L"000000\t00 07 0E 15 1C 23 2A 31 38 3F 46 4D 54 5B 62 69"}},
        {17, {L"000000\t00 07 0E 15 1C 23 2A 31 38 3F 46 4D 54 5B 62 69", L"000010\t70 "}},
        {40,
         {L"000000\t00 07 0E 15 1C 23 2A 31 38 3F 46 4D 54 5B 62 69",
          L"000010\t70 77 7E 85 8C 93 9A A1 A8 AF B6 BD C4 CB D2 D9", L"000020\tE0 E7 EE F5 FC 03 0A 11 "}},
    };
    for (const Row& row : rows) {
        TempDir dir;
        Tracer t(dir.File(L"d.trc"));
        ASSERT_EQ(1, t.trace.TraceON(0));
        t.trace.TraceDump(data, row.size);
        t.trace.TraceOFF();
        EXPECT_EQ(row.rows, Texts(dir.File(L"d.trc"))) << row.size << " bytes";
    }
}

TEST(Trace, ClearStartsTheFileAfresh) {
    TempDir dir;
    Tracer t(dir.File(L"c.trc"));
    ASSERT_EQ(1, t.trace.TraceON(0));
    t.trace.Trace(L"old");
    t.trace.TraceClear();
    t.trace.Trace(L"new");
    t.trace.TraceOFF();
    EXPECT_EQ(std::vector<std::wstring>{L"new"}, Texts(dir.File(L"c.trc")));
}

TEST(Trace, AHeldLockDirectoryTimesOutAndIsLeftToItsHolder) {
    TempDir dir;
    Tracer t(dir.File(L"l.trc"));
    ASSERT_TRUE(CreateDirectoryW(dir.File(L"_lock_l.trc").c_str(), nullptr));
    t.trace.OnLock(1);
    DWORD start = GetTickCount();
    EXPECT_EQ(0, t.trace.TraceON(1));
    EXPECT_GE(GetTickCount() - start, 900u);
    t.trace.TraceOFF();
    EXPECT_TRUE(FileExists(dir.File(L"_lock_l.trc")));
}

TEST(Trace, ALockDirectoryThatCannotBeMadeFailsAtOnceEvenWithoutTimeLimit) {
    TempDir dir;
    std::wstring file = dir.File(L"blocker");
    ASSERT_TRUE(testsupport::WriteFileBytes(file, "x"));
    // Under a file the lock directory can never exist; a child waits in
    // its place, so that a wait for ever fails the test instead of hanging.
    ChildProcess child;
    ASSERT_TRUE(child.Start(ChildCommand(L"trace_on", Quoted(dir.File(L"n.trc")) + L" " + Quoted(file + L"\\lock"))));
    ASSERT_TRUE(child.Wait(10000)) << "TraceON waits for a lock that can never be taken";
    EXPECT_EQ(0u, child.ExitCode());
}

TEST(Trace, TheLockIsGivenUpByTraceOffDestructorAndFailedOpenWhateverTheModeBecame) {
    TempDir dir;
    std::wstring lock = dir.File(L"_lock_m.trc");
    {
        Tracer t(dir.File(L"m.trc"));
        t.trace.OnLock(1);
        ASSERT_EQ(1, t.trace.TraceON(0));
        t.trace.OnLock(0);
        t.trace.TraceOFF();
        EXPECT_FALSE(FileExists(lock)) << "taken in lock mode, given up after the mode was switched off";
        t.trace.OnLock(1);
        ASSERT_EQ(1, t.trace.TraceON(0));
    }
    EXPECT_FALSE(FileExists(lock)) << "the destructor gives up the lock";

    ASSERT_TRUE(CreateDirectoryW(lock.c_str(), nullptr));
    Tracer other(dir.File(L"m.trc"));
    ASSERT_EQ(1, other.trace.TraceON(0));
    other.trace.OnLock(1);
    other.trace.TraceOFF();
    EXPECT_TRUE(FileExists(lock)) << "a lock this object never took is left alone";
    RemoveDirectoryW(lock.c_str());

    ASSERT_TRUE(CreateDirectoryW(dir.File(L"isdir").c_str(), nullptr));
    Tracer failing(dir.File(L"isdir"));
    failing.trace.OnLock(1);
    EXPECT_EQ(2, failing.trace.TraceON(0)) << "a directory cannot be opened as the trace file";
    EXPECT_FALSE(FileExists(dir.File(L"_lock_isdir")));
}

TEST(Trace, WithoutLockModeASecondProcessCannotTraceToAFileInUse) {
    TempDir dir;
    std::wstring path = dir.File(L"busy.trc");
    filestest::Holder holder;
    ASSERT_TRUE(holder.Start(path, L"trace"));
    Tracer t(path);
    EXPECT_EQ(2, t.trace.TraceON(0));
    EXPECT_EQ(0u, holder.Release());
    EXPECT_EQ(1, t.trace.TraceON(0));
}

TEST(Trace, TheLockDirectorySerialisesTwoWriters) {
    TempDir dir;
    std::wstring path = dir.File(L"shared.trc");
    const int periods = 25;
    NamedEvent start;
    ChildProcess a, b;
    std::wstring args = Quoted(path) + L" " + start.Name() + L" " + std::to_wstring(periods);
    ASSERT_TRUE(a.Start(ChildCommand(L"trace_periods", args)));
    ASSERT_TRUE(b.Start(ChildCommand(L"trace_periods", args)));
    start.Set();
    ASSERT_TRUE(a.Wait(60000) && b.Wait(60000));
    EXPECT_EQ(0u, a.ExitCode()) << "3: TraceON did not wait for the lock";
    EXPECT_EQ(0u, b.ExitCode());
    std::vector<std::wstring> texts = Texts(path);
    ASSERT_EQ(2u * periods * 5, texts.size());
    std::map<std::wstring, int> begun;
    for (size_t i = 0; i < texts.size(); i += 5) {
        std::wstring pid = texts[i].substr(0, texts[i].find(L' '));
        EXPECT_EQ(pid + L" begin", texts[i]);
        for (int line = 0; line < 3; ++line) EXPECT_EQ(pid + L" line " + std::to_wstring(line), texts[i + 1 + line]);
        EXPECT_EQ(pid + L" end", texts[i + 4]) << "periods must not interleave";
        ++begun[pid];
    }
    EXPECT_EQ(2u, begun.size());
    EXPECT_FALSE(FileExists(dir.File(L"_lock_shared.trc")));
}
