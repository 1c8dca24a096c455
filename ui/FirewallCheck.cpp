#include "FirewallCheck.h"

#include <QFile>
#include <QStandardPaths>

using namespace Firewall;

CFirewallCheck::CFirewallCheck(QObject* parent) : QObject(parent) {
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        if (m_pProcess)
            m_pProcess->kill(); // finished() follows and ends the look
    });
}

void CFirewallCheck::Watch(const QList<Port>& ports) {
    if (m_looked && ports == m_ports)
        return;
    m_ports = ports;
    m_looked = true;
    Look();
}

QByteArray CFirewallCheck::Read(const QString& path, bool* ok) const {
    QFile file(m_root + path);
    const bool opened = file.open(QIODevice::ReadOnly);
    if (ok)
        *ok = opened;
    return opened ? file.read(1024 * 1024) : QByteArray();
}

void CFirewallCheck::Look() {
    if (m_pProcess) { // a look still under way: its answer is for other ports
        m_pProcess->disconnect(this);
        m_pProcess->kill();
        m_pProcess->deleteLater();
        m_pProcess = nullptr;
    }
    if (m_ports.isEmpty())
        return Done({});
    // ufw keeps its rules in files; Debian makes them readable to root only.
    if (UfwEnabled(Read(QStringLiteral("/etc/ufw/ufw.conf")))) {
        Finding f;
        f.firewall = QStringLiteral("ufw");
        // DHCPv6's port is judged by the IPv6 rules alone, the rest by the IPv4 ones.
        QList<Port> ports4, ports6;
        for (const Port& p : m_ports)
            (p.v6only ? ports6 : ports4).append(p);
        const QByteArray defaults = Read(QStringLiteral("/etc/default/ufw"));
        if (!UfwFiltersIpv6(defaults))
            ports6.clear();
        bool ok = true, ok6 = true;
        const QByteArray rules =
            ports4.isEmpty() ? QByteArray() : Read(QStringLiteral("/etc/ufw/user.rules"), &ok);
        const QByteArray rules6 =
            ports6.isEmpty() ? QByteArray() : Read(QStringLiteral("/etc/ufw/user6.rules"), &ok6);
        if (!ok || !ok6) {
            f.kind = Finding::Kind::Unreadable;
        } else {
            const QList<Port> blocked =
                UfwBlocked(rules, defaults, ports4) + UfwBlocked(rules6, defaults, ports6);
            for (const Port& p : m_ports) // in our order
                if (blocked.contains(p))
                    f.blocked.append(p);
            f.kind = f.blocked.isEmpty() ? Finding::Kind::Open : Finding::Kind::Blocked;
        }
        return Done(f);
    }
    const QString program = m_firewallCmd.isEmpty()
                                ? QStandardPaths::findExecutable(QStringLiteral("firewall-cmd"))
                                : m_firewallCmd;
    if (program.isEmpty())
        return Done({});
    m_firewallCmd = program;
    m_step = Step::State;
    Ask({QStringLiteral("--state")});
}

void CFirewallCheck::Ask(const QStringList& arguments) {
    m_pProcess = new QProcess(this);
    m_pProcess->setProcessChannelMode(QProcess::SeparateChannels);
    connect(m_pProcess, &QProcess::finished, this, &CFirewallCheck::Answered);
    connect(m_pProcess, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) // no finished() comes after this one
            Answered(-1, QProcess::CrashExit);
    });
    m_pProcess->start(m_firewallCmd, arguments, QIODevice::ReadOnly);
    m_timeout.start(kCommandMs);
}

void CFirewallCheck::Answered(int exitCode, QProcess::ExitStatus status) {
    m_timeout.stop();
    const QByteArray out = m_pProcess->readAllStandardOutput();
    m_pProcess->deleteLater();
    m_pProcess = nullptr;
    const bool ok = status == QProcess::NormalExit && exitCode == 0;
    Finding f;
    f.firewall = QStringLiteral("firewalld");
    if (m_step == Step::State) {
        // "not running" (exit 252), or no answer at all: no firewall to speak of.
        if (!ok)
            return Done({});
        m_step = Step::Zone;
        return Ask({QStringLiteral("--list-all")});
    }
    m_step = Step::None;
    if (!ok) {
        f.kind = Finding::Kind::Unreadable;
        return Done(f);
    }
    const Zone zone = ParseZoneListing(out);
    QHash<QString, QList<QPair<Port, quint16>>> services;
    for (const QString& s : zone.services) {
        // The administrator's copy first, as firewalld reads them.
        bool found = false;
        QByteArray xml = Read(QStringLiteral("/etc/firewalld/services/%1.xml").arg(s), &found);
        if (!found)
            xml = Read(QStringLiteral("/usr/lib/firewalld/services/%1.xml").arg(s));
        services.insert(s, ParseServiceFile(xml));
    }
    f.blocked = FirewalldBlocked(zone, services, m_ports);
    f.kind = f.blocked.isEmpty() ? Finding::Kind::Open : Finding::Kind::Blocked;
    Done(f);
}

void CFirewallCheck::Done(const Finding& finding) {
    if (finding == m_finding)
        return;
    m_finding = finding;
    emit changed();
}
