#include "send.h"

#include "outcome.h"
#include "output.h"
#include "session.h"
#include "translation.h"

#include <QHash>

namespace {

// Whether an answer leaves a converter to wait for: it acknowledged, already
// reports what was asked, or fell silent as if restarting.
bool worthWaitingFor(const Answer &answer)
{
    return answer.outcome == Answer::Outcome::Done || answer.outcome == Answer::Outcome::AlreadySo
        || answer.outcome == Answer::Outcome::SilentToInfo;
}

// What an address answered when asked lbx.info just before a command: its
// record (empty where it did not answer), and every uuid it answered as.
struct AddressCheck
{
    QJsonObject record;
    QList<QJsonValue> heard;
};

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

// The orders a command may go out as, with each converter's record as it
// answered just before and the action meant for it.
struct Cleared
{
    QList<Client::Order> orders;
    QHash<quint32, QJsonObject> before;
    QHash<quint32, Action> actions;
};

// Asked just before the command, an address tells who answers there now
// (which a converter meant by its uuid needs), and what it reports tells
// whether it took the command, and what changed after. Those that may not be
// sent to (see clearance()) are reported, ambiguous or not found.
Cleared clearAimed(Client &client, const QList<FoundConverter> &found, const QList<Aimed> &aimed,
    bool waiting, Reporter &reporter)
{
    QList<QHostAddress> addresses;
    for (const Aimed &one : aimed) {
        if (!one.aim.byAddress || one.action.changesState || waiting)
            addresses.append(one.aim.address);
    }
    const QHash<quint32, AddressCheck> checks = checkAddresses(client, addresses);
    QHash<quint32, QList<QJsonValue>> heardBySearch;
    for (const FoundConverter &converter : found)
        heardBySearch[converter.address.toIPv4Address()].append(converter.uuidValue());
    Cleared cleared;
    QList<Answer> held;
    for (const Aimed &one : aimed) {
        const quint32 key = one.aim.address.toIPv4Address();
        const AddressCheck check = checks.value(key);
        const QList<QJsonValue> heard = heardBySearch.value(key) + check.heard;
        reporter.know(one.aim.address, one.aim.uuid, heard);
        const Clearance verdict = clearance(one.aim, heard, !check.record.isEmpty());
        if (verdict != Clearance::Send) {
            held.append({one.aim.address,
                verdict == Clearance::Ambiguous ? Answer::Outcome::Ambiguous
                                                : Answer::Outcome::NotFound,
                {}, {}, 0, {}});
            continue;
        }
        cleared.orders.append(one.action.orderTo(one.aim.address, check.record));
        cleared.before.insert(key, check.record);
        cleared.actions.insert(key, one.action);
    }
    for (const Answer &answer : qAsConst(held))
        reporter.answered(answer);
    return cleared;
}

// Sends each order, then waits for each converter that acknowledged (or fell
// silent as if restarting) to come back; reports every outcome. Returns how
// many were confirmed.
int sendAndConfirm(Client &client, const QList<Client::Order> &orders, const Cleared &cleared,
    int waitMs, Reporter &reporter)
{
    QList<Answer> acknowledged;
    client.ask(orders, [&](const Answer &answer) {
        if (worthWaitingFor(answer))
            acknowledged.append(answer);
        else
            reporter.answered(answer, cleared.actions.value(answer.address.toIPv4Address()));
    });
    QList<Watch> watches;
    for (const Answer &answer : qAsConst(acknowledged)) {
        const quint32 key = answer.address.toIPv4Address();
        watches.append(cleared.actions.value(key).watch(answer.address, cleared.before.value(key)));
        watches.last().acknowledged = answer.outcome != Answer::Outcome::SilentToInfo;
    }
    int confirmed = 0;
    Confirmer(client, waitMs).wait(watches, [&](int i, const Confirmation &result) {
        const Answer &answer = acknowledged.at(i);
        confirmed += result.verdict.outcome == WaitOutcome::Confirmed ? 1 : 0;
        reporter.confirmed(answer, cleared.before.value(answer.address.toIPv4Address()), result);
    });
    return confirmed;
}

// Sends the orders and waits for the converters to come back: in waves, the
// next only once every converter of the last confirmed the command; the
// converters a stopped rollout leaves are said to be held.
int sendInWaves(Client &client, const Cleared &cleared, const Sending &sending, Reporter &reporter)
{
    const int total = int(cleared.orders.size());
    const Waves waves = sending.waves.value_or(Waves{total, 1});
    int sent = 0;
    int confirmed = 0;
    int wave = 0;
    while (sent < total && confirmed == sent && !Client::interrupted()) {
        const QList<Client::Order> orders
            = cleared.orders.mid(sent, wave++ == 0 ? waves.first : waves.size);
        confirmed += sendAndConfirm(client, orders, cleared, *sending.waitMs, reporter);
        sent += orders.size();
    }
    for (int held = sent; held < total; ++held)
        reporter.answered({cleared.orders.at(held).address, Answer::Outcome::Held, {}, {}, 0, {}});
    if (sending.waves)
        Output::note(Text::tr("%1 of %2 waves sent: %3 converters confirmed, %4 not, %5 held")
                         .arg(wave)
                         .arg(waves.count(total))
                         .arg(confirmed)
                         .arg(sent - confirmed)
                         .arg(total - sent));
    return confirmed;
}

} // namespace

int Waves::count(int converters) const
{
    return converters <= first ? qMin(converters, 1) : 1 + (converters - first + size - 1) / size;
}

int sendAimed(Client &client, const QList<FoundConverter> &found, const QList<Aimed> &aimed,
    const Sending &sending, Reporter &reporter)
{
    const Cleared cleared = clearAimed(client, found, aimed, sending.waitMs.has_value(), reporter);
    if (sending.dryRun) {
        for (const Client::Order &order : cleared.orders)
            reporter.answered({order.address, Answer::Outcome::DryRun, {}, {}, 0, {}});
        return 0;
    }
    if (sending.waitMs)
        return sendInWaves(client, cleared, sending, reporter);
    client.ask(cleared.orders, [&](const Answer &answer) {
        reporter.answered(answer, cleared.actions.value(answer.address.toIPv4Address()));
    });
    return 0;
}

int sendToTargets(Session &session, const Action &action, std::optional<Waves> waves)
{
    Client &client = session.client();
    const TargetSet &targets = session.targets;
    const QList<FoundConverter> found
        = targets.needsSearch() ? session.search() : QList<FoundConverter>();
    const Resolution resolution = resolve(targets, found);
    if (!resolution.refusal.isEmpty())
        refuse(resolution.refusal);
    if (targets.all && found.isEmpty()) {
        Output::note(Text::tr("no converter answered the search; nothing was sent"));
        return Output::finish(SomeFailed);
    }

    Reporter reporter(session.line.command, session.json, found);
    // Every converter that answered is more than those the search kept.
    if (targets.all && client.droppedDatagrams() > 0)
        reporter.fail(SomeFailed);
    for (const FoundConverter &converter : resolution.unasked) {
        reporter.know(converter.address, converter.uuidValue(), {});
        reporter.answered({converter.address, Answer::Outcome::Unasked, {}, {}, 0, {}});
    }
    QList<Aimed> aimed;
    for (const Aim &aim : resolution.aims)
        aimed.append({aim, action});
    // Each wave waits for the last to confirm the command.
    const std::optional<int> waitMs = waves ? session.waitTimeoutMs : session.waitMs;
    sendAimed(client, found, aimed, {waitMs, waves, session.dryRun}, reporter);
    warnOfDrops(client, Text::tr("answers may be missing"));
    return Output::finish(reporter.status());
}
