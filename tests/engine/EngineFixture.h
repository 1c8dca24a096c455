#pragma once

#include "FakePlatform.h"
#include "engine/config/EngineSettings.h"
#include "engine/host/EngineServices.h"
#include "engine/server/ServerEngine.h"
#include "engine/tftp/TftpPacket.h"
#include "engine/server/TransferSocket.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

// The settings file changed (a dialog saved, or another program edited it and the host's
// look saw it): the engine gets its values as the host hands them, all but the sounds and
// the security rules, which only their own commands change.
inline void HandFile(CServerEngine& engine, const EngineSettings& file) {
    EngineSettings next = engine.Settings();
    next.FollowFile(file);
    if (!(next == engine.Settings()))
        engine.SetSettings(next);
}

// An engine on fake sockets and a fake clock, serving a temporary folder.
struct EngineFixture {
    static constexpr quint16 kListen = 69;
    static constexpr quint16 kClientPort = 5000;
    // Fixtures made while this is set start in single-port mode: a transfer's "port" is
    // then only its number, and its datagrams go to the listener.
    inline static bool singlePort = false;

    QTemporaryDir dir;
    // What the settings file holds, as the settings layer reads it for the host.
    EngineSettings file;
    RecordingWindow window;
    FakePlatform* platform = nullptr;
    std::unique_ptr<CServerEngine> engine;
    std::unique_ptr<CEngineServices> services; // HTTP, boot offers, DHCP, as the host has them
    QHostAddress client{QStringLiteral("127.0.0.1")};

    explicit EngineFixture(int timeOut = 20) {
        QDir(dir.path()).mkdir(QStringLiteral("root"));
        file.workingFolder = root();
        file.timeOut = timeOut;
        file.singlePort = singlePort;
        auto owned = std::make_unique<FakePlatform>();
        platform = owned.get();
        engine = std::make_unique<CServerEngine>(&window, std::move(owned));
        services = std::make_unique<CEngineServices>(*engine);
        engine->LoadLiveSettings(file);
        engine->Listen(QHostAddress::LocalHost, kListen);
        window.sounds.clear();
    }

    // An edit of the settings file, handed to the engine.
    template <typename Edit> void change(Edit edit) {
        edit(file);
        HandFile(*engine, file);
    }

    QString root() const { return dir.filePath(QStringLiteral("root")); }
    QString path(const QString& name) const { return root() + QLatin1Char('/') + name; }
    FakeNetwork& net() { return platform->net; }
    FakeTimers& clock() { return platform->clock(); }

    void writeFile(const QString& name, const QByteArray& bytes) {
        QFile f(path(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
    }
    QByteArray readFile(const QString& name) {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static QByteArray request(quint16 opcode, const QByteArray& name,
                              const QByteArray& mode = "octet") {
        QByteArray r;
        r.append(char(0)).append(char(opcode)).append(name).append('\0').append(mode).append('\0');
        return r;
    }
    static QByteArray data(quint16 block, const QByteArray& payload) {
        QByteArray p(4, '\0');
        Tftp::PutHeader(p.data(), Tftp::DATA, block);
        return p + payload;
    }
    static QByteArray ack(quint16 block) { return Tftp::MakeAck(block); }
    static QByteArray error(quint16 code) { return Tftp::MakeError(code); }

    // Sends a request from the client port; returns the port the server answered from.
    quint16 send(const QByteArray& datagram, quint16 fromPort = kClientPort) {
        net().deliver(kListen, datagram, client, fromPort);
        return engine->PortCounter();
    }
    quint16 rrq(const QByteArray& name, quint16 fromPort = kClientPort) {
        return send(request(Tftp::RRQ, name), fromPort);
    }
    quint16 wrq(const QByteArray& name, quint16 fromPort = kClientPort) {
        return send(request(Tftp::WRQ, name), fromPort);
    }
    // Where a transfer's datagrams arrive: its own port, or the listener's.
    quint16 portOf(quint16 transfer) const {
        return engine->Settings().singlePort ? kListen : transfer;
    }
    void toTransfer(quint16 port, const QByteArray& datagram, quint16 fromPort = kClientPort) {
        net().deliver(portOf(port), datagram, client, fromPort);
    }

    // The packets sent since the last call.
    QList<QByteArray> sent() {
        QList<QByteArray> out;
        for (const FakeDatagram& d : net().takeSent())
            out.append(d.data);
        return out;
    }
    static quint16 opcode(const QByteArray& p) { return Tftp::Get16(p.constData()); }
    static quint16 number(const QByteArray& p) { return Tftp::Get16(p.constData() + 2); }

    // Downloads through the lock-step exchange, acknowledging each block; returns
    // the bytes received.
    QByteArray download(quint16 port, quint16 fromPort = kClientPort, int maxBlocks = 100000) {
        QByteArray got;
        for (int i = 0; i < maxBlocks; ++i) {
            const QList<QByteArray> out = sent();
            if (out.isEmpty() || opcode(out.last()) != Tftp::DATA)
                break;
            const QByteArray& block = out.last();
            got += block.mid(4);
            toTransfer(port, ack(number(block)), fromPort);
            if (block.size() < 516)
                break;
        }
        return got;
    }

    const RecordingWindow::Row& lastRow() const { return window.last(); }
};
