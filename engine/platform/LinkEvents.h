#pragma once

#include "engine/platform/Platform.h"

#include <QList>
#include <functional>

// Interface events from the kernel's routing socket (Linux): links and addresses.
namespace LinkEvents {

// The events in one read of a NETLINK_ROUTE socket (several messages, possibly cut
// short): a link's RTM_NEWLINK says up (IFF_UP with IFF_RUNNING) or down, RTM_DELLINK
// down; RTM_NEWADDR and RTM_DELADDR an IPv4 or IPv6 address added or removed. Names
// are filled where the message carries one (a link's, an IPv4 address's label); the
// index always. Anything else, or anything malformed, is passed over.
QList<InterfaceEvent> Parse(const char* data, qint64 size);

// A non-blocking NETLINK_ROUTE socket that hears links and IPv4 and IPv6 addresses;
// -1 when the kernel refuses one.
int Open();
// Reads what waits on it and hands each event on, with its name filled from the index
// where the message had none. When the kernel dropped events, one without a name or
// index stands for them: whatever was missed, look at the interfaces again.
void ReadAll(int fd, const std::function<void(const InterfaceEvent&)>& onEvent);

} // namespace LinkEvents
