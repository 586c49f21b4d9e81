#pragma once

#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"

namespace kovra {

// A growable array of wide strings. Slots are allocated in steps of 512:
// when an append would fill the array, the capacity becomes
// length + count + 512, so at least one slot always stays free.
class KOVRA_API C_WArrayString {
public:
    C_WArrayString();
    C_WArrayString(const C_WArrayString& other);
    virtual ~C_WArrayString();
    C_WArrayString& operator=(const C_WArrayString& other);

    // Appends copies; false (and no change) for null items or count <= 0.
    bool AppEnd(const C_WString& s);
    bool AppEnd(const C_WString* items, const int& count);
    C_WArrayString& operator<<(const C_WString& s);
    C_WArrayString& operator+=(const C_WString& s);
    C_WArrayString& operator+=(const C_WArrayString& other);
    // Puts a copy in front of the others.
    bool Insert(const C_WString& s);

    // Callers keep 0 <= i < Length().
    C_WString& operator[](const int& i) const { return m_slots[i]; }
    C_WString& GetString(const int& i) const { return m_slots[i]; }
    int Length() const { return m_length; }

    // Makes room for at least n strings and remembers n.
    bool Reserve(const int& n);
    int ReserveSize() const { return m_reserveSize; }
    int Capacity() const { return m_capacity; }
    // Length 0; the slots are kept.
    void Clear();
    // Frees every slot.
    void Destroy();

    bool operator==(const C_WArrayString& other) const;
    bool operator!=(const C_WArrayString& other) const { return !(*this == other); }

    // The pieces of `text` between separators ("a,,b" gives "a", "", "b");
    // an empty text gives an empty array.
    static C_WArrayString ParseString(C_WString text, const wchar_t& separator);

private:
    void Regrow(int capacity);

    int m_capacity;
    int m_length;
    int m_reserveSize;
    C_WString* m_slots;
};

}  // namespace kovra
