#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "kovra/C_Console.h"
#include "support/TestSupport.h"

using kovra::C_Console;
using testsupport::ChildCommand;
using testsupport::ChildProcess;

namespace {

// Cells of a screen buffer, read back for comparison.
struct Cell {
    wchar_t ch;
    WORD attr;
};

Cell CellAt(HANDLE buffer, int x, int y) {
    CHAR_INFO info;
    COORD one = {1, 1};
    COORD origin = {0, 0};
    SMALL_RECT region = {static_cast<SHORT>(x), static_cast<SHORT>(y), static_cast<SHORT>(x), static_cast<SHORT>(y)};
    Cell cell = {L'?', 0xFFFF};
    if (ReadConsoleOutputW(buffer, &info, one, origin, &region)) {
        cell.ch = info.Char.UnicodeChar;
        cell.attr = info.Attributes;
    }
    return cell;
}

std::wstring RowText(HANDLE buffer, int y, int width) {
    std::wstring text(static_cast<size_t>(width), L' ');
    DWORD read = 0;
    COORD at = {0, static_cast<SHORT>(y)};
    ReadConsoleOutputCharacterW(buffer, &text[0], static_cast<DWORD>(width), at, &read);
    text.resize(read);
    return text;
}

void PutText(HANDLE buffer, int x, int y, const std::wstring& text, WORD attr) {
    DWORD done = 0;
    COORD at = {static_cast<SHORT>(x), static_cast<SHORT>(y)};
    WriteConsoleOutputCharacterW(buffer, text.c_str(), static_cast<DWORD>(text.size()), at, &done);
    FillConsoleOutputAttribute(buffer, attr, static_cast<DWORD>(text.size()), at, &done);
}

bool HasConsole() {
    HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    CONSOLE_SCREEN_BUFFER_INFO info;
    bool usable = GetConsoleScreenBufferInfo(out, &info) != FALSE;
    CloseHandle(out);
    return usable;
}

}  // namespace

// --- Handles that are not consoles: a file and a pipe.

TEST(ConsoleNotAConsole, EveryOperationFailsAndWritesNothing) {
    testsupport::TempDir dir;
    const std::wstring path = dir.File(L"out.txt");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));

    struct Target {
        const char* what;
        HANDLE handle;
    };
    for (const Target& target : {Target{"file", file}, Target{"pipe", writeEnd}}) {
        SCOPED_TRACE(target.what);
        C_Console console(0);
        console.SetOutputHandle(target.handle);
        EXPECT_EQ(target.handle, console.GetOutputHandle());
        EXPECT_EQ(0, console.Cls());
        EXPECT_EQ(0, console.SetBGColor(3));
        EXPECT_EQ(0, console.FillRect(0, 0, 5, 5, 2));
        EXPECT_EQ(0, console.FillRect(0, 0, 5, 0, 2)) << "the information request fails";
        EXPECT_EQ(0, console.Locate(1, 1));
        EXPECT_EQ(0, console.GetTextColor());
        EXPECT_EQ(0, console.GetBGColor());
        EXPECT_EQ(0, console.GetLocate().X);
        EXPECT_EQ(0, console.GetLocate().Y);
        EXPECT_EQ(0, console.GetConsoleSize().X);
        EXPECT_EQ(0, console.GetConsoleSize().Y);
        EXPECT_EQ(-1, console.GetChar(0, 0));
        EXPECT_EQ(0, console.SetCursorVisible(0));
        EXPECT_EQ(0, console.SetCursorSize(50));
        EXPECT_EQ(0, console.SetTextColor(1, 2));
        EXPECT_EQ(0, console.ScrollVertical(1));
        EXPECT_EQ(0, console.ScrollHorizon(-1));
        EXPECT_EQ(0, console.Write(L"text"));
        EXPECT_EQ(0, console.Writef(L"%d", 42));
    }
    DWORD available = 0;
    EXPECT_TRUE(PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr));
    EXPECT_EQ(0u, available) << "nothing reached the pipe";
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
    EXPECT_EQ(0u, GetFileSize(file, nullptr)) << "nothing reached the file";
    CloseHandle(file);
}

