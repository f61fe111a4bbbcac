#include <QtGlobal>

#ifdef Q_OS_WIN
// winsock2.h before iphlpapi.h, and before anything that brings in windows.h.
// clang-format off
#include <winsock2.h>
#include <iphlpapi.h>
// clang-format on
// Windows' COM headers make "interface" a keyword; here it is a name.
#undef interface
#endif

#include "client.h"

#include "adapter.h"
#include "sweep.h"
#include "translation.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QTimer>

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
        if ((!interfaceName.isEmpty()
                && !namesAdapter(
                    interfaceName, address.interface.name(), address.interface.humanReadableName()))
            || !(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack)
            || address.entry.broadcast().isNull() || address.entry.prefixLength() >= 31)
            continue; // a /31 or /32 has no broadcast address (RFC 3021)
        found.append(address.entry.broadcast());
        if (ownAddress && ownAddress->isNull())
            *ownAddress = address.entry.ip();
    }
    return found;
}

QSet<quint32> localSubnetEdges()
{
    QSet<quint32> edges;
    const QList<AdapterAddress> addresses = adapterAddresses();
    for (const AdapterAddress &adapter : addresses) {
        if (adapter.entry.prefixLength() >= 31)
            continue;
        const quint32 mask = adapter.entry.netmask().toIPv4Address();
        const quint32 network = adapter.entry.ip().toIPv4Address() & mask;
        edges << network << (network | ~mask);
    }
    return edges;
}

// The hosts, then each range's addresses that are no local subnet's network or
// broadcast address, each once.
QList<QHostAddress> unicastAddresses(const Client::Options &options)
{
    QList<QHostAddress> addresses;
    QSet<quint32> listed;
    const QSet<quint32> edges = localSubnetEdges();
    const auto add = [&](const QHostAddress &address) {
        const quint32 value = address.toIPv4Address();
        if (!listed.contains(value) && !edges.contains(value)) {
            listed.insert(value);
            addresses.append(address);
        }
    };
    for (const QHostAddress &host : options.hosts)
        add(host);
    for (const AddressRange &range : options.sweep) {
        const QList<QHostAddress> hosts = range.hosts();
        for (const QHostAddress &host : hosts)
            add(host);
    }
    return addresses;
}

void markSharedUuids(QList<FoundConverter> &converters)
{
    QHash<QString, int> addresses;
    for (const FoundConverter &converter : qAsConst(converters))
        ++addresses[converter.uuid];
    for (FoundConverter &converter : converters)
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
    if (!options.hosts.isEmpty() || !options.sweep.isEmpty()) {
        destinations = options.hosts;
        unicast = unicastAddresses(options);
    } else if (!options.interfaceName.isEmpty()) {
        QHostAddress own;
        destinations = directedBroadcasts(options.interfaceName, &own);
        if (destinations.isEmpty()) {
            *error = Text::tr("no adapter \"%1\" that is up and has an IPv4 broadcast address")
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
        *error = Text::tr("cannot open a UDP socket on %1: %2")
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

QStringList Client::searchedText() const
{
    QStringList texts;
    for (const QHostAddress &to : destinations)
        texts.append(to.toString());
    for (const AddressRange &range : options.sweep)
        texts.append(range.text());
    return texts;
}

int Client::mostUnanswered()
{
    const int granted = socket.socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
    return qBound(8, granted / 1024, 4096);
}

void Client::receiveUntil(QDeadlineTimer deadline, const Handler &handle)
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
        waitForDatagram(int(qMin<qint64>(deadline.remainingTime(), waitSliceMs)));
    }
}

// By the event loop, not QUdpSocket::waitForReadyRead(): once the system has
// refused one datagram (a firewall, no route), that takes its next timeout
// for the error and closes the socket, and answers on their way are lost.
void Client::waitForDatagram(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QUdpSocket::readyRead, &loop, &QEventLoop::quit);
    loop.exec();
}

