#pragma once

#include <cstring>

namespace kovra {
namespace common {

// A growable array of trivially copyable items (the tool keeps pointers in
// it). Appending to a full array raises the capacity by 1024; indexing at or
// beyond the count extends the count to index + 1 (reallocating with
// capacity index + 256 beyond the capacity). Destroying the array frees its
// storage, never what the items point to.
template <typename T>
class Array {
public:
    Array() : m_items(nullptr), m_count(0), m_capacity(0) {}
    Array(const Array& other) : m_items(nullptr), m_count(0), m_capacity(0) { CopyFrom(other); }
    Array(Array&& other) noexcept : m_items(other.m_items), m_count(other.m_count), m_capacity(other.m_capacity) {
        other.m_items = nullptr;
        other.m_count = 0;
        other.m_capacity = 0;
    }
    virtual ~Array() { delete[] m_items; }

    Array& operator=(const Array& other) {
        if (this != &other) {
            m_count = 0;
            CopyFrom(other);
        }
        return *this;
    }

    void Append(const T& item) {
        if (m_count >= m_capacity) Regrow(m_capacity + 1024);
        m_items[m_count++] = item;
    }

    T& operator[](int index) {
        if (index >= m_capacity) Regrow(index + 256);
        if (index >= m_count) m_count = index + 1;
        return m_items[index];
    }

    // Read-only access that never extends; callers keep index < Count().
    const T& At(int index) const { return m_items[index]; }

    int Count() const { return m_count; }
    int Capacity() const { return m_capacity; }
    bool Empty() const { return m_count == 0; }
    void Clear() { m_count = 0; }

private:
    void Regrow(int capacity) {
        T* fresh = new T[capacity]();
        if (m_count > 0) std::memcpy(fresh, m_items, sizeof(T) * m_count);
        delete[] m_items;
        m_items = fresh;
        m_capacity = capacity;
    }

    void CopyFrom(const Array& other) {
        if (other.m_count > m_capacity) Regrow(other.m_capacity);
        if (other.m_count > 0) std::memcpy(m_items, other.m_items, sizeof(T) * other.m_count);
        m_count = other.m_count;
    }

    T* m_items;
    int m_count;
    int m_capacity;
};

}  // namespace common
}  // namespace kovra
