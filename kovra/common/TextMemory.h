#pragma once

#include <cstring>
#include <vector>

#include "kovra/C_Memory.h"
#include "kovra/I_Memory.h"
#include "kovra/common/TextAlgorithms.h"

namespace kovra {
namespace common {

// An appendable buffer of units of type Unit, kept zero-terminated whenever
// it exists. It grows by half again: appending `count` units needs
// length + count + 1 units, and a buffer smaller than that is resized to
// needed + needed / 2 with its content preserved.
template <typename Unit, int TypeId>
class TextMemory : public I_Memory {
public:
    TextMemory() : m_length(0) {}
    explicit TextMemory(const unsigned long& size) : m_length(0) { Create(size); }
    ~TextMemory() override {}

    void* GetPointer() override { return m_memory.GetMemory(); }
    unsigned long Length() const override { return m_length; }
    int GetType() override { return TypeId; }

    Unit* Get() { return static_cast<Unit*>(m_memory.GetMemory()); }
    // Units the buffer holds, terminator included.
    unsigned long Capacity() const { return m_memory.GetSize() / sizeof(Unit); }

    // Appends `count` units from data + offset; a null `data` or a count of
    // 0 or less changes nothing. Returns the (possibly moved) buffer.
    Unit* Add(const Unit* data, const int& offset, const int& count) {
        if (!data || count <= 0) return Get();
        Reserve(m_length + static_cast<unsigned long>(count) + 1);
        std::memmove(Get() + m_length, data + offset, sizeof(Unit) * static_cast<unsigned long>(count));
        m_length += static_cast<unsigned long>(count);
        Get()[m_length] = 0;
        return Get();
    }
    Unit* Add(const Unit* text) { return Add(text, 0, TextLength(text)); }

    // Puts `count` units from data + offset in front of the text.
    Unit* Insert(const Unit* data, const int& offset, const int& count) {
        if (!data || count <= 0) return Get();
        // The source may lie inside this buffer, which Reserve may move.
        std::vector<Unit> copy(data + offset, data + offset + count);
        Reserve(m_length + static_cast<unsigned long>(count) + 1);
        std::memmove(Get() + count, Get(), sizeof(Unit) * m_length);
        std::memcpy(Get(), copy.data(), sizeof(Unit) * static_cast<unsigned long>(count));
        m_length += static_cast<unsigned long>(count);
        Get()[m_length] = 0;
        return Get();
    }
    Unit* Insert(const Unit* text) { return Insert(text, 0, TextLength(text)); }

    // A new zeroed buffer of `size` units; length 0.
    int Create(const unsigned long& size) {
        m_length = 0;
        return m_memory.CreateBuffer(size * sizeof(Unit));
    }

    // Resizes to `size` units keeping the text; when shrinking, the text is
    // cut to at most size - 1 units and terminated.
    int ReCreate(const unsigned long& size) {
        if (!m_memory.ReCreateBuffer(size * sizeof(Unit))) return 0;
        if (m_length > size - 1) m_length = size - 1;
        Get()[m_length] = 0;
        return 1;
    }

    // Zero-fills the whole buffer and empties the text; keeps the buffer.
    int Clear() {
        m_memory.ZeroBuffer();
        m_length = 0;
        return 1;
    }

    int Delete() {
        m_length = 0;
        return m_memory.DeleteBuffer();
    }

protected:
    void Reserve(unsigned long needed) {
        if (Capacity() >= needed) return;
        m_memory.ReCreateBuffer((needed + needed / 2) * sizeof(Unit));
    }

    void AssignFrom(const TextMemory& other) {
        if (this == &other) return;
        m_length = 0;
        if (Get()) Get()[0] = 0;
        Add(static_cast<const Unit*>(other.m_memory.GetMemoryEx()), 0, static_cast<int>(other.m_length));
    }

    void AssignText(const Unit* data, int count) {
        // The text may lie inside this buffer.
        std::vector<Unit> copy;
        if (data && count > 0) copy.assign(data, data + count);
        m_length = 0;
        if (Get()) Get()[0] = 0;
        Add(copy.data(), 0, static_cast<int>(copy.size()));
    }

    C_Memory m_memory;
    unsigned long m_length;
};

}  // namespace common
}  // namespace kovra
