#pragma once

#include <QLocalServer>
#include <QString>
#include <functional>

// Only one copy of the window runs per user: the first copy holds a local server
// whose socket lives in the user's runtime folder and carries the user id, so other
// users (root included) never meet it; a later copy of the same user finds it, asks
// it to show its window and quits. A socket left behind by a copy that died answers
// nobody, so it is removed and taken over.
class CSingleInstanceGuard {
public:
    enum class Result { First, AlreadyRunning, Failed };

    // The socket's path for this user: $XDG_RUNTIME_DIR (or Qt's runtime folder when
    // it is unset) / vantrel-server-<uid>.
    static QString DefaultName();

    explicit CSingleInstanceGuard(const QString& name = DefaultName());
    ~CSingleInstanceGuard();

    // Claims the name, or tells the first copy to show itself.
    Result Acquire();
    QString ErrorString() const { return m_server.errorString(); }

    // Called in the first copy each time another copy asks for the window.
    void SetShowRequestHandler(std::function<void()> handler) { m_onShow = std::move(handler); }

private:
    bool TellFirstCopy();
    void OnNewConnection();

    QString m_name;
    QLocalServer m_server;
    std::function<void()> m_onShow;
};
