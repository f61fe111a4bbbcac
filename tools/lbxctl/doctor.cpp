// lbxctl doctor: why a converter is missing, as far as this computer can tell.
// Lists the adapters, where the search went, what came back through which
// adapter, what was dropped and why, and prints a hint for each cause it sees.

#include "commandline.h"
#include "commands.h"
#include "output.h"
#include "targets.h"

#include <QHash>
#include <QJsonDocument>
#include <QNetworkInterface>

#include <utility>

namespace {

struct Adapter
{
    QString name;
    QNetworkAddressEntry entry;
    bool up = false;
    bool loopback = false;
    QStringList looks; // virtual, link-local, VPN
    int replies = 0;
};

QStringList looksOf(const QNetworkInterface &interface, const QNetworkAddressEntry &entry)
{
    static const char *const virtualNames[] = {"veth", "docker", "br-", "virbr", "vmnet", "vbox",
        "vEthernet", "lxc", "podman", "cni", "flannel", "dummy"};
    static const char *const vpnNames[]
        = {"tun", "tap", "wg", "ppp", "tailscale", "zt", "utun", "ipsec", "nordlynx"};
    QStringList looks;
    const QString name = interface.name();
    for (const char *prefix : vpnNames) {
        if (name.startsWith(QLatin1String(prefix))) {
            looks.append(QStringLiteral("a VPN"));
            break;
        }
    }
    if (interface.type() == QNetworkInterface::Virtual)
        looks.append(QStringLiteral("virtual"));
    else {
        for (const char *prefix : virtualNames) {
            if (name.startsWith(QLatin1String(prefix))) {
                looks.append(QStringLiteral("virtual"));
                break;
            }
        }
    }
    if (entry.ip().isInSubnet(QHostAddress(QStringLiteral("169.254.0.0")), 16))
        looks.append(QStringLiteral("link-local"));
    return looks;
}

QList<Adapter> adapters()
{
    QList<Adapter> list;
    const QList<AdapterAddress> addresses = adapterAddresses();
    for (const auto &[interface, entry] : addresses) {
        const auto flags = interface.flags();
        list.append({interface.name(), entry, bool(flags & QNetworkInterface::IsUp),
            bool(flags & QNetworkInterface::IsLoopBack), looksOf(interface, entry), 0});
    }
    return list;
}

bool inLocalSubnet(const QList<Adapter> &list, const QHostAddress &address)
{
    for (const Adapter &adapter : list) {
        if (adapter.up && address.isInSubnet(adapter.entry.ip(), adapter.entry.prefixLength()))
            return true;
    }
    return address.isLoopback();
}

} // namespace

