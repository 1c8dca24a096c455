#include "engine/boot/BootPolicy.h"

#include "engine/boot/BootMenu.h"
#include "engine/boot/RaspberryPi.h"
#include "engine/platform/NormalAddress.h"

#include <QFile>
#include <QUrl>

namespace BootPolicy {

Settings SettingsOf(const EngineSettings& s) {
    return {s.bootFileBios, s.bootFileUefi, s.bootFileUefiHttp, s.bootFileIpxe, s.bootFileOther,
            s.secureBootChain, s.menu, s.httpEnabled, s.httpPort, s.raspberryPi,
            HttpRedirect::SettingsOf(s)};
}

QString Choice::kindName() const {
    return raspberryPi ? QStringLiteral("Raspberry Pi") : Dhcp::KindName(kind);
}

QString Choice::problem() const {
    if (refusal != Refusal::None)
        return RefusalRow(refusal, file);
    if (!chainLacks.isEmpty())
        return QStringLiteral("Secure Boot chain lacks ") + chainLacks;
    return QString();
}

Client ClientOf(const Dhcp::Packet& request, const QString& hostFile) {
    return {Dhcp::Classify(request), request.macText(), hostFile};
}

Client ClientOf6(const Dhcp6::Packet& request, const QString& mac, const QString& hostFile) {
    return {Dhcp6::Classify(request), mac, hostFile};
}

QByteArray BootUrl6(const Choice& choice, const QHostAddress& server6) {
    if (choice.offered.isEmpty() || choice.offered.contains("://"))
        return choice.offered;
    return "tftp://[" + server6.toString().toLatin1() + "]/" +
           choice.offered.toPercentEncoding("/");
}

QString MenuScript(const QStringList& listing, const QString& mac) {
    // A client without a known MAC (a DHCPv6 DUID-UUID) has no script of its own:
    // "boot-.ipxe" is nobody's.
    const QString own =
        QStringLiteral("boot-%1.ipxe").arg(mac.toLower().replace(QLatin1Char(':'), QLatin1Char('-')));
    for (const QString& file : listing) {
        if (!mac.isEmpty() && file.compare(own, Qt::CaseInsensitive) == 0)
            return file;
    }
    return QLatin1String(listing.contains(QLatin1String(BootMenu::kUserName))
                             ? BootMenu::kUserName
                             : BootMenu::kGeneratedName);
}

Choice Choose(Service service, const Client& client, const Settings& s, const QHostAddress& server,
              const Folder& folder) {
    Choice c;
    c.kind = client.kind;
    c.httpClient = client.kind == Dhcp::ClientKind::UefiHttp;
    // A Pi says it is a BIOS PC; its MAC or its HostsFile line tells it apart. What it
    // asks over TFTP is its own choice: the file is only named, never looked for.
    if (s.raspberryPi && client.kind == Dhcp::ClientKind::Bios &&
        (RaspberryPi::HasPiMac(client.mac) || RaspberryPi::MarksPi(client.hostFile))) {
        c.raspberryPi = true;
        c.vendorOptions = RaspberryPi::VendorOptions();
        c.file = client.hostFile.isEmpty() ? QLatin1String(RaspberryPi::kFirstFile) : client.hostFile;
        c.offered = QFile::encodeName(c.file);
        return c;
    }
    QString name = client.hostFile;
    if (name.isEmpty()) {
        switch (client.kind) {
        case Dhcp::ClientKind::Bios: name = s.bios; break;
        case Dhcp::ClientKind::Uefi:
            name = s.uefi;
            if (name.isEmpty() && s.secureBootChain)
                name = QLatin1String(SecureBoot::kDefaultShim);
            break;
        case Dhcp::ClientKind::UefiHttp: name = s.uefiHttp; break;
        case Dhcp::ClientKind::Ipxe:
            name = s.menu ? MenuScript(folder.listing, client.mac) : s.ipxe;
            break;
        case Dhcp::ClientKind::NotPxe:
        case Dhcp::ClientKind::OtherArch:
            if (service == Service::DhcpServer)
                name = s.other;
            break;
        }
    }
    if (name.isEmpty())
        return c;

    // A URL goes as it is. A name must be in the working folder; a UEFI HTTP client is
    // told it as a URL on our HTTP port, on the address the offer names as ours.
    const QByteArray encoded = QFile::encodeName(name);
    const bool url = name.contains(QLatin1String("://"));
    c.file = name;
    c.offered = encoded;
    if (!url && c.httpClient) {
        QUrl http;
        http.setScheme(QStringLiteral("http"));
        http.setHost(server.toString());
        http.setPort(s.httpPort);
        http.setPath(QLatin1Char('/') + name);
        c.offered = http.toEncoded();
        // Above the size the cache's URL itself: firmware need not follow a 302.
        const QByteArray cache =
            folder.size ? HttpRedirect::Target(s.redirect, encoded, folder.size(encoded)) : QByteArray();
        if (!cache.isEmpty() && s.httpEnabled)
            c.offered = cache;
        c.file = QString::fromUtf8(c.offered);
    }
    if (!url && folder.exists && !folder.exists(encoded)) {
        c.refusal = Refusal::BootFileMissing;
        c.file = name;
        return c;
    }
    if (!url && c.httpClient && !s.httpEnabled) {
        c.refusal = Refusal::BootHttpOff;
        c.file = name;
        return c;
    }
    // The shim goes out; what it asks for next must be there too, or the boot stops.
    if (client.kind == Dhcp::ClientKind::Uefi && s.secureBootChain && folder.exists) {
        const SecureBoot::Chain chain = SecureBoot::Check(encoded, folder.exists);
        if (!chain.complete())
            c.chainLacks = chain.missingText();
    }
    return c;
}

QList<QByteArray> OptionalProbes(const Settings& settings) {
    QList<QByteArray> names;
    if (settings.secureBootChain)
        names << SecureBoot::OptionalProbes();
    if (settings.raspberryPi)
        names << RaspberryPi::OptionalProbes();
    return names;
}

} // namespace BootPolicy

QString DhcpLink::describe() const {
    return QStringLiteral("%1 (%2)").arg(device, address.toString());
}

DhcpLink FindDhcpLink(const QString& name, const QHostAddress& listen,
                      const QList<NetInterface>& interfaces, LinkWait* wait) {
    const bool any = IsAnyAddress(listen);
    *wait = {};
    wait->why = LinkWait::Why::NoAddress;
    wait->device = name;
    wait->address = name.isEmpty() && !any ? listen.toString() : QString();
    for (const NetInterface& i : interfaces) {
        if (!name.isEmpty() && i.name != name)
            continue;
        if (name.isEmpty() && any && (!i.up || i.loopback))
            continue;
        for (qsizetype k = 0; k < i.addresses.size(); ++k) {
            const QHostAddress& a = i.addresses[k];
            if (a.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            if (name.isEmpty() && !any && !a.isEqual(listen, QHostAddress::ConvertV4MappedToIPv4))
                continue;
            if (!i.up) { // the interface holding it, or the one named
                *wait = {};
                wait->why = LinkWait::Why::LinkDown;
                wait->device = i.name;
                return {};
            }
            return {i.name, a, i.prefixLength(k)};
        }
        if (!name.isEmpty()) {
            if (!i.up)
                wait->why = LinkWait::Why::LinkDown;
            return {};
        }
    }
    if (!name.isEmpty()) {
        wait->why = LinkWait::Why::LinkDown;
        wait->present = false;
    }
    return {};
}
