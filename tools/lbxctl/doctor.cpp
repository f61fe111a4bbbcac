// lbxctl doctor: why a converter is missing, as far as this computer can tell.
// Lists the adapters, where the search went, what came back through which
// adapter, what was dropped and why, and prints a hint for each cause it sees.

#include "adapter.h"
#include "commands.h"
#include "output.h"
#include "session.h"
#include "translation.h"

#include <QHash>
#include <QJsonDocument>
#include <QNetworkInterface>

#include <algorithm>

namespace {

struct Adapter
{
    AdapterFacts facts;
    QNetworkAddressEntry entry;
    bool up = false;
    bool loopback = false;
    QStringList looks; // virtual, link-local, VPN
    int replies = 0;
};

QList<Adapter> adapters()
{
    QList<Adapter> list;
    const QList<AdapterAddress> addresses = adapterAddresses();
    for (const AdapterAddress &address : addresses) {
        const AdapterFacts facts = adapterFacts(address);
        const auto flags = address.interface.flags();
        list.append({facts, address.entry, bool(flags & QNetworkInterface::IsUp),
            bool(flags & QNetworkInterface::IsLoopBack), adapterLooks(facts, thisSystem()), 0});
    }
    return list;
}

// What an adapter looks like (adapterLooks()), in the user's language.
QString lookShown(const QString &look)
{
    static const char *const looks[] = {QT_TRANSLATE_NOOP("lbxctl", "a VPN"),
        QT_TRANSLATE_NOOP("lbxctl", "virtual"), QT_TRANSLATE_NOOP("lbxctl", "link-local")};
    return wordShown(look, looks);
}

bool inLocalSubnet(const QList<Adapter> &list, const QHostAddress &address)
{
    for (const Adapter &adapter : list) {
        if (adapter.up && address.isInSubnet(adapter.entry.ip(), adapter.entry.prefixLength()))
            return true;
    }
    return address.isLoopback();
}

// Datagrams that came back and are no converter's answer to the search, by why.
struct Strays
{
    int notJson = 0;
    int namedTwice = 0;
    int unknownAck = 0;
    int otherReplies = 0;
    int unmatched = 0; // arrived through no adapter this computer lists

