#ifndef LBXCTL_COMMANDLINE_H
#define LBXCTL_COMMANDLINE_H

#include "client.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// Exit statuses, the same for every command.
// OutputFailed is sysexits' EX_IOERR: the output (a table, metrics, a roster)
// could not be written, which a monitoring unit must not take for "not all ok".
enum Status { Succeeded = 0, SomeFailed = 1, BadInput = 2, OutputFailed = 74, Interrupted = 130 };

// Says why the input is refused and exits with BadInput: nothing has been sent.
[[noreturn]] void refuse(const QString &message);

// One command's command line: the options every command shares, those of the
// command itself, and the checks of their values.
class CommandLine
{
public:
    CommandLine(const QString &command, const QString &summary, const QString &synopsis);

    const QString command;
    QCommandLineParser parser;

    // Options of the search and the exchange: --timeout, --retries,
    // --interface, --host, --json, --receive-buffer.
    void addExchangeOptions(int defaultRetries, const QString &retriesText);
    // The same for a command that only searches: --retries are repeats.
    void addSearchOptions();
    // --format, whose first format is the default; each described.
    void addFormatOption(const QString &description);
    // TARGET... and --all.
    void addTargets();
    // A positional argument other than targets: a PLAN or a ROSTER.
    void addOperand(const QString &name, const QString &description);
    // --wait and --wait-timeout, whose default is given here once.
    void addWaitOptions(int defaultSeconds);
    // --wait-timeout alone, for a command that always waits.
    void addWaitTimeout(int defaultSeconds);
    // An option of the command's own.
    void addOption(const QCommandLineOption &option);
    // --output FILE, written whole or not at all.
    void addOutputOption();

    // Reads the arguments that follow the command's name; answers --help and
    // --version and exits; refuses unknown options, and fewer operands than
    // least or more than most (-1: any number).
    void process(const QStringList &arguments, int least, int most);

    // Whether the command has the option at all.
    bool defines(const QString &name) const { return names.contains(name); }
    // Whether the option was given (never, for one the command does not have).
    bool isSet(const QString &name) const { return defines(name) && parser.isSet(name); }
    QString value(const QString &name) const { return parser.value(name); }
    // The positional arguments: the targets, or a PLAN or ROSTER file.
    QStringList operands() const { return parser.positionalArguments(); }
    // --format, one of the formats given (--json stands for json).
    QString format(const QStringList &formats) const;

    // An option's whole number, from low to high; refuses anything else.
    int wholeNumber(const QString &name, int low, int high) const;

    // The file --output names; empty for standard output. Refuses an empty name.
    QString outputPath() const;

    // How long --wait-timeout allows the converters to come back.
    int waitTimeoutMs() const;

    Client::Options clientOptions() const;

    // --help: the usage line with what the command requires, its own
    // options, then those it shares with other commands; within 80 columns.
    QString helpText() const;

private:
    // An option or operand as --help lists it.
    struct Entry
    {
        QString names;
        QString description;
    };
    void addShared(const QCommandLineOption &option);
    void define(const QCommandLineOption &option);

    const QString summary;
    const QString synopsis;
    QList<Entry> own;
    QList<Entry> shared;
    QSet<QString> names; // of every option defined
    QString operandName; // "PLAN", "TARGET"
};

// Text in lines of at most width columns, those after the first indented.
QString wrapped(const QString &text, int indent, int width = 80);

#endif // LBXCTL_COMMANDLINE_H