TEST(ConsoleNotAConsole, ZeroScrollsNeverCallThePlatform) {
    C_Console console(0);
    // A handle every console call rejects, setting the last error: the error
    // code tells whether a call was made.
    console.SetOutputHandle(INVALID_HANDLE_VALUE);
    const DWORD sentinel = 0x2E0E0E0E;
    SetLastError(sentinel);
    EXPECT_EQ(0, console.ScrollVertical(0));
    EXPECT_EQ(0, console.ScrollHorizon(0));
    EXPECT_EQ(sentinel, GetLastError());
    SetLastError(sentinel);
    EXPECT_EQ(0, console.ScrollVertical(1));
    EXPECT_NE(sentinel, GetLastError()) << "a real scroll calls the platform (and the test can see it)";
}

// --- A real screen buffer of the test's own console.

class ConsoleBuffer : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (HasConsole()) return;
        // A program started without a usable console may still be bound to
        // a dead one (Wine, started from a pipe): AllocConsole then fails.
        FreeConsole();
        allocated_ = AllocConsole() != FALSE;
    }
    static void TearDownTestSuite() {
        if (allocated_) FreeConsole();
        allocated_ = false;
    }

    void SetUp() override {
        buffer = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           CONSOLE_TEXTMODE_BUFFER, nullptr);
        if (buffer == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no console screen buffer can be made here";
        CONSOLE_SCREEN_BUFFER_INFO info;
        ASSERT_TRUE(GetConsoleScreenBufferInfo(buffer, &info));
        width = info.dwSize.X;
        height = info.dwSize.Y;
        ASSERT_GE(width, 10);
        ASSERT_GE(height, 5);
        console.SetOutputHandle(buffer);
        // A known picture: row y holds letters from 'a' + y, attribute 0x07.
        for (int y = 0; y < height; ++y)
            PutText(buffer, 0, y, std::wstring(static_cast<size_t>(width), static_cast<wchar_t>(L'a' + y % 26)), 0x07);
    }
    void TearDown() override {
        if (buffer != INVALID_HANDLE_VALUE) CloseHandle(buffer);
    }

    static bool allocated_;
    HANDLE buffer = INVALID_HANDLE_VALUE;
    int width = 0;
    int height = 0;
    C_Console console{0};
};

bool ConsoleBuffer::allocated_ = false;

TEST_F(ConsoleBuffer, ClsBlanksEveryCellInTheCurrentColoursAndLeavesTheCursor) {
    ASSERT_TRUE(SetConsoleTextAttribute(buffer, 0x1E));
    COORD at = {3, 2};
    ASSERT_TRUE(SetConsoleCursorPosition(buffer, at));
    EXPECT_NE(0, console.Cls());
    for (int y = 0; y < height; y += height - 1) {
        for (int x = 0; x < width; x += width - 1) {
            Cell cell = CellAt(buffer, x, y);
            EXPECT_EQ(L' ', cell.ch) << x << "," << y;
            EXPECT_EQ(0x1E, cell.attr) << x << "," << y;
        }
    }
    EXPECT_EQ(std::wstring(static_cast<size_t>(width), L' '), RowText(buffer, 1, width));
    EXPECT_EQ(3, console.GetLocate().X);
    EXPECT_EQ(2, console.GetLocate().Y);
}

TEST_F(ConsoleBuffer, LocateSizeAndColours) {
    EXPECT_NE(0, console.Locate(5, 3));
    EXPECT_EQ(5, console.GetLocate().X);
    EXPECT_EQ(3, console.GetLocate().Y);
    EXPECT_EQ(width, console.GetConsoleSize().X);
    EXPECT_EQ(height, console.GetConsoleSize().Y);

    struct Case {
        int fg, bg, wantFg, wantBg;
    };
    for (const Case& c : {Case{14, 1, 14, 1}, Case{0, 15, 0, 15}, Case{0x1E, 0x21, 14, 1}}) {
        EXPECT_NE(0, console.SetTextColor(c.fg, c.bg));
        EXPECT_EQ(c.wantFg, console.GetTextColor());
        EXPECT_EQ(c.wantBg, console.GetBGColor());
        CONSOLE_SCREEN_BUFFER_INFO info;
        ASSERT_TRUE(GetConsoleScreenBufferInfo(buffer, &info));
        EXPECT_EQ(c.wantFg | (c.wantBg << 4), info.wAttributes) << "no bit beyond the two colours";
    }
}

