#include "support.h"

#include "sandbox.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QNetworkDatagram>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace {

// Before any test sends a datagram.
struct SandboxGuard
{
    SandboxGuard() { requireSandbox(); }
};

DebugLines *activeLines = nullptr;
QtMessageHandler previousHandler = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && activeLines)
        activeLines->lines.append({message, context.line, QString::fromUtf8(context.function)});
    else if (type != QtDebugMsg && previousHandler)
        previousHandler(type, context, message);
    else if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

void bindOrFail(QUdpSocket &socket, const QHostAddress &address)
{
    if (!socket.bind(address, 12166, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        qFatal("cannot bind %s:12166: %s", qPrintable(address.toString()),
            qPrintable(socket.errorString()));
}

bool waitFor(const std::function<bool()> &done)
{
    return QTest::qWaitFor(done, 5000);
}

const SandboxGuard sandboxGuard;

} // namespace

FakeConverters::FakeConverters(int count)
    : unicastLogs(count)
{
    bindOrFail(broadcastSocket, QHostAddress::AnyIPv4);
    connect(&broadcastSocket, &QUdpSocket::readyRead, this, [this] {
        heard(broadcastSocket, -1);
    });
    for (int n = 0; n < count; ++n) {
        sockets.push_back(std::make_unique<QUdpSocket>());
        QUdpSocket &socket = *sockets.back();
        bindOrFail(socket, QHostAddress(QStringLiteral("127.0.0.%1").arg(n + 2)));
        connect(&socket, &QUdpSocket::readyRead, this, [this, n, &socket] {
            heard(socket, n);
        });
    }
}

void FakeConverters::heard(QUdpSocket &socket, int converter)
{
    while (socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket.receiveDatagram();
        const Received request{
            datagram.data(), datagram.senderAddress(), quint16(datagram.senderPort())};
        (converter < 0 ? broadcastLog : unicastLogs[converter]).append(request);
        for (int n = 0; answer && n < int(sockets.size()); ++n) {
            const QByteArray reply
                = converter < 0 || n == converter ? answer(n, request.bytes) : QByteArray();
            if (reply.isEmpty())
                continue;
            QUdpSocket *from = sockets[n].get();
            const int ms = delay ? delay(n, request.bytes) : 0;
            if (ms <= 0)
                from->writeDatagram(reply, request.from, request.fromPort);
            else
                QTimer::singleShot(ms, from, [from, reply, request] {
                    from->writeDatagram(reply, request.from, request.fromPort);
                });
        }
    }
}

// A marker to every socket: loopback keeps each socket's datagrams in order,
// so once the markers are logged, so is everything sent before them.
bool FakeConverters::settle()
{
    const QByteArray marker = "settle";
    QUdpSocket sender;
    auto markerLogged = [&](QList<Received> &log, const QHostAddress &to) {
        sender.writeDatagram(marker, to, 12166);
        const bool seen = waitFor([&] {
            return !log.isEmpty() && log.constLast().bytes == marker;
        });
        if (seen)
            log.removeLast();
        return seen;
    };
    bool all = markerLogged(broadcastLog, QHostAddress(QHostAddress::LocalHost));
    for (int n = 0; n < int(sockets.size()); ++n)
        all = markerLogged(unicastLogs[n], QHostAddress(QStringLiteral("127.0.0.%1").arg(n + 2)))
            && all;
    return all;
}

int FakeConverters::unicastTotal() const
{
    int total = 0;
    for (const auto &log : unicastLogs)
        total += log.size();
    return total;
}

bool FakeConverters::waitForBroadcast(int count)
{
    return waitFor([&] {
        return broadcastLog.size() >= count;
    });
}

void FakeConverters::send(int converter, const QByteArray &bytes)
{
    const Received &tool = broadcastLog.constLast();
    if (sockets[converter]->writeDatagram(bytes, tool.from, tool.fromPort) != bytes.size())
        qFatal("a converter could not send %d bytes", int(bytes.size()));
}

void FakeConverters::sendInfo(int converter, const QString &uuid)
{
    send(converter,
        QStringLiteral(R"({"ack":"lbx.info","arg":{"uuid":"%1","romVersion":"1.0.%2",)"
                       R"("appVersion":2.%2,"baud":9600,"pluginName":"OvUdp485"}})")
            .arg(uuid)
            .arg(converter)
            .toUtf8());
}

DebugLines::DebugLines()
{
    activeLines = this;
    previousHandler = qInstallMessageHandler(collect);
}

DebugLines::~DebugLines()
{
    qInstallMessageHandler(previousHandler);
    activeLines = nullptr;
}

QList<DebugLine> DebugLines::withWord(const QString &word) const
{
    QList<DebugLine> found;
    for (const DebugLine &line : lines) {
        if (line.message == word || line.message.startsWith(word + QLatin1Char(' ')))
            found.append(line);
    }
    return found;
}

BoxCatcher::Answer BoxCatcher::press(QMessageBox::StandardButton button)
{
    return [button](QMessageBox *box, int) {
        box->button(button)->click();
    };
}

BoxCatcher::Answer BoxCatcher::escape()
{
    return [](QMessageBox *box, int) {
        QTest::keyClick(box, Qt::Key_Escape);
    };
}

BoxCatcher::BoxCatcher(Answer answer)
    : answer(std::move(answer))
{
    qApp->installEventFilter(this);
}

BoxCatcher::~BoxCatcher()
{
    qApp->removeEventFilter(this);
}

bool BoxCatcher::eventFilter(QObject *watched, QEvent *event)
{
    auto *box = qobject_cast<QMessageBox *>(watched);
    if (!box || event->spontaneous())
        return false;
    if (event->type() == QEvent::Show) {
        const int number = boxes.size();
        boxes.append({box->windowTitle(), box->text(), box->standardButtons(), box->icon(),
            box->textFormat()});
        most = qMax(most, ++open);
        if (answer)
            QTimer::singleShot(0, box, [this, box, number] {
                answer(box, number);
            });
    } else if (event->type() == QEvent::Hide) {
        --open;
    }
    return false;
}

void pickEntry(QComboBox *box, int index)
{
    if (!box->view()->isVisible())
        box->showPopup();
    QAbstractItemView *view = box->view();
    for (int row = view->currentIndex().row(); row < index; ++row)
        QTest::keyClick(view, Qt::Key_Down);
    for (int row = view->currentIndex().row(); row > index; --row)
        QTest::keyClick(view, Qt::Key_Up);
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_VERIFY(!view->isVisible());
    QCOMPARE(box->currentIndex(), index);
}

SimulatorProcess::SimulatorProcess(const QStringList &arguments)
{
    process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&process, &QProcess::readyRead, [this] {
        said += process.readAll();
    });
    process.start(QStringLiteral(LBXSIM_PATH), arguments);
    // Its ready line; an error line or an early exit is not.
    waitFor([&] {
        return said.contains(" converters on ") || process.state() == QProcess::NotRunning;
    });
    ready = said.contains(" converters on ");
}

SimulatorProcess::~SimulatorProcess()
{
    process.terminate();
    if (!process.waitForFinished())
        process.kill();
}

bool SimulatorProcess::waitForOutput(const QString &text)
{
    return waitFor([&] {
        return output().contains(text);
    });
}
