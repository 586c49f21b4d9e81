#pragma once

namespace kovra {
namespace common {

// A singly linked list appended at the tail.
template <typename T>
class List {
public:
    List() : m_head(nullptr), m_tail(nullptr), m_count(0) {}
    List(const List&) = delete;
    List& operator=(const List&) = delete;
    virtual ~List() { Clear(); }

    void Append(const T& value) {
        Node* node = new Node{value, nullptr};
        if (m_tail)
            m_tail->next = node;
        else
            m_head = node;
        m_tail = node;
        ++m_count;
    }

    int Count() const { return m_count; }
    bool Empty() const { return m_count == 0; }
    // Callers check Empty() first.
    const T& First() const { return m_head->value; }

    void Clear() {
        while (m_head) {
            Node* next = m_head->next;
            delete m_head;
            m_head = next;
        }
        m_tail = nullptr;
        m_count = 0;
    }

    // Calls f(value) for each value, head to tail.
    template <typename F>
    void ForEach(F f) const {
        for (Node* node = m_head; node; node = node->next) f(node->value);
    }

private:
    struct Node {
        T value;
        Node* next;
    };

    Node* m_head;
    Node* m_tail;
    int m_count;
};

}  // namespace common
}  // namespace kovra
