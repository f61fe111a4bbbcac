#include "send.h"

#include "outcome.h"
#include "output.h"
#include "session.h"
#include "translation.h"

namespace {

// Whether an answer leaves a converter to wait for: it acknowledged, already
// reports what was asked, or fell silent as if restarting.
bool worthWaitingFor(const Answer &answer)
{
    return answer.outcome == Answer::Outcome::Done || answer.outcome == Answer::Outcome::AlreadySo
        || answer.outcome == Answer::Outcome::SilentToInfo;
}

// Records of the converters at these addresses, asked by unicast (those found
// by a search are taken from there); missing where one did not answer.
QHash<quint32, QJsonObject> recordsOf(
    Client &client, const QList<QHostAddress> &addresses, const QList<FoundConverter> &found)
{
    QHash<quint32, QJsonObject> records;
    for (const FoundConverter &converter : found)
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

// The command for each address, told whether a converter took it by what it
// reported before.
QList<Client::Order> ordersFor(const QList<QHostAddress> &addresses, const Delivery &delivery,
    const QHash<quint32, QJsonObject> &before)
{
    QList<Client::Order> orders;
    for (const QHostAddress &address : addresses) {
        Client::Command command = delivery.command;
        if (delivery.taken) {
            command.taken = [taken = delivery.taken, was = before.value(address.toIPv4Address())](
                                const QJsonObject &now) {
                return taken(was, now);
            };
        }
        orders.append({address, command});
    }
    return orders;
}

} // namespace

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
    for (const Answer &answer : qAsConst(acknowledged)) {
        watches.append(watchFor(answer));
        watches.last().acknowledged = answer.outcome != Answer::Outcome::SilentToInfo;
    }
    int confirmed = 0;
    Confirmer(client, waitMs).wait(watches, [&](int i, const Confirmation &result) {
        const Answer &answer = acknowledged.at(i);
        confirmed += result.verdict.outcome == WaitOutcome::Confirmed ? 1 : 0;
        reporter.confirmed(answer, before.value(answer.address.toIPv4Address()), result);
    });
    return confirmed;
}

int sendToTargets(Session &session, const Delivery &delivery)
{
    Client &client = session.client();
    const QList<FoundConverter> found
        = delivery.targets.needsSearch() ? session.search() : QList<FoundConverter>();
    const Resolution resolution = resolve(delivery.targets, found);
    if (!resolution.refusal.isEmpty())
        refuse(resolution.refusal);
    if (delivery.targets.all && found.isEmpty()) {
        Output::note(Text::tr("no converter answered the search; nothing was sent"));
        return Output::finish(SomeFailed);
    }

    Reporter reporter(session.line.command, session.line.json(), found);
    // Every converter that answered is more than those the search kept.
    if (delivery.targets.all && client.droppedDatagrams() > 0)
        reporter.fail(SomeFailed);
    // What each converter reports before: to tell whether it took the command,
    // and what changed after.
    QHash<quint32, QJsonObject> before;
    if (delivery.command.changesState || delivery.waitMs)
        before = recordsOf(client, resolution.addresses, found);
    for (auto record = before.cbegin(); record != before.cend(); ++record)
        reporter.learn(QHostAddress(record.key()), Protocol::uuidText(*record));
    const QList<Client::Order> orders = ordersFor(resolution.addresses, delivery, before);
    if (delivery.waitMs) {
        sendAndConfirm(
            client, orders, *delivery.waitMs, before, reporter, [&](const Answer &answer) {
                const QJsonObject record = before.value(answer.address.toIPv4Address());
                return Watch{answer.address, Protocol::uuidText(record), delivery.wait.mayMove,
                    delivery.wait.judgeFor(record)};
            });
    } else {
        client.ask(orders, [&](const Answer &answer) {
            reporter.answered(answer);
        });
    }
    warnOfDrops(client, Text::tr("answers may be missing"));
    return Output::finish(reporter.status());
}
