// lbxctl: the LBX converters from the command line, for many at once and
// across adapters. Speaks the same protocol as the window, through the same code.

#include "client.h"
#include "protocol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

const char *const overview = R"(Usage: lbxctl COMMAND [OPTIONS] [TARGET...]

Finds the LBX converters on the network and sets them up.

Commands:
  discover      list the converters that answer a search
  set           set baud rate and protocol plug-in
  upload-log    ask converters to upload their log
  update        ask converters to look for an application update
  factory       return converters to factory settings (needs --yes)

A TARGET is a converter's IPv4 address or its uuid (found by a search first);
--all takes every converter that answers a search. "lbxctl COMMAND --help"
lists a command's options.

Exit status: 0 when every converter asked has answered (for discover: when at
least one answered), 1 when some did not, 2 for bad input, before anything is
sent to a converter.
)";

struct Command
{
    const char *name;
    const char *summary;
    const char *request; // nullptr: built from the options (set), or a search (discover)
    Protocol::Reply reply;
};

const Command commands[] = {
    {"discover", "Lists the converters that answer a search.", nullptr, Protocol::Reply::Info},
    {"set", "Sets baud rate and protocol plug-in of the targets.", nullptr, Protocol::Reply::Set},
    {"upload-log", "Asks the targets to upload their log.", Protocol::uploadLogRequest,
        Protocol::Reply::UploadLog},
    {"update", "Asks the targets to look for an application update.", Protocol::updateRequest,
        Protocol::Reply::Update},
    {"factory", "Returns the targets to factory settings; their configuration and data are lost.",
        Protocol::factoryRequest, Protocol::Reply::Factory},
};

[[noreturn]] void fail(const QString &message, int status = 2)
{
    std::fprintf(stderr, "lbxctl: %s\n", qPrintable(message));
    std::exit(status);
}

void print(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
}

QString pluginCaption(const QJsonObject &record)
{
    const int index
        = Protocol::pluginIndex(record, Protocol::pluginTable(), int(std::size(Protocol::plugins)));
    return QString::fromUtf8(Protocol::plugins[index].caption);
}

QStringList pluginNames()
{
    QStringList names;
    for (const Protocol::Plugin &plugin : Protocol::plugins)
        names.append(QStringLiteral("\"%1\"").arg(QString::fromUtf8(plugin.name)));
    return names;
}

void printConverters(const QList<Converter> &converters, bool json)
{
    if (json) {
        for (const Converter &converter : converters) {
            QJsonObject line = converter.record;
            line.insert(QStringLiteral("caption"), pluginCaption(converter.record));
            print(QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)));
        }
        return;
    }
    const QString row = QStringLiteral("%1  %2  %3  %4  %5  %6  %7");
    int uuidWidth = 4;
    for (const Converter &converter : converters)
        uuidWidth = qMax(uuidWidth, converter.uuid.size());
    print(row.arg(QStringLiteral("UUID"), -uuidWidth)
              .arg(QStringLiteral("IP"), -15)
              .arg(QStringLiteral("APP"), -7)
              .arg(QStringLiteral("ROM"), -10)
              .arg(QStringLiteral("BAUD"), 6)
              .arg(QStringLiteral("PLUGIN"), -9)
              .arg(QStringLiteral("CAPTION")));
    for (const Converter &converter : converters) {
        const QJsonObject &record = converter.record;
        print(row.arg(converter.uuid, -uuidWidth)
                  .arg(Protocol::ipText(record), -15)
                  .arg(Protocol::appVersionText(record), -7)
                  .arg(record.value(QStringLiteral("romVersion")).toString(), -10)
                  .arg(Protocol::baudText(record), 6)
                  .arg(record.value(QStringLiteral("pluginName")).toString(), -9)
                  .arg(pluginCaption(record)));
    }
}

// A target is an IPv4 address or a uuid. Digits and dots alone are meant as an
// address, and must be one.
bool isAddressLike(const QString &target)
{
    static const QRegularExpression addressLike(QStringLiteral("^[0-9.]+$|:"));
    return addressLike.match(target).hasMatch();
}

