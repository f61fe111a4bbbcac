#include "action.h"

Client::Order Action::orderTo(const QHostAddress &address, const QJsonObject &before) const
{
    Client::Command command{request, reply, changesState, {}};
    if (taken) {
        command.taken = [taken = taken, before](const QJsonObject &now) {
            return taken(before, now);
        };
    }
    return {address, command};
}

Watch Action::watch(const QHostAddress &address, const QJsonObject &before) const
{
    return Watch{address, before.value(QLatin1String("uuid")), mayMove, judgeFor(before)};
}
