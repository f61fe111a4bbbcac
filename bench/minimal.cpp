// The floor for start-up and idle memory: a minimal Qt Widgets program that
// shows a window and sends one broadcast, as the tool does at start.

#include <QApplication>
#include <QHostAddress>
#include <QTimer>
#include <QUdpSocket>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    QUdpSocket socket;
    window.show();
    QTimer::singleShot(0, &window, [&] {
        socket.writeDatagram(R"({"call":"lbx.info"})", QHostAddress::Broadcast, 12166);
    });
    return app.exec();
}
