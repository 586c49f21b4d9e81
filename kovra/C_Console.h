#pragma once

#include <windows.h>

#include "kovra/KovraApi.h"

namespace kovra {

// A thin object over one console screen buffer output handle: clearing,
// cursor placement, colours, filled rectangles, scrolling, reading a cell,
// writing text, and optionally a console allocated for the process.
//
// Every operation works on the stored handle through the Win32 console
// calls. Those that first read the buffer's information (Cls, _Fill,
// SetBGColor, FillRect, the colour, cursor and size queries) return 0 (or
// the neutral value given) and change nothing when that request fails, e.g.
// on a handle that is a file or a pipe.
//
// Colours are the platform's 4-bit numbers (0-15); values outside that range
// are cut to their low 4 bits, so that they can never set the attribute
// word's other bits. An attribute word is fg | (bg << 4). Coordinates are
// zero-based columns (x) and rows (y) of the screen buffer.
//
// Ownership: an object that allocated a console (allocate flag, or Alloc)
// frees it in its destructor. A copy shares the output handle but never the
// console: it does not free it, so destroying a copy leaves the original's
// console alone.
class KOVRA_API C_Console {
public:
    // With `allocate` non-zero, AllocConsole first; then takes the standard
    // output handle. C_Console(0) never allocates nor frees a console.
    explicit C_Console(int allocate = 0);
    C_Console(const C_Console& other);
    virtual ~C_Console();

    // AllocConsole unless this object already holds a console; the allocated
    // flag (non-zero: held). The output handle is not taken again.
    int Alloc();
    // FreeConsole of the console this object allocated: its result, or 0
    // when this object holds none or the call fails.
    int Free();

    void SetOutputHandle(void* handle) { m_output = handle; }
    void* GetOutputHandle() const { return m_output; }

    // WriteConsoleW of the whole text; the characters written (0 on failure
    // or for null text).
    int Write(const wchar_t* text);
    // Formats (wide printf conventions) and writes like Write; -1 when the
    // text cannot be formatted.
    int Writef(const wchar_t* format, ...);

    // The cell at (x, y): the low 8 bits of its UTF-16 character as a signed
    // value (characters above U+007F do not come back intact); -1 when the
    // cell cannot be read.
    int GetChar(int x, int y);

    // The cursor's visibility and size (percentage of the cell, 1-100); the
    // result of SetConsoleCursorInfo, 0 when the cursor cannot be read.
    int SetCursorVisible(int visible);
    int SetCursorSize(unsigned long size);

    // The colours of text written from now on.
    int SetTextColor(int fg, int bg);
    // The current attribute's foreground / background; 0 on failure.
    int GetTextColor();
    int GetBGColor();
    // Every cell of the buffer gets background `bg` and foreground 0, the
    // characters unchanged; the fill's result.
    int SetBGColor(int bg);

    // SetConsoleCursorPosition; and the cursor position ((0, 0) when it
    // cannot be read).
    int Locate(int x, int y);
    COORD GetLocate();
    // The screen buffer's columns and rows; (0, 0) on failure.
    COORD GetConsoleSize();

    // Rows y to y + height - 1, `width` cells from column x: spaces with
    // background `bg` and foreground 0. Returns the last character fill's
    // result, or the buffer information request's result when nothing is to
    // be filled (height or width 0 or less). Rows past the last row a
    // coordinate can name are not visited.
    int FillRect(int x, int y, int width, int height, int bg);

    // Every cell becomes a space in the current colours. The cursor is not
    // moved: callers follow with Locate(0, 0).
    int Cls();

    // ScrollConsoleScreenBufferW: the source rectangle moves so that its
    // top-left corner lands on `destination`, limited to `clip` (may be
    // null); uncovered cells become spaces with attribute 0. 0 when
    // `destination` or `source` is null.
    int Scroll(COORD* destination, SMALL_RECT* source, SMALL_RECT* clip);
    // The whole buffer's content left by n columns (n > 0) or right by -n
    // (n < 0); up by n rows or down by -n. 0 for n == 0, without calling the
    // platform. Shifts larger than a coordinate can hold are cut to 32767.
    int ScrollHorizon(int n);
    int ScrollVertical(int n);

protected:
    // Every cell's attribute becomes fg | (bg << 4); with `chars` non-zero
    // and that done, every cell also becomes a space. The last fill's result.
    int _Fill(int fg, int bg, int chars);

private:
    C_Console& operator=(const C_Console&);

    int ReadInfo(CONSOLE_SCREEN_BUFFER_INFO* info);
    int ScrollWhole(int columns, int rows);

    void* m_output;   // the console output handle every operation uses
    int m_allocated;  // non-zero while this object holds a console it allocated
};

}  // namespace kovra
