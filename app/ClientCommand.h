#pragma once

#include <QStringList>

class QCommandLineParser;

// The command line's TFTP client: --get and --put, with their options.
// Whether the arguments ask for a client transfer (--get or --put anywhere).
bool IsClientCommand(const QStringList& arguments);
// The client's options, in the parser that --help prints (the server's).
void AddClientOptions(QCommandLineParser& parser);
// A client option given without --get or --put (empty when none).
QString StrayClientOption(const QCommandLineParser& parser);
// Runs the transfer on a QCoreApplication; returns the exit status: 0 done, 1 the other
// side answered with an error, 2 bad usage, 3 nothing answered.
int RunClientCommand(const QStringList& arguments);
