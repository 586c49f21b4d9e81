#pragma once

#include "kovra/C_String.h"
#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"
#include "kovra/common/TextMemory.h"

namespace kovra {

// Appendable byte buffer (GetType() 2) with the growth rule of the text
// buffers; a zero byte is kept after the data so that it can be read as text.
class KOVRA_API C_BinaryMemory : public common::TextMemory<unsigned char, 2> {
public:
    C_BinaryMemory() {}
    explicit C_BinaryMemory(const unsigned long& size) : TextMemory(size) {}
    ~C_BinaryMemory() override {}

    using TextMemory::Add;
    unsigned char* Add(const void* data, const int& count) {
        return Add(static_cast<const unsigned char*>(data), 0, count);
    }

    // The bytes read as narrow text (ANSI), as UTF-16LE text (an odd last
    // byte is dropped), and as narrow text converted to a wide string.
    C_String GetStringA();
    C_WString GetStringW();
    C_WString GetString();

    C_BinaryMemory& operator=(const C_BinaryMemory& other) {
        AssignFrom(other);
        return *this;
    }
    // Same length and same bytes.
    bool operator==(const C_BinaryMemory& other) const;
    bool operator!=(const C_BinaryMemory& other) const { return !(*this == other); }

private:
    C_BinaryMemory(const C_BinaryMemory&) = delete;
};

}  // namespace kovra
