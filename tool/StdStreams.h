#pragma once

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
bool BindStdStream(int which, const wchar_t* fileName);

// The other way, also right on Windows: opens the file (or "CONIN$" /
// "CONOUT$") with CreateFileW, makes it the standard handle and the C
// runtime descriptor 0, 1 or 2, and attaches the stream to that descriptor.
// Needed where the runtime refuses to reopen a stream that started without a
// descriptor (a detached process under Wine).
bool BindStdStreamByHandle(int which, const wchar_t* fileName);

}  // namespace vrek
