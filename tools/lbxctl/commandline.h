#ifndef LBXCTL_COMMANDLINE_H
#define LBXCTL_COMMANDLINE_H

#include "client.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QHostAddress>
#include <QString>
#include <QStringList>

// Exit statuses, the same for every command.
enum Status { Succeeded = 0, SomeFailed = 1, BadInput = 2, Interrupted = 130 };

// Says why the input is refused and exits with BadInput: nothing has been sent.
[[noreturn]] void refuse(const QString &message);

// A converter named on the command line: by address or by uuid.
struct Target
{
    QString text;
    bool byUuid = false;
    QString uuid;
    QHostAddress address;
};

// "uuid:TEXT" and "ip:ADDRESS" force either; otherwise four dotted decimal
// numbers are an address, and must be a unicast one, and anything else is a uuid.
Target parseTarget(const QString &text);
// A dotted-quad unicast IPv4 address; the null address, and why, for anything else.
QHostAddress unicastAddress(const QString &text, QString *error);

// One command's command line: the options every command shares, those of the
// command itself, and the checks of their values.
class CommandLine
{
public:
    CommandLine(const QString &command, const QString &summary);

    const QString command;
    QCommandLineParser parser;

    // Options of the search and the exchange: --timeout, --retries,
    // --interface, --host, --json, --receive-buffer.
    void addExchangeOptions(int defaultRetries, const QString &retriesText);
    // TARGET... and --all.
    void addTargets();
    // A positional argument other than targets.
    void addArgument(const QString &name, const QString &description);
    // --wait and --wait-timeout, whose default is given.
    void addWaitOptions(int defaultSeconds);
    int waitTimeoutMs(int defaultSeconds) const;
    void addOption(const QCommandLineOption &option) { parser.addOption(option); }

    // Reads the arguments that follow the command's name; answers --help and
    // --version and exits; refuses unknown options and stray arguments.
    void process(const QStringList &arguments);

    bool isSet(const QString &name) const { return parser.isSet(name); }
    QString value(const QString &name) const { return parser.value(name); }
    QStringList targets() const { return parser.positionalArguments(); }
    bool json() const { return parser.isSet(QStringLiteral("json")); }

    Client::Options clientOptions() const;

private:
    bool takesTargets = false;
};

#endif // LBXCTL_COMMANDLINE_H
