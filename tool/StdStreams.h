#pragma once

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
// kind, which a command started with inherited handles then receives.
// First the C runtime's own reopening (_wfreopen, freopen "CON"); when that
// fails, BindStdStreamByHandle. True when the stream is bound.
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
// The line that reports an output or error target to which writing failed
// (a disk that went away or filled up, a pipe whose reader left).
kovra::C_WString WriteFailureMessage(const kovra::C_WString& name, unsigned long error);

// Writes `size` bytes by count, so that zero bytes (UTF-16 text, binary
// data) pass unchanged.
void WriteBytes(const void* data, size_t size, FILE* stream);

// Writes the current directory and ">" to standard output (or `stream`),
// without a line end; nothing when the directory cannot be read.
void PrintPrompt();
void PrintPromptTo(FILE* stream);

// Whether two file names name the same file: their full paths compared
// case-insensitively, as the file system compares them.
bool IsSameFile(const kovra::C_WString& a, const kovra::C_WString& b);

}  // namespace vrek