QList<FoundConverter> Client::discover(int repeats)
{
    QList<FoundConverter> found;
    QHash<QPair<QString, quint32>, int> byPair;
    auto handle = [&](const QHostAddress &from, const QJsonObject &reply) {
        if (Protocol::replyKind(reply) != Protocol::Reply::Info)
            return;
        const QJsonObject record
            = Protocol::deviceRecord(Protocol::replyArg(reply), from.toString());
        const FoundConverter converter{Protocol::uuidText(record), from, record};
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
        if (unicast.isEmpty())
            broadcastRound(handle, found);
        else
            Sweep(*this, unicast, options.sweepRate, options.timeoutMs, mostUnanswered())
                .run(handle);
        const Repeat repeat = repeatAfterRound(
            {dropsBefore, kernelDrops(), found.size() > foundBefore, extra, rounds > 1});
        if (repeat != Repeat::No) {
            repeatedForUnknownDrops = repeatedForUnknownDrops || repeat == Repeat::DropsUnknown;
            ++extra;
            ++rounds;
        }
    }
    markSharedUuids(found);
    return found;
}

// Every converter answers each broadcast that reaches it: the next one goes
// out once the answers to the last have died down.
void Client::broadcastRound(const Handler &handle, const QList<FoundConverter> &found)
{
    const QDeadlineTimer deadline(options.timeoutMs);
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
}

QList<Answer> Client::ask(
    const QList<QHostAddress> &addresses, const Command &command, const OutcomeKnown &outcomeKnown)
{
    QList<Order> orders;
    for (const QHostAddress &address : addresses)
        orders.append({address, command});
    return ask(orders, outcomeKnown);
}

namespace {

// The exchanges of one Client::ask: each order's command, sent with at most
// maxOutstanding waiting, and what became of it.
class Exchanges
{
public:
    Exchanges(Client &client, const Client::Options &options, const QList<Client::Order> &orders,
        const Client::OutcomeKnown &outcomeKnown);

    void run();
    QList<Answer> answers() const;

private:
    enum class State { Queued, Sent, Probing, Finished };
    struct Exchange
    {
        Answer answer;
        const Client::Command *command;
        State state = State::Queued;
        QDeadlineTimer due;
    };

    void finish(Exchange &exchange, Answer::Outcome outcome);
    void sendCommand(Exchange &exchange);
    void probe(Exchange &exchange);
    void handle(const QHostAddress &from, const QJsonObject &reply);
    void expire(Exchange &exchange);
    void reportUnfinished();

