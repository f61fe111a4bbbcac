// lbxsim: simulated LBX converters for trying and testing LBXConfig without
// hardware. Run it inside the project's network sandbox (scripts/netns-run).

#include "simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMap>
#include <QSet>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
int signalPipe[2] = {-1, -1};

// Ctrl-C and kill end the simulator as its last converter goes quiet: through
// the event loop, so that it exits as a program does (flushed, profiled).
void endOnSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, &QCoreApplication::quit);
    for (const int number : {SIGINT, SIGTERM}) {
        std::signal(number, [](int) {
            const char byte = 1;
            [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
        });
    }
}
#else
void endOnSignals() { }
#endif

[[noreturn]] void fail(const QString &message, int status = 2)
{
    std::fprintf(stderr, "lbxsim: %s\n", qPrintable(message));
    std::exit(status);
}

int wholeNumber(const QCommandLineParser &parser, const QString &name, int low, int high)
{
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < low || value > high)
        fail(QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                 .arg(name)
                 .arg(low)
                 .arg(high)
                 .arg(parser.value(name)));
    return value;
}

// One socket per converter: a thousand of them need more than the usual
// 1,024 descriptors, so take what the hard limit allows.
void raiseDescriptorLimit()
{
#ifdef Q_OS_UNIX
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
#endif
}

// Converter numbers from 1 to count, each with a text ("N=TEXT"), or alone ("N").
QMap<int, QString> numbered(const QStringList &texts, int count, bool withText, const QString &name)
{
    QMap<int, QString> found;
    for (const QString &text : texts) {
        const int equals = withText ? text.indexOf(QLatin1Char('=')) : text.size();
        bool ok = false;
        const int n = text.leftRef(equals).toInt(&ok);
        if (equals < 0 || !ok || n < 1 || n > count)
            fail(QStringLiteral("--%1 takes %2 from 1 to %3, not \"%4\"")
                     .arg(name,
                         withText ? QStringLiteral("N=TEXT with N")
                                  : QStringLiteral("a converter number"))
                     .arg(count)
                     .arg(text));
        found.insert(n, text.mid(equals + 1));
    }
    return found;
}

QHostAddress ipv4Address(const QCommandLineParser &parser, const QString &name)
{
    const QHostAddress address(parser.value(name));
    if (address.protocol() != QAbstractSocket::IPv4Protocol)
        fail(
            QStringLiteral("--%1 takes an IPv4 address, not \"%2\"").arg(name, parser.value(name)));
    return address;
}

double numberBetween(const QCommandLineParser &parser, const QString &name, double low, double high,
    const QString &what)
{
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || !(value >= low && value <= high))
        fail(QStringLiteral("--%1 takes %2, not \"%3\"").arg(name, what, parser.value(name)));
    return value;
}

const char *const description
    = "Simulated LBX converters. Each answers the tool's requests on UDP port 12166\n"
      "from an address of its own (127.0.0.2, 127.0.0.3, ... by default): the search\n"
      "broadcast reaches all of them, a request sent to one address reaches that\n"
      "converter only.\n"
      "Every converter starts at 9600 baud with the plug-in OvUdp485. lbx.set takes\n"
      "the baud rates 4800, 9600, 19200, 38400 and 115200 and the plug-ins OvUdp485,\n"
      "OvCom485, OvTcp485 and Net485; anything else is rejected (\"result\":\"rejected\"\n"
      "and an \"error\" text in the reply) and changes nothing. lbx.factory restores the\n"
      "start values. A converter restarts after lbx.set and lbx.factory (and an\n"
      "update), whether or not its answer gets through. A request sent to an address\n"
      "where no converter lives reaches none.\n"
      "Run it inside scripts/netns-run, never on a real network.";

// Converter numbers from 1 to count, given to an option that may be repeated.
QSet<int> numberSet(const QCommandLineParser &parser, const QString &name, int count)
{
    const QList<int> numbers = numbered(parser.values(name), count, false, name).keys();
    return QSet<int>(numbers.cbegin(), numbers.cend());
}

