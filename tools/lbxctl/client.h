#ifndef LBXCTL_CLIENT_H
#define LBXCTL_CLIENT_H

#include "addressrange.h"
#include "channel.h"
#include "protocol.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QNetworkDatagram>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

class QEventLoop;

// A converter that answered a search. A converter is its (uuid, address) pair:
// two converters may report the same uuid, or none.
struct FoundConverter
{
    QString uuid; // as people name it (uuidName)
    QHostAddress address; // where it answered from
    QJsonObject record; // its device record, "ip" included
    bool sharedUuid = false; // another address answered with the same uuid
    // It answered from an address the search asked (any, for a broadcast); one
    // that answered from elsewhere is listed, but is no target until named.
    bool asked = true;

    QJsonValue uuidValue() const { return record.value(QLatin1String("uuid")); }
};

// A uuid as people name it: its text, or the JSON text of any other value a
// converter reports (the number 111 is "111"); empty where it reports none.
// Two converters share a uuid only where the values are equal (111 and "111"
// are not), but a name matches either.
QString uuidName(const QJsonValue &uuid);

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
        Ambiguous, // not sent: its address answers as another uuid too
        NotFound, // not sent: asked lbx.info at its address first, it did not answer there
        Unasked, // not sent: it answered from an address the search did not ask
        Held, // not sent: a staged rollout stopped at a wave before its own
        DryRun, // would have been sent: a dry run sends nothing
    };
    QHostAddress address;
    Outcome outcome = Outcome::NotSent;
    QJsonObject reply; // the acknowledgement, or the lbx.info record for AlreadySo
    QString failure; // the converter's own words for Failed
    int tries = 0; // how often the command itself was sent
    // For lbx.info: the records of other uuids the address answered as, in the
    // order heard (a converter that answers as two, or two behind one address).
    QList<QJsonObject> moreRecords;
};

// What an lbx.info record tells of whether a converter took a command.
enum class Evidence { Taken, NotTaken, Unknown };

// Speaks the converters' protocol: searches by broadcast (or by unicast,
// paced, to given hosts and the addresses of given ranges), and sends commands
// with a bounded number outstanding, a timeout and retries. A command that
// changes a converter's state is sent again only after lbx.info shows that the
// converter is up and did not take it. Each round of questions goes out from a
// channel of its own (see Channel): no answer is taken for the answer to a
// question it does not answer.
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

    // What a command is, and for one that changes a converter's state, how to
    // decide whether to send it again.
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
    ~Client();

    // Decides where a search goes and opens a first channel (bound to the
    // adapter's address with an interface name); on failure says why.
    bool open(QString *error);
    const Options &settings() const { return options; }

    // A channel for one round of questions, bound as the first was, on a port
    // no other round of this run has used. A search's channel gets the large
    // receive buffer, and its drops count.
    std::unique_ptr<Channel> openChannel(Channel::Handler handler, bool search = false);

    // Converters in the order of their first answer, one per (uuid, address),
    // from one search and as many repeats. A search that lost replies to a full
    // receive buffer is repeated while it finds more converters. With
    // progressShown, a long sweep shows how far it is on standard error.
    QList<FoundConverter> discover(int repeats = 0, bool progressShown = false);

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

    // Hands each datagram that arrives on any open channel to its handler until
    // the deadline passes or an interrupt comes; returns as soon as some have
    // been handled, and once more after the deadline has passed.
    void receiveUntil(QDeadlineTimer deadline);
    // Sees every datagram that arrives, before it is handled (for lbxctl doctor).
    void setTap(std::function<void(const QNetworkDatagram &)> tap) { this->tap = std::move(tap); }

    // Where a search by broadcast goes: the broadcast addresses; or the hosts.
    const QList<QHostAddress> &searchDestinations() const { return destinations; }
    // Every address a search asks by unicast: the hosts, then the ranges' own;
    // empty for a search by broadcast.
    const QList<QHostAddress> &unicastDestinations() const { return unicast; }
    // Whether a search asked this address: any, by broadcast.
    bool askedBySearch(const QHostAddress &address) const;
    // The same as a roster records it: the addresses, then the ranges swept.
    QStringList searchedText() const;
    // The port the last search left from (0 before any).
    quint16 lastSearchPort() const { return searchPort; }
    // The receive buffer the system granted the last search (0 before any),
    // and how many questions a sweep leaves unanswered at once for it: as
    // many as answers fit, at about a KiB each.
    int searchBufferBytes() const { return searchBuffer; }
    int sweepWindow() const { return qBound(8, searchBuffer / 1024, 4096); }
    // Datagrams sent so far.
    qint64 sentCount() const { return sent; }

    // Datagrams the system dropped on the searches' sockets for want of buffer
    // space since the client was opened (on Windows, datagrams the system
    // discarded meanwhile); -1 where the system does not tell.
    qint64 droppedDatagrams() const;
    // The drop count to compare before and after a search on this channel.
    qint64 dropCount(const Channel &search) const;
    // Whether a search was made once more because the system does not tell
    // whether it dropped answers.
    bool searchRepeatedForUnknownDrops() const { return repeatedForUnknownDrops; }

    // Set from a SIGINT handler: every wait ends soon after.
    static void interrupt();
    static bool interrupted();

private:
    friend class Channel;
    void forget(const Channel &channel);
    int dispatchArrived();
    void waitForDatagram(int ms);
    qint64 systemDrops() const;

    Options options;
    QHostAddress bindAddress;
    QList<QHostAddress> destinations;
    QList<QHostAddress> unicast;
    QSet<quint32> unicastSet;
    QHash<int, Channel *> channels;
    QSet<int> ready; // channels whose socket has signalled datagrams
    QSet<quint16> usedPorts;
    int nextChannel = 0;
    QEventLoop *waiting = nullptr;
    qint64 closedSearchDrops = 0;
    qint64 systemDropsAtOpen = -1;
    bool repeatedForUnknownDrops = false;
    quint16 searchPort = 0;
    int searchBuffer = 0;
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

// Marks every converter whose uuid another address answered with too.
void markSharedUuids(QList<FoundConverter> &converters);

#endif // LBXCTL_CLIENT_H
