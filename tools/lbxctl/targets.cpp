#include "targets.h"

#include "commandline.h"
#include "output.h"

#include <QHash>

#include <algorithm>
#include <cmath>

namespace {

QString triesText(int tries)
{
    return tries == 1 ? QStringLiteral("1 try") : QStringLiteral("%1 tries").arg(tries);
}

struct OutcomeName
{
    Answer::Outcome outcome;
    const char *name; // in JSON
    bool succeeded;
};
const OutcomeName outcomeNames[] = {
    {Answer::Outcome::Done, "done", true},
    {Answer::Outcome::Failed, "failed", false},
    {Answer::Outcome::AlreadySo, "already-so", true},
    {Answer::Outcome::Silent, "silent", false},
    {Answer::Outcome::SilentToInfo, "silent-to-info", false},
    {Answer::Outcome::Pending, "pending", false},
    {Answer::Outcome::NotSent, "not-sent", false},
};

const OutcomeName &nameOf(Answer::Outcome outcome)
{
    for (const OutcomeName &name : outcomeNames) {
        if (name.outcome == outcome)
            return name;
    }
    Q_UNREACHABLE();
}

const char *const confirmationNames[] = {"confirmed", "not-applied", "timed-out", "interrupted"};

QString outcomeText(const Answer &answer)
{
    switch (answer.outcome) {
    case Answer::Outcome::Done:
        return QStringLiteral("answered");
    case Answer::Outcome::Failed:
        return QStringLiteral("failed: ") + Output::escaped(answer.failure);
    case Answer::Outcome::AlreadySo:
        return QStringLiteral("no answer, but it reports %1 as asked")
            .arg(settingsText(answer.reply));
    case Answer::Outcome::Silent:
        return QStringLiteral("no answer after %1").arg(triesText(answer.tries));
    case Answer::Outcome::SilentToInfo:
        return QStringLiteral("no answer after %1, nor to lbx.info: it may have taken the "
                              "command and be restarting, so it was not sent again")
            .arg(triesText(answer.tries));
    case Answer::Outcome::Pending:
        return QStringLiteral("sent, no answer yet (interrupted)");
    case Answer::Outcome::NotSent:
        return QStringLiteral("not sent (interrupted)");
    }
    Q_UNREACHABLE();
}

} // namespace

Reporter::Reporter(const QString &command, bool json, const QList<Converter> &found)
    : command(command)
    , json(json)
{
    for (const Converter &converter : found) {
        if (!uuids.contains(converter.address.toIPv4Address()))
            uuids.insert(converter.address.toIPv4Address(), converter.uuid);
        uuidWidth = qMax(uuidWidth, Output::field(converter.uuid).size());
    }
}

QJsonValue Reporter::uuidOf(const QHostAddress &address) const
{
    const auto at = uuids.constFind(address.toIPv4Address());
    return at == uuids.constEnd() ? QJsonValue() : QJsonValue(*at);
}

void Reporter::line(const QHostAddress &address, const QJsonValue &uuid, const QString &text)
{
    Output::line(
        QStringLiteral("%1  %2  %3: %4")
            .arg(uuid.isString() ? Output::field(uuid.toString()) : QStringLiteral("-"), -uuidWidth)
            .arg(address.isNull() ? QStringLiteral("-") : address.toString(), -15)
            .arg(command, text));
}

void Reporter::learn(const QHostAddress &address, const QString &uuid)
{
    if (uuids.contains(address.toIPv4Address()))
        return;
    uuids.insert(address.toIPv4Address(), uuid);
    uuidWidth = qMax(uuidWidth, Output::field(uuid).size());
}

void Reporter::fail(int status)
{
    if (status == Interrupted || worst == Succeeded)
        worst = status;
}

