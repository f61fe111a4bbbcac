#ifndef LBXCTL_SEND_H
#define LBXCTL_SEND_H

#include "client.h"
#include "confirm.h"
#include "targets.h"

#include <QHash>

#include <optional>

class Reporter;
class Session;

// How --wait confirms a command: whether the converter may come back at
// another address, and the judge of what it then reports, made from what it
// reported before.
struct WaitRule
{
    bool mayMove = false;
    std::function<Judge(const QJsonObject &before)> judgeFor;
};

// A staged rollout: a first wave (a canary), then waves of a size, each sent
// once every converter of the last one confirmed the command.
struct Waves
{
    int first = 1;
    int size = 1;
    // How many waves the converters make.
    int count(int converters) const;
};

// One command for the converters a command line names.
struct Delivery
{
    TargetSet targets;
    Client::Command command;
    // For a state-changing command: what a converter's record now tells of
    // whether it took the command, given its record before.
    std::function<Evidence(const QJsonObject &before, const QJsonObject &now)> taken;
    std::optional<int> waitMs; // with --wait: how long to wait for each to come back
    WaitRule wait;
    std::optional<Waves> waves; // sent in waves (waitMs then set)
    bool dryRun = false; // says which converters it would go to, and sends it to none
};

// Sends the command to exactly the converters named (searching first for
// uuids and --all) and reports each one's outcome; with a wait, waits for each
// to come back and judges what it reports. Returns the exit status.
int sendToTargets(Session &session, const Delivery &delivery);

// What an address answered when asked lbx.info just before a command: its
// record (empty where it did not answer), and every uuid it answered as.
struct AddressCheck
{
    QJsonObject record;
    QList<QJsonValue> heard;
};
QHash<quint32, AddressCheck> checkAddresses(Client &client, const QList<QHostAddress> &addresses);

// The aims a command may go to (see clearance()), given what the search heard
// and what each address answered just before; each one held back is reported
// (ambiguous, not found).
QList<Aim> clearedAims(const QList<Aim> &aims, const QList<FoundConverter> &found,
    const QHash<quint32, AddressCheck> &checks, Reporter &reporter);

// Sends each order, then waits for each converter that acknowledged (or fell
// silent as if restarting) to come back, watched as watchFor says; reports
// every outcome. Returns how many were confirmed.
int sendAndConfirm(Client &client, const QList<Client::Order> &orders, int waitMs,
    const QHash<quint32, QJsonObject> &before, Reporter &reporter,
    const std::function<Watch(const Answer &)> &watchFor);

#endif // LBXCTL_SEND_H
