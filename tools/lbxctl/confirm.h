#ifndef LBXCTL_CONFIRM_H
#define LBXCTL_CONFIRM_H

#include "client.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>

// The converters' protocol has no completion report: a converter acknowledges
// a command, restarts, and only what lbx.info reports once it is back tells
// whether the command took. Confirmation polls for that.

// What lbx.info shows of a converter after a command.
struct Verdict
{
    enum Kind { NotYet, Confirmed, NotApplied };
    Kind kind = NotYet;
    QString text; // "confirmed 115200 OvTcp485 after 6.2 s"
};

// Judges a record: settled is true once the converter has been seen silent
// (restarting) or enough time has passed for it to have restarted, so that old
// values are final; seconds since the command was acknowledged.
using Judge = std::function<Verdict(
    const QJsonObject &after, const QHostAddress &at, bool settled, double seconds)>;

// A converter to wait for.
struct Watch
{
    QHostAddress address;
    QString uuid; // looked for by search when it may move
    bool mayMove = false;
    Judge judge;
};

struct Confirmation
{
    enum Kind { Confirmed, NotApplied, TimedOut, Interrupted };
    Kind kind = TimedOut;
    QString text;
    QHostAddress address; // where it answered last
    QJsonObject after; // its last record; empty when it never answered
    double seconds = 0;
};

class Confirmer
{
public:
    // lbx.info requests a second, at most, in all; and polling backs off from
    // every 2 s to every 10 s while a converter stays silent.
    static constexpr int maxPollsPerSecond = 1000;
    static constexpr int firstPollMs = 2000;
    static constexpr int longestPollMs = 10000;
    // Old values are final after this long even if no restart was seen.
    static constexpr int settleMs = 10000;
    // A converter that may have moved is searched for this often, once it has
    // been seen restarting.
    static constexpr int searchEveryMs = 4000;

    Confirmer(Client &client, int timeoutMs);

    // Waits for every converter (the clock of each starts now) and reports each
    // outcome as soon as it is known; returns them in the order given.
    QList<Confirmation> wait(
        const QList<Watch> &watches, const std::function<void(int, const Confirmation &)> &known);

private:
    Client &client;
    int timeoutMs;
};

// Judges for the commands that change a converter.
Judge settingsJudge(int baud, const QString &plugin, bool withPlugin);
Judge updateJudge(const QJsonObject &before);
Judge factoryJudge();

// "9600 OvUdp485"
QString settingsText(const QJsonObject &record);

#endif // LBXCTL_CONFIRM_H
