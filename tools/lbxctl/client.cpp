#include "client.h"

#include <QDeadlineTimer>
#include <QMap>
#include <QNetworkDatagram>
#include <QNetworkInterface>

#include <utility>

QList<QHostAddress> directedBroadcasts(const QString &interfaceName, QHostAddress *ownAddress)
{
    QList<QHostAddress> found;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto flags = interface.flags();
        if (!interfaceName.isEmpty() && interface.name() != interfaceName)
            continue;
        if (!(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack))
            continue;
        const auto entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol
                || entry.broadcast().isNull())
                continue;
            found.append(entry.broadcast());
            if (ownAddress && ownAddress->isNull())
                *ownAddress = entry.ip();
        }
    }
    return found;
}

Client::Client(Options options)
    : options(std::move(options))
{
}

bool Client::open(QString *error)
{
    QHostAddress bindAddress(QHostAddress::AnyIPv4);
    if (!options.hosts.isEmpty()) {
        destinations = options.hosts;
    } else if (!options.interfaceName.isEmpty()) {
        QHostAddress own;
        destinations = directedBroadcasts(options.interfaceName, &own);
        if (destinations.isEmpty()) {
            *error
                = QStringLiteral("no adapter \"%1\" that is up and has an IPv4 broadcast address")
                      .arg(options.interfaceName);
            return false;
        }
        // Replies then come back through that adapter only.
        bindAddress = own;
    } else {
        destinations = {QHostAddress(QHostAddress::Broadcast)};
        destinations += directedBroadcasts({});
    }
    if (!socket.bind(bindAddress, 0)) {
        *error = QStringLiteral("cannot open a UDP socket on %1: %2")
                     .arg(bindAddress.toString(), socket.errorString());
        return false;
    }
    // Hundreds of converters may answer one search at once.
    socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 16 * 1024 * 1024);
    return true;
}

void Client::send(const QByteArray &request, const QHostAddress &to)
{
    socket.writeDatagram(request, to, Protocol::converterPort);
}

template <typename Handle, typename Done>
void Client::receive(int timeoutMs, Handle handle, Done done)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (!socket.hasPendingDatagrams()
            && !socket.waitForReadyRead(int(deadline.remainingTime())))
            return;
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = socket.receiveDatagram();
            // Replies to an IPv4 socket come from plain IPv4 addresses.
            handle(QHostAddress(datagram.senderAddress().toIPv4Address()),
                Protocol::replyObject(datagram.data()));
        }
        if (deadline.hasExpired())
            return;
    }
}

QList<Converter> Client::discover()
{
    QList<Converter> found;
    QMap<QString, int> byUuid;
    for (int round = 0; round <= options.retries; ++round) {
        for (const QHostAddress &to : qAsConst(destinations))
            send(Protocol::infoRequest, to);
        receive(
            options.timeoutMs,
            [&](const QHostAddress &from, const QJsonObject &reply) {
                if (Protocol::replyKind(reply) != Protocol::Reply::Info)
                    return;
                const QJsonObject record
                    = Protocol::deviceRecord(Protocol::replyArg(reply), from.toString());
                const QString uuid = Protocol::uuidText(record);
                const Converter converter{uuid, from, record};
                if (byUuid.contains(uuid)) {
                    found[byUuid.value(uuid)] = converter;
                } else {
                    byUuid.insert(uuid, found.size());
                    found.append(converter);
                }
            },
            [] {
                return false;
            });
    }
    return found;
}

QList<Answer> Client::ask(
    const QList<QHostAddress> &addresses, const QByteArray &request, Protocol::Reply expected)
{
    QList<Answer> answers;
    for (const QHostAddress &address : addresses)
        answers.append({address, false, {}, 0});
    auto waiting = [&] {
        int count = 0;
        for (const Answer &answer : qAsConst(answers))
            count += answer.answered ? 0 : 1;
        return count;
    };
    for (int round = 0; round <= options.retries && waiting() > 0; ++round) {
        for (Answer &answer : answers) {
            if (!answer.answered) {
                send(request, answer.address);
                ++answer.tries;
            }
        }
        receive(
            options.timeoutMs,
            [&](const QHostAddress &from, const QJsonObject &reply) {
                if (Protocol::replyKind(reply) != expected)
                    return;
                for (Answer &answer : answers) {
                    if (answer.address == from && !answer.answered) {
                        answer.answered = true;
                        answer.reply = reply;
                    }
                }
            },
            [&] {
                return waiting() == 0;
            });
    }
    return answers;
}
