#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Hardware and IPv4 addresses as text, the one reading and writing of each for every
// wing and dialog that shows or takes them.
namespace Dhcp {

// A hardware address as sent (chaddr's first hlen bytes); "52:54:00:12:34:56" in text.
using Mac = QByteArray;
QString MacText(const Mac& mac);
// "52:54:00:12:34:56" or "52-54-00-12-34-56", any case; empty for anything else.
Mac ParseMac(const QString& text);

QString AddressText(quint32 address);
// Four decimal parts of 0 to 255, each of one to three digits; false for anything else.
// QHostAddress and inet_aton also take "10.1" or "0x0a000001": a typing error there,
// never an address a user meant.
bool ParseAddress(const QString& text, quint32* address);
// The same, 0 for anything else (0.0.0.0 is never an address handed out or named).
quint32 ParseAddress(const QString& text);

} // namespace Dhcp
