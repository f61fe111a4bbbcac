#include "client.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHash>
#include <QNetworkDatagram>
#include <QNetworkInterface>

#include <algorithm>
#include <csignal>
#include <utility>
#include <vector>

namespace {

volatile std::sig_atomic_t interruptRequested = 0;

// A wait is cut into slices this long, so that an interrupt is seen promptly.
constexpr int waitSliceMs = 50;

// A search's answers have died down after this long without a new converter.
constexpr int quietMs = 50;

// A search that lost replies to a full buffer is repeated at most this often.
constexpr int maxExtraSearches = 3;

} // namespace

QList<AdapterAddress> adapterAddresses()
{
    QList<AdapterAddress> found;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                found.append({interface, entry});
        }
    }
    return found;
}

QList<QHostAddress> directedBroadcasts(const QString &interfaceName, QHostAddress *ownAddress)
{
    QList<QHostAddress> found;
    const QList<AdapterAddress> addresses = adapterAddresses();
    for (const AdapterAddress &address : addresses) {
        const auto flags = address.interface.flags();
        if ((!interfaceName.isEmpty() && address.interface.name() != interfaceName)
            || !(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack)
            || address.entry.broadcast().isNull())
            continue;
        found.append(address.entry.broadcast());
        if (ownAddress && ownAddress->isNull())
            *ownAddress = address.entry.ip();
    }
    return found;
}

void markSharedUuids(QList<Converter> &converters)
{
    QHash<QString, int> addresses;
    for (const Converter &converter : qAsConst(converters))
        ++addresses[converter.uuid];
    for (Converter &converter : converters)
        converter.sharedUuid = addresses.value(converter.uuid) > 1;
}

Client::Client(Options options)
    : options(std::move(options))
{
}

void Client::interrupt()
{
    interruptRequested = 1;
}

bool Client::interrupted()
{
    return interruptRequested != 0;
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
    socket.setSocketOption(
        QAbstractSocket::ReceiveBufferSizeSocketOption, options.receiveBufferBytes);
    dropsAtOpen = kernelDrops();
    return true;
}

void Client::send(const QByteArray &request, const QHostAddress &to)
{
    socket.writeDatagram(request, to, Protocol::converterPort);
    ++sent;
}

void Client::search()
{
    for (const QHostAddress &to : qAsConst(destinations))
        send(Protocol::infoRequest, to);
}

void Client::receiveUntil(QDeadlineTimer deadline,
    const std::function<void(const QHostAddress &, const QJsonObject &)> &handle)
{
    for (;;) {
        // Drained before any is parsed: the fewer the queued bytes, the fewer a
        // burst of answers loses to a full buffer.
        QList<QNetworkDatagram> arrived;
        while (socket.hasPendingDatagrams())
            arrived.append(socket.receiveDatagram());
        for (const QNetworkDatagram &datagram : qAsConst(arrived)) {
            if (tap)
                tap(datagram);
            // Replies to an IPv4 socket come from plain IPv4 addresses.
            handle(QHostAddress(datagram.senderAddress().toIPv4Address()),
                Protocol::replyObject(datagram.data()));
        }
        if (!arrived.isEmpty() || deadline.hasExpired() || interrupted())
            return;
        socket.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), waitSliceMs)));
    }
}

QList<Converter> Client::discover(int repeats)
{
    QList<Converter> found;
    QHash<QPair<QString, quint32>, int> byPair;
    auto handle = [&](const QHostAddress &from, const QJsonObject &reply) {
        if (Protocol::replyKind(reply) != Protocol::Reply::Info)
            return;
        const QJsonObject record
            = Protocol::deviceRecord(Protocol::replyArg(reply), from.toString());
        const Converter converter{Protocol::uuidText(record), from, record};
        const auto pair = qMakePair(converter.uuid, from.toIPv4Address());
        const int at = byPair.value(pair, -1);
        if (at >= 0) {
            found[at] = converter;
        } else {
            byPair.insert(pair, found.size());
            found.append(converter);
        }
    };
    int rounds = repeats + 1;
    int extra = 0;
    for (int round = 0; round < rounds && !interrupted(); ++round) {
        const qint64 dropsBefore = kernelDrops();
        const int foundBefore = found.size();
        const QDeadlineTimer deadline(options.timeoutMs);
        // Every converter answers each broadcast that reaches it: the next
        // one goes out once the answers to the last have died down.
        for (const QHostAddress &to : qAsConst(destinations)) {
            send(Protocol::infoRequest, to);
            if (destinations.size() > 1) {
                QDeadlineTimer quiet(quietMs);
                while (!quiet.hasExpired() && !deadline.hasExpired() && !interrupted()) {
                    const int before = found.size();
                    receiveUntil(quiet, handle);
                    if (found.size() > before)
                        quiet.setRemainingTime(quietMs);
                }
            }
        }
        while (!deadline.hasExpired() && !interrupted())
            receiveUntil(deadline, handle);
        if (kernelDrops() > dropsBefore && found.size() > foundBefore && extra < maxExtraSearches) {
            ++extra;
            ++rounds;
        }
    }
    markSharedUuids(found);
    return found;
}

