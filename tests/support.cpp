#include "support.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QMessageBox>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

constexpr quint16 converterPort = 12166;
DebugLines *activeLines = nullptr;
QtMessageHandler previousHandler = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && activeLines) {
        activeLines->lines.append({message, QString::fromUtf8(context.file), context.line,
            QString::fromUtf8(context.function), QString::fromUtf8(context.category)});
    }
    if (type == QtDebugMsg)
        return;
    if (previousHandler)
        previousHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

void bindOrFail(QUdpSocket &socket, const QHostAddress &address)
{
    if (!socket.bind(
            address, converterPort, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        qFatal("cannot bind %s:%d: %s", qPrintable(address.toString()), converterPort,
            qPrintable(socket.errorString()));
    }
}

QList<Received> readAll(QUdpSocket &socket)
{
    QList<Received> received;
    while (socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket.receiveDatagram();
        received.append(
            {datagram.data(), datagram.senderAddress(), quint16(datagram.senderPort())});
    }
    return received;
}

} // namespace

FakeConverters::FakeConverters(int count, int firstHost)
    : unicastLogs(count)
    , firstHost(firstHost)
{
    bindOrFail(broadcastSocket, QHostAddress::AnyIPv4);
    connect(&broadcastSocket, &QUdpSocket::readyRead, this, [this] {
        const QList<Received> requests = readAll(broadcastSocket);
        broadcastLog.append(requests);
        heard(requests, -1);
    });
    for (int n = 0; n < count; ++n) {
        sockets.push_back(std::make_unique<QUdpSocket>());
        QUdpSocket &socket = *sockets.back();
        bindOrFail(socket, address(n));
        connect(&socket, &QUdpSocket::readyRead, this, [this, n, &socket] {
            const QList<Received> requests = readAll(socket);
            unicastLogs[n].append(requests);
            heard(requests, n);
        });
    }
}

void FakeConverters::heard(const QList<Received> &requests, int converter)
{
    if (!answer)
        return;
    for (const Received &request : requests) {
        for (int n = 0; n < int(sockets.size()); ++n) {
            if (converter >= 0 && n != converter)
                continue;
            const QByteArray reply = answer(n, request.bytes);
            if (!reply.isEmpty())
                sockets[n]->writeDatagram(reply, request.from, request.fromPort);
        }
    }
}

QHostAddress FakeConverters::address(int converter) const
{
    return QHostAddress(QStringLiteral("127.0.0.%1").arg(firstHost + converter));
}

int FakeConverters::unicastTotal() const
{
    int total = 0;
    for (const auto &log : unicastLogs)
        total += log.size();
    return total;
}

bool FakeConverters::waitForBroadcast(int count, int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            return broadcastLog.size() >= count;
        },
        timeoutMs);
}

void FakeConverters::send(int converter, const QByteArray &bytes)
{
    if (sockets[converter]->writeDatagram(bytes, toolAddress(), toolPort()) != bytes.size())
        qFatal("a converter could not send %d bytes: %s", int(bytes.size()),
            qPrintable(sockets[converter]->errorString()));
}

void FakeConverters::sendInfo(int converter, const QString &uuid, const QString &extraMembers)
{
    QString arg = QString::fromUtf8(R"("uuid":"%1","romVersion":"1.0.%2","appVersion":2.%2,)"
                                    R"("baud":9600,"pluginName":"OvUdp485")")
                      .arg(uuid)
                      .arg(converter);
    if (!extraMembers.isEmpty())
        arg += QLatin1Char(',') + extraMembers;
    send(converter, QString::fromUtf8(R"({"ack":"lbx.info","arg":{%1}})").arg(arg).toUtf8());
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

QStringList DebugLines::messages() const
{
    QStringList all;
    for (const DebugLine &line : lines)
        all.append(line.message);
    return all;
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

BoxCatcher::Answer BoxCatcher::closeButton()
{
    return [](QMessageBox *box, int) {
        box->close();
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

bool BoxCatcher::escapeTopBox()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box)
        return false;
    QTest::keyClick(box, Qt::Key_Escape);
    return true;
}

bool BoxCatcher::eventFilter(QObject *watched, QEvent *event)
{
    auto *box = qobject_cast<QMessageBox *>(watched);
    if (!box || event->spontaneous())
        return false;
    if (event->type() == QEvent::Show) {
        const int number = boxes.size();
        boxes.append({box->windowTitle(), box->text(), box->icon(), box->parentWidget(),
            box->standardButtons()});
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
    [[maybe_unused]] const bool ended = QTest::qWaitFor(
        [&] {
            return output().contains(QStringLiteral(" converters on "))
                || process.state() == QProcess::NotRunning;
        },
        5000);
    ready = output().contains(QStringLiteral(" converters on "));
}

SimulatorProcess::~SimulatorProcess()
{
    process.kill();
    process.waitForFinished();
}

bool SimulatorProcess::waitForOutput(const QString &text, int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            return output().contains(text);
        },
        timeoutMs);
}
