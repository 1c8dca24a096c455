#pragma once

// Shared by the window tests: a settings file of their own, a free loopback port
// and a small TFTP client that talks to the server on 127.0.0.1.

#include "engine/host/EngineHost.h"
#include "engine/server/ServerEngine.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsWatch.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QMessageBox>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>
#include <memory>

// A store over an INI file in a temporary folder, with a working folder beside it.
struct TestStore {
    QTemporaryDir dir;
    std::unique_ptr<CSettingsStore> store;

    explicit TestStore(int soundOn = 0) {
        store = std::make_unique<CSettingsStore>(dir.filePath(QStringLiteral("settings.ini")));
        QDir(dir.path()).mkpath(QStringLiteral("work"));
        store->WriteProfileString(CSettingsStore::kDirName, WorkDir());
        store->WriteProfileInt(CSettingsStore::kSoundOn, soundOn);
        store->WriteProfileInt(CSettingsStore::kTimeOut, 20);
    }
    // An engine on this store, on the real platform, for a window to take.
    std::unique_ptr<CEngineHost> NewEngine() { return NewEngineHost(*store); }
    QString WorkDir() const { return dir.filePath(QStringLiteral("work")); }
    QString WorkFile(const QString& name) const { return WorkDir() + QLatin1Char('/') + name; }
};

inline quint16 RandomHighPort() {
    return quint16(39000 + QRandomGenerator::global()->bounded(20000));
}

// Runs the event loop until the condition holds or 5 seconds have passed.
template <typename Condition> bool SpinUntil(Condition done, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The engine runs on its own thread and the window shows its changes a little later:
// a check on the window waits (a bounded time) for them.
#define QVERIFY_SOON(condition) QVERIFY(SpinUntil([&] { return bool(condition); }))

// One TFTP client on loopback. It never waits without running the event loop,
// since the server answers from the same thread.
class TftpTestClient {
public:
    QUdpSocket socket;
    quint16 serverPort = 0; // the transfer's own port, learnt from its first answer

    TftpTestClient() { socket.bind(QHostAddress::LocalHost, 0); }

    void SendRequest(quint16 listenPort, quint16 opcode, const QByteArray& name,
                     const QByteArray& mode = "octet") {
        QByteArray packet(2, '\0');
        packet[1] = char(opcode);
        packet += name + '\0' + mode + '\0';
        socket.writeDatagram(packet, QHostAddress::LocalHost, listenPort);
    }

    void SendData(quint16 block, const QByteArray& data) {
        socket.writeDatagram(Header(3, block) + data, QHostAddress::LocalHost, serverPort);
    }
    void SendAck(quint16 block) {
        socket.writeDatagram(Header(4, block), QHostAddress::LocalHost, serverPort);
    }

    // The next datagram, or an empty one after the deadline.
    QByteArray Receive(int ms = 5000) {
        if (!SpinUntil([this] { return socket.hasPendingDatagrams(); }, ms))
            return {};
        const QNetworkDatagram d = socket.receiveDatagram();
        serverPort = quint16(d.senderPort());
        return d.data();
    }

    static quint16 Opcode(const QByteArray& p) { return p.size() >= 2 ? Get16(p, 0) : 0; }
    static quint16 Number(const QByteArray& p) { return p.size() >= 4 ? Get16(p, 2) : 0; }
    static QByteArray ErrorText(const QByteArray& p) {
        return p.size() > 4 ? QByteArray(p.constData() + 4) : QByteArray();
    }

private:
    static quint16 Get16(const QByteArray& p, int at) {
        return qFromBigEndian<quint16>(p.constData() + at);
    }
    static QByteArray Header(quint16 opcode, quint16 number) {
        QByteArray h(4, '\0');
        qToBigEndian<quint16>(opcode, h.data());
        qToBigEndian<quint16>(number, h.data() + 2);
        return h;
    }
};

// While it lives, answers every modal box or dialog that opens: a message box with
// the given button, any other dialog by rejecting it. Runs from the event loop, so
// commands that open a box can be called straight from the test.
class ModalAnswer {
public:
    explicit ModalAnswer(QMessageBox::StandardButton button = QMessageBox::Cancel) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, button] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                caption = box->windowTitle();
                text = box->text();
                defaultButton = box->standardButton(box->defaultButton());
                box->button(button)->click();
                ++answered;
            } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                dialog->reject();
                ++answered;
            }
        });
        m_timer.start(10);
    }
    QString caption, text;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    int answered = 0;

private:
    QTimer m_timer;
};
