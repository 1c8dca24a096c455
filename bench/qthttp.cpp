// The other candidate for our HTTP side, measured by bench/http.sh only: Qt HTTP
// Server 6.4 serving a file with QHttpServerResponse::fromFile.
#include <QCoreApplication>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerResponse>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString root = QString::fromLocal8Bit(argv[1]);
    QHttpServer server;
    server.route("/<arg>", [root](const QString& name) {
        return QHttpServerResponse::fromFile(root + QLatin1Char('/') + name);
    });
    if (server.listen(QHostAddress::LocalHost, quint16(atoi(argv[2]))) == 0)
        return 1;
    return app.exec();
}