QList<Answer> Client::ask(const QList<QHostAddress> &addresses, const Command &command,
    const std::function<void(const Answer &)> &known)
{
    QList<Order> orders;
    for (const QHostAddress &address : addresses)
        orders.append({address, command});
    return ask(orders, known);
}

QList<Answer> Client::ask(
    const QList<Order> &orders, const std::function<void(const Answer &)> &known)
{
    enum class State { Queued, Sent, Probing, Finished };
    struct Exchange
    {
        Answer answer;
        const Command *command;
        State state = State::Queued;
        QDeadlineTimer due;
    };
    std::vector<Exchange> exchanges;
    QHash<quint32, int> byAddress;
    for (const Order &order : orders) {
        if (byAddress.contains(order.address.toIPv4Address()))
            continue;
        byAddress.insert(order.address.toIPv4Address(), int(exchanges.size()));
        exchanges.push_back(
            {Answer{order.address, Answer::Outcome::NotSent, {}, {}, 0}, &order.command, {}, {}});
    }

    std::vector<int> active; // sent or probing, in no particular order
    auto finish = [&](Exchange &exchange, Answer::Outcome outcome) {
        exchange.state = State::Finished;
        exchange.answer.outcome = outcome;
        const int index = int(&exchange - exchanges.data());
        active.erase(std::find(active.begin(), active.end(), index));
        if (known)
            known(exchange.answer);
    };
    auto sendCommand = [&](Exchange &exchange) {
        send(exchange.command->request, exchange.answer.address);
        ++exchange.answer.tries;
        exchange.state = State::Sent;
        exchange.due = QDeadlineTimer(options.timeoutMs);
    };
    auto probe = [&](Exchange &exchange) {
        send(Protocol::infoRequest, exchange.answer.address);
        exchange.state = State::Probing;
        exchange.due = QDeadlineTimer(options.timeoutMs);
    };
    auto handle = [&](const QHostAddress &from, const QJsonObject &reply) {
        const int index = byAddress.value(from.toIPv4Address(), -1);
        if (index < 0)
            return;
        Exchange &exchange = exchanges[size_t(index)];
        if (exchange.state != State::Sent && exchange.state != State::Probing)
            return;
        const Protocol::Reply kind = Protocol::replyKind(reply);
        const Command &command = *exchange.command;
        if (kind == command.expected) {
            exchange.answer.reply = reply;
            exchange.answer.failure = Protocol::replyFailure(reply);
            finish(exchange,
                exchange.answer.failure.isEmpty() ? Answer::Outcome::Done
                                                  : Answer::Outcome::Failed);
        } else if (kind == Protocol::Reply::Info && exchange.state == State::Probing) {
            const QJsonObject record
                = Protocol::deviceRecord(Protocol::replyArg(reply), from.toString());
            if (command.alreadySo && command.alreadySo(record)) {
                exchange.answer.reply = record;
                finish(exchange, Answer::Outcome::AlreadySo);
            } else {
                // Up, and it did not take the command.
                sendCommand(exchange);
            }
        }
    };

    size_t next = 0;
    while ((next < exchanges.size() || !active.empty()) && !interrupted()) {
        while (int(active.size()) < maxOutstanding && next < exchanges.size()) {
            sendCommand(exchanges[next]);
            active.push_back(int(next++));
        }
        QDeadlineTimer earliest(QDeadlineTimer::Forever);
        for (int index : active)
            earliest = qMin(earliest, exchanges[size_t(index)].due);
        receiveUntil(earliest, handle);
        const std::vector<int> waiting = active;
        for (int index : waiting) {
            Exchange &exchange = exchanges[size_t(index)];
            if (!exchange.due.hasExpired())
                continue;
            if (exchange.state == State::Probing)
                finish(exchange, Answer::Outcome::SilentToInfo);
            else if (exchange.answer.tries > options.retries)
                finish(exchange, Answer::Outcome::Silent);
            else if (exchange.command->changesState)
                probe(exchange);
            else
                sendCommand(exchange);
        }
    }
    for (Exchange &exchange : exchanges) {
        if (exchange.state == State::Finished)
            continue;
        exchange.answer.outcome
            = exchange.state == State::Queued ? Answer::Outcome::NotSent : Answer::Outcome::Pending;
        if (known)
            known(exchange.answer);
    }

    QList<Answer> answers;
    for (const Exchange &exchange : exchanges)
        answers.append(exchange.answer);
    return answers;
}

qint64 Client::droppedDatagrams() const
{
    const qint64 now = kernelDrops();
    return now < 0 || dropsAtOpen < 0 ? -1 : now - dropsAtOpen;
}

// Linux counts each UDP socket's drops in the last column of /proc/net/udp,
// where the socket is found by its local port.
qint64 Client::kernelDrops() const
{
    QFile table(QStringLiteral("/proc/self/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray port
        = QByteArray::number(socket.localPort(), 16).toUpper().rightJustified(4, '0');
    table.readLine(); // the header
    for (QByteArray line = table.readLine(); !line.isEmpty(); line = table.readLine()) {
        const QList<QByteArray> columns = line.simplified().split(' ');
        if (columns.size() < 13 || !columns.at(1).endsWith(':' + port))
            continue;
        bool ok = false;
        const qint64 drops = columns.constLast().toLongLong(&ok);
        return ok ? drops : -1;
    }
    return -1;
}