TEST_F(ConsoleBuffer, SetBGColorRecoloursEveryCellAndKeepsTheCharacters) {
    EXPECT_NE(0, console.SetBGColor(2));
    Cell corner = CellAt(buffer, width - 1, height - 1);
    EXPECT_EQ(0x20, corner.attr);
    EXPECT_EQ(static_cast<wchar_t>(L'a' + (height - 1) % 26), corner.ch);
    EXPECT_EQ(0x20, CellAt(buffer, 0, 0).attr);
    EXPECT_EQ(L'a', CellAt(buffer, 0, 0).ch);
}

TEST_F(ConsoleBuffer, FillRectBlanksExactlyItsRectangle) {
    EXPECT_NE(0, console.FillRect(2, 1, 3, 2, 4));
    EXPECT_EQ(L"bb   " + std::wstring(static_cast<size_t>(width - 5), L'b'), RowText(buffer, 1, width));
    EXPECT_EQ(L"cc   " + std::wstring(static_cast<size_t>(width - 5), L'c'), RowText(buffer, 2, width));
    EXPECT_EQ(std::wstring(static_cast<size_t>(width), L'd'), RowText(buffer, 3, width));
    EXPECT_EQ(0x40, CellAt(buffer, 4, 2).attr);
    EXPECT_EQ(0x07, CellAt(buffer, 5, 2).attr);
    EXPECT_EQ(0x07, CellAt(buffer, 2, 0).attr);
}

