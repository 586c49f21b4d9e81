#pragma once

#include "kovra/KovraApi.h"

namespace kovra {

// A raw byte buffer of exactly its size, or no buffer at all (size 0).
// Operations return 0 for a size of 0, a missing buffer or a copy larger
// than the buffer, and then leave the object unchanged.
class KOVRA_API C_Memory {
public:
    C_Memory();
    explicit C_Memory(const unsigned long& n);
    virtual ~C_Memory();

    // A new zeroed buffer of n bytes replaces any old one.
    int CreateBuffer(const unsigned long& n);
    // Resizes to n bytes keeping the first min(n, old size) bytes; new bytes
    // are zero.
    int ReCreateBuffer(const unsigned long& n);
    int DeleteBuffer();
    int ZeroBuffer();
    // Copies n bytes to the start of the buffer.
    int CopyBuffer(const void* src, const unsigned long& n);
    int CopyBuffer(const C_Memory& src, const unsigned long& n);
    int CopyBuffer(const C_Memory& src);

    unsigned long GetSize() const { return m_size; }
    void* GetMemory() { return m_buffer; }
    const void* GetMemoryEx() const { return m_buffer; }
    wchar_t* GetString() { return reinterpret_cast<wchar_t*>(m_buffer); }

private:
    C_Memory(const C_Memory&) = delete;
    C_Memory& operator=(const C_Memory&) = delete;

    unsigned char* m_buffer;
    unsigned long m_size;
};

}  // namespace kovra
