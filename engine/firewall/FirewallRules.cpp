#include "engine/firewall/FirewallRules.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

namespace Firewall {

QString Port::text() const {
    return QStringLiteral("%1/%2").arg(number).arg(tcp ? QLatin1String("tcp") : QLatin1String("udp"));
}

QString Finding::text() const {
    QStringList ports;
    for (const Port& p : blocked)
        ports.append(p.text());
    const QString ufw = QStringLiteral("sudo ufw allow %1").arg(QLatin1String(kProfile));
    const QString firewalld =
        QStringLiteral("sudo firewall-cmd --add-service=%1 (and with --permanent to keep it)")
            .arg(QLatin1String(kProfile));
    const QString how = firewall == QLatin1String("ufw") ? ufw : firewalld;
    switch (kind) {
    case Kind::Off:
    case Kind::Open: break;
    case Kind::Blocked:
        return QStringLiteral("firewall (%1) blocks %2: %3")
            .arg(firewall, ports.join(QStringLiteral(", ")), how);
    case Kind::Unreadable:
        return QStringLiteral("firewall (%1) is on, its rules could not be read; to open our ports: %2")
            .arg(firewall, how);
    }
    return QString();
}

namespace {
// "key=value" of a shell-style settings file, quotes removed; empty when unset.
QString ShellValue(const QByteArray& text, const char* key) {
    QString value;
    const QRegularExpression re(QStringLiteral("^\\s*%1\\s*=\\s*\"?([^\"#\\s]*)").arg(QLatin1String(key)));
    for (const QByteArray& line : text.split('\n')) {
        const auto m = re.match(QString::fromUtf8(line));
        if (m.hasMatch())
            value = m.captured(1); // the last one counts, as the shell reads it
    }
    return value;
}

bool Covers(const QList<QPair<Port, quint16>>& ranges, const Port& p) {
    for (const auto& [first, last] : ranges)
        if (first.tcp == p.tcp && p.number >= first.number && p.number <= last)
            return true;
    return false;
}

// "67,69,4011", "4000:4100" (ufw) or "4000-4100" (firewalld); empty when not understood.
QList<QPair<Port, quint16>> PortList(const QString& text, QChar rangeMark, bool tcp) {
    QList<QPair<Port, quint16>> out;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok1 = false, ok2 = true;
        const quint16 first = part.section(rangeMark, 0, 0).toUShort(&ok1);
        const quint16 last = part.contains(rangeMark) ? part.section(rangeMark, 1, 1).toUShort(&ok2) : first;
        if (ok1 && ok2 && first && last >= first)
            out.append({Port{first, tcp}, last});
    }
    return out;
}
} // namespace

bool UfwEnabled(const QByteArray& ufwConf) {
    return ShellValue(ufwConf, "ENABLED").compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
}

bool UfwFiltersIpv6(const QByteArray& defaults) {
    return ShellValue(defaults, "IPV6").compare(QLatin1String("no"), Qt::CaseInsensitive) != 0;
}

