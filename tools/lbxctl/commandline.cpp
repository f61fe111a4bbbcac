#include "commandline.h"

#include "output.h"
#include "targets.h"
#include "translation.h"

#include <QCoreApplication>

#include <cmath>
#include <cstdio>
#include <cstdlib>

void refuse(const QString &message)
{
    Output::note(message);
    std::exit(BadInput);
}

namespace {

// Seconds from an option's text, within the bounds, in milliseconds.
int millisecondsOf(const CommandLine &line, const QString &name, double low, double high)
{
    bool ok = false;
    const double seconds = line.value(name).toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < low || seconds > high)
        refuse(Text::tr("--%1 takes seconds from %2 to %3, not \"%4\"")
                   .arg(name)
                   .arg(low)
                   .arg(high)
                   .arg(Output::escaped(line.value(name))));
    return int(std::lround(seconds * 1000));
}

int wholeNumberOf(
    const CommandLine &line, const QString &name, int low, int high, const QString &what)
{
    bool ok = false;
    const int value = line.value(name).toInt(&ok);
    if (!ok || value < low || value > high)
        refuse(Text::tr("--%1 takes %2 from %3 to %4, not \"%5\"")
                   .arg(name, what)
                   .arg(low)
                   .arg(high)
                   .arg(Output::escaped(line.value(name))));
    return value;
}

// Each value of an option given again and again, read by parse; refuses the
// first that parse cannot read, with its reason.
template <typename T>
QList<T> eachValue(const QCommandLineParser &parser, const QString &name,
    T (*parse)(const QString &text, QString *error))
{
    QList<T> values;
    const QStringList texts = parser.values(name);
    for (const QString &text : texts) {
        QString error;
        values.append(parse(text, &error));
        if (!error.isEmpty())
            refuse(QStringLiteral("--%1: %2").arg(name, error));
    }
    return values;
}

