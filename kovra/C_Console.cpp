#include "kovra/C_Console.h"

#include <stdarg.h>
#include <stdlib.h>
#include <wchar.h>

#include "kovra/common/kovra_safe_vsnprintf.h"

namespace kovra {

namespace {

const int kFormatUnits = 260;  // Writef's buffer on the stack
const int kMaxCoord = 32767;   // the largest value a COORD or SMALL_RECT field holds

WORD Attribute(int fg, int bg) { return static_cast<WORD>((fg & 0x0F) | ((bg & 0x0F) << 4)); }

COORD MakeCoord(int x, int y) {
    COORD at;
    at.X = static_cast<SHORT>(x);
    at.Y = static_cast<SHORT>(y);
    return at;
}

int Cut(int n) {
    if (n > kMaxCoord) return kMaxCoord;
    if (n < -kMaxCoord) return -kMaxCoord;
    return n;
}

}  // namespace

C_Console::C_Console(int allocate) : m_output(nullptr), m_allocated(0) {
    if (allocate) m_allocated = AllocConsole() ? 1 : 0;
    m_output = GetStdHandle(STD_OUTPUT_HANDLE);
}

// The copy uses the same handle but does not own the console: two owners
// would free it twice, the first of them under the other's feet.
C_Console::C_Console(const C_Console& other) : m_output(other.m_output), m_allocated(0) {}

C_Console::~C_Console() {
    if (m_allocated && FreeConsole()) m_allocated = 0;
}

int C_Console::Alloc() {
    if (!m_allocated) m_allocated = AllocConsole() ? 1 : 0;
    return m_allocated;
}

int C_Console::Free() {
    if (!m_allocated) return 0;
    if (!FreeConsole()) return 0;
    m_allocated = 0;
    return 1;
}

int C_Console::ReadInfo(CONSOLE_SCREEN_BUFFER_INFO* info) { return GetConsoleScreenBufferInfo(m_output, info) ? 1 : 0; }

int C_Console::Write(const wchar_t* text) {
    if (!text) return 0;
    DWORD written = 0;
    if (!WriteConsoleW(m_output, text, static_cast<DWORD>(wcslen(text)), &written, nullptr)) return 0;
    return static_cast<int>(written);
}

int C_Console::Writef(const wchar_t* format, ...) {
    wchar_t buffer[kFormatUnits];
    int allocated = 0;
    int length = 0;
    va_list args;
    va_start(args, format);
    wchar_t* text = common::kovra_safe_vsnprintf(buffer, kFormatUnits, format, args, &allocated, &length);
    va_end(args);
    if (!text) return -1;
    DWORD written = 0;
    BOOL ok = WriteConsoleW(m_output, text, static_cast<DWORD>(length), &written, nullptr);
    if (allocated) free(text);
    return ok ? static_cast<int>(written) : 0;
}

int C_Console::GetChar(int x, int y) {
    CHAR_INFO cell;
    SMALL_RECT region;
    region.Left = region.Right = static_cast<SHORT>(x);
    region.Top = region.Bottom = static_cast<SHORT>(y);
    if (!ReadConsoleOutputW(m_output, &cell, MakeCoord(1, 1), MakeCoord(0, 0), &region)) return -1;
    return static_cast<signed char>(cell.Char.UnicodeChar & 0xFF);
}

int C_Console::SetCursorVisible(int visible) {
    CONSOLE_CURSOR_INFO cursor;
    if (!GetConsoleCursorInfo(m_output, &cursor)) return 0;
    cursor.bVisible = visible ? TRUE : FALSE;
    return SetConsoleCursorInfo(m_output, &cursor) ? 1 : 0;
}

int C_Console::SetCursorSize(unsigned long size) {
    CONSOLE_CURSOR_INFO cursor;
    if (!GetConsoleCursorInfo(m_output, &cursor)) return 0;
    cursor.dwSize = size;
    return SetConsoleCursorInfo(m_output, &cursor) ? 1 : 0;
}

int C_Console::SetTextColor(int fg, int bg) { return SetConsoleTextAttribute(m_output, Attribute(fg, bg)) ? 1 : 0; }

int C_Console::GetTextColor() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!ReadInfo(&info)) return 0;
    return info.wAttributes & 0x0F;
}

