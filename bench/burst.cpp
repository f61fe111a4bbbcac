// Discovery burst: N simulated converters answer one search at once. Prints how
// many the window lists and the time from the broadcast to the last one listed,
// beside a bare receive loop on the same burst (the floor this machine allows).
// Runs inside scripts/netns-run with QT_QPA_PLATFORM=offscreen; lbxsim must be
// running with N converters.
//
//   lbxbench-burst N [TIMEOUT_MS]

#include "lbxform.h"

#include "sandbox.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QSet>
#include <QTest>
#include <QUdpSocket>

#include <cstdio>

namespace {

struct Result
{
    int listed = 0;
    qint64 lastMs = 0;
};

// Reads as fast as one thread can, into the largest buffer the system allows.
Result bareReceiveLoop(int expected, int timeoutMs)
{
    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 * 1024 * 1024);
    QSet<QByteArray> seen;
    QElapsedTimer clock;
    clock.start();
    socket.writeDatagram(Protocol::infoRequest, QHostAddress::Broadcast, Protocol::converterPort);
    Result result;
    while (seen.size() < expected && clock.elapsed() < timeoutMs) {
        if (!socket.waitForReadyRead(50))
            continue;
        while (socket.hasPendingDatagrams()) {
            seen.insert(socket.receiveDatagram().data());
            result.lastMs = clock.elapsed();
        }
    }
    result.listed = seen.size();
    return result;
}

Result windowListing(int expected, int timeoutMs)
{
    LBXForm form;
    form.show();
    auto *uuidBox = form.findChild<QComboBox *>(QStringLiteral("uuidBox"));
    // Let the start-up search and its answers pass, then time one search.
    if (!QTest::qWaitFor(
            [&] {
                return uuidBox->count() >= expected;
            },
            timeoutMs))
        std::fprintf(stderr, "the start-up search listed %d of %d\n", uuidBox->count(), expected);
    QTest::qWait(200);
    QElapsedTimer clock;
    clock.start();
    form.search();
    Result result;
    int listed = 0;
    while (listed < expected && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (uuidBox->count() != listed) {
            listed = uuidBox->count();
            result.lastMs = clock.elapsed();
        }
    }
    QTest::qWait(200);
    result.listed = uuidBox->count();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    requireSandbox();
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: lbxbench-burst N [TIMEOUT_MS]\n");
        return 2;
    }
    const int expected = args.at(1).toInt();
    const int timeoutMs = args.size() > 2 ? args.at(2).toInt() : 60000;
    const Result bare = bareReceiveLoop(expected, timeoutMs);
    const Result window = windowListing(expected, timeoutMs);
    std::printf("%d converters: window listed %d in %lld ms; bare receive loop got %d in %lld ms\n",
        expected, window.listed, window.lastMs, bare.listed, bare.lastMs);
    return window.listed == expected ? 0 : 1;
}