    int noConverters() const { return notJson + namedTwice + unknownAck; }
};

// Counts each datagram that arrives by the adapter it came through, and each
// one that is not an answer to lbx.info by why.
void count(const QNetworkDatagram &datagram, QList<Adapter> &list, Strays &strays)
{
    const QHostAddress to(datagram.destinationAddress().toIPv4Address());
    const auto through = std::find_if(list.begin(), list.end(), [&](const Adapter &adapter) {
        return adapter.entry.ip() == to;
    });
    if (through != list.end())
        ++through->replies;
    else
        ++strays.unmatched;
    const QJsonObject reply = Protocol::replyObject(datagram.data());
    if (reply.isEmpty()) {
        if (QJsonDocument::fromJson(datagram.data()).isObject())
            ++strays.namedTwice;
        else
            ++strays.notJson;
    } else if (Protocol::replyKind(reply) == Protocol::Reply::Unknown) {
        ++strays.unknownAck;
    } else if (Protocol::replyKind(reply) != Protocol::Reply::Info) {
        ++strays.otherReplies;
    }
}

void printAdapters(const QList<Adapter> &list, QStringList &hints)
{
    Output::line(Text::tr("Adapters:"));
    for (const Adapter &adapter : list) {
        QStringList notes{adapter.up ? Text::tr("up") : Text::tr("down")};
        if (adapter.loopback)
            notes.append(Text::tr("loopback"));
        for (const QString &look : adapter.looks)
            notes.append(lookShown(look));
        Output::line(
            Text::tr("  %1  %2/%3  broadcast %4  %5")
                .arg(adapterLabel(adapter.facts), -10)
                .arg(adapter.entry.ip().toString())
                .arg(adapter.entry.prefixLength())
                .arg(adapter.entry.broadcast().isNull() ? QStringLiteral("-")
                                                        : adapter.entry.broadcast().toString(),
                    notes.join(Text::tr(", "))));
        if (!adapter.up && !adapter.loopback)
            hints.append(downHint(thisSystem(), adapter.facts, adapter.entry.ip().toString()));
        if (adapter.looks.contains(QStringLiteral("link-local")) && adapter.up)
            hints.append(Text::tr("adapter %1 has only a link-local address (%2): it got "
                                  "no address from DHCP; converters with fixed addresses "
                                  "in another subnet will not be reached by unicast")
                             .arg(adapter.facts.name, adapter.entry.ip().toString()));
    }
}

// The range a sweep would take to reach the converters near this address:
// its /24, or the adapter's own network when it is narrower.
QString neighbourhood(const QHostAddress &address, int prefix = 24)
{
    return AddressRange::around(address.toIPv4Address(), qMax(prefix, 24)).text();
}

void printSearch(
    const QList<Adapter> &list, const Client &client, const Client::Options &options, bool byHost)
{
    Output::line(Text::tr("Search sent to:"));
    for (const AddressRange &range : options.sweep)
        Output::line(Text::tr("  %1:%2  (a sweep by unicast, %3 requests a second)")
                         .arg(range.text())
                         .arg(Protocol::converterPort)
                         .arg(options.sweepRate));
    for (const QHostAddress &to : client.searchDestinations()) {
        QString through = Text::tr("the adapter of the default route");
        for (const Adapter &adapter : list) {
            if (adapter.entry.broadcast() == to)
                through = Text::tr("adapter %1").arg(adapterLabel(adapter.facts));
        }
        if (byHost)
            through = Text::tr("unicast, through whatever route leads there");
        Output::line(QStringLiteral("  %1:%2  (%3)")
                         .arg(to.toString())
                         .arg(Protocol::converterPort)
                         .arg(through));
    }
}

// An adapter through which nothing answered; the sweep suggested covers its
// network where that is a /24 or narrower, the /24 around this computer's
// address otherwise, and says which.
QString silentAdapterHint(const Adapter &adapter)
{
    const int prefix = adapter.entry.prefixLength();
    const QString sweep = neighbourhood(adapter.entry.ip(), prefix);
    const QString why = Text::tr("no converter answered through adapter %1 (%2/%3): none is on "
                                 "that network, they are off, or the network filters "
                                 "broadcasts")
                            .arg(adapter.facts.name, adapter.entry.ip().toString())
                            .arg(prefix);
    if (prefix >= 24)
        return why + Text::tr("; a sweep asks each address of that network: --sweep %1").arg(sweep);
    return why
        + Text::tr("; a sweep asks each address, of the /24 around this computer's for a start: "
                   "--sweep %1")
              .arg(sweep);
}

void printAnswers(const QList<Adapter> &list, const Client &client, bool byHost,
    const Strays &strays, int found, QStringList &hints)
{
    Output::line(Text::tr("Answers:"));
    for (const Adapter &adapter : list) {
        if (!adapter.up)
            continue;
        Output::line(Text::tr("  through %1 (%2): %3 datagrams")
                         .arg(adapter.facts.name, adapter.entry.ip().toString())
                         .arg(adapter.replies));
        const bool searched = client.searchDestinations().contains(adapter.entry.broadcast());
        if (searched && adapter.replies == 0 && !adapter.loopback && !byHost)
            hints.append(silentAdapterHint(adapter));
    }
    if (strays.unmatched > 0)
        Output::line(
            Text::tr("  through no adapter this computer lists: %1").arg(strays.unmatched));
    Output::line(Text::tr("  converters: %1").arg(found));
    Output::line(Text::tr("Receive buffer: %1 KiB asked, %2 KiB granted; a sweep leaves up to "
                          "%3 questions unanswered at once")
                     .arg(client.settings().receiveBufferBytes / 1024)
                     .arg(client.searchBufferBytes() / 1024)
                     .arg(client.sweepWindow()));
    const qint64 dropped = client.droppedDatagrams();
    Output::line(Text::tr("Dropped: %1 not JSON, %2 naming a member twice, %3 with an "
                          "unknown ack, %4 other replies, %5 by the system for want of "
                          "buffer")
                     .arg(strays.notJson)
                     .arg(strays.namedTwice)
                     .arg(strays.unknownAck)
                     .arg(strays.otherReplies)
                     .arg(dropped < 0 ? QStringLiteral("(unknown)") : QString::number(dropped)));
}

// Hints from what came back: strangers on the port, converters behind a
// router, and nothing at all.
QStringList answerHints(const QList<Adapter> &list, const Client &client,
    const QList<FoundConverter> &found, const Strays &strays, bool byHost)
{
    QStringList hints;
    if (strays.noConverters() > 0)
        hints.append(Text::tr("%1 datagrams that no converter sends reached this computer: "
                              "another program answers on the converters' port, or a host "
                              "sends rubbish")
                         .arg(strays.noConverters()));
    for (const FoundConverter &converter : found) {
        // Asked by --host already, it needs no hint to be.
        if (!inLocalSubnet(list, converter.address) && !byHost)
            hints.append(Text::tr("%1 at %2 lies in no local subnet: it is reached through a "
                                  "router, which a search by broadcast does not cross; ask "
                                  "it with --host %2, or its neighbours too with --sweep %3")
                             .arg(Output::field(converter.uuid), converter.address.toString(),
                                 neighbourhood(converter.address)));
    }
    if (found.isEmpty() && strays.noConverters() + strays.otherReplies == 0) {
        hints.append(firewallHint(thisSystem(), client.lastSearchPort()));
        if (!byHost)
            hints.append(Text::tr(
                "converters behind a router do not hear a broadcast: ask them by address with "
                "--host ADDRESS (lbxctl discover --host 192.168.1.20), or sweep their range with "
                "--sweep CIDR (lbxctl discover --sweep 192.168.1.0/24)"));
    }
    return hints;
}

} // namespace

namespace Doctor {

void addOptions(CommandLine &line)
{
    line.addSearchOptions();
}

int run(Session &session)
{
    QList<Adapter> list = adapters();
    Strays strays;
    Client &client = session.client();
    client.setTap([&](const QNetworkDatagram &datagram) {
        count(datagram, list, strays);
    });
    const QList<FoundConverter> found = session.search(session.options.retries);
    // Asked by unicast, converters behind a router need no hint to be.
    const bool byHost = !client.unicastDestinations().isEmpty();

    QStringList hints;
    printAdapters(list, hints);
    printSearch(list, client, session.options, byHost);
    printAnswers(list, client, byHost, strays, found.size(), hints);
    hints += answerHints(list, client, found, strays, byHost);
    Output::line(hints.isEmpty() ? Text::tr("No hints: every adapter that is up answered.")
                                 : Text::tr("Hints:"));
    for (const QString &hint : qAsConst(hints))
        Output::line(QStringLiteral("  - ") + hint);
    return Output::finish(found.isEmpty() ? SomeFailed : Succeeded);
}

} // namespace Doctor

const CommandEntry doctorCommand{"doctor",
    QT_TRANSLATE_NOOP(
        "lbxctl", "Says why converters are missing, as far as this computer can tell."),
    "", 0, 0, Doctor::addOptions, Doctor::run};
