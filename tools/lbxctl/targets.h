#ifndef LBXCTL_TARGETS_H
#define LBXCTL_TARGETS_H

#include "client.h"
#include "confirm.h"

#include <QHash>

class CommandLine;

// How --wait confirms a command: the default wait, whether the converter may
// come back elsewhere, and the judge of what it then reports.
struct WaitSpec
{
    int defaultSeconds;
    bool mayMove;
    std::function<Judge(const QJsonObject &before)> judgeFor;
};

// Prints each converter's outcome, one line (or JSON object) each, as soon as
// it is known, and keeps the exit status.
class Reporter
{
public:
    Reporter(const QString &command, bool json, const QList<Converter> &found);

    // The outcome of sending the command.
    void answered(const Answer &answer);
    // The outcome of waiting for the converter to come back.
    void confirmed(const Answer &answer, const QJsonObject &before, const Confirmation &result);
    // A line of its own about a converter (apply's plan).
    void plan(const QHostAddress &address, const QString &uuid, const QString &text,
        const QJsonObject &object);

    int status() const { return worst; }
    // The uuid of the converter at an address, where no search told it.
    void learn(const QHostAddress &address, const QString &uuid);
    // Counts a failure that no line of its own reports.
    void fail(int status);

private:
    QJsonValue uuidOf(const QHostAddress &address) const;
    void line(const QHostAddress &address, const QJsonValue &uuid, const QString &text);

    QString command;
    bool json;
    QHash<quint32, QString> uuids;
    int uuidWidth = 12;
    int worst = 0;
};

// Whether an answer leaves a converter to wait for: it acknowledged, already
// reports what was asked, or fell silent as if restarting.
bool worthWaitingFor(const Answer &answer);

// Records of the converters at these addresses, asked by unicast (those found
// by a search are taken from there); missing where one did not answer.
QHash<quint32, QJsonObject> recordsOf(
    Client &client, const QList<QHostAddress> &addresses, const QList<Converter> &found);

// Sends each order, then waits for each converter that acknowledged (or fell
// silent as if restarting) to come back, watched as watchFor says; reports
// every outcome. Returns how many were confirmed.
int sendAndConfirm(Client &client, const QList<Client::Order> &orders, int waitMs,
    const QHash<quint32, QJsonObject> &before, Reporter &reporter,
    const std::function<Watch(const Answer &)> &watchFor);

void warnOfDrops(const Client &client);

// Sends one command to exactly the converters the command line names (searching
// first for uuids and --all) and reports each one's outcome; with --wait, waits
// for each to come back and judges what it reports. Returns the exit status.
int sendToTargets(
    CommandLine &line, const Client::Command &command, const WaitSpec *wait = nullptr);

#endif // LBXCTL_TARGETS_H
