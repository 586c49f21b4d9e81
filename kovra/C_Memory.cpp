#include "kovra/C_Memory.h"

#include <cstring>

namespace kovra {

C_Memory::C_Memory() : m_buffer(nullptr), m_size(0) {}

C_Memory::C_Memory(const unsigned long& n) : m_buffer(nullptr), m_size(0) { CreateBuffer(n); }

C_Memory::~C_Memory() { DeleteBuffer(); }

int C_Memory::CreateBuffer(const unsigned long& n) {
    if (n == 0) return 0;
    unsigned char* fresh = new unsigned char[n]();
    delete[] m_buffer;
    m_buffer = fresh;
    m_size = n;
    return 1;
}

int C_Memory::ReCreateBuffer(const unsigned long& n) {
    if (n == 0) return 0;
    if (!m_buffer) return CreateBuffer(n);
    unsigned char* fresh = new unsigned char[n]();
    std::memcpy(fresh, m_buffer, n < m_size ? n : m_size);
    delete[] m_buffer;
    m_buffer = fresh;
    m_size = n;
    return 1;
}

int C_Memory::DeleteBuffer() {
    if (!m_buffer) return 0;
    delete[] m_buffer;
    m_buffer = nullptr;
    m_size = 0;
    return 1;
}

int C_Memory::ZeroBuffer() {
    if (!m_buffer) return 0;
    std::memset(m_buffer, 0, m_size);
    return 1;
}

int C_Memory::CopyBuffer(const void* src, const unsigned long& n) {
    if (!src || !m_buffer || n > m_size) return 0;
    std::memmove(m_buffer, src, n);
    return 1;
}

int C_Memory::CopyBuffer(const C_Memory& src, const unsigned long& n) {
    if (n > src.m_size) return 0;
    return CopyBuffer(src.m_buffer, n);
}

int C_Memory::CopyBuffer(const C_Memory& src) { return CopyBuffer(src, src.GetSize()); }

}  // namespace kovra
