#include "adapter.h"

#include "protocol.h"
#include "translation.h"

#include <QJsonObject>

#ifdef Q_OS_WIN
// winsock2.h before iphlpapi.h, and before anything that brings in windows.h.
// clang-format off
#include <winsock2.h>
#include <iphlpapi.h>
// clang-format on
// Windows' COM headers make "interface" a keyword; here it is a name.
#undef interface

#include <vector>
#endif

namespace {

bool startsWithAny(const QString &text, std::initializer_list<const char *> prefixes)
{
    for (const char *prefix : prefixes) {
        if (text.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

bool containsAny(const QString &text, std::initializer_list<const char *> words)
{
    for (const char *word : words) {
        if (text.contains(QLatin1String(word), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool looksLikeVpn(const AdapterFacts &adapter, System system)
{
    if (system == System::Linux)
        return startsWithAny(adapter.name,
            {"tun", "tap", "wg", "ppp", "tailscale", "zt", "utun", "ipsec", "nordlynx"});
    // Windows names adapters by their kind (ethernet_32769): their drivers say more.
    return adapter.type == QNetworkInterface::Ppp
        || containsAny(adapter.description,
            {"TAP-Windows", "WireGuard", "Wintun", "OpenVPN", "AnyConnect", "Fortinet",
                "GlobalProtect", "PANGP", "Juniper", "Pulse Secure", "SonicWall", "Check Point",
                "NordLynx", "ProtonVPN", "Tailscale", "ZeroTier", "VPN"});
}

bool looksVirtual(const AdapterFacts &adapter, System system)
{
    if (adapter.type == QNetworkInterface::Virtual)
        return true;
    if (system == System::Linux)
        return startsWithAny(adapter.name,
            {"veth", "docker", "br-", "virbr", "vmnet", "vbox", "vEthernet", "lxc", "podman", "cni",
                "flannel", "dummy"});
    return adapter.friendlyName.startsWith(QLatin1String("vEthernet"))
        || containsAny(adapter.description,
            {"Hyper-V", "VirtualBox", "VMware", "Virtual Ethernet", "Virtual Adapter",
                "Npcap Loopback", "KM-TEST Loopback", "Docker", "WSL"});
}

} // namespace

QStringList adapterLooks(const AdapterFacts &adapter, System system)
{
    QStringList looks;
    if (looksLikeVpn(adapter, system))
        looks.append(QStringLiteral("a VPN"));
    if (looksVirtual(adapter, system))
        looks.append(QStringLiteral("virtual"));
    if (adapter.linkLocal)
        looks.append(QStringLiteral("link-local"));
    return looks;
}

QString adapterLabel(const AdapterFacts &adapter)
{
    if (adapter.friendlyName.isEmpty() || adapter.friendlyName == adapter.name)
        return adapter.name;
    return QStringLiteral("%1 (%2)").arg(adapter.name, adapter.friendlyName);
}

bool namesAdapter(const QString &given, const QString &name, const QString &friendlyName)
{
    return given == name
        || (!friendlyName.isEmpty() && given.compare(friendlyName, Qt::CaseInsensitive) == 0);
}

QString downHint(System system, const AdapterFacts &adapter, const QString &address)
{
    if (system == System::Windows)
        return Text::tr("adapter %1 (%2) is down: no search leaves through it; enable it in "
                        "Network Connections (ncpa.cpl) or plug in its cable")
            .arg(adapterLabel(adapter), address);
    return Text::tr("adapter %1 (%2) is down: no search leaves through it; bring it up (ip link "
                    "set %1 up) or plug in its cable")
        .arg(adapter.name, address);
}

QString firewallHint(System system, quint16 localPort)
{
    if (system == System::Windows)
        return Text::tr("nothing came back at all. The converters answer from port %1 to the port "
                        "the search left from (here %2), and Windows Defender Firewall drops "
                        "those replies unless the program is allowed: answer \"Allow\" when "
                        "Windows asks on the first start, or, as administrator: netsh "
                        "advfirewall firewall add rule name=\"lbxctl replies\" dir=in "
                        "action=allow protocol=UDP program=\"%ProgramFiles%\\LBXConfig\\bin\\"
                        "lbxctl.exe\" enable=yes (the installer adds such a rule)")
            .arg(Protocol::converterPort)
            .arg(localPort);
    return Text::tr("nothing came back at all. The converters answer to the port the search left "
                    "from (here %1), and a firewall may drop those replies. Allow them, for "
                    "nftables: nft add rule inet filter input udp sport %2 accept; for ufw: ufw "
                    "allow proto udp from any port %2")
        .arg(localPort)
        .arg(Protocol::converterPort);
}

QString adapterDescription(const QNetworkInterface &interface)
{
#ifdef Q_OS_WIN
    // Qt tells the name and the friendly name; the driver's description only
    // the system's own list of adapters does.
    ULONG size = 16 * 1024;
    std::vector<char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int tries = 0; result == ERROR_BUFFER_OVERFLOW && tries < 3; ++tries) {
        buffer.resize(size);
        result = GetAdaptersAddresses(AF_INET,
            GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER, nullptr,
            reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()), &size);
    }
    if (result != NO_ERROR)
        return {};
    for (auto *adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()); adapter;
         adapter = adapter->Next) {
        if (int(adapter->IfIndex) == interface.index())
            return QString::fromWCharArray(adapter->Description);
    }
    return {};
#else
    Q_UNUSED(interface)
    return {};
#endif
}

System thisSystem()
{
#ifdef Q_OS_WIN
    return System::Windows;
#else
    return System::Linux;
#endif
}

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

AdapterFacts adapterFacts(const AdapterAddress &address)
{
    const QNetworkInterface &interface = address.interface;
    return {interface.name(), interface.humanReadableName(), adapterDescription(interface),
        interface.type(),
        address.entry.ip().isInSubnet(QHostAddress(QStringLiteral("169.254.0.0")), 16)};
}

QJsonArray adapterRecords()
{
    QJsonArray list;
    const QList<AdapterAddress> addresses = adapterAddresses();
    for (const auto &[interface, entry] : addresses) {
        list.append(QJsonObject{{QStringLiteral("name"), interface.name()},
            {QStringLiteral("address"), entry.ip().toString()},
            {QStringLiteral("prefix"), entry.prefixLength()},
            {QStringLiteral("broadcast"),
                entry.broadcast().isNull() ? QJsonValue() : entry.broadcast().toString()},
            {QStringLiteral("up"), bool(interface.flags() & QNetworkInterface::IsUp)}});
    }
    return list;
}
