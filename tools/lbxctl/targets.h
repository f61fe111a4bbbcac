#ifndef LBXCTL_TARGETS_H
#define LBXCTL_TARGETS_H

#include "client.h"

#include <QHostAddress>
#include <QJsonValue>
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

// What a target stands for once a search has answered: an address, and the
// converter meant there.
struct Aim
{
    QHostAddress address;
    // Named by its address: whatever answers there is meant. Otherwise the
    // converter of this uuid is (named by its uuid, or taken by --all).
    bool byAddress = false;
    QJsonValue uuid = QJsonValue::Undefined;
};

// The aims of the targets, an address once, given the converters a search
// found; or why the command must not go out (a uuid that did not answer, that
// answered from more than one address, or only from an address the search did
// not ask). The converters that --all leaves out, having answered from an
// address not asked, are in unasked.
struct Resolution
{
    QList<Aim> aims;
    QList<FoundConverter> unasked;
    QString refusal;
};
Resolution resolve(const TargetSet &targets, const QList<FoundConverter> &found);

// Whether a command may go to an aim, given every uuid heard from its address
// (by the search, and by lbx.info asked there just before the command) and
// whether the address answered that question: to an address named, always;
// to a converter meant by its uuid, only where its address answered, and was
// heard as that uuid alone.
enum class Clearance { Send, Ambiguous, NotFound };
Clearance clearance(const Aim &aim, const QList<QJsonValue> &heard, bool answered);

#endif // LBXCTL_TARGETS_H
