// Listing at scale: N distinct converters answer the window, paced so that the
// receive buffer never overflows; prints the GUI thread's CPU time for each
// successive 10,000 listed, which stays flat when listing is linear. Runs
// inside scripts/netns-run with QT_QPA_PLATFORM=offscreen.
//
//   lbxbench-scale N

#include "lbxform.h"

#include "sandbox.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int step = 10000;
constexpr int ahead = 2000; // datagrams sent beyond those listed, at most

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Sends the answers of count converters from a plain socket of another thread.
void answer(int count, quint16 toolPort, const std::atomic<int> &listed, std::atomic<bool> &stop)
{
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(toolPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int n = 0; n < count && !stop; ++n) {
        while (n - listed.load() > ahead && !stop)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        const QByteArray reply = QByteArray(R"({"ack":"lbx.info","arg":{"uuid":"SCALE)")
            + QByteArray::number(n).rightJustified(6, '0')
            + R"(","romVersion":"2.0","appVersion":1.5,"baud":9600,"pluginName":"OvUdp485"}})";
        sendto(sender, reply.constData(), size_t(reply.size()), 0,
            reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }
    close(sender);
}

} // namespace

int main(int argc, char *argv[])
{
    requireSandbox();
    QApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 50000;
    QUdpSocket converterPort;
    converterPort.bind(QHostAddress::AnyIPv4, Protocol::converterPort, QUdpSocket::ShareAddress);
    LBXForm form;
    form.show();
    if (!QTest::qWaitFor(
            [&] {
                return converterPort.hasPendingDatagrams();
            },
            5000)) {
        std::fprintf(stderr, "the window did not search\n");
        return 1;
    }
    const quint16 toolPort = quint16(converterPort.receiveDatagram().senderPort());
    auto *uuidBox = form.findChild<QComboBox *>(QStringLiteral("uuidBox"));

    std::atomic<int> listed{0};
    std::atomic<bool> stop{false};
    std::thread converters(answer, count, toolPort, std::cref(listed), std::ref(stop));
    QList<double> perStep;
    double stepStarted = threadCpuSeconds();
    int nextStep = step;
    QElapsedTimer idle;
    idle.start();
    while (listed < count && idle.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (uuidBox->count() != listed) {
            listed = uuidBox->count();
            idle.restart();
        }
        if (listed >= nextStep) {
            const double now = threadCpuSeconds();
            perStep.append(now - stepStarted);
            stepStarted = now;
            nextStep += step;
        }
    }
    stop = true;
    converters.join();

    // One answer whose uuid is 60 KB: the GUI thread's time for it, once read.
    QUdpSocket hostile;
    const int hostileCount = 16;
    const double hostileStarted = threadCpuSeconds();
    const int before = uuidBox->count();
    for (int n = 0; n < hostileCount; ++n) {
        const QByteArray reply
            = R"({"ack":"lbx.info","arg":{"uuid":")" + QByteArray(60000, char('A' + n)) + R"("}})";
        hostile.writeDatagram(reply, QHostAddress::LocalHost, toolPort);
        [[maybe_unused]] const bool listed = QTest::qWaitFor(
            [&] {
                return uuidBox->count() > before + n;
            },
            5000);
        form.repaint();
    }
    const double hostileMs = (threadCpuSeconds() - hostileStarted) * 1000 / hostileCount;

    QStringList steps;
    double lowest = 1e9;
    double highest = 0;
    for (double seconds : qAsConst(perStep)) {
        steps.append(QString::number(seconds * 1000, 'f', 0));
        lowest = qMin(lowest, seconds);
        highest = qMax(highest, seconds);
    }
    std::printf("%d distinct converters: listed %d; GUI thread CPU per 10,000: %s ms "
                "(highest %.0f%% of lowest)\n",
        count, int(listed), qPrintable(steps.join(QStringLiteral(", "))),
        lowest > 0 ? highest / lowest * 100 : 0.0);
    std::printf(
        "an answer with a 60 KB uuid: %.1f ms of the GUI thread, listed and drawn\n", hostileMs);
    return listed == count ? 0 : 1;
}
