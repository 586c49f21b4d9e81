#pragma once

#include <cstring>
#include <new>

// Storage rules shared by the wide and the narrow string classes: a 32-unit
// inline buffer for short text, a heap buffer with 256 units of slack once
// the text grows, kept for the string's life once it exists.
namespace kovra {
namespace common {

template <typename Ch>
struct StringStorage {
    static const int kInline = 32;

    Ch* stack;
    Ch*& heap;
    int& length;
    unsigned int& capacity;

    Ch* Data() const { return heap ? heap : stack; }

    void Init() {
        heap = nullptr;
        length = 0;
        capacity = 0;
        stack[0] = 0;
    }

    void Free() {
        delete[] heap;
        heap = nullptr;
        capacity = 0;
    }

    // Text made from a C string: inline up to 31 units, else n + 256.
    void Construct(const Ch* s, int n) {
        if (n <= kInline - 1) {
            Copy(stack, s, n);
        } else {
            heap = new Ch[n + 256];
            capacity = static_cast<unsigned int>(n + 256);
            Copy(heap, s, n);
        }
        length = n;
    }

    // A result sized exactly (new strings made by operations).
    void ConstructExact(const Ch* s, int n) {
        if (n <= kInline - 1) {
            Copy(stack, s, n);
        } else {
            heap = new Ch[n + 1];
            capacity = static_cast<unsigned int>(n + 1);
            Copy(heap, s, n);
        }
        length = n;
    }

    // Assignment reuses a heap buffer that is large enough. `s` may point
    // into this string's own text.
    void Assign(const Ch* s, int n) {
        if (!heap && n <= kInline - 1) {
            Move(stack, s, n);
        } else if (capacity < static_cast<unsigned int>(n) + 1u) {
            Ch* fresh = new Ch[n + 256];
            Copy(fresh, s, n);
            delete[] heap;
            heap = fresh;
            capacity = static_cast<unsigned int>(n + 256);
        } else {
            Move(heap, s, n);
        }
        length = n;
    }

    // Appending grows to the new length + 256. `s` may point into this
    // string's own text: the old buffer is freed only after the copy.
    void Append(const Ch* s, int m) {
        if (m <= 0) return;
        int total = length + m;
        if (!heap && total <= kInline - 2) {
            Move(stack + length, s, m);
        } else if (capacity < static_cast<unsigned int>(total) + 1u) {
            Ch* fresh = new Ch[total + 256];
            std::memcpy(fresh, Data(), sizeof(Ch) * length);
            std::memcpy(fresh + length, s, sizeof(Ch) * m);
            delete[] heap;
            heap = fresh;
            capacity = static_cast<unsigned int>(total + 256);
        } else {
            Move(heap + length, s, m);
        }
        length = total;
        Data()[length] = 0;
    }

    // Heap capacity of at least n units (only above the inline size):
    // 1 when it grew, 0 when nothing was needed, -1 when allocation failed.
    int Reserve(int n) {
        if (n <= kInline || capacity >= static_cast<unsigned int>(n)) return 0;
        Ch* fresh = new (std::nothrow) Ch[n];
        if (!fresh) return -1;
        std::memcpy(fresh, Data(), sizeof(Ch) * (length + 1));
        delete[] heap;
        heap = fresh;
        capacity = static_cast<unsigned int>(n);
        return 1;
    }

    void Clear() {
        length = 0;
        Data()[0] = 0;
    }

private:
    static void Copy(Ch* to, const Ch* from, int n) {
        if (n > 0) std::memcpy(to, from, sizeof(Ch) * n);
        to[n] = 0;
    }
    static void Move(Ch* to, const Ch* from, int n) {
        if (n > 0) std::memmove(to, from, sizeof(Ch) * n);
        to[n] = 0;
    }
};

}  // namespace common
}  // namespace kovra
