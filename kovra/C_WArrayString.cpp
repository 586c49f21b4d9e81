#include "kovra/C_WArrayString.h"

namespace kovra {

C_WArrayString::C_WArrayString() : m_capacity(0), m_length(0), m_reserveSize(0), m_slots(nullptr) {}

C_WArrayString::C_WArrayString(const C_WArrayString& other)
    : m_capacity(0), m_length(0), m_reserveSize(0), m_slots(nullptr) {
    AppEnd(other.m_slots, other.m_length);
}

C_WArrayString::~C_WArrayString() { Destroy(); }

C_WArrayString& C_WArrayString::operator=(const C_WArrayString& other) {
    if (this == &other) return *this;
    Clear();
    AppEnd(other.m_slots, other.m_length);
    return *this;
}

void C_WArrayString::Regrow(int capacity) {
    C_WString* fresh = new C_WString[capacity];
    for (int i = 0; i < m_length; ++i) fresh[i] = m_slots[i];
    delete[] m_slots;
    m_slots = fresh;
    m_capacity = capacity;
}

bool C_WArrayString::AppEnd(const C_WString& s) { return AppEnd(&s, 1); }

bool C_WArrayString::AppEnd(const C_WString* items, const int& count) {
    if (!items || count <= 0) return false;
    int n = count;
    if (m_length + n >= m_capacity) {
        // The items may be this array's own slots: copy them before the old
        // slots are freed.
        C_WString* fresh = new C_WString[m_length + n + 512];
        for (int i = 0; i < m_length; ++i) fresh[i] = m_slots[i];
        for (int i = 0; i < n; ++i) fresh[m_length + i] = items[i];
        delete[] m_slots;
        m_slots = fresh;
        m_capacity = m_length + n + 512;
    } else {
        for (int i = 0; i < n; ++i) m_slots[m_length + i] = items[i];
    }
    m_length += n;
    return true;
}

C_WArrayString& C_WArrayString::operator<<(const C_WString& s) {
    AppEnd(s);
    return *this;
}

C_WArrayString& C_WArrayString::operator+=(const C_WString& s) {
    AppEnd(s);
    return *this;
}

C_WArrayString& C_WArrayString::operator+=(const C_WArrayString& other) {
    if (this == &other) {
        C_WArrayString copy(other);
        AppEnd(copy.m_slots, copy.m_length);
    } else {
        AppEnd(other.m_slots, other.m_length);
    }
    return *this;
}

bool C_WArrayString::Insert(const C_WString& s) {
    C_WString copy(s);  // `s` may be one of the slots that move
    if (!AppEnd(copy)) return false;
    for (int i = m_length - 1; i > 0; --i) m_slots[i] = m_slots[i - 1];
    m_slots[0] = copy;
    return true;
}

bool C_WArrayString::Reserve(const int& n) {
    m_reserveSize = n;
    if (n > m_capacity) Regrow(n);
    return true;
}

void C_WArrayString::Clear() {
    for (int i = 0; i < m_length; ++i) m_slots[i].Clear();
    m_length = 0;
}

void C_WArrayString::Destroy() {
    delete[] m_slots;
    m_slots = nullptr;
    m_capacity = 0;
    m_length = 0;
}

bool C_WArrayString::operator==(const C_WArrayString& other) const {
    if (m_length != other.m_length) return false;
    for (int i = 0; i < m_length; ++i)
        if (!m_slots[i].Equals(other.m_slots[i])) return false;
    return true;
}

C_WArrayString C_WArrayString::ParseString(C_WString text, const wchar_t& separator) {
    C_WArrayString pieces;
    if (text.Empty()) return pieces;
    int start = 0;
    for (;;) {
        int at = text.IndexOf(separator, start);
        if (at < 0) {
            pieces.AppEnd(text.SubString(start));
            break;
        }
        pieces.AppEnd(at > start ? text.SubString(start, at - 1) : C_WString());
        start = at + 1;
        if (start == text.Length()) {
            pieces.AppEnd(C_WString());
            break;
        }
    }
    return pieces;
}

}  // namespace kovra
