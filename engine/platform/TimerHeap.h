#pragma once

#include <QtGlobal>
#include <limits>
#include <unordered_map>
#include <vector>

// Restartable timers by id in a binary heap keyed by (deadline, start order): start and
// stop are O(log n) and allocate nothing once an id has been seen. It holds deadlines
// only; whoever owns it keeps the clock and the wake-up.
class CTimerHeap {
public:
    static constexpr qint64 kNever = std::numeric_limits<qint64>::max();

    // (Re)starts `id` to fall due at `deadline`.
    void start(int id, qint64 deadline);
    void stop(int id);
    // Stops it and forgets the id.
    void release(int id);

    // The earliest deadline, kNever when nothing runs.
    qint64 earliest() const;
    // The start count so far: a timer started after a given count is newer.
    quint64 starts() const { return m_seq; }
    // Takes the earliest timer due by `now` and started no later than `startedBy`;
    // false when there is none.
    bool takeDue(qint64 now, quint64 startedBy, int* id);

private:
    static constexpr int kDirectIds = 65536;
    struct Node {
        qint64 deadline = 0;
        quint64 seq = 0;
        int id = 0;
        int heapPos = -1;
    };

    int find(int id) const;
    int node(int id);
    bool before(int a, int b) const;
    void place(int pos, int n);
    void siftUp(int pos);
    void siftDown(int pos);
    void unlink(int n);

    quint64 m_seq = 0;
    std::vector<Node> m_nodes;
    std::vector<int> m_heap;
    std::vector<int> m_free;
    std::vector<int> m_direct;
    std::unordered_map<int, int> m_ids;
};
