#include "HeadlessWindow.h"
#include "ServerEngine.h"
#include "ServerOptions.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// SIGINT and SIGTERM end the event loop, so the engine closes its transfers. The
// handler only writes a byte; the loop notices it.
int g_signalPipe[2] = {-1, -1};
void onSignal(int) {
    const char b = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &b, 1);
}
void quitOnSignals(QCoreApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

// No display, or --headless: the same engine, settings and rules, rows on stdout.
int runHeadless(QCoreApplication& app, const ServerOptions& options) {
    CSettingsStore store;
    store.EnsureDefaultDirExists();
    CHeadlessWindow window;
    CServerEngine engine(&window, &store);
    engine.LoadLiveSettings();
    QString error;
    const bool listening = engine.Listen(options.address, options.port, &error);
    const QString folder =
        store.GetProfileString(CSettingsStore::kDirName, CSettingsStore::DefaultDirName());
    QTextStream(stdout) << ListenReport(listening, options.address, options.port, folder, error)
                        << Qt::endl;
    if (!listening)
        return 1;
    quitOnSignals(app);
    const int rc = app.exec();
    engine.Shutdown();
    return rc;
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantrel-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));
    const ServerOptions options = ParseServerOptions(app.arguments());
    return runHeadless(app, options);
}
