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
#include "exchanges.h"
#include "output.h"
#include "search.h"
#include "translation.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <csignal>
#include <utility>
#include <vector>

namespace {

volatile std::sig_atomic_t interruptRequested = 0;

// A wait is cut into slices this long, so that an interrupt is seen promptly.
constexpr int waitSliceMs = 50;

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

} // namespace

QString uuidName(const QJsonValue &uuid)
{
    if (uuid.isString() || uuid.isUndefined())
        return uuid.toString();
    const QByteArray text = QJsonDocument(QJsonArray{uuid}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(text.mid(1, text.size() - 2));
}

void markSharedUuids(QList<FoundConverter> &converters)
{
    for (FoundConverter &converter : converters) {
        converter.sharedUuid
            = std::any_of(converters.cbegin(), converters.cend(), [&](const FoundConverter &other) {
                  return other.address != converter.address
                      && other.uuidValue() == converter.uuidValue();
              });
    }
}

Client::Client(Options options)
    : options(std::move(options))
{
}

Client::~Client() = default;

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
    bindAddress = QHostAddress(QHostAddress::AnyIPv4);
    if (!options.hosts.isEmpty() || !options.sweep.isEmpty()) {
        destinations = options.hosts;
        unicast = unicastAddresses(options);
        for (const QHostAddress &address : qAsConst(unicast))
            unicastSet.insert(address.toIPv4Address());
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
    const std::unique_ptr<Channel> first = openChannel({});
    if (first->socket->state() != QAbstractSocket::BoundState) {
        *error = Text::tr("cannot open a UDP socket on %1: %2")
                     .arg(bindAddress.toString(), first->socket->errorString());
        return false;
    }
    systemDropsAtOpen = systemDrops();
    return true;
}

std::unique_ptr<Channel> Client::openChannel(Channel::Handler handler, bool search)
{
    // A port that served an earlier round would take that round's late
    // answers: such a socket is held while another is bound, then closed.
    auto socket = std::make_unique<QUdpSocket>();
    std::vector<std::unique_ptr<QUdpSocket>> held;
    while (socket->bind(bindAddress, 0) && usedPorts.contains(socket->localPort())) {
        held.push_back(std::move(socket));
        socket = std::make_unique<QUdpSocket>();
    }
    usedPorts.insert(socket->localPort());
    std::unique_ptr<Channel> channel(
        new Channel(*this, nextChannel++, std::move(handler), std::move(socket)));
    channels.insert(channel->id, channel.get());
    QObject::connect(channel->socket.get(), &QUdpSocket::readyRead, channel->socket.get(),
        [this, id = channel->id] {
            ready.insert(id);
            if (waiting)
                waiting->quit();
        });
    if (search) {
        // Hundreds of converters may answer one search at once.
        channel->socket->setSocketOption(
            QAbstractSocket::ReceiveBufferSizeSocketOption, options.receiveBufferBytes);
        channel->countsDrops = true;
        searchPort = channel->port();
        searchBuffer = channel->grantedBufferBytes();
    }
    return channel;
}

void Client::forget(const Channel &channel)
{
    if (channel.countsDrops)
        closedSearchDrops += qMax<qint64>(0, channel.kernelDrops());
    channels.remove(channel.id);
    ready.remove(channel.id);
}

bool Client::askedBySearch(const QHostAddress &address) const
{
    return unicast.isEmpty() || unicastSet.contains(address.toIPv4Address());
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

// Every datagram queued on a channel that signalled, each to its channel's
// handler; a channel closed by an earlier handler gets none. Drained before any
// is parsed: the fewer the queued bytes, the fewer a burst loses to a full buffer.
int Client::dispatchArrived()
{
    std::vector<std::pair<int, QNetworkDatagram>> arrived;
    const QSet<int> signalled = std::exchange(ready, {});
    for (int id : signalled) {
        Channel *channel = channels.value(id);
        while (channel && channel->socket->hasPendingDatagrams())
            arrived.emplace_back(id, channel->socket->receiveDatagram());
    }
    for (const auto &[id, datagram] : arrived) {
        if (tap)
            tap(datagram);
        const Channel *channel = channels.value(id);
        if (!channel || !channel->handler)
            continue;
        // A copy: the handler may close its own channel.
        const Channel::Handler handler = channel->handler;
        // Replies to an IPv4 socket come from plain IPv4 addresses.
        handler(QHostAddress(datagram.senderAddress().toIPv4Address()),
            Protocol::replyObject(datagram.data()));
    }
    return int(arrived.size());
}

void Client::receiveUntil(QDeadlineTimer deadline)
{
    for (;;) {
        if (dispatchArrived() > 0 || interrupted())
            return;
        const bool last = deadline.hasExpired();
        waitForDatagram(last ? 0 : int(qMin<qint64>(deadline.remainingTime(), waitSliceMs)));
        if (last) {
            dispatchArrived();
            return;
        }
    }
}

// By the event loop, not QUdpSocket::waitForReadyRead(): once the system has
// refused one datagram (a firewall, no route), that takes its next timeout
// for the error and closes the socket, and answers on their way are lost.
void Client::waitForDatagram(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    waiting = &loop;
    loop.exec();
    waiting = nullptr;
}

QList<FoundConverter> Client::discover(int repeats, bool progressShown)
{
    QList<FoundConverter> found;
    QHash<QPair<QString, quint32>, int> byPair;
    auto handle = [&](const QHostAddress &from, const QJsonObject &reply) {
        if (Protocol::replyKind(reply) != Protocol::Reply::Info)
            return;
        const QJsonObject record
            = Protocol::deviceRecord(Protocol::replyArg(reply), from.toString());
        const FoundConverter converter{uuidName(record.value(QLatin1String("uuid"))), from, record,
            false, askedBySearch(from)};
        // A uuid's JSON text tells apart 111 and "111", which share a name.
        const auto pair = qMakePair(
            QString::fromUtf8(QJsonDocument(QJsonArray{converter.uuidValue()}).toJson()),
            from.toIPv4Address());
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
        const int foundBefore = found.size();
        Search search(*this, handle, progressShown);
        const qint64 dropsBefore = dropCount(search.channel());
        while (!search.done() && !interrupted())
            receiveUntil(search.step());
        const Repeat repeat = repeatAfterRound({dropsBefore, dropCount(search.channel()),
            found.size() > foundBefore, extra, rounds > 1});
        if (repeat != Repeat::No) {
            repeatedForUnknownDrops = repeatedForUnknownDrops || repeat == Repeat::DropsUnknown;
            ++extra;
            ++rounds;
        }
    }
    markSharedUuids(found);
    return found;
}

QList<Answer> Client::ask(
    const QList<QHostAddress> &addresses, const Command &command, const OutcomeKnown &outcomeKnown)
{
    QList<Order> orders;
    for (const QHostAddress &address : addresses)
        orders.append({address, command});
    return ask(orders, outcomeKnown);
}

QList<Answer> Client::ask(const QList<Order> &orders, const OutcomeKnown &outcomeKnown)
{
    Exchanges exchanges(*this, orders, outcomeKnown);
    exchanges.run();
    return exchanges.answers();
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
qint64 Client::systemDrops() const
{
    MIB_UDPSTATS statistics{};
    if (GetUdpStatisticsEx(&statistics, AF_INET) != NO_ERROR)
        return -1;
    return qint64(statistics.dwInErrors);
}

qint64 Client::dropCount(const Channel &) const
{
    return systemDrops();
}

qint64 Client::droppedDatagrams() const
{
    const qint64 now = systemDrops();
    return now < 0 || systemDropsAtOpen < 0 ? -1 : now - systemDropsAtOpen;
}
#else
qint64 Client::systemDrops() const
{
    return -1;
}

qint64 Client::dropCount(const Channel &search) const
{
    return search.kernelDrops();
}

qint64 Client::droppedDatagrams() const
{
    qint64 drops = closedSearchDrops;
    for (const Channel *channel : channels) {
        if (!channel->countsDrops)
            continue;
        const qint64 more = channel->kernelDrops();
        if (more < 0)
            return -1;
        drops += more;
    }
    return drops;
}
#endif
