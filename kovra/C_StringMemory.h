#pragma once

#include "kovra/C_String.h"
#include "kovra/KovraApi.h"
#include "kovra/common/TextMemory.h"

namespace kovra {

// Appendable narrow text buffer (GetType() 0); see common::TextMemory for
// the growth rule. Add(data, offset, count) copies bytes by count, so text
// with zero bytes inside is kept whole.
class KOVRA_API C_StringMemory : public common::TextMemory<char, 0> {
public:
    C_StringMemory() {}
    explicit C_StringMemory(const unsigned long& size) : TextMemory(size) {}
    ~C_StringMemory() override;  // out of line: its vtable goes with the library

    using TextMemory::Add;
    using TextMemory::Insert;
    char* Add(const C_String& s) { return Add(s.GetString(), 0, s.ByteLength()); }
    char* Insert(const C_String& s) { return Insert(s.GetString(), 0, s.ByteLength()); }

    C_StringMemory& operator=(const char* text) {
        AssignText(text, common::TextLength(text));
        return *this;
    }
    C_StringMemory& operator=(const C_StringMemory& other) {
        AssignFrom(other);
        return *this;
    }
    C_StringMemory& operator+=(const char* text) {
        Add(text);
        return *this;
    }
    C_StringMemory& operator+=(const C_String& s) {
        Add(s);
        return *this;
    }
    C_StringMemory& operator<<(const char* text) { return *this += text; }

private:
    C_StringMemory(const C_StringMemory&) = delete;
};

}  // namespace kovra
