#pragma once

#include <QByteArray>
#include <QString>
#include <array>

class CSettingsStore;

// The Security values: which clients are served, and which file may be read.
struct AccessRules {
    bool allowClient = false;       // AllowClient: only the listed clients are served
    std::array<QString, 6> clients; // Client1 to Client6, as typed
    bool sendFile = false;          // SendFile: reads only of names containing fileEdit
    QString fileEdit;               // FileEdit

    // With allowClient, a client is served when its text equals one of the six
    // (all six empty: nobody is).
    bool AdmitsClient(const QString& client) const;
    // With sendFile, a read is served when the name contains fileEdit (case matters).
    bool AdmitsRead(const QByteArray& name) const;

    static AccessRules Load(CSettingsStore& store);
    void Save(CSettingsStore& store) const;

    bool operator==(const AccessRules&) const = default;
};
