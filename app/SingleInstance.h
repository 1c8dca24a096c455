#pragma once

#include <QLocalServer>
#include <QString>
#include <functional>

// Only one copy of the window runs per machine user: the first copy holds a local
// server under a fixed name; a later copy finds it, asks it to show its window and
// quits. A name left behind by a copy that crashed answers nobody, so it is taken
// over.
class CSingleInstanceGuard {
public:
    enum class Result { First, AlreadyRunning, Failed };

    static constexpr const char* kName = "ombrixtftp";

    explicit CSingleInstanceGuard(const QString& name = QString::fromLatin1(kName));
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
