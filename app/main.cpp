#include "ClientCommand.h"
#include "engine/host/EngineHost.h"
#include "engine/platform/FolderFiles.h"
#include "HeadlessWindow.h"
#include "MainFrame.h"
#include "ServerOptions.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsWatch.h"
#include "SingleInstance.h"
#include "SplashWindow.h"
#include "ZAZO_DizeView.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTextStream>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// SIGINT and SIGTERM end the event loop, so the engine closes its transfers. The
// handler only writes a byte (nothing else is safe there); the loop notices it.
// Should the loop not get there (a stuck call), the alarm ends the program a second
// later all the same: a stop asked for is never ignored.
int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_stopSignal = 0;
void onAlarm(int) {
    ::_exit(128 + int(g_stopSignal));
}
void onSignal(int sig) {
    const char b = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &b, 1);
    if (!g_stopSignal) {
        g_stopSignal = sig;
        std::signal(SIGALRM, onAlarm);
        ::alarm(1);
    }
}
void quitOnSignals(QCoreApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

void setIdentity() {
    QCoreApplication::setApplicationName(QStringLiteral("vantrel-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));
}

// The user's profile, or the file that --settings names.
std::unique_ptr<CSettingsStore> openSettings(const ServerOptions& options) {
    if (options.settingsFile.isEmpty())
        return std::make_unique<CSettingsStore>();
    return std::make_unique<CSettingsStore>(options.settingsFile);
}

// What start-up tidied or could not read, for the first line and the status field.
// Runs before the engine starts, so no upload of this run is taken for a leftover.
QString startNotes(CSettingsStore& store, const QString& folder) {
    QStringList notes = store.SettingNotes();
    const QStringList removed = CFolderFileSystem::RemoveUnfinishedUploads(folder);
    if (!removed.isEmpty()) {
        QStringList shown = removed.mid(0, 10);
        if (removed.size() > shown.size())
            shown.append(QStringLiteral("..."));
        notes.append(QStringLiteral("removed %1 unfinished upload%2: %3")
                         .arg(removed.size())
                         .arg(removed.size() == 1 ? "" : "s")
                         .arg(shown.join(QStringLiteral(", "))));
    }
    return notes.join(QStringLiteral("; "));
}

// No display, or --headless: the same engine, settings and rules, rows on stdout.
int runHeadless(QCoreApplication& app, const ServerOptions& options) {
    const auto settings = openSettings(options);
    CSettingsStore& store = *settings;
    store.EnsureDefaultDirExists();
    const QString notes = startNotes(store,
        store.GetProfileString(CSettingsStore::kDirName, CSettingsStore::DefaultDirName()));
    CHeadlessWindow window;
    const std::unique_ptr<CEngineHost> host = NewEngineHost(store);
    CEngineHost& engine = *host;
    engine.SetWindow(&window);
    QString error;
    const QHostAddress address = ListenAddressFor(options, store);
    const quint16 port = ListenPortFor(options, store);
    bool listening = engine.Start(address, port, &error);
    const QString folder =
        store.GetProfileString(CSettingsStore::kDirName, CSettingsStore::DefaultDirName());
    // Before the first line: whoever reads it may answer with SIGTERM at once.
    quitOnSignals(app);
    window.PrintLine(ListenReport(listening, address, port, folder, error) +
                     (notes.isEmpty() ? QString() : QStringLiteral("; ") + notes));
    // A listen address that is not on this host yet (a cable not in, an address
    // NetworkManager gives later) is waited for; any other failure ends the run.
    if (!listening && !engine.WaitsForAddress())
        return 1;
    if (!listening)
        window.PrintLine(QStringLiteral("waiting for %1 to appear on an interface").arg(address.toString()));
    if (const QString threads = engine.EngineThreadsNote(); !threads.isEmpty())
        window.PrintLine(threads);
    // The DHCP server's and the boot offers' state at the start, then each change (an
    // interface that came or went, another DHCP server on the link).
    QString dhcpShown = engine.DhcpState().text(), bootShown = engine.BootState().text();
    if (!dhcpShown.isEmpty())
        window.PrintLine(dhcpShown);
    if (!bootShown.isEmpty())
        window.PrintLine(bootShown);
    engine.SetStatusListener([&] {
        if (!listening && engine.IsListening()) {
            listening = true;
            window.PrintLine(ListenReport(true, address, port, folder, QString()));
        }
        for (auto [shown, now] : {std::pair{&dhcpShown, engine.DhcpState().text()},
                                  std::pair{&bootShown, engine.BootState().text()}}) {
            if (*shown != now && !now.isEmpty())
                window.PrintLine(now);
            *shown = now;
        }
    });
    const int rc = app.exec();
    engine.Shutdown();
    return rc;
}

// The window: one copy per user, the frame with the list, the engine inside it.
int runWindow(QApplication& app, const ServerOptions& options) {
    CSingleInstanceGuard guard;
    switch (guard.Acquire()) {
    case CSingleInstanceGuard::Result::First:
        break;
    case CSingleInstanceGuard::Result::AlreadyRunning:
        std::fputs("vantrel-server: a copy is already running for this user; "
                   "its window was brought to the front\n",
                   stderr);
        return 1;
    case CSingleInstanceGuard::Result::Failed: {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Test"),
                        QStringLiteral("Error creating mapping"), QMessageBox::Ok);
        box.exec();
        return 1;
    }
    }
    CSplashWindow::EnableSplash(options.showSplash);
    const auto settings = openSettings(options);
    CSettingsStore& store = *settings;
    store.EnsureDefaultDirExists();
    const QHostAddress address = ListenAddressFor(options, store);
    const quint16 port = ListenPortFor(options, store);
    const QString notes = startNotes(store,
        store.GetProfileString(CSettingsStore::kDirName, CSettingsStore::DefaultDirName()));
    CMainFrame frame(store, NewEngineHost(store), address, port);
    frame.SetListenAddressSource([&options, &store] { return ListenAddressFor(options, store); });
    const QString folder =
        store.GetProfileString(CSettingsStore::kDirName, CSettingsStore::DefaultDirName());
    quitOnSignals(app);
    frame.SetStartNotes(notes);
    QTextStream(stdout) << ListenReport(frame.View()->IsListening(), address, port,
                                        folder, frame.View()->ListenError())
                        << (notes.isEmpty() ? QString() : QStringLiteral("; ") + notes)
                        << Qt::endl;
    guard.SetShowRequestHandler([&frame] { frame.ShowFromAnotherCopy(); });
    frame.ShowAtStartUp();
    return app.exec();
}

bool hasArgument(int argc, char* argv[], const char* name) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return true;
    return false;
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Qt aborts when the X display it is told to use cannot be opened, so try it first
// with the same library Qt's X platform uses. True when the window will come up on X,
// or when X is not the platform in question.
bool xDisplayReachable() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if ((!platform.isEmpty() && !platform.startsWith("xcb")) ||
        (platform.isEmpty() && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) ||
        qEnvironmentVariableIsEmpty("DISPLAY"))
        return true;
    void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb)
        return true; // let Qt say what is missing
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
    bool reachable = true;
    if (connect && hasError && disconnect) {
        void* connection = connect(nullptr, nullptr);
        reachable = connection && hasError(connection) == 0;
        if (connection)
            disconnect(connection);
    }
    ::dlclose(xcb);
    return reachable;
}
} // namespace

