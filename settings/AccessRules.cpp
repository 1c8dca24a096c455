#include "AccessRules.h"

#include "SettingsStore.h"

#include <algorithm>

bool AccessRules::AdmitsClient(const QString& client) const {
    return !allowClient || std::find(clients.begin(), clients.end(), client) != clients.end();
}

bool AccessRules::AdmitsRead(const QByteArray& name) const {
    return !sendFile || QString::fromLatin1(name).contains(fileEdit, Qt::CaseSensitive);
}

AccessRules AccessRules::Load(CSettingsStore& store) {
    AccessRules rules;
    rules.allowClient =
        store.GetProfileInt(CSettingsStore::kAllowClient, CSettingsStore::kDefaultAllowClient) != 0;
    for (int i = 0; i < 6; ++i)
        rules.clients[size_t(i)] =
            store.GetProfileString(CSettingsStore::kClientKeys[i], QString());
    rules.sendFile =
        store.GetProfileInt(CSettingsStore::kSendFile, CSettingsStore::kDefaultSendFile) != 0;
    rules.fileEdit = store.GetProfileString(CSettingsStore::kFileEdit, QString());
    return rules;
}

void AccessRules::Save(CSettingsStore& store) const {
    store.WriteProfileInt(CSettingsStore::kAllowClient, allowClient ? 1 : 0);
    for (int i = 0; i < 6; ++i)
        store.WriteProfileString(CSettingsStore::kClientKeys[i], clients[size_t(i)]);
    store.WriteProfileInt(CSettingsStore::kSendFile, sendFile ? 1 : 0);
    store.WriteProfileString(CSettingsStore::kFileEdit, fileEdit);
}
