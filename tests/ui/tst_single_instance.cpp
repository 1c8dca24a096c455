// One copy per user: the guard in process, then the real program twice; and the
// real program where the display it is given cannot be reached.
#include "SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// Leaves a socket file that nobody listens on, as a crashed copy would.
bool makeStaleSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = QFile::encodeName(path);
    if (size_t(p.size()) >= sizeof(addr.sun_path))
        return false;
    memcpy(addr.sun_path, p.constData(), size_t(p.size()));
    const bool ok =
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 && ::listen(fd, 1) == 0;
    ::close(fd);
    return ok && QFile::exists(path);
}
} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private slots:
    void guardInProcess();
    void secondProgramExitsAndStaleSocketIsRecovered();
    void oneCopyPerUser();
    void unreachableDisplayRunsHeadless();
};

void TestSingleInstance::guardInProcess() {
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("ombrixtftp"));

    CSingleInstanceGuard first(name);
    int shown = 0;
    first.SetShowRequestHandler([&] { ++shown; });
    QCOMPARE(first.Acquire(), CSingleInstanceGuard::Result::First);
    {
        CSingleInstanceGuard second(name);
        QCOMPARE(second.Acquire(), CSingleInstanceGuard::Result::AlreadyRunning);
    }
    QTRY_COMPARE(shown, 1);
    {
        CSingleInstanceGuard third(name);
        QCOMPARE(third.Acquire(), CSingleInstanceGuard::Result::AlreadyRunning);
    }
    QTRY_COMPARE(shown, 2);

    // A socket file left by a crash is taken over.
    const QString staleName = dir.filePath(QStringLiteral("stale"));
    QVERIFY(makeStaleSocket(staleName));
    CSingleInstanceGuard recovered(staleName);
    QCOMPARE(recovered.Acquire(), CSingleInstanceGuard::Result::First);
    CSingleInstanceGuard after(staleName);
    QCOMPARE(after.Acquire(), CSingleInstanceGuard::Result::AlreadyRunning);

    // A name that cannot be created at all.
    CSingleInstanceGuard broken(dir.filePath(QStringLiteral("no/such/folder/x")));
    QCOMPARE(broken.Acquire(), CSingleInstanceGuard::Result::Failed);
}

void TestSingleInstance::oneCopyPerUser() {
    // Two users are two runtime folders: each one's first copy starts.
    QTemporaryDir userA, userB;
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(userA.path()));
    const QString nameA = CSingleInstanceGuard::DefaultName();
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(userB.path()));
    const QString nameB = CSingleInstanceGuard::DefaultName();
    qputenv("XDG_RUNTIME_DIR", saved);
    QVERIFY(nameA.startsWith(userA.path()));
    QVERIFY(nameA.endsWith(QString::number(::getuid())));

    CSingleInstanceGuard a(nameA), b(nameB);
    QCOMPARE(a.Acquire(), CSingleInstanceGuard::Result::First);
    QCOMPARE(b.Acquire(), CSingleInstanceGuard::Result::First);
    CSingleInstanceGuard a2(nameA);
    QCOMPARE(a2.Acquire(), CSingleInstanceGuard::Result::AlreadyRunning);
}

void TestSingleInstance::secondProgramExitsAndStaleSocketIsRecovered() {
    // The guard's socket lives in the user's runtime folder: give the copies a folder
    // of their own so the test never meets a real running server.
    QTemporaryDir tmp;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmp.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QString socketPath = tmp.filePath(QStringLiteral("vantrel-server-%1").arg(::getuid()));
    const quint16 port = quint16(39000 + QRandomGenerator::global()->bounded(20000));
    auto args = [](quint16 p) {
        return QStringList{QStringLiteral("--no-splash"), QStringLiteral("--address"),
                           QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                           QString::number(p)};
    };

    for (bool stale : {false, true}) {
        if (stale)
            QVERIFY(makeStaleSocket(socketPath));
        QProcess first;
        first.setProcessEnvironment(env);
        first.start(QStringLiteral(VANTREL_SERVER_BIN), args(port));
        QVERIFY(first.waitForStarted());
        // It reports its listener once the guard and the window exist.
        QVERIFY(first.waitForReadyRead(15000));
        // (Its port may be taken by someone else: what counts is that it got past the guard.)
        const QByteArray report = first.readAllStandardOutput();
        QVERIFY2(report.startsWith("listening on") || report.startsWith("cannot listen"),
                 stale ? "stale socket not recovered" : "first copy did not start");

        QProcess second;
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(VANTREL_SERVER_BIN), args(quint16(port + 1)));
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 1);
        QCOMPARE(second.readAllStandardOutput(), QByteArray()); // nothing of its own
        QVERIFY(second.readAllStandardError().contains("already running"));
        QCOMPARE(first.state(), QProcess::Running);

        first.terminate();
        QVERIFY(first.waitForFinished(15000));
        QCOMPARE(first.exitCode(), 0);
        QVERIFY(!QFile::exists(socketPath));
    }
}

void TestSingleInstance::unreachableDisplayRunsHeadless() {
    // A display nobody serves, and a working folder edited by hand that does not exist.
    QTemporaryDir tmp;
    const QString missing = tmp.filePath(QStringLiteral("gone"));
    {
        QSettings conf(tmp.filePath(QStringLiteral("config/Zelk TFTP Server/ZAZO_Dize.conf")),
                       QSettings::IniFormat);
        conf.setValue(QStringLiteral("WorkingDir/DirName"), missing);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":97"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), tmp.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmp.path());
    const quint16 port = quint16(39000 + QRandomGenerator::global()->bounded(20000));
    QProcess server;
    server.setProcessEnvironment(env);
    server.start(QStringLiteral(VANTREL_SERVER_BIN),
                 {QStringLiteral("--address"), QStringLiteral("127.0.0.1"),
                  QStringLiteral("--port"), QString::number(port)});
    QVERIFY(server.waitForStarted());
    QVERIFY(server.waitForReadyRead(15000));
    const QByteArray first = server.readAllStandardOutput();
    QVERIFY2(first.startsWith("listening on 127.0.0.1:") || first.startsWith("cannot listen"),
             first.constData());
    if (first.startsWith("listening"))
        QVERIFY2(first.contains("does not exist"), first.constData());
    server.terminate();
    QVERIFY(server.waitForFinished(15000));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QVERIFY(server.readAllStandardError().contains("running headless"));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