void Reporter::answered(const Answer &answer)
{
    const OutcomeName &outcome = nameOf(answer.outcome);
    if (answer.outcome == Answer::Outcome::Pending || answer.outcome == Answer::Outcome::NotSent)
        fail(Interrupted);
    else if (!outcome.succeeded)
        fail(SomeFailed);
    if (!json) {
        line(answer.address, uuidOf(answer.address), outcomeText(answer));
        return;
    }
    QJsonObject object{
        {QStringLiteral("uuid"), uuidOf(answer.address)},
        {QStringLiteral("ip"), answer.address.toString()},
        {QStringLiteral("command"), command},
        {QStringLiteral("outcome"), QString::fromLatin1(outcome.name)},
        {QStringLiteral("ok"), outcome.succeeded},
        {QStringLiteral("answered"),
            answer.outcome == Answer::Outcome::Done || answer.outcome == Answer::Outcome::Failed},
        {QStringLiteral("tries"), answer.tries},
    };
    if (answer.outcome == Answer::Outcome::AlreadySo)
        object.insert(QStringLiteral("info"), answer.reply);
    else if (!answer.reply.isEmpty())
        object.insert(QStringLiteral("reply"), answer.reply);
    if (!answer.failure.isEmpty())
        object.insert(QStringLiteral("failure"), answer.failure);
    Output::json(object);
}

void Reporter::confirmed(
    const Answer &answer, const QJsonObject &before, const Confirmation &result)
{
    if (result.kind == Confirmation::Interrupted)
        fail(Interrupted);
    else if (result.kind != Confirmation::Confirmed)
        fail(SomeFailed);
    if (!json) {
        line(answer.address, uuidOf(answer.address), result.text);
        return;
    }
    Output::json({
        {QStringLiteral("uuid"), uuidOf(answer.address)},
        {QStringLiteral("ip"), answer.address.toString()},
        {QStringLiteral("command"), command},
        {QStringLiteral("outcome"), QString::fromLatin1(confirmationNames[result.kind])},
        {QStringLiteral("ok"), result.kind == Confirmation::Confirmed},
        {QStringLiteral("text"), result.text},
        {QStringLiteral("before"), before.isEmpty() ? QJsonValue() : QJsonValue(before)},
        {QStringLiteral("after"), result.after.isEmpty() ? QJsonValue() : QJsonValue(result.after)},
        {QStringLiteral("seconds"), std::round(result.seconds * 10) / 10},
        {QStringLiteral("tries"), answer.tries},
    });
}

void Reporter::plan(const QHostAddress &address, const QString &uuid, const QString &text,
    const QJsonObject &object)
{
    if (json)
        Output::json(object);
    else
        line(address, uuid, text);
}

bool worthWaitingFor(const Answer &answer)
{
    return answer.outcome == Answer::Outcome::Done || answer.outcome == Answer::Outcome::AlreadySo
        || answer.outcome == Answer::Outcome::SilentToInfo;
}

QHash<quint32, QJsonObject> recordsOf(
    Client &client, const QList<QHostAddress> &addresses, const QList<Converter> &found)
{
    QHash<quint32, QJsonObject> records;
    for (const Converter &converter : found)
        records.insert(converter.address.toIPv4Address(), converter.record);
    QList<QHostAddress> unknown;
    for (const QHostAddress &address : addresses) {
        if (!records.contains(address.toIPv4Address()))
            unknown.append(address);
    }
    if (unknown.isEmpty())
        return records;
    const QList<Answer> answers
        = client.ask(unknown, {Protocol::infoRequest, Protocol::Reply::Info, false, {}});
    for (const Answer &answer : answers) {
        if (answer.outcome == Answer::Outcome::Done)
            records.insert(answer.address.toIPv4Address(),
                Protocol::deviceRecord(
                    Protocol::replyArg(answer.reply), answer.address.toString()));
    }
    return records;
}

int sendAndConfirm(Client &client, const QList<Client::Order> &orders, int waitMs,
    const QHash<quint32, QJsonObject> &before, Reporter &reporter,
    const std::function<Watch(const Answer &)> &watchFor)
{
    QList<Answer> acknowledged;
    client.ask(orders, [&](const Answer &answer) {
        if (worthWaitingFor(answer))
            acknowledged.append(answer);
        else
            reporter.answered(answer);
    });
    QList<Watch> watches;
    for (const Answer &answer : qAsConst(acknowledged))
        watches.append(watchFor(answer));
    int confirmed = 0;
    Confirmer(client, waitMs).wait(watches, [&](int i, const Confirmation &result) {
        const Answer &answer = acknowledged.at(i);
        confirmed += result.kind == Confirmation::Confirmed ? 1 : 0;
        reporter.confirmed(answer, before.value(answer.address.toIPv4Address()), result);
    });
    return confirmed;
}