// Four dotted numbers: Qt would also take "10.1" for 10.0.0.1.
QHostAddress ipv4Address(const QString &text)
{
    static const QRegularExpression dottedQuad(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
    const QHostAddress address(text);
    if (!dottedQuad.match(text).hasMatch() || address.protocol() != QAbstractSocket::IPv4Protocol)
        return {};
    return address;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lbxctl"));
    QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2 || arguments.at(1) == QLatin1String("--help")
        || arguments.at(1) == QLatin1String("-h") || arguments.at(1) == QLatin1String("help")) {
        std::fputs(overview, arguments.size() < 2 ? stderr : stdout);
        return arguments.size() < 2 ? 2 : 0;
    }
    const QString name = arguments.takeAt(1);
    const Command *command = nullptr;
    for (const Command &known : commands) {
        if (name == QLatin1String(known.name))
            command = &known;
    }
    if (!command)
        fail(QStringLiteral("unknown command \"%1\"; see lbxctl --help").arg(name));
    const bool discovering = command->reply == Protocol::Reply::Info;

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(command->summary));
    parser.addHelpOption();
    const QCommandLineOption timeout(QStringLiteral("timeout"),
        QStringLiteral("Seconds to wait for answers (default 2)."), QStringLiteral("SECONDS"),
        QStringLiteral("2"));
    const QCommandLineOption retries(QStringLiteral("retries"),
        discovering
            ? QStringLiteral("Searches this many more times and merges the answers (default 0).")
            : QStringLiteral("Asks a silent converter this many more times (default 2)."),
        QStringLiteral("N"), discovering ? QStringLiteral("0") : QStringLiteral("2"));
    const QCommandLineOption interface(QStringLiteral("interface"),
        QStringLiteral("Searches through this adapter only (its broadcast address), "
                       "instead of 255.255.255.255 and every adapter's."),
        QStringLiteral("NAME"));
    const QCommandLineOption host(QStringLiteral("host"),
        QStringLiteral("Asks this address by unicast instead of searching by broadcast, "
                       "for converters behind a router; may be given again."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption json(
        QStringLiteral("json"), QStringLiteral("Prints one JSON object per line."));
    const QCommandLineOption all(
        QStringLiteral("all"), QStringLiteral("Takes every converter that answers a search."));
    const QCommandLineOption baud(QStringLiteral("baud"),
        QStringLiteral("Baud rate: 4800, 9600, 19200, 38400 or 115200."), QStringLiteral("N"));
    const QCommandLineOption plugin(QStringLiteral("plugin"),
        QStringLiteral("Protocol plug-in: %1 (the empty name is \"other\"); "
                       "left out, the converter keeps its own.")
            .arg(pluginNames().join(QStringLiteral(", "))),
        QStringLiteral("NAME"));
    const QCommandLineOption yes(QStringLiteral("yes"),
        QStringLiteral("Confirms the factory reset: the saved configuration and data are lost."));
    parser.addOptions({timeout, retries, interface, host, json});
    if (!discovering) {
        parser.addOption(all);
        parser.addPositionalArgument(QStringLiteral("TARGET"),
            QStringLiteral("A converter's IPv4 address or uuid."), QStringLiteral("[TARGET...]"));
    }
    if (command->reply == Protocol::Reply::Set)
        parser.addOptions({baud, plugin});
    if (command->reply == Protocol::Reply::Factory)
        parser.addOption(yes);
    parser.process(QStringList{QStringLiteral("lbxctl %1").arg(name)} + arguments.mid(1));

    // Everything the technician typed is checked before anything is sent.
    Client::Options options;
    bool ok = false;
    const double seconds = parser.value(timeout).toDouble(&ok);
    if (!ok || seconds <= 0 || seconds > 3600)
        fail(QStringLiteral("--timeout takes seconds from 0 to 3600, not \"%1\"")
                 .arg(parser.value(timeout)));
    options.timeoutMs = int(seconds * 1000);
    options.retries = parser.value(retries).toInt(&ok);
    if (!ok || options.retries < 0 || options.retries > 100)
        fail(QStringLiteral("--retries takes a whole number from 0 to 100, not \"%1\"")
                 .arg(parser.value(retries)));
    options.interfaceName = parser.value(interface);
    for (const QString &text : parser.values(host)) {
        const QHostAddress address = ipv4Address(text);
        if (address.isNull())
            fail(QStringLiteral("--host takes an IPv4 address, not \"%1\"").arg(text));
        options.hosts.append(address);
    }
    if (!options.hosts.isEmpty() && !options.interfaceName.isEmpty())
        fail(QStringLiteral("--host and --interface do not go together"));

    QByteArray request = command->request ? QByteArray(command->request) : QByteArray();
    if (command->reply == Protocol::Reply::Set) {
        if (!parser.isSet(baud))
            fail(QStringLiteral("set needs --baud"));
        const int rate = parser.value(baud).toInt(&ok);
        if (!ok
            || std::find(std::begin(Protocol::baudRates), std::end(Protocol::baudRates), rate)
                == std::end(Protocol::baudRates))
            fail(QStringLiteral(
                "unknown baud rate \"%1\": a converter takes 4800, 9600, 19200, 38400 or 115200")
                     .arg(parser.value(baud)));
        int index = -1;
        if (parser.isSet(plugin)) {
            const Protocol::PluginTable table = Protocol::pluginTable();
            if (!table.contains(parser.value(plugin)))
                fail(QStringLiteral("unknown plug-in \"%1\": a converter takes %2")
                         .arg(parser.value(plugin), pluginNames().join(QStringLiteral(", "))));
            index = table.value(parser.value(plugin));
        }
        request = Protocol::datagram(
            Protocol::setRequest(QString::number(rate), index, Protocol::pluginTable()));
    }
    if (command->reply == Protocol::Reply::Factory && !parser.isSet(yes))
        fail(QStringLiteral("factory returns converters to factory settings and loses their "
                            "configuration and data: add --yes to go ahead"));

    const QStringList targets = discovering ? QStringList() : parser.positionalArguments();
    bool anyUuid = false;
    for (const QString &target : targets) {
        if (!isAddressLike(target))
            anyUuid = true;
        else if (ipv4Address(target).isNull())
            fail(QStringLiteral("\"%1\" is not an IPv4 address").arg(target));
    }
    if (!discovering && targets.isEmpty() && !parser.isSet(all))
        fail(QStringLiteral("%1 needs a target (an address or a uuid) or --all").arg(name));

    Client client(options);
    QString error;
    if (!client.open(&error))
        fail(error);

    QList<Converter> found;
    if (discovering || anyUuid || parser.isSet(all)) {
        found = client.discover();
    }
    if (discovering) {
        printConverters(found, parser.isSet(json));
        if (found.isEmpty())
            std::fprintf(stderr, "lbxctl: no converter answered\n");
        return found.isEmpty() ? 1 : 0;
    }

    QHash<QHostAddress, QString> uuidOf;
    for (const Converter &converter : qAsConst(found))
        uuidOf.insert(converter.address, converter.uuid);
    QList<QHostAddress> addresses;
    for (const QString &target : targets) {
        if (isAddressLike(target)) {
            addresses.append(ipv4Address(target));
            continue;
        }
        auto match = std::find_if(found.cbegin(), found.cend(), [&](const Converter &converter) {
            return converter.uuid == target;
        });
        if (match == found.cend())
            fail(QStringLiteral(
                "no converter with the uuid \"%1\" answered the search; nothing was sent")
                     .arg(target));
        addresses.append(match->address);
    }
    if (parser.isSet(all)) {
        for (const Converter &converter : qAsConst(found))
            addresses.append(converter.address);
        if (found.isEmpty())
            fail(QStringLiteral("no converter answered the search; nothing was sent"), 1);
    }
    // Each converter once, in the order given.
    QList<QHostAddress> unique;
    for (const QHostAddress &address : qAsConst(addresses)) {
        if (!unique.contains(address))
            unique.append(address);
    }

    const QList<Answer> answers = client.ask(unique, request, command->reply);
    int silent = 0;
    for (const Answer &answer : answers) {
        const QString uuid = uuidOf.value(answer.address, QStringLiteral("-"));
        const QString error = answer.reply.value(QStringLiteral("error")).toString();
        silent += answer.answered && error.isEmpty() ? 0 : 1;
        if (parser.isSet(json)) {
            QJsonObject line{{QStringLiteral("uuid"), uuid},
                {QStringLiteral("ip"), answer.address.toString()},
                {QStringLiteral("command"), name}, {QStringLiteral("answered"), answer.answered},
                {QStringLiteral("tries"), answer.tries}};
            if (answer.answered)
                line.insert(QStringLiteral("reply"), answer.reply);
            print(QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)));
            continue;
        }
        QString outcome = answer.answered
            ? QStringLiteral("answered")
            : QStringLiteral("no answer after %1 tries").arg(answer.tries);
        if (!error.isEmpty())
            outcome += QStringLiteral(", but: ") + error;
        print(QStringLiteral("%1  %2  %3: %4")
                  .arg(uuid, -12)
                  .arg(answer.address.toString(), -15)
                  .arg(name, outcome));
    }
    return silent == 0 ? 0 : 1;
}
