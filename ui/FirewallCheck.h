#pragma once

#include "engine/firewall/FirewallRules.h"

#include <QObject>
#include <QProcess>
#include <QTimer>

// Reads the machine's firewall for the status field: ufw from its files, firewalld by
// asking firewall-cmd (run without waiting for it). Looks once for each set of ports,
// not on every refresh; changed() says when a look has ended with a new finding.
class CFirewallCheck : public QObject {
    Q_OBJECT
public:
    static constexpr int kCommandMs = 5000; // firewall-cmd gets this long to answer

    explicit CFirewallCheck(QObject* parent = nullptr);
    // Looks again when `ports` differ from the last look's (none: nothing to say).
    void Watch(const QList<Firewall::Port>& ports);
    const Firewall::Finding& Result() const { return m_finding; }
    // Where /etc and /usr are read from (tests give a folder of their own), and the
    // firewall-cmd to run (empty: looked up on the path).
    void SetRoot(const QString& root) { m_root = root; }
    void SetFirewallCmd(const QString& program) { m_firewallCmd = program; }

signals:
    void changed();

private:
    void Look();
    void Ask(const QStringList& arguments);
    void Answered(int exitCode, QProcess::ExitStatus status);
    void Done(const Firewall::Finding& finding);
    QByteArray Read(const QString& path, bool* ok = nullptr) const;

    QList<Firewall::Port> m_ports;
    bool m_looked = false;
    Firewall::Finding m_finding;
    QString m_root;
    QString m_firewallCmd;
    QProcess* m_pProcess = nullptr;
    QTimer m_timeout;
    enum class Step { None, State, Zone } m_step = Step::None;
};
