#include "kovra/C_BinaryMemory.h"

#include <cstring>
#include <string>

namespace kovra {

C_String C_BinaryMemory::GetStringA() {
    C_String text;
    if (Get()) text.SetBytes(Get(), 0, static_cast<int>(m_length), 1);
    return text;
}

C_WString C_BinaryMemory::GetStringW() {
    std::wstring units(m_length / 2, L'\0');
    if (!units.empty()) std::memcpy(&units[0], Get(), units.size() * sizeof(wchar_t));
    return C_WString(units.c_str());
}

C_WString C_BinaryMemory::GetString() { return C_WString(GetStringA()); }

bool C_BinaryMemory::operator==(const C_BinaryMemory& other) const {
    if (m_length != other.m_length) return false;
    if (m_length == 0) return true;
    return std::memcmp(m_memory.GetMemoryEx(), other.m_memory.GetMemoryEx(), m_length) == 0;
}

}  // namespace kovra
