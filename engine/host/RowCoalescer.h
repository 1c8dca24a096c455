#pragma once

#include "engine/server/ServerWindow.h"

#include <QHash>
#include <functional>
#include <memory>
#include <vector>

// One change for the window, as the engine thread queues it for the window's thread.
struct HostEvent {
    enum Kind : quint8 { Add, Update, Progress, Sound, Animation, Message, Details, Dropped };
    Kind kind = Add;
    RowState state = ROW_ACTIVE;
    RowHandle row = 0;
    qint64 done = 0, total = 0; // progress; the sound's id in done; animation on in done
    RowTexts texts;             // a message's text in info
    RowTexts ended = {};        // an Add's final texts, when its transfer ended in the queue
    std::shared_ptr<const RowDetails> details = {}; // Details only: twice a row at most
    std::vector<RowTexts> steps = {}; // an Add's running texts told while it was queued
};

// Short transfers begin and end between two drains of the queue: their rows reach the
// window once, already ended, rather than as an Add, progress and Updates, and the
// Adds of one drain reach it together. Sounds and the animation do not split them:
// a drain plays its last sound and turns the animation once.
class CRowCoalescer {
public:
    // Before `event` joins `queue` (under the queue's lock). True when it was folded into
    // what is queued: an Update into its row's Add, while it runs (one more step) or with
    // a final state, the row's queued progress (at progressAt) dropped at the final one;
    // details in place of the row's queued ones (a transfer that starts and ends
    // between two drains is told once, as it ended); a sound in place of the queued one,
    // an animation change in place of the last one queued after the first start (Deliver
    // plays only the last sound and turns the animation once).
    bool Fold(std::vector<HostEvent>& queue, HostEvent& event,
              QHash<RowHandle, size_t>& progressAt);
    // The queue was taken: nothing queued may be folded into any more.
    void Clear();

    // `events` in order to `window`: each run of Adds as one AddRows, the rest through
    // `deliver`. Details do not break a run: they follow it, as they only need their row.
    // Sounds and the animation come last: sounds played together cut each other short,
    // so only the last is played; the animation starts once if any start came (a clip
    // restarted a hundred times in a pass shows as once) and then takes the last state.
    static void Deliver(std::vector<HostEvent>& events, IServerWindow& window,
                        const std::function<void(const HostEvent&)>& deliver);

private:
    bool FoldUpdate(std::vector<HostEvent>& queue, const HostEvent& event,
                    QHash<RowHandle, size_t>& progressAt);

    static constexpr size_t kNone = size_t(-1);
    QHash<RowHandle, size_t> m_addAt; // a row's Add in the queue, while it may fold
    QHash<RowHandle, size_t> m_detailsAt; // a row's details in the queue
    size_t m_soundAt = kNone;
    size_t m_firstStartAt = kNone;
    size_t m_animationAt = kNone;
};