void warnOfDrops(const Client &client)
{
    const qint64 dropped = client.droppedDatagrams();
    if (dropped > 0) {
        Output::note(QStringLiteral("the system dropped %1 datagrams for want of receive buffer: "
                                    "answers may be missing (raise net.core.rmem_max, for "
                                    "example sysctl -w net.core.rmem_max=4194304)")
                         .arg(dropped));
    }
}

int sendToTargets(CommandLine &line, const Client::Command &command, const WaitSpec *wait)
{
    const Client::Options options = line.clientOptions();
    const bool all = line.isSet(QStringLiteral("all"));
    const bool waiting = wait && line.isSet(QStringLiteral("wait"));
    const int waitMs = wait ? line.waitTimeoutMs(wait->defaultSeconds) : 0;
    QList<Target> targets;
    const QStringList texts = line.targets();
    for (const QString &text : texts)
        targets.append(parseTarget(text));
    if (targets.isEmpty() && !all)
        refuse(
            QStringLiteral("%1 needs a target (an address or a uuid) or --all").arg(line.command));
    const bool searching
        = all || std::any_of(targets.cbegin(), targets.cend(), [](const Target &t) {
              return t.byUuid;
          });

    Client client(options);
    QString error;
    if (!client.open(&error))
        refuse(error);

    QList<Converter> found;
    if (searching) {
        found = client.discover();
        if (Client::interrupted()) {
            Output::note(QStringLiteral("interrupted during the search; nothing was sent"));
            return Interrupted;
        }
    }

    QList<QHostAddress> addresses;
    for (const Target &target : qAsConst(targets)) {
        if (!target.byUuid) {
            addresses.append(target.address);
            continue;
        }
        QStringList at;
        for (const Converter &converter : qAsConst(found)) {
            if (converter.uuid == target.uuid) {
                at.append(converter.address.toString());
                addresses.append(converter.address);
            }
        }
        if (at.isEmpty())
            refuse(QStringLiteral(
                "no converter with the uuid \"%1\" answered the search; nothing was sent")
                       .arg(Output::escaped(target.uuid)));
        if (at.size() > 1)
            refuse(QStringLiteral("the uuid \"%1\" answered from %2: name the converter meant by "
                                  "its address (ip:%3); nothing was sent")
                       .arg(Output::escaped(target.uuid), at.join(QStringLiteral(", ")),
                           at.constFirst()));
    }
    if (all) {
        if (found.isEmpty()) {
            Output::note(QStringLiteral("no converter answered the search; nothing was sent"));
            return Output::finish(SomeFailed);
        }
        for (const Converter &converter : qAsConst(found))
            addresses.append(converter.address);
    }

    Reporter reporter(line.command, line.json(), found);
    if (!waiting) {
        client.ask(addresses, command, [&](const Answer &answer) {
            reporter.answered(answer);
        });
        warnOfDrops(client);
        return Output::finish(reporter.status());
    }

    // What each converter reports before, to tell what changed after.
    const QHash<quint32, QJsonObject> before = recordsOf(client, addresses, found);
    for (auto record = before.cbegin(); record != before.cend(); ++record)
        reporter.learn(QHostAddress(record.key()), Protocol::uuidText(*record));
    QList<Client::Order> orders;
    for (const QHostAddress &address : qAsConst(addresses))
        orders.append({address, command});
    sendAndConfirm(client, orders, waitMs, before, reporter, [&](const Answer &answer) {
        const QJsonObject record = before.value(answer.address.toIPv4Address());
        return Watch{
            answer.address, Protocol::uuidText(record), wait->mayMove, wait->judgeFor(record)};
    });
    warnOfDrops(client);
    return Output::finish(reporter.status());
}
