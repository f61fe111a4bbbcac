#ifndef LBXCTL_ADAPTER_H
#define LBXCTL_ADAPTER_H

#include <QHostAddress>
#include <QJsonArray>
#include <QList>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>
#include <QSet>
#include <QString>
#include <QStringList>

// What doctor knows of a network adapter, and what it makes of it: plain
// values, so that the rules for Linux and for Windows adapters can be tried
// with made-up adapters on either system.
struct AdapterFacts
{
    QString name; // what --interface takes: "eth0", on Windows "ethernet_32769"
    QString friendlyName; // on Windows "Ethernet 2"; elsewhere the name again
    QString description; // on Windows the driver's: "Hyper-V Virtual Ethernet Adapter"
    QNetworkInterface::InterfaceType type = QNetworkInterface::Unknown;
    bool linkLocal = false; // its address is in 169.254.0.0/16
};

enum class System { Linux, Windows };

// "virtual", "a VPN", "link-local": what the adapter looks like, by its name
// on Linux, by its type and description on Windows.
QStringList adapterLooks(const AdapterFacts &adapter, System system);

// The adapter as doctor lists it: its name, and beside it its friendly name
// where that differs ("ethernet_32769 (Ethernet 2)").
QString adapterLabel(const AdapterFacts &adapter);

// Whether --interface GIVEN names the adapter: by its name, or by its
// friendly name (on Windows letters in either case).
bool namesAdapter(const QString &given, const QString &name, const QString &friendlyName);

// What to do about an adapter that is down.
QString downHint(System system, const AdapterFacts &adapter, const QString &address);

// What to do when a firewall may drop the converters' replies, which come back
// from the converters' port to the port the search left from (localPort).
QString firewallHint(System system, quint16 localPort);

// The driver's description of the adapter, where the system tells it (Windows).
QString adapterDescription(const QNetworkInterface &interface);

// This system.
System thisSystem();

// Each IPv4 address of this computer's adapters, up or down, with its adapter.
struct AdapterAddress
{
    QNetworkInterface interface;
    QNetworkAddressEntry entry;
};
QList<AdapterAddress> adapterAddresses();

// The facts of the adapter of an address, for doctor's rules.
AdapterFacts adapterFacts(const AdapterAddress &address);

// This computer's IPv4 adapters as a roster records them: name, address,
// prefix, broadcast, up.
QJsonArray adapterRecords();

// The network and broadcast addresses of this computer's subnets (below a
// /31): a datagram to one of these reaches every host on that subnet.
QSet<quint32> localSubnetEdges();

// The adapters' directed broadcast addresses: of every IPv4 adapter that is up,
// or of the one named. Empty when there is none.
QList<QHostAddress> directedBroadcasts(
    const QString &interfaceName, QHostAddress *ownAddress = nullptr);

#endif // LBXCTL_ADAPTER_H