// Each option: its names, the name of its value (none for a switch), its
// default, and what it does.
struct OptionText
{
    const char *names;
    const char *value;
    const char *byDefault;
    const char *help;
};
const OptionText optionTexts[] = {
    {"n,count", "N", "3", "Number of converters, from 1 to 60000."},
    {"base", "ADDRESS", "127.0.0.2", "IPv4 address of the first converter; the others follow it."},
    {"delay", "MS", "0", "Milliseconds before each reply."},
    {"silent-chance", "P", "0",
        "Probability from 0 to 1 that a converter does not answer a request."},
    {"restart", "MS", "0",
        "Milliseconds a converter stays silent after answering lbx.set or lbx.factory, as it "
        "restarts."},
    {"seed", "N", "1", "Seed for --silent-chance, for runs that repeat."},
    {"uuid-prefix", "TEXT", "LBXSIM", "Text before each converter's number in its uuid."},
    {"verbose", "", "", "Logs every datagram in and out."},
    {"uuid", "N=TEXT", "",
        "Converter N (from 1) reports TEXT as its uuid, which may be empty or another "
        "converter's; may be given again."},
    {"keeps-settings", "N", "",
        "Converter N (from 1) acknowledges lbx.set and restarts, but keeps its settings; may be "
        "given again."},
    {"update-to", "VERSION", "",
        "lbx.update finds this application version: a converter acknowledges, restarts "
        "(--restart) and reports it from then on. Without it, no update is found."},
    {"factory-address", "ADDRESS", "",
        "A converter reset to factory settings comes back at this address (the next free one "
        "when another converter holds it)."},
    {"rejects", "N", "", "Converter N (from 1) rejects every lbx.set; may be given again."},
    {"rejects-update", "N", "",
        "Converter N (from 1) rejects every lbx.update; may be given again."},
    {"uuid-number", "N", "",
        "Converter N (from 1) reports its uuid as a JSON number (numeric uuid text only); may be "
        "given again."},
    {"twin", "N=TEXT", "",
        "Converter N (from 1) also answers lbx.info as a converter whose uuid is TEXT, from the "
        "same address; may be given again."},
    {"journal", "FILE", "",
        "Writes a JSON line to FILE for each datagram a converter receives, as it happens: when, "
        "from and to where, the call, and what the converter did with it. A journal that cannot "
        "be written stops the simulator (exit status 1)."},
    {"late-chance", "P", "0",
        "Probability from 0 to 1 that an answer arrives --late milliseconds later than the rest, "
        "as on a busy network."},
    {"late", "MS", "1000", "How much later a late answer arrives."},
    {"duplicate-chance", "P", "0",
        "Probability from 0 to 1 that an answer arrives twice, as a duplicated datagram."},
    {"plugin", "N=NAME", "",
        "Converter N (from 1) has the plug-in NAME at factory settings, any text, the empty one "
        "too; its lbx.set takes that name back. May be given again."},
    {"no-plugin", "N", "",
        "Converter N (from 1) reports no plug-in at all until one is set; may be given again."},
    {"answers-from", "N=ADDRESS", "",
        "Converter N (from 1) sends its answers from ADDRESS, as through a second adapter or a "
        "NAT; may be given again."},
    {"unicast-only", "N", "",
        "Converter N (from 1) does not hear the search broadcast, only requests sent to its "
        "address; may be given again."},
    {"broadcast-only", "N", "",
        "Converter N (from 1) hears only the search broadcast, not requests sent to its address; "
        "may be given again."},
};

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QString::fromUtf8(description));
    parser.addHelpOption();
    for (const OptionText &text : optionTexts) {
        const QString byDefault = QString::fromLatin1(text.byDefault);
        QString help = QString::fromUtf8(text.help);
        if (!byDefault.isEmpty()) // the default said where the option is described
            help.insert(help.size() - 1, QStringLiteral(" (default %1)").arg(byDefault));
        parser.addOption({QString::fromLatin1(text.names).split(QLatin1Char(',')), help,
            QString::fromLatin1(text.value), byDefault});
    }
}

