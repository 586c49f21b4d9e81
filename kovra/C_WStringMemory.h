#pragma once

#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"
#include "kovra/common/TextMemory.h"

namespace kovra {

// Appendable wide text buffer (GetType() 1); lengths count UTF-16 units.
class KOVRA_API C_WStringMemory : public common::TextMemory<wchar_t, 1> {
public:
    C_WStringMemory() {}
    explicit C_WStringMemory(const unsigned long& size) : TextMemory(size) {}
    ~C_WStringMemory() override;  // out of line: its vtable goes with the library

    using TextMemory::Add;
    using TextMemory::Insert;
    wchar_t* Add(const C_WString& s) { return Add(s.GetString(), 0, s.Length()); }
    wchar_t* Insert(const C_WString& s) { return Insert(s.GetString(), 0, s.Length()); }

    C_WStringMemory& operator=(const wchar_t* text) {
        AssignText(text, common::TextLength(text));
        return *this;
    }
    C_WStringMemory& operator=(const C_WStringMemory& other) {
        AssignFrom(other);
        return *this;
    }
    C_WStringMemory& operator+=(const wchar_t* text) {
        Add(text);
        return *this;
    }
    C_WStringMemory& operator+=(const C_WString& s) {
        Add(s);
        return *this;
    }
    C_WStringMemory& operator<<(const wchar_t* text) { return *this += text; }

private:
    C_WStringMemory(const C_WStringMemory&) = delete;
};

}  // namespace kovra
