// The floor for start-up and idle memory: a minimal Qt Widgets program that
// shows a window and sends one broadcast, as the tool does at start. With
// --log-datagrams it is also the floor for a flood: it reads every datagram
// that reaches its socket and writes its debug line as the window does.

#include "sandbox.h"

#include <QApplication>
#include <QDebug>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>
#include <QWidget>

int main(int argc, char *argv[])
{
    requireSandbox();
    QApplication app(argc, argv);
    QWidget window;
    QUdpSocket socket;
    if (app.arguments().contains(QStringLiteral("--log-datagrams"))) {
        QObject::connect(&socket, &QUdpSocket::readyRead, &socket, [&socket] {
            while (socket.hasPendingDatagrams())
                qDebug() << "onRecvData" << socket.receiveDatagram().data();
        });
    }
    window.show();
    QTimer::singleShot(0, &window, [&] {
        socket.writeDatagram(R"({"call":"lbx.info"})", QHostAddress::Broadcast, 12166);
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 16 << 20);
    });
    return app.exec();
}