    Client &client;
    const int timeoutMs;
    const int retries;
    const Client::OutcomeKnown &outcomeKnown;
    std::vector<Exchange> exchanges;
    QHash<quint32, int> byAddress;
    std::vector<int> active; // sent or probing, in no particular order
};

Exchanges::Exchanges(Client &client, const Client::Options &options,
    const QList<Client::Order> &orders, const Client::OutcomeKnown &outcomeKnown)
    : client(client)
    , timeoutMs(options.timeoutMs)
    , retries(options.retries)
    , outcomeKnown(outcomeKnown)
{
    for (const Client::Order &order : orders) {
        if (byAddress.contains(order.address.toIPv4Address()))
            continue;
        byAddress.insert(order.address.toIPv4Address(), int(exchanges.size()));
        exchanges.push_back(
            {Answer{order.address, Answer::Outcome::NotSent, {}, {}, 0}, &order.command, {}, {}});
    }
}

void Exchanges::finish(Exchange &exchange, Answer::Outcome outcome)
{
    exchange.state = State::Finished;
    exchange.answer.outcome = outcome;
    const int index = int(&exchange - exchanges.data());
    active.erase(std::find(active.begin(), active.end(), index));
    if (outcomeKnown)
        outcomeKnown(exchange.answer);
}

void Exchanges::sendCommand(Exchange &exchange)
{
    client.send(exchange.command->request, exchange.answer.address);
    ++exchange.answer.tries;
    exchange.state = State::Sent;
    exchange.due = QDeadlineTimer(timeoutMs);
}

void Exchanges::probe(Exchange &exchange)
{
    client.send(Protocol::infoRequest, exchange.answer.address);
    exchange.state = State::Probing;
    exchange.due = QDeadlineTimer(timeoutMs);
}

void Exchanges::handle(const QHostAddress &from, const QJsonObject &reply)
{
    const int index = byAddress.value(from.toIPv4Address(), -1);
    if (index < 0)
        return;
    Exchange &exchange = exchanges[size_t(index)];
    if (exchange.state != State::Sent && exchange.state != State::Probing)
        return;
    const Protocol::Reply kind = Protocol::replyKind(reply);
    const Client::Command &command = *exchange.command;
    if (kind == command.expected) {
        exchange.answer.reply = reply;
        exchange.answer.failure = Protocol::replyFailure(reply);
        finish(exchange,
            exchange.answer.failure.isEmpty() ? Answer::Outcome::Done : Answer::Outcome::Failed);
    } else if (kind == Protocol::Reply::Info && exchange.state == State::Probing) {
        const QJsonObject record
            = Protocol::deviceRecord(Protocol::replyArg(reply), from.toString());
        const Evidence evidence = command.taken ? command.taken(record) : Evidence::Unknown;
        if (evidence == Evidence::NotTaken) {
            sendCommand(exchange); // up, and it did not take the command
            return;
        }
        exchange.answer.reply = record;
        finish(exchange,
            evidence == Evidence::Taken ? Answer::Outcome::AlreadySo : Answer::Outcome::Untold);
    }
}

// A state-changing command is sent again only once lbx.info shows the
// converter up and not changed: it may have taken the command and be restarting.
void Exchanges::expire(Exchange &exchange)
{
    if (exchange.state == State::Probing)
        finish(exchange, Answer::Outcome::SilentToInfo);
    else if (exchange.answer.tries > retries)
        finish(exchange, Answer::Outcome::Silent);
    else if (exchange.command->changesState)
        probe(exchange);
    else
        sendCommand(exchange);
}

void Exchanges::run()
{
    size_t next = 0;
    const auto handler = [this](const QHostAddress &from, const QJsonObject &reply) {
        handle(from, reply);
    };
    while ((next < exchanges.size() || !active.empty()) && !Client::interrupted()) {
        while (int(active.size()) < Client::maxOutstanding && next < exchanges.size()) {
            sendCommand(exchanges[next]);
            active.push_back(int(next++));
        }
        QDeadlineTimer earliest(QDeadlineTimer::Forever);
        for (int index : active)
            earliest = qMin(earliest, exchanges[size_t(index)].due);
        client.receiveUntil(earliest, handler);
        const std::vector<int> waiting = active;
        for (int index : waiting) {
            if (exchanges[size_t(index)].due.hasExpired())
                expire(exchanges[size_t(index)]);
        }
    }
    reportUnfinished();
}

// What an interrupt left: sent and not answered, or never sent.
void Exchanges::reportUnfinished()
{
    for (Exchange &exchange : exchanges) {
        if (exchange.state == State::Finished)
            continue;
        exchange.answer.outcome
            = exchange.state == State::Queued ? Answer::Outcome::NotSent : Answer::Outcome::Pending;
        if (outcomeKnown)
            outcomeKnown(exchange.answer);
    }
}

QList<Answer> Exchanges::answers() const
{
    QList<Answer> answers;
    for (const Exchange &exchange : exchanges)
        answers.append(exchange.answer);
    return answers;
}

} // namespace

QList<Answer> Client::ask(const QList<Order> &orders, const OutcomeKnown &outcomeKnown)
{
    Exchanges exchanges(*this, options, orders, outcomeKnown);
    exchanges.run();
    return exchanges.answers();
}

qint64 Client::droppedDatagrams() const
{
    const qint64 now = kernelDrops();
    return now < 0 || dropsAtOpen < 0 ? -1 : now - dropsAtOpen;
}

Repeat repeatAfterRound(const RoundFacts &round)
{
    if (round.dropsBefore < 0 || round.dropsAfter < 0)
        return round.extraSoFar == 0 && !round.repeating ? Repeat::DropsUnknown : Repeat::No;
    if (round.dropsAfter > round.dropsBefore && round.foundMore
        && round.extraSoFar < maxExtraSearches)
        return Repeat::LostAnswers;
    return Repeat::No;
}

#ifdef Q_OS_WIN
// Windows counts the datagrams it discarded for the whole system, not for one
// socket: a rise during a search stands for answers lost here.
qint64 Client::kernelDrops() const
{
    MIB_UDPSTATS statistics{};
    if (GetUdpStatisticsEx(&statistics, AF_INET) != NO_ERROR)
        return -1;
    return qint64(statistics.dwInErrors);
}
#else
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
#endif
