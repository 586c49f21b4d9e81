#pragma once

#include <windows.h>

#include <stdio.h>

#include "kovra/C_WString.h"

namespace vrek {

// The C runtime's standard streams by descriptor number: 0 input, 1 output,
// 2 error.
enum StdStreamIndex { STREAM_IN = 0, STREAM_OUT = 1, STREAM_ERR = 2 };

// Points a standard stream at a file (`fileName`), or at the console when
// `fileName` is null: input is opened for reading ("r"), output and error
// are created anew in binary mode ("wb") or, on the console, in text mode
// ("w"). The new file also becomes the process's standard handle of that
// kind, which a command started with inherited handles then receives. An
// output or error file is shared for reading only, so that a second writer
// (another job naming the same file) is refused instead of writing over
// this one's output: it is opened with CreateFileW and bound by handle. The
// rest first tries the C runtime's own reopening (_wfreopen, freopen "CON"),
// then BindStdStreamByHandle. True when the stream is bound.
[[nodiscard]] bool BindStdStream(int which, const wchar_t* fileName);

// The other way, also right on Windows: opens the file (or "CONIN$" /
// "CONOUT$") with CreateFileW, makes it the standard handle and the C
// runtime descriptor 0, 1 or 2, and attaches the stream to that descriptor.
// Needed where the runtime refuses to reopen a stream that started without a
// descriptor (a detached process under Wine).
[[nodiscard]] bool BindStdStreamByHandle(int which, const wchar_t* fileName);

// Leaves the process without a standard handle of that kind, so that a
// command started with inherited handles receives none.
void ClearStdHandle(int which);

// Makes the standard stream `which` write where `from` writes: the same open
// file (one file position), so that bytes of both reach it in the order
// written. The standard handle follows. False (GetLastError() says why) when
// `from` has no descriptor or the duplication fails.
[[nodiscard]] bool ShareStdStream(int which, int from);

// The line that reports a file target that could not be opened: its full
// path and the system's text for `error`.
kovra::C_WString OpenFailureMessage(const kovra::C_WString& name, unsigned long error);
// The line that reports a file to which writing failed (a disk that went
// away or filled up, a pipe whose reader left): its full path and the
// system's text for `error`.
kovra::C_WString WriteFailureMessage(const kovra::C_WString& name, unsigned long error);
// The same for standard output or error on the console, named in words.
kovra::C_WString StreamWriteFailureMessage(int which, unsigned long error);
// The line that says why a command could not be started: the user's command
// text and the system's text for `error`.
kovra::C_WString StartFailureMessage(const kovra::C_WString& command, unsigned long error);

// Writes `size` bytes by count, so that zero bytes (UTF-16 text, binary
// data) pass unchanged. Where the C runtime refuses bytes for a console
// (Wine's refuses narrow non-ASCII text once the locale is "japanese"),
// the rest goes to the console handle itself. A failed write keeps the
// system's reason for LastWriteError.
void WriteBytes(const void* data, size_t size, FILE* stream);
// The system's error of the last failed write to stdout or stderr, 0 when
// none failed. For a stream with no file at all, ERROR_INVALID_HANDLE.
unsigned long LastWriteError(FILE* stream);

// Writes the prompt for `folder` to `stream` as the shell draws it (from
// PROMPT, see PromptFor), without a line end. The current directory when
// `folder` is empty; nothing when that cannot be read either.
void PrintPromptTo(FILE* stream, const kovra::C_WString& folder = kovra::C_WString());

// Whether `stream` writes to a console.
bool IsConsoleStream(FILE* stream);

// Whether the file `name` is the file open as `opened`: the same volume and
// file identity, whatever the spelling (case, 8.3 short names, "\\?\"
// paths, another drive mapped to the same folder, a hard link). False when
// `name` cannot be opened.
bool IsSameFile(HANDLE opened, const kovra::C_WString& name);

}  // namespace vrek
