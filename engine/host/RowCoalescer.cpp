#include "engine/host/RowCoalescer.h"

bool CRowCoalescer::Fold(std::vector<HostEvent>& queue, const HostEvent& event,
                         QHash<RowHandle, size_t>& progressAt) {
    if (event.kind == HostEvent::Add) {
        m_addAt.insert(event.row, queue.size());
        return false;
    }
    if (event.kind != HostEvent::Update)
        return false;
    const auto at = m_addAt.constFind(event.row);
    if (at == m_addAt.constEnd())
        return false;
    const size_t add = *at;
    m_addAt.erase(at);
    // New texts while it runs are shown as they come: a final state folded into the Add
    // after them would arrive before them.
    if (event.state == ROW_ACTIVE)
        return false;
    HostEvent& queued = queue[add];
    queued.state = event.state;
    queued.ended = event.texts;
    if (const auto progress = progressAt.constFind(event.row); progress != progressAt.constEnd()) {
        queue[*progress].kind = HostEvent::Dropped;
        progressAt.erase(progress);
    }
    return true;
}

void CRowCoalescer::Deliver(std::vector<HostEvent>& events, IServerWindow& window,
                            const std::function<void(const HostEvent&)>& deliver) {
    std::vector<NewRow> added;
    std::vector<const HostEvent*> details;
    const auto flush = [&] {
        if (!added.empty())
            window.AddRows(added);
        added.clear();
        for (const HostEvent* d : details)
            deliver(*d);
        details.clear();
    };
    for (HostEvent& event : events) {
        if (event.kind == HostEvent::Dropped)
            continue;
        if (event.kind == HostEvent::Details) {
            details.push_back(&event);
            continue;
        }
        if (event.kind == HostEvent::Add) {
            added.push_back({event.row, std::move(event.texts), event.state, std::move(event.ended)});
            continue;
        }
        flush();
        deliver(event);
    }
    flush();
}