// "-v, --version", "--timeout SECONDS": an option as --help names it.
QString namesOf(const QCommandLineOption &option)
{
    QStringList names;
    const QStringList given = option.names();
    for (const QString &name : given)
        names.append((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
    const QString value = option.valueName();
    return names.join(QStringLiteral(", ")) + (value.isEmpty() ? QString() : ' ' + value);
}

} // namespace

QString wrapped(const QString &text, int indent, int width)
{
    // Lines break at blanks, and between East Asian wide characters, which
    // stand without blanks between them.
    struct Piece
    {
        QString text;
        bool blankBefore;
        bool wide;
    };
    QList<Piece> pieces;
    bool blank = false;
    for (const QChar c : text) {
        if (c == QLatin1Char(' ')) {
            blank = true;
            continue;
        }
        const bool wide = Output::columns(QString(c)) == 2;
        // No line starts with a closing mark.
        static const QString closing = QStringLiteral("。，、；：）！？」』》");
        const bool attached = !blank && closing.contains(c);
        if (pieces.isEmpty() || (!attached && (blank || wide || pieces.constLast().wide)))
            pieces.append({QString(c), blank, wide});
        else
            pieces.last().text += c;
        blank = false;
    }
    QString lines;
    QString line;
    int used = 0;
    for (const Piece &piece : qAsConst(pieces)) {
        const int blanks = !line.isEmpty() && piece.blankBefore ? 1 : 0;
        const int columns = Output::columns(piece.text);
        if (!line.isEmpty() && indent + used + blanks + columns > width) {
            lines += line + QLatin1Char('\n') + QString(indent, QLatin1Char(' '));
            line = piece.text;
            used = columns;
            continue;
        }
        line += QString(blanks, QLatin1Char(' ')) + piece.text;
        used += blanks + columns;
    }
    return lines + line;
}

CommandLine::CommandLine(const QString &command, const QString &summary, const QString &synopsis)
    : command(command)
    , summary(summary)
    , synopsis(synopsis)
{
    for (const QCommandLineOption &option : {parser.addHelpOption(), parser.addVersionOption()}) {
        const QStringList given = option.names();
        names.unite(QSet<QString>(given.cbegin(), given.cend()));
    }
}

void CommandLine::define(const QCommandLineOption &option)
{
    parser.addOption(option);
    const QStringList given = option.names();
    names.unite(QSet<QString>(given.cbegin(), given.cend()));
}

void CommandLine::addOption(const QCommandLineOption &option)
{
    define(option);
    own.append({namesOf(option), option.description()});
}

void CommandLine::addShared(const QCommandLineOption &option)
{
    define(option);
    shared.append({namesOf(option), option.description()});
}

QString CommandLine::helpText() const
{
    constexpr int column = 26; // where descriptions start
    const auto listed = [](const QList<Entry> &entries) {
        QString text;
        for (const Entry &entry : entries) {
            const QString names = QStringLiteral("  ") + entry.names;
            text += names.size() + 2 > column
                ? names + QLatin1Char('\n') + QString(column, QLatin1Char(' '))
                : names.leftJustified(column);
            text += wrapped(entry.description, column) + QLatin1Char('\n');
        }
        return text;
    };
    const QList<Entry> always{{QStringLiteral("-h, --help"), Text::tr("Shows this help.")},
        {QStringLiteral("-v, --version"), Text::tr("Shows the version.")}};
    const QString usage
        = QStringList{Text::tr("Usage: lbxctl"), command, synopsis}.join(' ').simplified();
    const QString ownText = own.isEmpty()
        ? QString()
        : QLatin1Char('\n') + Text::tr("Options:") + QLatin1Char('\n') + listed(own);
    return wrapped(usage + QStringLiteral(" [OPTION...]"), 7) + QLatin1Char('\n')
        + wrapped(summary, 0) + QLatin1Char('\n') + ownText
        + Text::tr("\nOptions shared with other commands:\n") + listed(shared + always);
}

void CommandLine::addExchangeOptions(int defaultRetries, const QString &retriesText)
{
    // Each default stated once: the help says what the option takes.
    const QString timeout = QStringLiteral("2"), rate = QStringLiteral("200"),
                  buffer = QStringLiteral("16384");
    const QList<QCommandLineOption> options{
        {QStringLiteral("timeout"),
            Text::tr("Seconds to wait for each answer, from 0.01 to 3600 (default %1).")
                .arg(timeout),
            QStringLiteral("SECONDS"), timeout},
        {QStringLiteral("retries"), retriesText.arg(defaultRetries), QStringLiteral("N"),
            QString::number(defaultRetries)},
        {QStringLiteral("interface"),
            Text::tr("Searches through this adapter only (its broadcast address), "
                     "instead of 255.255.255.255 and every adapter's."),
            QStringLiteral("NAME")},
        {QStringLiteral("host"),
            Text::tr("Asks this unicast address instead of searching by broadcast, for "
                     "converters behind a router; may be given again."),
            QStringLiteral("ADDRESS")},
        {QStringLiteral("sweep"),
            Text::tr("Asks every host address of this range (such as 10.80.0.0/24, at most "
                     "a /16) by unicast instead of searching by broadcast, paced by --rate; "
                     "only lbx.info goes out in a sweep. May be given again, and with "
                     "--host."),
            QStringLiteral("CIDR")},
        {QStringLiteral("rate"),
            Text::tr("Requests a sweep sends per second, from 1 to 5000 (default %1).").arg(rate),
            QStringLiteral("N"), rate},
        {QStringLiteral("json"), Text::tr("Prints one JSON object per line.")},
        {QStringLiteral("receive-buffer"),
            Text::tr("Receive buffer to ask the system for, in KiB (default %1; "
                     "the system caps it at net.core.rmem_max).")
                .arg(buffer),
            QStringLiteral("KIB"), buffer},
    };
    for (const QCommandLineOption &option : options)
        addShared(option);
}

void CommandLine::addSearchOptions()
{
    addExchangeOptions(
        0, Text::tr("Searches this many more times and merges the answers (default %1)."));
}

void CommandLine::addFormatOption(const QString &description)
{
    addOption(
        {QStringLiteral("format"), description, QStringLiteral("FORMAT"), QStringLiteral("table")});
}

void CommandLine::addTargets()
{
    operandName = QStringLiteral("TARGET");
    const QString target
        = Text::tr("A converter's IPv4 address (four decimal numbers, no leading zeros) or "
                   "its uuid; \"ip:ADDRESS\" and \"uuid:TEXT\" say which.");
    parser.addPositionalArgument(QStringLiteral("TARGET"), target, QStringLiteral("[TARGET...]"));
    const QCommandLineOption all{
        QStringLiteral("all"), Text::tr("Takes every converter that answers a search.")};
    const QCommandLineOption dryRun{QStringLiteral("dry-run"),
        Text::tr("Says which converters the command would go to, and sends it to none: only "
                 "lbx.info goes out.")};
    define(all);
    define(dryRun);
    // Listed first of what the command shares: they say which converters it reaches.
    shared.prepend({namesOf(dryRun), dryRun.description()});
    shared.prepend({namesOf(all), all.description()});
    shared.prepend({QStringLiteral("TARGET..."), target});
}

void CommandLine::addOperand(const QString &name, const QString &description)
{
    operandName = name;
    parser.addPositionalArgument(name, description);
    own.prepend({name, description});
}

void CommandLine::addWaitOptions(int defaultSeconds)
{
    addOption({QStringLiteral("wait"),
        Text::tr("Waits for each converter to come back after the command, and says what "
                 "it then reports; only a confirmed outcome is success.")});
    addWaitTimeout(defaultSeconds);
}

void CommandLine::addWaitTimeout(int defaultSeconds)
{
    addOption({QStringLiteral("wait-timeout"),
        Text::tr("Seconds to wait for the converters to come back (default %1).")
            .arg(defaultSeconds),
        QStringLiteral("SECONDS"), QString::number(defaultSeconds)});
}

void CommandLine::addOutputOption()
{
    addOption({QStringLiteral("output"),
        Text::tr("Writes the output to FILE, whole or not at all, instead of to "
                 "standard output."),
        QStringLiteral("FILE")});
}

int CommandLine::wholeNumber(const QString &name, int low, int high) const
{
    return wholeNumberOf(*this, name, low, high, Text::tr("a whole number"));
}

QString CommandLine::outputPath() const
{
    if (isSet(QStringLiteral("output")) && value(QStringLiteral("output")).isEmpty())
        refuse(Text::tr("--output names no file"));
    return value(QStringLiteral("output"));
}

int CommandLine::waitTimeoutMs() const
{
    return millisecondsOf(*this, QStringLiteral("wait-timeout"), 1, 3600);
}

QString CommandLine::format(const QStringList &formats) const
{
    QString chosen
        = isSet(QStringLiteral("json")) ? QStringLiteral("json") : value(QStringLiteral("format"));
    if (!formats.contains(chosen))
        refuse(Text::tr("--format takes %1 or %2, not \"%3\"")
                   .arg(formats.mid(0, formats.size() - 1).join(QStringLiteral(", ")),
                       formats.constLast(), Output::escaped(chosen)));
    return chosen;
}

void CommandLine::process(const QStringList &arguments, int least, int most)
{
    const QString name = QStringLiteral("lbxctl ") + command;
    if (!parser.parse(QStringList{name} + arguments))
        refuse(Text::tr("%1; see \"%2 --help\"").arg(parser.errorText(), name));
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        Output::text(helpText());
        std::exit(Output::finish(Succeeded));
    }
    if (parser.isSet(QStringLiteral("version"))) {
        Output::text(QStringLiteral("lbxctl %1\n").arg(QStringLiteral(LBX_VERSION)));
        std::exit(Output::finish(Succeeded));
    }
    const QStringList operands = parser.positionalArguments();
    if (most == 0 && !operands.isEmpty())
        refuse(Text::tr("%1 takes no targets, but was given \"%2\"; see \"%3 --help\"")
                   .arg(command, Output::escaped(operands.constFirst()), name));
    if (operands.size() < least || (most >= 0 && operands.size() > most))
        refuse(Text::tr("%1 takes one %2, but was given %3; see \"%4 --help\"")
                   .arg(command, operandName)
                   .arg(operands.size())
                   .arg(name));
}

Client::Options CommandLine::clientOptions() const
{
    Client::Options options;
    options.timeoutMs = millisecondsOf(*this, QStringLiteral("timeout"), 0.01, 3600);
    options.retries
        = wholeNumberOf(*this, QStringLiteral("retries"), 0, 100, Text::tr("a whole number"));
    options.receiveBufferBytes = 1024
        * wholeNumberOf(
            *this, QStringLiteral("receive-buffer"), 4, 1024 * 1024, QStringLiteral("KiB"));
    options.interfaceName = value(QStringLiteral("interface"));
    options.hosts = eachValue(parser, QStringLiteral("host"), unicastAddress);
    options.sweep = eachValue(parser, QStringLiteral("sweep"), addressRange);
    options.sweepRate
        = wholeNumberOf(*this, QStringLiteral("rate"), 1, 5000, Text::tr("requests a second"));
    if (!options.interfaceName.isEmpty()) {
        if (!options.hosts.isEmpty())
            refuse(Text::tr("--host and --interface do not go together"));
        if (!options.sweep.isEmpty())
            refuse(Text::tr("--sweep and --interface do not go together"));
    }
    return options;
}
