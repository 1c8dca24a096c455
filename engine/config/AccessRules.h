#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <array>
#include <optional>
#include <utility>

// The Security values: which clients are served, and which file may be read.
struct AccessRules {
    bool allowClient = false;       // AllowClient: only the listed clients are served
    std::array<QString, 6> clients; // Client1 to Client6, as typed
    bool sendFile = false;          // SendFile: reads only of names containing fileEdit
    QString fileEdit;               // FileEdit

    // With allowClient, a client is served when its address is one of the six or lies
    // in one of them given as a range (all six empty: nobody is). Addresses compare as
    // addresses, not as text: "0:0:0:0:0:0:0:1" is "::1", "::ffff:10.0.0.1" is 10.0.0.1.
    bool AdmitsClient(const QString& client) const;
    // The same for an address, made text only where there are rules to match.
    bool AdmitsClient(const QHostAddress& client) const {
        return !allowClient || AdmitsClient(client.toString());
    }
    // A client field as an address range: "10.0.0.1" (one address), "192.168.1.0/24",
    // "fd00::/64"; IPv4-mapped IPv6 comes out as IPv4. Nothing for text that is none.
    using Subnet = std::pair<QHostAddress, int>;
    static std::optional<Subnet> ParseClient(const QString& text);
    // With sendFile, a read is served when the name contains fileEdit (case matters).
    bool AdmitsRead(const QByteArray& name) const;

    bool operator==(const AccessRules&) const = default;
};
