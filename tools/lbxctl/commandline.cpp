#include "commandline.h"

#include "output.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

void refuse(const QString &message)
{
    Output::note(message);
    std::exit(BadInput);
}

namespace {

// Broadcast and network addresses of this computer's adapters: a subnet's
// broadcast reaches every converter on it.
bool isLocalSubnetEdge(quint32 address)
{
    const QList<AdapterAddress> addresses = adapterAddresses();
    return std::any_of(addresses.cbegin(), addresses.cend(), [&](const AdapterAddress &adapter) {
        const quint32 mask = adapter.entry.netmask().toIPv4Address();
        const quint32 network = adapter.entry.ip().toIPv4Address() & mask;
        return adapter.entry.prefixLength() < 31
            && (address == network || address == (network | ~mask));
    });
}

} // namespace

QHostAddress unicastAddress(const QString &text, QString *error)
{
    // Decimal only: a leading zero would read as octal elsewhere ("010" is 8).
    static const QRegularExpression dottedQuad(QStringLiteral(
        "^(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})\\.(0|[1-9]["
        "0-9]{0,2})$"));
    const QRegularExpressionMatch match = dottedQuad.match(text);
    quint32 address = 0;
    for (int octet = 1; match.hasMatch() && octet <= 4; ++octet) {
        const uint value = match.captured(octet).toUInt();
        if (value > 255) {
            *error = QStringLiteral("\"%1\" is not an IPv4 address").arg(Output::escaped(text));
            return {};
        }
        address = address << 8 | value;
    }
    if (!match.hasMatch()) {
        *error = QStringLiteral("\"%1\" is not an IPv4 address of four decimal numbers without "
                                "leading zeros")
                     .arg(Output::escaped(text));
        return {};
    }
    const quint32 first = address >> 24;
    if (first == 0 || first >= 224 || isLocalSubnetEdge(address)) {
        *error = QStringLiteral("%1 is not one converter's address (a broadcast, multicast, "
                                "network or reserved address reaches many or none)")
                     .arg(text);
        return {};
    }
    return QHostAddress(address);
}

Target parseTarget(const QString &text)
{
    static const QRegularExpression numbersAndDots(QStringLiteral("^[0-9]+(\\.[0-9]+){3}$"));
    Target target;
    target.text = text;
    QString error;
    if (text.startsWith(QLatin1String("uuid:"))) {
        target.byUuid = true;
        target.uuid = text.mid(5);
    } else if (text.startsWith(QLatin1String("ip:"))) {
        target.address = unicastAddress(text.mid(3), &error);
    } else if (numbersAndDots.match(text).hasMatch()) {
        target.address = unicastAddress(text, &error);
        if (!error.isEmpty())
            error
                += QStringLiteral("; for a converter whose uuid this is, write uuid:%1").arg(text);
    } else {
        target.byUuid = true;
        target.uuid = text;
    }
    if (!error.isEmpty())
        refuse(error);
    return target;
}

CommandLine::CommandLine(const QString &command, const QString &summary)
    : command(command)
{
    parser.setApplicationDescription(summary);
    parser.addHelpOption();
    parser.addVersionOption();
}

void CommandLine::addExchangeOptions(int defaultRetries, const QString &retriesText)
{
    parser.addOptions({
        {QStringLiteral("timeout"),
            QStringLiteral("Seconds to wait for each answer, from 0.01 to 3600 (default 2)."),
            QStringLiteral("SECONDS"), QStringLiteral("2")},
        {QStringLiteral("retries"), retriesText, QStringLiteral("N"),
            QString::number(defaultRetries)},
        {QStringLiteral("interface"),
            QStringLiteral("Searches through this adapter only (its broadcast address), "
                           "instead of 255.255.255.255 and every adapter's."),
            QStringLiteral("NAME")},
        {QStringLiteral("host"),
            QStringLiteral("Asks this unicast address instead of searching by broadcast, for "
                           "converters behind a router; may be given again."),
            QStringLiteral("ADDRESS")},
        {QStringLiteral("json"), QStringLiteral("Prints one JSON object per line.")},
        {QStringLiteral("receive-buffer"),
            QStringLiteral("Receive buffer to ask the system for, in KiB (default 16384; "
                           "the system caps it at net.core.rmem_max)."),
            QStringLiteral("KIB"), QStringLiteral("16384")},
    });
}

