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

// Starts the hold_file child on `path` in `mode` ("open", "lock", "trace")
// and waits until it holds the file; it lets go once `quit` is set.
inline bool StartHolder(testsupport::ChildProcess& child, const std::wstring& path, const wchar_t* mode,
                        NamedEvent& ready, NamedEvent& quit) {
    std::wstring args = Quoted(path) + L" " + mode + L" " + ready.Name() + L" " + quit.Name();
    return child.Start(testsupport::ChildCommand(L"hold_file", args)) && ready.Wait();
}

}  // namespace filestest
