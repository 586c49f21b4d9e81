#pragma once

#include <string>

#include "support/TestSupport.h"

// Running the real vrek.exe from the end-to-end tests.
namespace e2e {

inline std::wstring VrekPath() { return testsupport::ProgramDir() + L"\\vrek.exe"; }

// vrek.exe with the given argument text, run to its end with its output
// captured (the launcher itself returns at once).
inline testsupport::RunResult RunVrek(const std::wstring& args, const wchar_t* directory = nullptr,
                                      unsigned long timeoutMs = 30000) {
    std::wstring line = L"\"" + VrekPath() + L"\"";
    if (!args.empty()) line += L" " + args;
    return testsupport::RunCapture(line, timeoutMs, directory);
}

// A message as the launcher prints it with _putws under the "japanese"
// locale: code page 932 and a line end.
inline std::string PutwsBytes(const std::wstring& text) { return testsupport::ToCodePage(text, 932) + "\r\n"; }

}  // namespace e2e
