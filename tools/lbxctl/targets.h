#ifndef LBXCTL_TARGETS_H
#define LBXCTL_TARGETS_H

#include "client.h"

#include <QHostAddress>
#include <QList>
#include <QString>

class CommandLine;

// A converter named on the command line: by address or by uuid.
struct Target
{
    QString text;
    bool byUuid = false;
    QString uuid;
    QHostAddress address;
};

// "uuid:TEXT" and "ip:ADDRESS" force either; otherwise four dotted decimal
// numbers are an address, and must be a unicast one, and anything else is a
// uuid. Refuses what is neither.
Target parseTarget(const QString &text);
// A dotted-quad unicast IPv4 address; the null address, and why, for anything else.
QHostAddress unicastAddress(const QString &text, QString *error);

// The converters a command line names: its targets, and --all.
struct TargetSet
{
    QList<Target> named;
    bool all = false;
    // Whether a search must tell which converters these are.
    bool needsSearch() const;
};
// Refuses a command line that names no converter.
TargetSet targetsOf(const CommandLine &line);

// The addresses the targets stand for, given the converters a search found;
// or why the command must not go out (a uuid that did not answer, or answered
// from more than one address).
struct Resolution
{
    QList<QHostAddress> addresses;
    QString refusal;
};
Resolution resolve(const TargetSet &targets, const QList<FoundConverter> &found);

#endif // LBXCTL_TARGETS_H
