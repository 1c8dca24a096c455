#include "ClientCommand.h"

#include "engine/client/ClientTransfer.h"
#include "engine/client/Reachability.h"
#include "engine/tftp/Options.h"
#include "engine/tftp/TftpPacket.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QUrl>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {
enum Exit { kDone = 0, kServerError = 1, kUsage = 2, kNoAnswer = 3, kNoRoute = 4, kRefused = 5 };
// How long the look at an unanswered device waits for its system's ICMP answer.
constexpr int kDiagnoseMs = 1000;
constexpr int kTransferTimer = 1, kProgressTimer = 2, kSignalTimer = 3;
constexpr int kSignalLookMs = 100;

// SIGINT and SIGTERM: the handler only notes the signal; a timer of the loop sees it
// and ends the transfer with an ERROR to the device. Repeats (timeout(1) sends one to
// the child and one to its group) change nothing; should the loop not get there, the
// alarm ends the program two seconds later all the same.
volatile std::sig_atomic_t g_signal = 0;
void onAlarm(int) { ::_exit(128 + int(g_signal)); }
void onSignal(int sig) {
    if (g_signal)
        return;
    g_signal = sig;
    std::signal(SIGALRM, onAlarm);
    ::alarm(2);
}

struct Option {
    const char* name;
    const char* help;
    const char* value; // null for a switch
};
const Option kOptions[] = {
    {"get", "Fetch NAME from a TFTP server at HOST (port 69 unless given), into NAME's base "
            "name in the current folder or into --output. IPv6 addresses in brackets.",
     "tftp://HOST[:PORT]/NAME"},
    {"put", "Send FILE to the TFTP server named by the URL that follows: tftp://HOST[:PORT]/NAME "
            "(a URL ending in / sends it under FILE's base name).",
     "FILE"},
    {"output", "With --get: the file to write (it gets its name only once complete).", "FILE"},
    {"blksize", "With --get or --put: ask for blocks of N bytes (8-65464; 1468 fits Ethernet).", "N"},
    {"windowsize", "With --get or --put: ask for N blocks per acknowledgement (1-65535).", "N"},
    {"tsize", "With --get or --put: ask for (or tell) the file's size.", nullptr},
    {"netascii", "With --get or --put: convert line ends (netascii mode; default octet).", nullptr},
    {"timeout", "With --get or --put: seconds between resends (1-255, default 1).", "S"},
    {"wait", "With --get or --put: send the request again every second until the device "
             "answers, for up to S seconds (a device that listens briefly after power-on).",
     "S"},
    {"overwrite", "With --get: replace the output file if it exists (it is replaced only once "
                  "the fetch is complete; without this an existing file is refused).",
     nullptr},
    {"max-bytes", "With --get: stop (and keep nothing) when the device sends more than N bytes "
                  "(a K, M or G after the number: KiB, MiB, GiB; default 4G). The disk's free "
                  "space and the size the device told (tsize) bound it too.",
     "N"},
};

QCommandLineOption toOption(const Option& o) {
    return o.value ? QCommandLineOption(QString::fromLatin1(o.name), QString::fromLatin1(o.help),
                                        QString::fromLatin1(o.value))
                   : QCommandLineOption(QString::fromLatin1(o.name), QString::fromLatin1(o.help));
}

int usage(const QString& text) {
    std::fprintf(stderr, "vantrel-server: %s\n", qPrintable(text));
    return kUsage;
}

// A whole number in [low, high] from an option, or a usage error.
bool number(const QCommandLineParser& parser, const char* name, int low, int high, int* out) {
    const QString name16 = QString::fromLatin1(name);
    if (!parser.isSet(name16))
        return true;
    bool ok = false;
    const int n = parser.value(name16).toInt(&ok);
    if (!ok || n < low || n > high) {
        usage(QStringLiteral("--%1 needs a number from %2 to %3").arg(name16).arg(low).arg(high));
        return false;
    }
    *out = n;
    return true;
}