QList<Port> UfwBlocked(const QByteArray& userRules, const QByteArray& defaults,
                       const QList<Port>& ours) {
    const QString policy = ShellValue(defaults, "DEFAULT_INPUT_POLICY");
    const bool openByDefault = policy.compare(QLatin1String("ACCEPT"), Qt::CaseInsensitive) == 0;
    // Each rule as ufw keeps it beside the iptables lines:
    //   ### tuple ### ACTION PROTO DPORT DST SPORT SRC [DAPP SAPP] DIRECTION
    struct Rule {
        bool open = false;
        QList<QPair<Port, quint16>> ports;
        bool anyPort = false, udp = false, tcp = false;
    };
    QList<Rule> rules;
    bool inRules = false;
    for (const QByteArray& raw : userRules.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line == QLatin1String("### RULES ###"))
            inRules = true;
        else if (line == QLatin1String("### END RULES ###"))
            inRules = false;
        if (!inRules || !line.startsWith(QLatin1String("### tuple ### ")))
            continue;
        const QStringList t = line.mid(14).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (t.size() != 7 && t.size() != 9)
            continue;
        // Routed rules ("route:allow") and outgoing ones say nothing about what comes in.
        const QString action = t[0].section(QLatin1Char('_'), 0, 0);
        if (action.contains(QLatin1Char(':')) || !t.last().startsWith(QLatin1String("in")))
            continue;
        Rule r;
        r.open = action == QLatin1String("allow") || action == QLatin1String("limit");
        const QString proto = t[1];
        r.udp = proto == QLatin1String("udp") || proto == QLatin1String("any");
        r.tcp = proto == QLatin1String("tcp") || proto == QLatin1String("any");
        if (!r.udp && !r.tcp)
            continue;
        r.anyPort = t[2] == QLatin1String("any");
        for (const bool tcp : {false, true})
            if (tcp ? r.tcp : r.udp)
                r.ports += PortList(t[2], QLatin1Char(':'), tcp);
        rules.append(r);
    }
    QList<Port> blocked;
    for (const Port& p : ours) {
        bool open = openByDefault;
        for (const Rule& r : rules) {
            if (r.anyPort ? (p.tcp ? r.tcp : r.udp) : Covers(r.ports, p)) {
                open = r.open; // the first rule that matches decides
                break;
            }
        }
        if (!open && !blocked.contains(p))
            blocked.append(p);
    }
    return blocked;
}

Zone ParseZoneListing(const QByteArray& listAll) {
    Zone zone;
    for (const QByteArray& raw : listAll.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        const QString key = line.left(colon);
        const QStringList values = line.mid(colon + 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (key == QLatin1String("target"))
            zone.target = values.value(0);
        else if (key == QLatin1String("services"))
            zone.services = values;
        else if (key == QLatin1String("ports")) {
            for (const QString& v : values) {
                const QString proto = v.section(QLatin1Char('/'), 1, 1);
                if (proto == QLatin1String("udp") || proto == QLatin1String("tcp"))
                    zone.ports += PortList(v.section(QLatin1Char('/'), 0, 0), QLatin1Char('-'),
                                           proto == QLatin1String("tcp"));
            }
        }
    }
    return zone;
}

QList<QPair<Port, quint16>> ParseServiceFile(const QByteArray& xml) {
    QList<QPair<Port, quint16>> out;
    QXmlStreamReader r(xml);
    while (!r.atEnd() && r.readNext() != QXmlStreamReader::Invalid) {
        if (!r.isStartElement() || r.name() != QLatin1String("port"))
            continue;
        const QString proto = r.attributes().value(QLatin1String("protocol")).toString();
        if (proto == QLatin1String("udp") || proto == QLatin1String("tcp"))
            out += PortList(r.attributes().value(QLatin1String("port")).toString(), QLatin1Char('-'),
                            proto == QLatin1String("tcp"));
    }
    return out;
}

QList<Port> FirewalldBlocked(const Zone& zone,
                             const QHash<QString, QList<QPair<Port, quint16>>>& servicePorts,
                             const QList<Port>& ours) {
    // A zone with the target ACCEPT (as "trusted") lets everything in.
    if (zone.target == QLatin1String("ACCEPT"))
        return {};
    QList<QPair<Port, quint16>> open = zone.ports;
    for (const QString& s : zone.services)
        open += servicePorts.value(s);
    QList<Port> blocked;
    for (const Port& p : ours)
        if (!Covers(open, p) && !blocked.contains(p))
            blocked.append(p);
    return blocked;
}

QList<Port> OurPorts(quint16 tftpPort, bool bootOffers, bool dhcpServer, bool dhcp6Server,
                     quint16 httpPort) {
    QList<Port> ports{{tftpPort, false}};
    if (bootOffers || dhcpServer)
        ports.append({67, false});
    if (dhcp6Server)
        ports.append({547, false, true});
    if (bootOffers)
        ports.append({4011, false});
    if (httpPort)
        ports.append({httpPort, true});
    return ports;
}

} // namespace Firewall
