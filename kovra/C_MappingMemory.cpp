#include "kovra/C_MappingMemory.h"

namespace kovra {

C_MappingMemory::C_MappingMemory() : m_mode(0), m_sizeLow(0), m_sizeHigh(0) {}

C_MappingMemory::~C_MappingMemory() {}

int C_MappingMemory::Open(unsigned long mode) {
    m_mode = mode;
    return static_cast<int>(m_mode);
}

void C_MappingMemory::SetSize(unsigned long low, unsigned long high) {
    m_sizeLow = low;
    m_sizeHigh = high;
}

int C_MappingMemory::Close() {
    m_mode = 0;
    m_sizeLow = 0;
    m_sizeHigh = 0;
    return 1;
}

int C_MappingMemory::GetSize(unsigned long* low, unsigned long* high) const {
    if (low) *low = m_sizeLow;
    if (high) *high = m_sizeHigh;
    return 1;
}

}  // namespace kovra
