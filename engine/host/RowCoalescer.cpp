#include "engine/host/RowCoalescer.h"

void CRowCoalescer::Clear() {
    m_addAt.clear();
    m_detailsAt.clear();
    m_soundAt = m_firstStartAt = m_animationAt = kNone;
}

bool CRowCoalescer::Fold(std::vector<HostEvent>& queue, HostEvent& event,
                         QHash<RowHandle, size_t>& progressAt) {
    switch (event.kind) {
    case HostEvent::Add:
        m_addAt.insert(event.row, queue.size());
        return false;
    case HostEvent::Update:
        return FoldUpdate(queue, event, progressAt);
    case HostEvent::Details: {
        const auto at = m_detailsAt.constFind(event.row);
        if (at != m_detailsAt.constEnd()) {
            queue[*at].details = std::move(event.details);
            return true;
        }
        m_detailsAt.insert(event.row, queue.size());
        return false;
    }
    case HostEvent::Sound:
        if (m_soundAt != kNone) {
            queue[m_soundAt].done = event.done;
            return true;
        }
        m_soundAt = queue.size();
        return false;
    case HostEvent::Animation:
        if (m_animationAt != kNone && m_animationAt != m_firstStartAt) {
            queue[m_animationAt].done = event.done;
            return true;
        }
        if (event.done && m_firstStartAt == kNone)
            m_firstStartAt = queue.size();
        m_animationAt = queue.size();
        return false;
    default:
        return false;
    }
}

bool CRowCoalescer::FoldUpdate(std::vector<HostEvent>& queue, const HostEvent& event,
                               QHash<RowHandle, size_t>& progressAt) {
    const auto at = m_addAt.constFind(event.row);
    if (at == m_addAt.constEnd())
        return false;
    HostEvent& queued = queue[*at];
    // New texts while it runs go with the Add, in order, so that a final state folded
    // later cannot arrive before them; the row's progress stays where it is.
    if (event.state == ROW_ACTIVE) {
        queued.steps.push_back(event.texts);
        return true;
    }
    m_addAt.erase(at);
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
    const HostEvent* sound = nullptr;
    const HostEvent* animation = nullptr; // the last
    const HostEvent* started = nullptr;   // the first start
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
        if (event.kind == HostEvent::Sound) {
            sound = &event;
            continue;
        }
        if (event.kind == HostEvent::Animation) {
            if (event.done && !started)
                started = &event;
            animation = &event;
            continue;
        }
        if (event.kind == HostEvent::Add) {
            added.push_back({event.row, std::move(event.texts), event.state, std::move(event.ended),
                             std::move(event.steps)});
            continue;
        }
        flush();
        deliver(event);
    }
    flush();
    if (sound)
        deliver(*sound);
    if (started && !animation->done)
        deliver(*started);
    if (animation)
        deliver(*animation);
}
