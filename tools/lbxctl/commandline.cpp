#include "commandline.h"

#include "output.h"
#include "targets.h"

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
        refuse(QStringLiteral("--%1 takes seconds from %2 to %3, not \"%4\"")
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
        refuse(QStringLiteral("--%1 takes %2 from %3 to %4, not \"%5\"")
                   .arg(name, what)
                   .arg(low)
                   .arg(high)
                   .arg(Output::escaped(line.value(name))));
    return value;
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
    QString lines;
    QString line;
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &word : words) {
        if (!line.isEmpty() && indent + line.size() + 1 + word.size() > width) {
            lines += line + QLatin1Char('\n') + QString(indent, QLatin1Char(' '));
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return lines + line;
}

CommandLine::CommandLine(const QString &command, const QString &summary, const QString &synopsis)
    : command(command)
    , summary(summary)
    , synopsis(synopsis)
{
    parser.addHelpOption();
    parser.addVersionOption();
}

void CommandLine::addOption(const QCommandLineOption &option)
{
    parser.addOption(option);
    own.append({namesOf(option), option.description()});
}

void CommandLine::addShared(const QCommandLineOption &option)
{
    parser.addOption(option);
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
    const QList<Entry> always{{QStringLiteral("-h, --help"), QStringLiteral("Shows this help.")},
        {QStringLiteral("-v, --version"), QStringLiteral("Shows the version.")}};
    const QString usage
        = QStringList{QStringLiteral("Usage: lbxctl"), command, synopsis}.join(' ').simplified();
    return wrapped(usage + QStringLiteral(" [OPTION...]"), 7) + QLatin1Char('\n')
        + wrapped(summary, 0) + QStringLiteral("\n\nOptions:\n") + listed(own)
        + QStringLiteral("\nOptions shared with other commands:\n") + listed(shared + always);
}

void CommandLine::addExchangeOptions(int defaultRetries, const QString &retriesText)
{
    const QList<QCommandLineOption> options{
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
    };
    for (const QCommandLineOption &option : options)
        addShared(option);
}

void CommandLine::addSearchOptions()
{
    addExchangeOptions(
        0, QStringLiteral("Searches this many more times and merges the answers (default 0)."));
}

void CommandLine::addFormatOption(const QString &description)
{
    addOption(
        {QStringLiteral("format"), description, QStringLiteral("FORMAT"), QStringLiteral("table")});
}

void CommandLine::addTargets()
{
    takesOperands = true;
    const QString target
        = QStringLiteral("A converter's IPv4 address (four decimal numbers, no leading zeros) or "
                         "its uuid; \"ip:ADDRESS\" and \"uuid:TEXT\" say which.");
    parser.addPositionalArgument(QStringLiteral("TARGET"), target, QStringLiteral("[TARGET...]"));
    const QCommandLineOption all{
        QStringLiteral("all"), QStringLiteral("Takes every converter that answers a search.")};
    parser.addOption(all);
    // Listed first of what the command shares: they say which converters it reaches.
    shared.prepend({namesOf(all), all.description()});
    shared.prepend({QStringLiteral("TARGET..."), target});
}

void CommandLine::addOperand(const QString &name, const QString &description)
{
    takesOperands = true;
    parser.addPositionalArgument(name, description);
    own.prepend({name, description});
}

void CommandLine::addWaitOptions(int defaultSeconds)
{
    defaultWaitSeconds = defaultSeconds;
    addOption({QStringLiteral("wait"),
        QStringLiteral("Waits for each converter to come back after the command, and says what "
                       "it then reports; only a confirmed outcome is success.")});
    addOption({QStringLiteral("wait-timeout"),
        QStringLiteral("Seconds to wait for the converters to come back (default %1).")
            .arg(defaultSeconds),
        QStringLiteral("SECONDS"), QString::number(defaultSeconds)});
}

int CommandLine::waitTimeoutMs() const
{
    return millisecondsOf(*this, QStringLiteral("wait-timeout"), 1, 3600);
}

std::optional<int> CommandLine::waitMs() const
{
    const int timeoutMs = waitTimeoutMs();
    if (!isSet(QStringLiteral("wait")))
        return std::nullopt;
    return timeoutMs;
}

QString CommandLine::format(const QStringList &formats) const
{
    QString chosen = json() ? QStringLiteral("json") : value(QStringLiteral("format"));
    if (!formats.contains(chosen))
        refuse(QStringLiteral("--format takes %1 or %2, not \"%3\"")
                   .arg(formats.mid(0, formats.size() - 1).join(QStringLiteral(", ")),
                       formats.constLast(), Output::escaped(chosen)));
    return chosen;
}

void CommandLine::process(const QStringList &arguments)
{
    const QString name = QStringLiteral("lbxctl ") + command;
    if (!parser.parse(QStringList{name} + arguments))
        refuse(QStringLiteral("%1; see \"%2 --help\"").arg(parser.errorText(), name));
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(helpText().toUtf8().constData(), stdout);
        std::exit(Succeeded);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("lbxctl %s\n", LBX_VERSION);
        std::exit(Succeeded);
    }
    if (!takesOperands && !parser.positionalArguments().isEmpty()) {
        refuse(QStringLiteral("%1 takes no targets, but was given \"%2\"; see \"%3 --help\"")
                   .arg(command, Output::escaped(parser.positionalArguments().constFirst()), name));
    }
}

Client::Options CommandLine::clientOptions() const
{
    Client::Options options;
    options.timeoutMs = millisecondsOf(*this, QStringLiteral("timeout"), 0.01, 3600);
    options.retries
        = wholeNumberOf(*this, QStringLiteral("retries"), 0, 100, QStringLiteral("a whole number"));
    options.receiveBufferBytes = 1024
        * wholeNumberOf(
            *this, QStringLiteral("receive-buffer"), 4, 1024 * 1024, QStringLiteral("KiB"));
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
