#ifndef LBXCTL_CLIENT_H
#define LBXCTL_CLIENT_H

#include "addressrange.h"
#include "protocol.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QNetworkAddressEntry>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QSet>
#include <QString>
#include <QUdpSocket>

#include <functional>

// A converter that answered a search. A converter is its (uuid, address) pair:
// two converters may report the same uuid, or none.
struct FoundConverter
{
    QString uuid;
    QHostAddress address;
    QJsonObject record; // its device record, "ip" included
    bool sharedUuid = false; // another address answered with the same uuid
};

// What became of a command sent to one converter.
struct Answer
{
    enum class Outcome {
        Done, // acknowledged, no failure claimed
        Failed, // acknowledged, but the reply says it failed (see failure)
        AlreadySo, // no acknowledgement, but lbx.info reports the state asked for
        Silent, // never answered, though asked every time
        SilentToInfo, // no acknowledgement, and silent to lbx.info: it may have taken
                      // the command and be restarting, so it was not sent again
        Untold, // no acknowledgement; up, but what it reports cannot tell whether it
                // took the command, so it was not sent again
        Pending, // sent, no answer yet when interrupted
        NotSent, // interrupted before it was sent
    };
    QHostAddress address;
    Outcome outcome = Outcome::NotSent;
    QJsonObject reply; // the acknowledgement, or the lbx.info record for AlreadySo
    QString failure; // the converter's own words for Failed
    int tries = 0; // how often the command itself was sent
};

// Speaks the converters' protocol from one UDP socket: searches by broadcast (or
// by unicast, paced, to given hosts and the addresses of given ranges), and sends commands with a
// bounded number outstanding, a timeout and retries. A command that changes a converter's state is
// sent again only after lbx.info shows that the converter is up and did not take it.

// What an lbx.info record tells of whether a converter took a command.
enum class Evidence { Taken, NotTaken, Unknown };

class Client
{
public:
    struct Options
    {
        int timeoutMs = 2000;
        int retries = 0;
        QString interfaceName; // empty: every adapter
        // Asked by unicast instead of searched for by broadcast: these hosts,
        // and every host address of these ranges, at sweepRate a second.
        QList<QHostAddress> hosts;
        QList<AddressRange> sweep;
        int sweepRate = 200;
        int receiveBufferBytes = 16 * 1024 * 1024;
    };

    // What a state-changing command is, for deciding whether to send it again.
    struct Command
    {
        QByteArray request;
        Protocol::Reply expected;
        bool changesState = false;
        // For a state-changing command: what a record tells of whether the
        // converter took it. Empty: nothing can tell, so it is never sent again.
        std::function<Evidence(const QJsonObject &record)> taken;
    };

    // Requests outstanding at once: few enough that their replies fit the
    // smallest receive buffer a stock system grants.
    static constexpr int maxOutstanding = 32;

    explicit Client(Options options);

    // Binds the socket (to the adapter's address with an interface name); on
    // failure says why.
    bool open(QString *error);

    // Converters in the order of their first answer, one per (uuid, address),
    // from one search and as many repeats. A search that lost replies to a full
    // receive buffer is repeated while it finds more converters.
    QList<FoundConverter> discover(int repeats = 0);

    // A command for one converter.
    struct Order
    {
        QHostAddress address;
        Command command;
    };

    // Called with each outcome as soon as it is known.
    using OutcomeKnown = std::function<void(const Answer &)>;

    // Sends each order (one per address: a later one for the same address is
    // left out) and reports each outcome as soon as it is known, in that order
    // of knowing; returns them in the order of the orders.
    QList<Answer> ask(const QList<Order> &orders, const OutcomeKnown &outcomeKnown = {});
    // The same command to each address.
    QList<Answer> ask(const QList<QHostAddress> &addresses, const Command &command,
        const OutcomeKnown &outcomeKnown = {});

    void send(const QByteArray &request, const QHostAddress &to);
    // Sends lbx.info where a search goes (the broadcast addresses, or the hosts),
    // never to the addresses of a sweep: those are asked paced, by discover().
    void search();
    // Takes a reply and the address it came from.
    using Handler = std::function<void(const QHostAddress &, const QJsonObject &)>;
    // Hands each datagram that arrives to handle() until the deadline passes or
    // an interrupt comes; returns as soon as some have been handled, and at
    // once when nothing is pending and the deadline has passed.
    void receiveUntil(QDeadlineTimer deadline, const Handler &handle);
    // Sees every datagram that arrives, before it is handled (for lbxctl doctor).
    void setTap(std::function<void(const QNetworkDatagram &)> tap) { this->tap = std::move(tap); }
    // Where a search goes: the broadcast addresses, or the hosts.
    const QList<QHostAddress> &searchDestinations() const { return destinations; }
    // The same as a roster records it: the addresses, then the ranges swept.
    QStringList searchedText() const;
    // Every address a search asks by unicast: the hosts, then the ranges' own.
    const QList<QHostAddress> &unicastDestinations() const { return unicast; }
    quint16 localPort() const { return socket.localPort(); }
    // Datagrams sent so far.
    qint64 sentCount() const { return sent; }

    // Datagrams the system dropped on this socket for want of buffer space since
    // it was opened (on Windows, datagrams the system discarded meanwhile); -1
    // where the system does not tell.
    qint64 droppedDatagrams() const;
    // Whether a search was made once more because the system does not tell
    // whether it dropped answers.
    bool searchRepeatedForUnknownDrops() const { return repeatedForUnknownDrops; }

    // Set from a SIGINT handler: every wait ends soon after.
    static void interrupt();
    static bool interrupted();

private:
    qint64 kernelDrops() const;
    void waitForDatagram(int ms);
    void broadcastRound(const Handler &handle, const QList<FoundConverter> &found);
    // Requests a sweep may leave unanswered at once: as many as answers fit
    // the receive buffer the system granted, at about a KiB each.
    int mostUnanswered();

    Options options;
    QUdpSocket socket;
    QList<QHostAddress> destinations;
    QList<QHostAddress> unicast;
    qint64 dropsAtOpen = -1;
    bool repeatedForUnknownDrops = false;
    qint64 sent = 0;
    std::function<void(const QNetworkDatagram &)> tap;
};

// A search that lost answers to a full buffer is repeated at most this often.
constexpr int maxExtraSearches = 3;

// What one round of a search tells of whether to search again.
struct RoundFacts
{
    qint64 dropsBefore; // the system's drop count; -1 where it does not tell
    qint64 dropsAfter;
    bool foundMore; // the round found converters the rounds before it had not
    int extraSoFar; // rounds added already
    bool repeating; // more rounds were asked for anyway
};
enum class Repeat {
    No,
    LostAnswers, // the buffer overflowed and the round still found more
    DropsUnknown, // the system does not count its drops: once, to be safe
};
Repeat repeatAfterRound(const RoundFacts &round);

// Each IPv4 address of this computer's adapters, up or down, with its adapter.
struct AdapterAddress
{
    QNetworkInterface interface;
    QNetworkAddressEntry entry;
};
QList<AdapterAddress> adapterAddresses();

// The network and broadcast addresses of this computer's subnets (below a
// /31): a datagram to one of these reaches every host on that subnet.
QSet<quint32> localSubnetEdges();

// The adapters' directed broadcast addresses: of every IPv4 adapter that is up,
// or of the one named. Empty when there is none.
QList<QHostAddress> directedBroadcasts(
    const QString &interfaceName, QHostAddress *ownAddress = nullptr);

// Marks every converter whose uuid another address answered with too.
void markSharedUuids(QList<FoundConverter> &converters);

#endif // LBXCTL_CLIENT_H