int C_Console::GetBGColor() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!ReadInfo(&info)) return 0;
    return (info.wAttributes >> 4) & 0x0F;
}

int C_Console::SetBGColor(int bg) { return _Fill(0, bg, 0); }

int C_Console::Locate(int x, int y) { return SetConsoleCursorPosition(m_output, MakeCoord(x, y)) ? 1 : 0; }

COORD C_Console::GetLocate() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!ReadInfo(&info)) return MakeCoord(0, 0);
    return info.dwCursorPosition;
}

COORD C_Console::GetConsoleSize() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!ReadInfo(&info)) return MakeCoord(0, 0);
    return info.dwSize;
}

int C_Console::FillRect(int x, int y, int width, int height, int bg) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    int result = ReadInfo(&info);
    if (!result) return 0;
    // A negative width taken as a cell count would fill the rest of the
    // buffer.
    if (width <= 0) return result;
    const WORD attribute = Attribute(0, bg);
    // Past row 32767 a row number would wrap onto the buffer's first rows.
    const long long last = static_cast<long long>(y) + height - 1;
    for (long long row = y; row <= last && row <= kMaxCoord; ++row) {
        DWORD written = 0;
        const COORD at = MakeCoord(x, static_cast<int>(row));
        FillConsoleOutputAttribute(m_output, attribute, static_cast<DWORD>(width), at, &written);
        result = FillConsoleOutputCharacterW(m_output, L' ', static_cast<DWORD>(width), at, &written) ? 1 : 0;
    }
    return result;
}

int C_Console::_Fill(int fg, int bg, int chars) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!ReadInfo(&info)) return 0;
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    DWORD written = 0;
    int result = FillConsoleOutputAttribute(m_output, Attribute(fg, bg), cells, MakeCoord(0, 0), &written) ? 1 : 0;
    if (chars && result) result = FillConsoleOutputCharacterW(m_output, L' ', cells, MakeCoord(0, 0), &written) ? 1 : 0;
    return result;
}

int C_Console::Cls() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!ReadInfo(&info)) return 0;
    return _Fill(info.wAttributes & 0x0F, (info.wAttributes >> 4) & 0x0F, 1);
}

int C_Console::Scroll(COORD* destination, SMALL_RECT* source, SMALL_RECT* clip) {
    if (!destination || !source) return 0;
    CHAR_INFO fill;
    fill.Char.UnicodeChar = L' ';
    fill.Attributes = 0;
    return ScrollConsoleScreenBufferW(m_output, source, clip, *destination, &fill) ? 1 : 0;
}

int C_Console::ScrollWhole(int columns, int rows) {
    const COORD size = GetConsoleSize();
    SMALL_RECT source;
    source.Left = 0;
    source.Top = 0;
    source.Right = static_cast<SHORT>(size.X - 1);
    source.Bottom = static_cast<SHORT>(size.Y - 1);
    COORD destination = MakeCoord(0, 0);
    if (columns > 0) source.Left = static_cast<SHORT>(columns);
    if (columns < 0) destination.X = static_cast<SHORT>(-columns);
    if (rows > 0) source.Top = static_cast<SHORT>(rows);
    if (rows < 0) destination.Y = static_cast<SHORT>(-rows);
    return Scroll(&destination, &source, nullptr);
}

int C_Console::ScrollHorizon(int n) {
    if (n == 0) return 0;
    return ScrollWhole(Cut(n), 0);
}

int C_Console::ScrollVertical(int n) {
    if (n == 0) return 0;
    return ScrollWhole(0, Cut(n));
}

}  // namespace kovra
