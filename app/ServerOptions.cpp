#include "ServerOptions.h"

#include "ClientCommand.h"
#include "engine/bootp/AddressText.h"
#include "settings/SettingsManual.h"
#include "settings/SettingsStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>

ServerOptions ParseServerOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Vantrel Server: a TFTP server with a window that lists every "
                       "transfer.\n"
                       "As a TFTP client, without a window:\n"
                       "  vantrel-server --get tftp://HOST[:PORT]/NAME [--output FILE]\n"
                       "  vantrel-server --put FILE tftp://HOST[:PORT]/NAME\n"
                       "Exit status of a client transfer: 0 done, 1 the other side answered "
                       "with an error, 2 bad usage, 3 nothing answered."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"), QStringLiteral("UDP port for requests (default: Setup's Port, else 69)."),
        QStringLiteral("N"), QStringLiteral("69"));
    const QCommandLineOption addressOption(
        QStringLiteral("address"),
        QStringLiteral("Address to listen on, IPv4 or IPv6 (default: every address)."),
        QStringLiteral("IP"));
    const QCommandLineOption headlessOption(
        QStringLiteral("headless"),
        QStringLiteral("No window: print every row change as a line on standard output."));
    const QCommandLineOption noSplashOption(QStringLiteral("no-splash"),
                                            QStringLiteral("Start without the splash screen."));
    // A service has no profile of its own worth the name: it reads the same keys
    // (working folder, time-out, overwrite, the security lists) from a file under /etc.
    const QCommandLineOption settingsOption(
        QStringLiteral("settings"),
        QStringLiteral("Read the settings from FILE (INI, section WorkingDir, the profile's "
                       "keys) instead of the user's profile."),
        QStringLiteral("FILE"));
    const QCommandLineOption helpSettingsOption(
        QStringLiteral("help-settings"),
        QStringLiteral("List every setting: its section, key, default, range and meaning."));
    // The same list as the manual page's section, for help2man at build time.
    QCommandLineOption manSettingsOption(QStringLiteral("help-settings-roff"));
    manSettingsOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({portOption, addressOption, headlessOption, noSplashOption, settingsOption,
                       helpSettingsOption, manSettingsOption});
    // Listed by --help; they run without the server (main sends --get and --put there).
    AddClientOptions(parser);
    parser.process(arguments);
    const QString stray = StrayClientOption(parser);
    if (!stray.isEmpty()) {
        std::fprintf(stderr, "vantrel-server: --%s goes with --get or --put\n", qPrintable(stray));
        std::exit(2);
    }

    if (parser.isSet(helpSettingsOption) || parser.isSet(manSettingsOption)) {
        const QString text = parser.isSet(helpSettingsOption) ? SettingsHelpText()
                                                              : SettingsManSection();
        std::fputs(text.toUtf8().constData(), stdout);
        std::exit(0);
    }

    ServerOptions options;
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        std::fprintf(stderr, "vantrel-server: --port needs a number from 1 to 65535\n");
        std::exit(2);
    }
    options.port = quint16(port);
    options.portGiven = parser.isSet(portOption);
    if (parser.isSet(addressOption)) {
        // Four dotted parts for IPv4, as the dialogs take it: QHostAddress also reads
        // "10.1" (10.0.0.1) or "0x0a000001", never what an administrator meant.
        const QString text = parser.value(addressOption).trimmed();
        quint32 v4 = 0;
        options.address = QHostAddress();
        if (Dhcp::ParseAddress(text, &v4))
            options.address = QHostAddress(v4);
        else if (QHostAddress(text).protocol() == QAbstractSocket::IPv6Protocol)
            options.address = QHostAddress(text);
        options.addressGiven = true;
        if (options.address.isNull()) {
            std::fprintf(stderr, "vantrel-server: --address needs an IPv4 address of four "
                                 "parts (192.0.2.10) or an IPv6 address\n");
            std::exit(2);
        }
    }
    if (parser.isSet(settingsOption)) {
        // A missing file would silently serve the default folder: refuse it instead.
        const QFileInfo file(parser.value(settingsOption));
        if (!file.isFile() || !file.isReadable()) {
            std::fprintf(stderr, "vantrel-server: --settings needs a readable file: %s\n",
                         qPrintable(file.filePath()));
            std::exit(2);
        }
        options.settingsFile = file.absoluteFilePath();
    }
    options.headless = parser.isSet(headlessOption);
    options.showSplash = !parser.isSet(noSplashOption);
    return options;
}

QHostAddress ListenAddressFor(const ServerOptions& options, CSettingsStore& store) {
    if (options.addressGiven)
        return options.address;
    const QHostAddress configured(store.ListenAddress());
    if (!configured.isNull())
        return configured;
    return QHostAddress(store.IPv6() ? QHostAddress::Any : QHostAddress::AnyIPv4);
}

quint16 ListenPortFor(const ServerOptions& options, CSettingsStore& store) {
    return options.portGiven ? options.port : store.Port();
}

QString ListenReport(bool listening, const QHostAddress& address, quint16 port,
                     const QString& folder, const QString& error) {
    QString host = address == QHostAddress(QHostAddress::AnyIPv4) ? QStringLiteral("0.0.0.0")
                                                                  : address.toString();
    if (address.protocol() == QAbstractSocket::IPv6Protocol ||
        address == QHostAddress(QHostAddress::Any))
        host = QLatin1Char('[') + (address == QHostAddress(QHostAddress::Any)
                                       ? QStringLiteral("::")
                                       : address.toString()) +
               QLatin1Char(']');
    const QString where = host + QLatin1Char(':') + QString::number(port);
    if (listening) {
        const QString problem = CSettingsStore::WorkingFolderProblem(folder);
        if (!problem.isEmpty())
            return QStringLiteral("listening on %1, but serving nothing: %2").arg(where, problem);
        return QStringLiteral("listening on %1, serving %2").arg(where, folder);
    }
    QString why = QStringLiteral("cannot listen on %1: %2").arg(where, error);
    if (error.contains(QLatin1String("in use")))
        why += QStringLiteral(" (another program holds the port; stop it, or use --port or Setup's Port)");
    else if (port < 1024)
        why += QStringLiteral(" (ports below 1024 need root or the capability: "
                              "sudo setcap cap_net_bind_service=+ep vantrel-server; "
                              "or another program holds the port; or use --port)");
    return why;
}
