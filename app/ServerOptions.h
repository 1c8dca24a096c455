#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

// What the command line asks for.
struct ServerOptions {
    quint16 port = 69;
    QHostAddress address = QHostAddress(QHostAddress::AnyIPv4);
    bool addressGiven = false; // --address; else the settings decide
    bool portGiven = false;    // --port; else the settings' Port
    bool headless = false;
    bool showSplash = true;
    // --settings FILE: an INI file used instead of the user's profile (absolute path);
    // empty for the profile.
    QString settingsFile;
};

// Parses the arguments (QCommandLineParser); handles --help and --version itself.
ServerOptions ParseServerOptions(const QStringList& arguments);

class CSettingsStore;
// Where to listen: --address, else Protocol/ListenAddress, else every address (IPv4,
// or IPv4 and IPv6 with Protocol/IPv6).
QHostAddress ListenAddressFor(const ServerOptions& options, CSettingsStore& store);

// The port: --port, else Protocol/Port, else 69.
quint16 ListenPortFor(const ServerOptions& options, CSettingsStore& store);

// "listening on 127.0.0.1:6969, serving /home/me/tftp", or why it cannot listen.
QString ListenReport(bool listening, const QHostAddress& address, quint16 port,
                     const QString& folder, const QString& error);