// What the network does to answers, and converters that are not like the rest.
void readNetworkOptions(const QCommandLineParser &parser, Simulator::Options &options)
{
    const QString chance = QStringLiteral("a number from 0 to 1");
    options.lateChance = numberBetween(parser, QStringLiteral("late-chance"), 0, 1, chance);
    options.lateMs = wholeNumber(parser, QStringLiteral("late"), 0, 3600000);
    options.duplicateChance
        = numberBetween(parser, QStringLiteral("duplicate-chance"), 0, 1, chance);
    options.plugins = numbered(
        parser.values(QStringLiteral("plugin")), options.count, true, QStringLiteral("plugin"));
    options.withoutPlugin = numberSet(parser, QStringLiteral("no-plugin"), options.count);
    const QMap<int, QString> answersFrom = numbered(parser.values(QStringLiteral("answers-from")),
        options.count, true, QStringLiteral("answers-from"));
    for (auto it = answersFrom.cbegin(); it != answersFrom.cend(); ++it) {
        const QHostAddress address(it.value());
        if (address.protocol() != QAbstractSocket::IPv4Protocol)
            fail(QStringLiteral("--answers-from takes N=ADDRESS with an IPv4 address, not \"%1\"")
                     .arg(it.value()));
        options.answersFrom.insert(it.key(), address);
    }
    options.unicastOnly = numberSet(parser, QStringLiteral("unicast-only"), options.count);
    options.broadcastOnly = numberSet(parser, QStringLiteral("broadcast-only"), options.count);
}

// The simulator's options from the command line; refuses (exit 2) what it cannot take.
Simulator::Options parseOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments))
        fail(parser.errorText().chopped(parser.errorText().endsWith('.') ? 1 : 0)
            + QStringLiteral("; see lbxsim --help"));
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        // The usage line names the program, not the path it was started by.
        QString help = parser.helpText();
        help.replace(arguments.constFirst(), QStringLiteral("lbxsim"));
        std::fputs(help.toUtf8().constData(), stdout);
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument \"%1\"; see --help")
                 .arg(parser.positionalArguments().constFirst()));
    Simulator::Options options;
    options.count = wholeNumber(parser, QStringLiteral("count"), 1, 60000);
    options.base = ipv4Address(parser, QStringLiteral("base"));
    if (options.base.toIPv4Address() > 0xFFFFFFFFu - quint32(options.count))
        fail(QStringLiteral("--base %1 leaves no room for %2 converters")
                 .arg(options.base.toString())
                 .arg(options.count));
    options.delayMs = wholeNumber(parser, QStringLiteral("delay"), 0, 3600000);
    options.silentChance = numberBetween(
        parser, QStringLiteral("silent-chance"), 0, 1, QStringLiteral("a number from 0 to 1"));
    options.restartMs = wholeNumber(parser, QStringLiteral("restart"), 0, 3600000);
    options.seed = quint32(wholeNumber(parser, QStringLiteral("seed"), 0, 2147483647));
    options.uuidPrefix = parser.value(QStringLiteral("uuid-prefix"));
    options.verbose = parser.isSet(QStringLiteral("verbose"));
    options.uuids = numbered(
        parser.values(QStringLiteral("uuid")), options.count, true, QStringLiteral("uuid"));
    options.keepingSettings = numberSet(parser, QStringLiteral("keeps-settings"), options.count);
    options.rejecting = numberSet(parser, QStringLiteral("rejects"), options.count);
    options.rejectingUpdates = numberSet(parser, QStringLiteral("rejects-update"), options.count);
    options.uuidNumbers = numberSet(parser, QStringLiteral("uuid-number"), options.count);
    options.twins = numbered(
        parser.values(QStringLiteral("twin")), options.count, true, QStringLiteral("twin"));
    if (parser.isSet(QStringLiteral("update-to")))
        options.updateTo = numberBetween(parser, QStringLiteral("update-to"), 0.01, 999.99,
            QStringLiteral("a version number such as 1.6"));
    options.journal = parser.value(QStringLiteral("journal"));
    if (parser.isSet(QStringLiteral("factory-address")))
        options.factoryAddress = ipv4Address(parser, QStringLiteral("factory-address"));
    readNetworkOptions(parser, options);
    return options;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lbxsim"));
    const Simulator::Options options = parseOptions(QCoreApplication::arguments());
    raiseDescriptorLimit();
    Simulator simulator(options);
    QString error;
    if (!simulator.start(&error))
        fail(error, 1);
    endOnSignals();
    return QCoreApplication::exec();
}
