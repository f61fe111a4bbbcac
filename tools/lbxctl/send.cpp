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

QHash<quint32, AddressCheck> checkAddresses(Client &client, const QList<QHostAddress> &addresses)
{
    QHash<quint32, AddressCheck> checks;
    const QList<Answer> answers
        = client.ask(addresses, {Protocol::infoRequest, Protocol::Reply::Info, false, {}});
    for (const Answer &answer : answers) {
        AddressCheck &check = checks[answer.address.toIPv4Address()];
        if (answer.outcome != Answer::Outcome::Done)
            continue;
        check.record
            = Protocol::deviceRecord(Protocol::replyArg(answer.reply), answer.address.toString());
        check.heard.append(check.record.value(QLatin1String("uuid")));
        for (const QJsonObject &more : answer.moreRecords)
            check.heard.append(more.value(QLatin1String("uuid")));
    }
    return checks;
}

QList<Aim> clearedAims(const QList<Aim> &aims, const QList<FoundConverter> &found,
    const QHash<quint32, AddressCheck> &checks, Reporter &reporter)
{
    QHash<quint32, QList<QJsonValue>> heardBySearch;
    for (const FoundConverter &converter : found)
        heardBySearch[converter.address.toIPv4Address()].append(converter.uuidValue());
    QList<Aim> cleared;
    QList<Answer> held;
    for (const Aim &aim : aims) {
        const AddressCheck check = checks.value(aim.address.toIPv4Address());
        const QList<QJsonValue> heard
            = heardBySearch.value(aim.address.toIPv4Address()) + check.heard;
        reporter.know(aim.address, aim.uuid, heard);
        const Clearance verdict = clearance(aim, heard, !check.record.isEmpty());
        if (verdict == Clearance::Send)
            cleared.append(aim);
        else
            held.append({aim.address,
                verdict == Clearance::Ambiguous ? Answer::Outcome::Ambiguous
                                                : Answer::Outcome::NotFound,
                {}, {}, 0, {}});
    }
    for (const Answer &answer : qAsConst(held))
        reporter.answered(answer);
    return cleared;
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

namespace {

// The orders a command may go out as, each converter's record as it answered
// just before; the targets held back are reported.
struct Cleared
{
    QList<Client::Order> orders;
    QHash<quint32, QJsonObject> before;
};

Cleared clearTargets(Client &client, const Delivery &delivery, const QList<FoundConverter> &found,
    const QList<Aim> &aims, Reporter &reporter)
{
    // Asked just before the command, an address tells who answers there now
    // (which a converter meant by its uuid needs), and what it reports tells
    // whether it took the command, and what changed after.
    const bool recordsNeeded = delivery.command.changesState || delivery.waitMs || delivery.waves;
    QList<QHostAddress> addresses;
    for (const Aim &aim : aims) {
        if (!aim.byAddress || recordsNeeded)
            addresses.append(aim.address);
    }
    const QHash<quint32, AddressCheck> checks = checkAddresses(client, addresses);
    Cleared cleared;
    for (auto check = checks.cbegin(); check != checks.cend(); ++check)
        cleared.before.insert(check.key(), check->record);
    QList<QHostAddress> clearedAddresses;
    const QList<Aim> clearedList = clearedAims(aims, found, checks, reporter);
    for (const Aim &aim : clearedList)
        clearedAddresses.append(aim.address);
    cleared.orders = ordersFor(clearedAddresses, delivery, cleared.before);
    return cleared;
}

// Sends the orders and waits for the converters to come back: in waves, the
// next only once every converter of the last confirmed the command; the
// converters a stopped rollout leaves are said to be held.
void sendInWaves(Client &client, const Delivery &delivery, const Cleared &cleared, int waitMs,
    Reporter &reporter)
{
    const auto watchFor = [&](const Answer &answer) {
        const QJsonObject record = cleared.before.value(answer.address.toIPv4Address());
        return Watch{answer.address, record.value(QLatin1String("uuid")), delivery.wait.mayMove,
            delivery.wait.judgeFor(record)};
    };
    const Waves waves = delivery.waves.value_or(Waves{int(cleared.orders.size()), 1});
    int sent = 0;
    int confirmed = 0;
    int wave = 0;
    while (sent < cleared.orders.size() && confirmed == sent && !Client::interrupted()) {
        const QList<Client::Order> orders
            = cleared.orders.mid(sent, wave++ == 0 ? waves.first : waves.size);
        confirmed += sendAndConfirm(client, orders, waitMs, cleared.before, reporter, watchFor);
        sent += orders.size();
    }
    for (int held = sent; held < cleared.orders.size(); ++held)
        reporter.answered({cleared.orders.at(held).address, Answer::Outcome::Held, {}, {}, 0, {}});
    if (delivery.waves)
        Output::note(Text::tr("%1 of %2 waves sent: %3 converters confirmed, %4 not, %5 held")
                         .arg(wave)
                         .arg(waves.count(int(cleared.orders.size())))
                         .arg(confirmed)
                         .arg(sent - confirmed)
                         .arg(cleared.orders.size() - sent));
}

} // namespace

int Waves::count(int converters) const
{
    return converters <= first ? qMin(converters, 1) : 1 + (converters - first + size - 1) / size;
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
    for (const FoundConverter &converter : resolution.unasked) {
        reporter.know(converter.address, converter.uuidValue(), {});
        reporter.answered({converter.address, Answer::Outcome::Unasked, {}, {}, 0, {}});
    }
    const Cleared cleared = clearTargets(client, delivery, found, resolution.aims, reporter);
    if (delivery.dryRun) {
        for (const Client::Order &order : cleared.orders)
            reporter.answered({order.address, Answer::Outcome::DryRun, {}, {}, 0, {}});
    } else if (delivery.waitMs) {
        sendInWaves(client, delivery, cleared, *delivery.waitMs, reporter);
    } else {
        client.ask(cleared.orders, [&](const Answer &answer) {
            reporter.answered(answer);
        });
    }
    warnOfDrops(client, Text::tr("answers may be missing"));
    return Output::finish(reporter.status());
}
