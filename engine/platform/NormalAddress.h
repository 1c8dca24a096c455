#pragma once

#include <QHostAddress>

// A dual-stack socket shows an IPv4 peer as ::ffff:a.b.c.d; the engine stores and
// compares every address in one form, IPv4 as IPv4, so the two are the same client.
inline QHostAddress NormalAddress(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

// A listener on every address (or none given): no one interface is its own.
inline bool IsAnyAddress(const QHostAddress& listen) {
    return listen.isNull() || listen == QHostAddress(QHostAddress::Any) ||
           listen == QHostAddress(QHostAddress::AnyIPv4) ||
           listen == QHostAddress(QHostAddress::AnyIPv6);
}
