#pragma once

#include <windows.h>

#include <string>

#include "support/TestSupport.h"

// Helpers of the file stream, trace and settings tests.
namespace filestest {

// A named manual-reset event that a child opens by its name.
class NamedEvent {
public:
    NamedEvent() : name_(testsupport::UniqueName(L"files")) {
        handle_ = CreateEventW(nullptr, TRUE, FALSE, name_.c_str());
    }
    ~NamedEvent() { CloseHandle(handle_); }
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;
    const std::wstring& Name() const { return name_; }
    void Set() { SetEvent(handle_); }
    bool Wait(DWORD ms = 10000) { return WaitForSingleObject(handle_, ms) == WAIT_OBJECT_0; }

private:
    std::wstring name_;
    HANDLE handle_;
};

// The UTF-16LE bytes of ASCII or UTF-8 text.
inline std::string Utf16Bytes(const std::string& utf8) {
    std::wstring wide = testsupport::Widen(utf8);
    return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
}

inline std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// The hold_file child keeping a file in a mode ("open", "lock", "trace")
// until Release or the end of the object.
class Holder {
public:
    bool Start(const std::wstring& path, const wchar_t* mode) {
        std::wstring args = Quoted(path) + L" " + mode + L" " + ready_.Name() + L" " + quit_.Name();
        return child_.Start(testsupport::ChildCommand(L"hold_file", args)) && ready_.Wait();
    }
    // Lets go of the file and waits for the child's end: its exit code.
    DWORD Release() {
        quit_.Set();
        return child_.Wait(10000) ? child_.ExitCode() : 0xFFFFFFFF;
    }

private:
    NamedEvent ready_, quit_;
    testsupport::ChildProcess child_;
};

}  // namespace filestest
