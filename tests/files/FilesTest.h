#pragma once

#include <string>

#include "support/TestSupport.h"

// Helpers of the file stream, trace and settings tests.
namespace filestest {

// The UTF-16LE bytes of ASCII or UTF-8 text.
inline std::string Utf16Bytes(const std::string& utf8) {
    std::wstring wide = testsupport::Widen(utf8);
    return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
}

inline std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// A child of this test program that says "ready" once it holds what it was
// asked to, and lets go at the end of its input.
class Holder {
public:
    bool Start(const wchar_t* child, const std::wstring& args) {
        return process_.Start(testsupport::ChildCommand(child, args)) && process_.WaitFor("ready") != std::string::npos;
    }
    void EndInput() { process_.CloseInput(); }
    // Ends its input and waits for its end: its exit code.
    unsigned long Release() {
        EndInput();
        return process_.Wait(60000);
    }

private:
    testsupport::PipedProcess process_;
};

}  // namespace filestest