namespace Doctor {

void addOptions(CommandLine &line)
{
    line.addExchangeOptions(
        0, QStringLiteral("Searches this many more times and merges the answers (default 0)."));
}

int run(CommandLine &line)
{
    const Client::Options options = line.clientOptions();
    QList<Adapter> list = adapters();
    Client client(options);
    QString error;
    if (!client.open(&error))
        refuse(error);

    int notJson = 0;
    int namedTwice = 0;
    int unknownAck = 0;
    int otherReplies = 0;
    int unmatched = 0;
    client.setTap([&](const QNetworkDatagram &datagram) {
        const QHostAddress to(datagram.destinationAddress().toIPv4Address());
        bool counted = false;
        for (Adapter &adapter : list) {
            if (!counted && adapter.entry.ip() == to) {
                ++adapter.replies;
                counted = true;
            }
        }
        unmatched += counted ? 0 : 1;
        const QJsonObject reply = Protocol::replyObject(datagram.data());
        if (reply.isEmpty()) {
            if (QJsonDocument::fromJson(datagram.data()).isObject())
                ++namedTwice;
            else
                ++notJson;
        } else if (Protocol::replyKind(reply) == Protocol::Reply::Unknown) {
            ++unknownAck;
        } else if (Protocol::replyKind(reply) != Protocol::Reply::Info) {
            ++otherReplies;
        }
    });
    const QList<Converter> found = client.discover(options.retries);
    if (Client::interrupted())
        return Interrupted;

    QStringList hints;
    Output::line(QStringLiteral("Adapters:"));
    for (const Adapter &adapter : qAsConst(list)) {
        QStringList notes{adapter.up ? QStringLiteral("up") : QStringLiteral("down")};
        if (adapter.loopback)
            notes.append(QStringLiteral("loopback"));
        notes += adapter.looks;
        Output::line(
            QStringLiteral("  %1  %2/%3  broadcast %4  %5")
                .arg(adapter.name, -10)
                .arg(adapter.entry.ip().toString())
                .arg(adapter.entry.prefixLength())
                .arg(adapter.entry.broadcast().isNull() ? QStringLiteral("-")
                                                        : adapter.entry.broadcast().toString(),
                    notes.join(QStringLiteral(", "))));
        if (!adapter.up && !adapter.loopback)
            hints.append(QStringLiteral("adapter %1 (%2) is down: no search leaves through it; "
                                        "bring it up (ip link set %1 up) or plug in its cable")
                             .arg(adapter.name, adapter.entry.ip().toString()));
        if (adapter.looks.contains(QStringLiteral("link-local")) && adapter.up)
            hints.append(QStringLiteral("adapter %1 has only a link-local address (%2): it got "
                                        "no address from DHCP; converters with fixed addresses "
                                        "in another subnet will not be reached by unicast")
                             .arg(adapter.name, adapter.entry.ip().toString()));
    }

    Output::line(QStringLiteral("Search sent to:"));
    for (const QHostAddress &to : client.searchDestinations()) {
        QString through = QStringLiteral("the adapter of the default route");
        for (const Adapter &adapter : qAsConst(list)) {
            if (adapter.entry.broadcast() == to)
                through = QStringLiteral("adapter ") + adapter.name;
        }
        if (!options.hosts.isEmpty())
            through = QStringLiteral("unicast, through whatever route leads there");
        Output::line(QStringLiteral("  %1:%2  (%3)")
                         .arg(to.toString())
                         .arg(Protocol::converterPort)
                         .arg(through));
    }

    Output::line(QStringLiteral("Answers:"));
    for (const Adapter &adapter : qAsConst(list)) {
        if (!adapter.up)
            continue;
        Output::line(QStringLiteral("  through %1 (%2): %3 datagrams")
                         .arg(adapter.name, adapter.entry.ip().toString())
                         .arg(adapter.replies));
        const bool searched = client.searchDestinations().contains(adapter.entry.broadcast());
        if (searched && adapter.replies == 0 && !adapter.loopback && options.hosts.isEmpty())
            hints.append(QStringLiteral("no converter answered through adapter %1 (%2/%3): none "
                                        "is on that network, or they are off")
                             .arg(adapter.name, adapter.entry.ip().toString())
                             .arg(adapter.entry.prefixLength()));
    }
    if (unmatched > 0)
        Output::line(QStringLiteral("  through no adapter this computer lists: %1").arg(unmatched));
    Output::line(QStringLiteral("  converters: %1").arg(found.size()));
    const qint64 dropped = client.droppedDatagrams();
    Output::line(QStringLiteral("Dropped: %1 not JSON, %2 naming a member twice, %3 with an "
                                "unknown ack, %4 other replies, %5 by the system for want of "
                                "buffer")
                     .arg(notJson)
                     .arg(namedTwice)
                     .arg(unknownAck)
                     .arg(otherReplies)
                     .arg(dropped < 0 ? QStringLiteral("(unknown)") : QString::number(dropped)));
    if (notJson + namedTwice + unknownAck > 0)
        hints.append(QStringLiteral("%1 datagrams that no converter sends reached this computer: "
                                    "another program answers on the converters' port, or a host "
                                    "sends rubbish")
                         .arg(notJson + namedTwice + unknownAck));
    for (const Converter &converter : found) {
        if (!inLocalSubnet(list, converter.address))
            hints.append(QStringLiteral("%1 at %2 lies in no local subnet: it is reached through a "
                                        "router, which a search by broadcast does not cross; ask "
                                        "it with --host %2")
                             .arg(Output::field(converter.uuid), converter.address.toString()));
    }
    if (found.isEmpty() && notJson + namedTwice + unknownAck + otherReplies == 0) {
        hints.append(QStringLiteral(
            "nothing came back at all. The converters answer to the port the search left from "
            "(here %1), and a firewall may drop those replies. Allow them, for nftables: nft "
            "add rule inet filter input udp sport %2 accept; for ufw: ufw allow proto udp from "
            "any port %2")
                         .arg(client.localPort())
                         .arg(Protocol::converterPort));
        hints.append(QStringLiteral(
            "converters behind a router do not hear a broadcast: ask them by address with "
            "--host ADDRESS (lbxctl discover --host 192.168.1.20)"));
    }

    Output::line(hints.isEmpty() ? QStringLiteral("No hints: every adapter that is up answered.")
                                 : QStringLiteral("Hints:"));
    for (const QString &hint : qAsConst(hints))
        Output::line(QStringLiteral("  - ") + hint);
    return Output::finish(found.isEmpty() ? SomeFailed : Succeeded);
}

} // namespace Doctor

const CommandEntry doctorCommand{"doctor",
    "Says why converters are missing, as far as this computer can tell.", Doctor::addOptions,
    Doctor::run};
