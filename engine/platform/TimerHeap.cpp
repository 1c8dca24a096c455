#include "engine/platform/TimerHeap.h"

void CTimerHeap::start(int id, qint64 deadline) {
    const int n = node(id);
    Node& t = m_nodes[size_t(n)];
    t.deadline = deadline;
    t.seq = ++m_seq;
    if (t.heapPos < 0) {
        t.heapPos = int(m_heap.size());
        m_heap.push_back(n);
    }
    siftUp(t.heapPos);
    siftDown(m_nodes[size_t(n)].heapPos);
}

void CTimerHeap::stop(int id) {
    if (const int n = find(id); n >= 0)
        unlink(n);
}

void CTimerHeap::release(int id) {
    const int n = find(id);
    if (n < 0)
        return;
    unlink(n);
    m_free.push_back(n);
    if (id >= 0 && id < kDirectIds)
        m_direct[size_t(id)] = -1;
    else
        m_ids.erase(id);
}

qint64 CTimerHeap::earliest() const {
    return m_heap.empty() ? kNever : m_nodes[size_t(m_heap.front())].deadline;
}

bool CTimerHeap::takeDue(qint64 now, quint64 startedBy, int* id) {
    if (m_heap.empty())
        return false;
    const Node& top = m_nodes[size_t(m_heap.front())];
    if (top.deadline > now || top.seq > startedBy)
        return false;
    *id = top.id;
    unlink(m_heap.front());
    return true;
}

// The engine's ids are transfer ports: a direct table, other ids in a map.
int CTimerHeap::find(int id) const {
    if (id >= 0 && id < kDirectIds)
        return m_direct.empty() ? -1 : m_direct[size_t(id)];
    const auto it = m_ids.find(id);
    return it == m_ids.end() ? -1 : it->second;
}

int CTimerHeap::node(int id) {
    if (const int found = find(id); found >= 0)
        return found;
    int n;
    if (!m_free.empty()) {
        n = m_free.back();
        m_free.pop_back();
    } else {
        m_nodes.emplace_back();
        n = int(m_nodes.size() - 1);
    }
    m_nodes[size_t(n)] = Node{0, 0, id, -1};
    if (id >= 0 && id < kDirectIds) {
        if (m_direct.empty())
            m_direct.assign(kDirectIds, -1);
        m_direct[size_t(id)] = n;
    } else {
        m_ids.emplace(id, n);
    }
    return n;
}

bool CTimerHeap::before(int a, int b) const {
    const Node& x = m_nodes[size_t(a)];
    const Node& y = m_nodes[size_t(b)];
    return x.deadline != y.deadline ? x.deadline < y.deadline : x.seq < y.seq;
}

void CTimerHeap::place(int pos, int n) {
    m_heap[size_t(pos)] = n;
    m_nodes[size_t(n)].heapPos = pos;
}

void CTimerHeap::siftUp(int pos) {
    const int n = m_heap[size_t(pos)];
    while (pos > 0) {
        const int parent = (pos - 1) / 2;
        if (!before(n, m_heap[size_t(parent)]))
            break;
        place(pos, m_heap[size_t(parent)]);
        pos = parent;
    }
    place(pos, n);
}

void CTimerHeap::siftDown(int pos) {
    const int n = m_heap[size_t(pos)];
    const int count = int(m_heap.size());
    for (;;) {
        int child = 2 * pos + 1;
        if (child >= count)
            break;
        if (child + 1 < count && before(m_heap[size_t(child + 1)], m_heap[size_t(child)]))
            ++child;
        if (!before(m_heap[size_t(child)], n))
            break;
        place(pos, m_heap[size_t(child)]);
        pos = child;
    }
    place(pos, n);
}

void CTimerHeap::unlink(int n) {
    const int pos = m_nodes[size_t(n)].heapPos;
    if (pos < 0)
        return;
    m_nodes[size_t(n)].heapPos = -1;
    const int last = m_heap.back();
    m_heap.pop_back();
    if (last == n)
        return;
    place(pos, last);
    siftUp(pos);
    siftDown(m_nodes[size_t(last)].heapPos);
}