void CommandLine::addTargets()
{
    takesTargets = true;
    parser.addOption(
        {QStringLiteral("all"), QStringLiteral("Takes every converter that answers a search.")});
    parser.addPositionalArgument(QStringLiteral("TARGET"),
        QStringLiteral("A converter's IPv4 address (four decimal numbers, no leading zeros) or "
                       "its uuid; \"ip:ADDRESS\" and \"uuid:TEXT\" say which."),
        QStringLiteral("[TARGET...]"));
}

void CommandLine::addArgument(const QString &name, const QString &description)
{
    takesTargets = true;
    parser.addPositionalArgument(name, description);
}

void CommandLine::addWaitOptions(int defaultSeconds)
{
    parser.addOption({QStringLiteral("wait"),
        QStringLiteral("Waits for each converter to come back after the command, and says what "
                       "it then reports; only a confirmed outcome is success.")});
    parser.addOption({QStringLiteral("wait-timeout"),
        QStringLiteral("Seconds to wait for the converters to come back (default %1).")
            .arg(defaultSeconds),
        QStringLiteral("SECONDS"), QString::number(defaultSeconds)});
}

int CommandLine::waitTimeoutMs(int defaultSeconds) const
{
    if (!parser.isSet(QStringLiteral("wait-timeout")))
        return defaultSeconds * 1000;
    bool ok = false;
    const double seconds = value(QStringLiteral("wait-timeout")).toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 1 || seconds > 3600)
        refuse(QStringLiteral("--wait-timeout takes seconds from 1 to 3600, not \"%1\"")
                   .arg(Output::escaped(value(QStringLiteral("wait-timeout")))));
    return int(std::lround(seconds * 1000));
}

void CommandLine::process(const QStringList &arguments)
{
    const QString name = QStringLiteral("lbxctl ") + command;
    if (!parser.parse(QStringList{name} + arguments))
        refuse(QStringLiteral("%1; see \"%2 --help\"").arg(parser.errorText(), name));
    if (parser.isSet(QStringLiteral("help"))) {
        // The usage line names the command, not the path of the program.
        QString help = parser.helpText();
        help.replace(QCoreApplication::arguments().constFirst(), name);
        std::fputs(help.toUtf8().constData(), stdout);
        std::exit(Succeeded);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("lbxctl %s\n", LBX_VERSION);
        std::exit(Succeeded);
    }
    if (!takesTargets && !parser.positionalArguments().isEmpty()) {
        refuse(QStringLiteral("%1 takes no targets, but was given \"%2\"; see \"%3 --help\"")
                   .arg(command, Output::escaped(parser.positionalArguments().constFirst()), name));
    }
}

Client::Options CommandLine::clientOptions() const
{
    Client::Options options;
    bool ok = false;
    const double seconds = value(QStringLiteral("timeout")).toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0.01 || seconds > 3600)
        refuse(QStringLiteral("--timeout takes seconds from 0.01 to 3600, not \"%1\"")
                   .arg(Output::escaped(value(QStringLiteral("timeout")))));
    options.timeoutMs = int(std::lround(seconds * 1000));
    options.retries = value(QStringLiteral("retries")).toInt(&ok);
    if (!ok || options.retries < 0 || options.retries > 100)
        refuse(QStringLiteral("--retries takes a whole number from 0 to 100, not \"%1\"")
                   .arg(Output::escaped(value(QStringLiteral("retries")))));
    const int kib = value(QStringLiteral("receive-buffer")).toInt(&ok);
    if (!ok || kib < 4 || kib > 1024 * 1024)
        refuse(QStringLiteral("--receive-buffer takes KiB from 4 to 1048576, not \"%1\"")
                   .arg(Output::escaped(value(QStringLiteral("receive-buffer")))));
    options.receiveBufferBytes = kib * 1024;
    options.interfaceName = value(QStringLiteral("interface"));
    const QStringList hosts = parser.values(QStringLiteral("host"));
    for (const QString &text : hosts) {
        QString error;
        options.hosts.append(unicastAddress(text, &error));
        if (!error.isEmpty())
            refuse(QStringLiteral("--host: ") + error);
    }
    if (!options.hosts.isEmpty() && !options.interfaceName.isEmpty())
        refuse(QStringLiteral("--host and --interface do not go together"));
    return options;
}