int main(int argc, char* argv[]) {
    // Nobody reading our output (a closed pipe) is no reason to stop serving.
    std::signal(SIGPIPE, SIG_IGN);
    // --get and --put: a client transfer, no display, beside a running server.
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments.append(QString::fromLocal8Bit(argv[i]));
        if (IsClientCommand(arguments)) {
            QCoreApplication app(argc, argv);
            setIdentity();
            return RunClientCommand(app.arguments());
        }
    }
    bool headless = hasArgument(argc, argv, "--headless") || !hasDisplay();
    if (!headless && !hasArgument(argc, argv, "--help") && !hasArgument(argc, argv, "--version") &&
        !xDisplayReachable()) {
        std::fprintf(stderr, "vantrel-server: cannot open the display %s, running headless\n",
                     qgetenv("DISPLAY").constData());
        headless = true;
    }
    if (headless) {
        QCoreApplication app(argc, argv);
        setIdentity();
        return runHeadless(app, ParseServerOptions(app.arguments()));
    }
    QApplication app(argc, argv);
    setIdentity();
    // The icon and desktop entry that an installation puts in the theme and in
    // share/applications; the bundled pictures when it runs from the build folder.
    QIcon bundled;
    bundled.addFile(QStringLiteral(":/window/icon16.png"), QSize(16, 16));
    bundled.addFile(QStringLiteral(":/window/icon32.png"), QSize(32, 32));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.vantrel.Server"), bundled));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vantrel.Server"));
    const ServerOptions options = ParseServerOptions(app.arguments());
    return runWindow(app, options);
}