// A byte count with an optional K, M or G (binary) after it, or a usage error.
bool byteCount(const QCommandLineParser& parser, const char* name, qint64* out) {
    const QString name16 = QString::fromLatin1(name);
    if (!parser.isSet(name16))
        return true;
    QString text = parser.value(name16).trimmed().toUpper();
    int shift = 0;
    if (text.endsWith(QLatin1Char('K')) || text.endsWith(QLatin1Char('M')) || text.endsWith(QLatin1Char('G'))) {
        shift = text.endsWith(QLatin1Char('K')) ? 10 : text.endsWith(QLatin1Char('M')) ? 20 : 30;
        text.chop(1);
    }
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (!ok || n < 1 || n > (qint64(1) << (62 - shift))) {
        usage(QStringLiteral("--%1 needs a number of bytes, such as 100M or 4G").arg(name16));
        return false;
    }
    *out = n << shift;
    return true;
}

// tftp://HOST[:PORT]/NAME: the address, port and name (percent-decoded).
bool parseUrl(const QString& text, TftpClient::Request* request, QString* name) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("tftp") || url.host().isEmpty())
        return false;
    // The host and port as typed: QUrl would have made a bare number an IPv4 address.
    QString authority = text.section(QLatin1String("://"), 1).section(QLatin1Char('/'), 0, 0);
    authority = authority.section(QLatin1Char('@'), -1);
    const TftpClient::Device device = TftpClient::ParseDevice(authority);
    if (!device.why.isEmpty()) {
        usage(device.why);
        return false;
    }
    request->server = device.address;
    request->port = quint16(device.port > 0 ? device.port : 69);
    *name = url.path(QUrl::FullyDecoded);
    if (name->startsWith(QLatin1Char('/')))
        name->remove(0, 1);
    return true;
}

QString where(const TftpClient::Request& r) {
    const QString host = r.server.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + r.server.toString() + QLatin1Char(']')
                             : r.server.toString();
    return host + QLatin1Char(':') + QString::number(r.port);
}

// "NAME: 1048576 of 3145728 bytes (33%), 1.2 MB/s"
QString progressText(const QString& name, qint64 done, qint64 total, qint64 ms) {
    QString text = name + QStringLiteral(": %1").arg(done);
    if (total > 0)
        text += QStringLiteral(" of %1 bytes (%2%)").arg(total).arg(done * 100 / total);
    else
        text += QStringLiteral(" bytes");
    if (ms > 0)
        text += QStringLiteral(", %1 MB/s").arg(double(done) / 1000.0 / double(ms), 0, 'f', 1);
    return text;
}
// What stood in the way of a request nothing answered, and its exit status.
int unanswered(const TftpClient::Request& request, const TftpClient::Reach& reach) {
    std::fprintf(stderr, "vantrel-server: no answer from %s: %s\n", qPrintable(where(request)),
                 qPrintable(reach.text.isEmpty() ? QStringLiteral("nothing answered") : reach.text));
    switch (reach.kind) {
    case TftpClient::Reach::NoAddress:
    case TftpClient::Reach::NoRoute: return kNoRoute;
    case TftpClient::Reach::Refused: return kRefused;
    case TftpClient::Reach::Answered:
    case TftpClient::Reach::Silent: break;
    }
    return kNoAnswer;
}
} // namespace

bool IsClientCommand(const QStringList& arguments) {
    for (const QString& a : arguments.mid(1)) {
        if (a == QLatin1String("--"))
            break;
        if (a == QLatin1String("--get") || a == QLatin1String("--put") ||
            a.startsWith(QLatin1String("--get=")) || a.startsWith(QLatin1String("--put=")))
            return true;
    }
    return false;
}

void AddClientOptions(QCommandLineParser& parser) {
    for (const Option& o : kOptions)
        parser.addOption(toOption(o));
}

QString StrayClientOption(const QCommandLineParser& parser) {
    for (const Option& o : kOptions)
        if (parser.isSet(QString::fromLatin1(o.name)))
            return QString::fromLatin1(o.name);
    return QString();
}

int RunClientCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.addHelpOption();
    AddClientOptions(parser);
    parser.addPositionalArgument(QStringLiteral("URL"), QStringLiteral("With --put: where to."));
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return kDone;
    }
    const bool put = parser.isSet(QStringLiteral("put"));
    if (put == parser.isSet(QStringLiteral("get")))
        return usage(QStringLiteral("give either --get or --put, not both"));
    const QStringList rest = parser.positionalArguments();
    TftpClient::Request request;
    request.put = put;
    QString name;
    QString local;
    if (put) {
        if (rest.size() != 1)
            return usage(QStringLiteral("--put needs FILE and then tftp://HOST[:PORT]/NAME"));
        if (parser.isSet(QStringLiteral("output")))
            return usage(QStringLiteral("--output goes with --get"));
        local = parser.value(QStringLiteral("put"));
        if (!parseUrl(rest.first(), &request, &name))
            return usage(QStringLiteral("not a tftp://HOST[:PORT]/NAME URL: %1").arg(rest.first()));
        if (name.isEmpty() || name.endsWith(QLatin1Char('/')))
            name += QFileInfo(local).fileName();
        if (!QFileInfo(local).isFile())
            return usage(QStringLiteral("cannot send: ") + TftpClient::NotAFileText(local));
    } else {
        if (!rest.isEmpty())
            return usage(QStringLiteral("--get takes one URL: %1").arg(rest.join(QLatin1Char(' '))));
        const QString url = parser.value(QStringLiteral("get"));
        if (!parseUrl(url, &request, &name))
            return usage(QStringLiteral("not a tftp://HOST[:PORT]/NAME URL: %1").arg(url));
        if (name.isEmpty() || name.endsWith(QLatin1Char('/')))
            return usage(QStringLiteral("--get needs a file name after the host: %1").arg(url));
        local = parser.isSet(QStringLiteral("output")) ? parser.value(QStringLiteral("output"))
                                                       : QFileInfo(name).fileName();
        if (QFileInfo(local).isDir())
            local += QLatin1Char('/') + QFileInfo(name).fileName();
        // As the window asks first, the command line replaces a file only when told to.
        if (QFileInfo::exists(local) && !parser.isSet(QStringLiteral("overwrite")))
            return usage(QStringLiteral("%1 exists: --overwrite replaces it (once the fetch is "
                                        "complete)").arg(local));
        if (!TftpClient::FetchMayReplace(local))
            return usage(QStringLiteral("%1 is not a regular file: --output names the file "
                                        "the fetch becomes").arg(local));
    }
    request.remoteName = name.toUtf8();
    request.local = TftpClient::LocalPath(local);
    request.askSize = parser.isSet(QStringLiteral("tsize"));
    request.netascii = parser.isSet(QStringLiteral("netascii"));
    if (!number(parser, "blksize", Tftp::kMinBlockSize, Tftp::kMaxBlockSize, &request.blockSize) ||
        !number(parser, "windowsize", 1, Tftp::kMaxWindowSize, &request.windowSize) ||
        !number(parser, "timeout", 1, 255, &request.timeOut) ||
        !number(parser, "wait", 0, 86400, &request.waitSeconds) ||
        !byteCount(parser, "max-bytes", &request.maxBytes))
        return kUsage;
    if (put && (parser.isSet(QStringLiteral("max-bytes")) || parser.isSet(QStringLiteral("overwrite"))))
        return usage(QStringLiteral("--max-bytes and --overwrite go with --get"));

    std::unique_ptr<IPlatform> platform = CreateDefaultPlatform();
    // No route at all is known at once; waiting would only hide it (unless --wait,
    // when the machine may get its address meanwhile).
    if (request.waitSeconds == 0) {
        const TftpClient::Reach route = TftpClient::LookAtRoute(request.server, platform->interfaces());
        if (route.kind == TftpClient::Reach::NoRoute)
            return unanswered(request, route);
    }
    const bool ownLoop = platform->hasOwnLoop();
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const int progressMs = terminal ? 250 : 1000;
    // The name as decoded from the URL may hold any byte: never raw to the terminal.
    const QString shown = Tftp::Printable(QString::fromUtf8(request.remoteName));
    QElapsedTimer clock;
    qint64 done = 0, total = -1;
    bool lastShown = false;
    auto showProgress = [&](bool last) {
        if (lastShown)
            return;
        lastShown = last;
        const QString text = progressText(shown, done, total, clock.isValid() ? clock.elapsed() : 0);
        if (terminal)
            std::fprintf(stderr, "\r%s\033[K%s", qPrintable(text), last ? "\n" : "");
        else
            std::fprintf(stderr, "%s\n", qPrintable(text));
    };

    CClientTransfer::Report report;
    report.waiting = [&] {
        std::fprintf(stderr, "vantrel-server: waiting up to %d seconds for %s to answer\n",
                     request.waitSeconds, qPrintable(where(request)));
    };
    report.answered = [&] {
        clock.start();
        platform->timers().start(kProgressTimer, progressMs);
    };
    report.progress = [&](qint64 d, qint64 t) {
        done = d;
        total = t;
    };
    // A fetch is complete before its port closes (it waits for a repeated last block).
    report.completed = [&] {
        platform->timers().stop(kProgressTimer);
        showProgress(true);
    };
    auto quitLoop = [&] {
        if (ownLoop)
            platform->quitLoop();
        else
            QCoreApplication::quit();
    };
    report.finished = [&] {
        platform->timers().stop(kProgressTimer);
        quitLoop();
    };
    CClientTransfer transfer(*platform, kTransferTimer, request, report);
    platform->timers().onTimeout = [&](int id) {
        if (id == kTransferTimer)
            return transfer.OnTimer();
        if (id == kSignalTimer) {
            if (g_signal && !transfer.IsOver()) {
                if (transfer.Result() == CClientTransfer::Outcome::None)
                    return transfer.Abort();
                transfer.Discard(); // complete already, only lingering for a repeat
                return quitLoop();
            }
            return platform->timers().start(kSignalTimer, kSignalLookMs);
        }
        if (id == kProgressTimer && !transfer.IsOver()) {
            showProgress(false);
            platform->timers().start(kProgressTimer, progressMs);
        }
    };
    QString error;
    if (!transfer.Start(&error))
        return usage(QStringLiteral("cannot %1 %2: %3")
                         .arg(put ? QStringLiteral("read") : QStringLiteral("write"), local, error));
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    platform->timers().start(kSignalTimer, kSignalLookMs);
    if (ownLoop)
        platform->runLoop([] {});
    else
        QCoreApplication::exec();
    platform->timers().stop(kSignalTimer);
    platform->timers().onTimeout = nullptr;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    ::alarm(0);
    if (g_signal && transfer.Result() == CClientTransfer::Outcome::Aborted) {
        showProgress(true);
        std::fprintf(stderr, "vantrel-server: stopped by %s after %lld bytes%s\n",
                     g_signal == SIGINT ? "SIGINT" : "SIGTERM", transfer.Bytes(),
                     put ? "" : "; nothing kept");
        return 128 + int(g_signal);
    }

    switch (transfer.Result()) {
    case CClientTransfer::Outcome::Done: return kDone;
    case CClientTransfer::Outcome::ServerError:
        std::fprintf(stderr, "vantrel-server: %s answered with error %d: %s\n",
                     qPrintable(where(request)), transfer.ServerCode(),
                     qPrintable(transfer.ServerText()));
        return kServerError;
    case CClientTransfer::Outcome::NoAnswer: {
        const TftpClient::Reach reach =
            TftpClient::Diagnose(request.server, request.port, TftpClient::MakeRequest(request, -1),
                                 platform->interfaces(), kDiagnoseMs);
        return unanswered(request, reach);
    }
    case CClientTransfer::Outcome::NotResponding:
        std::fprintf(stderr, "vantrel-server: %s stopped answering after %lld bytes\n",
                     qPrintable(where(request)), transfer.Bytes());
        return kNoAnswer;
    case CClientTransfer::Outcome::Failed:
    case CClientTransfer::Outcome::Aborted:
    case CClientTransfer::Outcome::None: break;
    }
    std::fprintf(stderr, "vantrel-server: %s\n", qPrintable(transfer.FailureText()));
    return kServerError;
}
