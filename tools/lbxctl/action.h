#ifndef LBXCTL_ACTION_H
#define LBXCTL_ACTION_H

#include "client.h"
#include "confirm.h"

#include <QHostAddress>
#include <QJsonObject>

#include <functional>

// What a command asks of a converter, stated once beside the command and used
// by every command that sends it (apply sends set's): the request, the reply
// that acknowledges it, how a record shows it taken, how --wait judges the
// converter once it is back, and its words where a converter shows it took the
// command without saying so.
struct Action
{
    Action() = default;
    Action(const QByteArray &request, Protocol::Reply reply, bool changesState)
        : request(request)
        , reply(reply)
        , changesState(changesState)
    {
    }

    QByteArray request;
    Protocol::Reply reply = Protocol::Reply::Info;
    bool changesState = false;
    // For a state-changing command: what a converter's record now tells of
    // whether it took the command, given its record before. Empty: nothing
    // tells, so it is never sent again.
    std::function<Evidence(const QJsonObject &before, const QJsonObject &now)> taken;
    // For --wait: the judge of what the converter reports once back, given its
    // record before; and whether it may come back at another address.
    std::function<Judge(const QJsonObject &before)> judgeFor;
    bool mayMove = false;
    // "no answer, but it reports ...": a converter that did not acknowledge
    // the command, and whose record shows it taken.
    QString (*alreadySo)(const QJsonObject &now) = nullptr;

    // The command for one converter, told whether it took it by its record
    // before (empty where it did not answer).
    Client::Order orderTo(const QHostAddress &address, const QJsonObject &before) const;
    // What --wait watches for a converter that acknowledged the command.
    Watch watch(const QHostAddress &address, const QJsonObject &before) const;
};

// The commands that change converters or ask them to act, each defined in its
// command's unit.
Action setAction(const Protocol::Settings &settings);
Action uploadLogAction();
Action updateAction();
Action factoryAction();

#endif // LBXCTL_ACTION_H