TEST_F(ConsoleBuffer, FillRectWithNothingToFillChangesNothingAndAnswersTheInformationRequest) {
    struct Case {
        int width, height;
    };
    for (const Case& c : {Case{3, 0}, Case{3, -2}, Case{0, 2}, Case{-1, 2}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        EXPECT_NE(0, console.FillRect(1, 1, c.width, c.height, 4));
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(std::wstring(static_cast<size_t>(width), static_cast<wchar_t>(L'a' + y)),
                      RowText(buffer, y, width));
        EXPECT_EQ(0x07, CellAt(buffer, 1, 1).attr);
    }
}

TEST_F(ConsoleBuffer, GetCharGivesTheLowByteAsASignedValue) {
    PutText(buffer, 3, 2, L"A\u00e9\u3042", 0x07);
    EXPECT_EQ('A', console.GetChar(3, 2));
    EXPECT_EQ(static_cast<signed char>(0xE9), console.GetChar(4, 2));
    EXPECT_EQ(0x42, console.GetChar(5, 2)) << "U+3042 keeps only its low byte";
}

TEST_F(ConsoleBuffer, ScrollsMoveTheWholeContentAndBlankWhatTheyUncover) {
    EXPECT_NE(0, console.ScrollVertical(1));
    EXPECT_EQ(std::wstring(static_cast<size_t>(width), L'b'), RowText(buffer, 0, width));
    EXPECT_EQ(L' ', CellAt(buffer, 0, height - 1).ch);
    EXPECT_EQ(0, CellAt(buffer, 0, height - 1).attr);

    EXPECT_NE(0, console.ScrollVertical(-2));
    EXPECT_EQ(std::wstring(static_cast<size_t>(width), L' '), RowText(buffer, 0, width));
    EXPECT_EQ(std::wstring(static_cast<size_t>(width), L'b'), RowText(buffer, 2, width));

    PutText(buffer, 0, 3, L"0123456789", 0x07);
    EXPECT_NE(0, console.ScrollHorizon(2));
    EXPECT_EQ(L"23456789", RowText(buffer, 3, width).substr(0, 8));
    EXPECT_EQ(L' ', CellAt(buffer, width - 1, 3).ch);
    EXPECT_NE(0, console.ScrollHorizon(-3));
    EXPECT_EQ(L"   234567", RowText(buffer, 3, width).substr(0, 9));
    EXPECT_EQ(0, CellAt(buffer, 0, 3).attr);
}

TEST_F(ConsoleBuffer, ScrollWithAClipRectangleLeavesTheRestAlone) {
    SMALL_RECT source = {0, 1, static_cast<SHORT>(width - 1), 1};
    SMALL_RECT clip = {0, 0, 4, static_cast<SHORT>(height - 1)};
    COORD destination = {0, 0};
    EXPECT_NE(0, console.Scroll(&destination, &source, &clip));
    EXPECT_EQ(L"bbbbb" + std::wstring(static_cast<size_t>(width - 5), L'a'), RowText(buffer, 0, width));
    EXPECT_EQ(0, console.Scroll(nullptr, &source, &clip));
}

TEST_F(ConsoleBuffer, WriteAndWritefGoToTheCursor) {
    ASSERT_TRUE(console.Locate(0, 4));
    EXPECT_EQ(5, console.Write(L"hello"));
    EXPECT_EQ(L"hello", RowText(buffer, 4, width).substr(0, 5));
    // Longer than the formatter's stack buffer: the heap text is written whole.
    const std::wstring longText(300, L'x');
    ASSERT_TRUE(console.Locate(0, 0));
    EXPECT_EQ(303, console.Writef(L"%ls%d", longText.c_str(), 123));
    COORD after = console.GetLocate();
    EXPECT_EQ(303, after.Y * width + after.X) << "the cursor moved by the whole text";
    EXPECT_EQ(0, console.Write(nullptr));
}

TEST_F(ConsoleBuffer, CursorVisibilityAndSize) {
    EXPECT_NE(0, console.SetCursorVisible(0));
    CONSOLE_CURSOR_INFO cursor;
    ASSERT_TRUE(GetConsoleCursorInfo(buffer, &cursor));
    EXPECT_FALSE(cursor.bVisible);
    EXPECT_NE(0, console.SetCursorSize(50));
    ASSERT_TRUE(GetConsoleCursorInfo(buffer, &cursor));
    EXPECT_EQ(50u, cursor.dwSize);
    EXPECT_FALSE(cursor.bVisible) << "the size leaves the visibility alone";
    EXPECT_NE(0, console.SetCursorVisible(1));
    ASSERT_TRUE(GetConsoleCursorInfo(buffer, &cursor));
    EXPECT_TRUE(cursor.bVisible);
}

// --- Owning a console: checked in child processes started without one, so
// that this program's console is never touched.

// Bit 0 set: a console is present at the step named by the argument.
TEST_CHILD(console_owner) {
    const std::wstring mode = argc > 0 ? argv[0] : L"";
    int report = 0;
    if (mode == L"alloc-free") {
        C_Console console(1);
        if (!HasConsole()) return 100;
        report |= 1;
        if (console.Free() != 0) report |= 2;
        if (console.Free() == 0) report |= 4;
        if (!HasConsole()) report |= 8;
    } else if (mode == L"destructor") {
        { C_Console console(1); }
        if (!HasConsole()) report |= 1;
    } else if (mode == L"zero-keeps") {
        if (!AllocConsole()) return 100;
        {
            C_Console console(0);
            if (console.Free() == 0) report |= 1;
            if (console.Alloc() == 0) report |= 2;  // the process has a console already
        }
        if (HasConsole()) report |= 4;
    } else if (mode == L"copy-keeps") {
        C_Console owner(1);
        { C_Console copy(owner); }
        if (HasConsole()) report |= 1;
        if (owner.Free() != 0) report |= 2;
    }
    return report;
}

TEST(ConsoleOwnership, AllocatedConsolesAreFreedOnceAndOnlyByTheirOwner) {
    struct Case {
        const wchar_t* mode;
        DWORD expected;
        const char* meaning;
    };
    const Case cases[] = {
        {L"alloc-free", 15, "allocated; Free succeeds once, then returns 0; console gone"},
        {L"destructor", 1, "the destructor frees what the object allocated"},
        {L"zero-keeps", 7, "C_Console(0) frees nothing; Alloc fails while the process has a console"},
        {L"copy-keeps", 3, "destroying a copy leaves the owner's console"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.meaning);
        ChildProcess child;
        ASSERT_TRUE(child.Start(ChildCommand(L"console_owner", c.mode), DETACHED_PROCESS));
        ASSERT_TRUE(child.Wait(20000));
        DWORD code = child.ExitCode();
        if (code == 100) GTEST_SKIP() << "AllocConsole fails here (Wine without its null graphics driver)";
        EXPECT_EQ(c.expected, code);
    }
}
