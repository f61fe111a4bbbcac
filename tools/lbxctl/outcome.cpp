#include "outcome.h"

#include "commandline.h"
#include "output.h"
#include "translation.h"

#include <QJsonArray>

#include <cmath>

namespace {

QString triesText(int tries)
{
    return tries == 1 ? Text::tr("1 try") : Text::tr("%1 tries").arg(tries);
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
    {Answer::Outcome::Untold, "untold", false},
    {Answer::Outcome::Pending, "pending", false},
    {Answer::Outcome::NotSent, "not-sent", false},
    {Answer::Outcome::Ambiguous, "ambiguous", false},
    {Answer::Outcome::NotFound, "not-found", false},
    {Answer::Outcome::Unasked, "unasked", false},
    {Answer::Outcome::Held, "held", false},
    {Answer::Outcome::DryRun, "dry-run", true},
};

const OutcomeName &nameOf(Answer::Outcome outcome)
{
    for (const OutcomeName &name : outcomeNames) {
        if (name.outcome == outcome)
            return name;
    }
    Q_UNREACHABLE();
}

// In JSON, in the order of WaitOutcome.
const char *const waitOutcomeNames[]
    = {"confirmed", "not-applied", "timed-out", "interrupted", "partial"};

QString outcomeText(const Answer &answer, const Action &action, const QString &heard)
{
    switch (answer.outcome) {
    case Answer::Outcome::Done:
        return Text::tr("answered");
    case Answer::Outcome::Failed:
        return Text::tr("failed: %1").arg(Output::escaped(answer.failure));
    case Answer::Outcome::AlreadySo:
        return action.alreadySo ? action.alreadySo(answer.reply)
                                : Text::tr("no answer, but it reports that it took the command");
    case Answer::Outcome::Silent:
        return Text::tr("no answer after %1").arg(triesText(answer.tries));
    case Answer::Outcome::SilentToInfo:
        return Text::tr("no answer after %1, nor to lbx.info: it may have taken the "
                        "command and be restarting, so it was not sent again")
            .arg(triesText(answer.tries));
    case Answer::Outcome::Untold:
        return Text::tr("no answer after %1; it is up, but nothing it reports tells whether "
                        "it took the command, so it was not sent again")
            .arg(triesText(answer.tries));
    case Answer::Outcome::Pending:
        return Text::tr("sent, no answer yet (interrupted)");
    case Answer::Outcome::NotSent:
        return Text::tr("not sent (interrupted)");
    case Answer::Outcome::Ambiguous:
        return Text::tr("ambiguous: its address answers as %1; not sent").arg(heard);
    case Answer::Outcome::NotFound:
        return Text::tr("not found: its address did not answer lbx.info just before; not sent");
    case Answer::Outcome::Held:
        return Text::tr("held: the staged rollout stopped at a wave before this one; not sent");
    case Answer::Outcome::DryRun:
        return Text::tr("would be sent (dry run: nothing was sent)");
    case Answer::Outcome::Unasked:
        return Text::tr("not sent: it answered from an address the search did not ask; to "
                        "reach it, name it by its address");
    }
    Q_UNREACHABLE();
}

QJsonValue orNull(const QJsonObject &object)
{
    return object.isEmpty() ? QJsonValue() : QJsonValue(object);
}

} // namespace

QString settingsText(const QJsonObject &record)
{
    return QStringLiteral("%1 %2").arg(Protocol::baudText(record),
        Output::field(record.value(QStringLiteral("pluginName")).toString()));
}

void warnOfDrops(const Client &client, const QString &consequence)
{
    const qint64 dropped = client.droppedDatagrams();
    if (dropped > 0) {
        Output::note(Text::tr("the system dropped %1 datagrams for want of receive buffer: "
                              "%2 (raise net.core.rmem_max, for example sysctl -w "
                              "net.core.rmem_max=4194304)")
                         .arg(dropped)
                         .arg(consequence));
    }
}

Reporter::Reporter(const QString &command, bool json, const QList<FoundConverter> &found)
    : command(command)
    , jsonLines(json)
{
    for (const FoundConverter &converter : found)
        know(converter.address, QJsonValue::Undefined, {converter.uuidValue()});
}

void Reporter::know(
    const QHostAddress &address, const QJsonValue &meant, const QList<QJsonValue> &heard)
{
    Known at = known.value(address.toIPv4Address());
    if (!meant.isUndefined())
        at.meant = meant;
    for (const QJsonValue &uuid : heard) {
        if (!at.heard.contains(uuid))
            at.heard.append(uuid);
    }
    known.insert(address.toIPv4Address(), at);
    uuidWidth = qMax(uuidWidth, Output::columns(uuidCell(address)));
}

// The uuid meant at the address, or the one heard there; null where that is
// not one.
QJsonValue Reporter::uuidOf(const QHostAddress &address) const
{
    const Known at = known.value(address.toIPv4Address());
    if (!at.meant.isUndefined())
        return at.meant;
    return at.heard.size() == 1 ? at.heard.constFirst() : QJsonValue();
}

// Every uuid heard from the address, or the one meant there; "-" for none.
QString Reporter::uuidCell(const QHostAddress &address) const
{
    const Known at = known.value(address.toIPv4Address());
    QStringList names;
    for (const QJsonValue &uuid : at.heard)
        names.append(Output::field(uuidName(uuid)));
    if (names.size() > 1)
        return names.join(QLatin1Char(','));
    const QJsonValue uuid = uuidOf(address);
    return uuid.isNull() || uuid.isUndefined() ? QStringLiteral("-")
                                               : Output::field(uuidName(uuid));
}

void Reporter::line(const QHostAddress &address, const QString &uuidCell, const QString &text)
{
    // Padded, not QString::arg() one after another: a uuid's "%2" would take the next field.
    Output::line(Output::padded(uuidCell, uuidWidth) + QStringLiteral("  ")
        + Output::padded(address.isNull() ? QStringLiteral("-") : address.toString(), 15)
        + QStringLiteral("  ") + command + QStringLiteral(": ") + text);
}

// The line's JSON object, with the uuid meant (or heard) and, where the
// address answers as several, every uuid heard.
void Reporter::json(const QHostAddress &address, QJsonObject object)
{
    object.insert(QStringLiteral("uuid"), uuidOf(address));
    const QList<QJsonValue> heard = known.value(address.toIPv4Address()).heard;
    if (heard.size() > 1) {
        QJsonArray uuids;
        for (const QJsonValue &uuid : heard)
            uuids.append(uuid);
        object.insert(QStringLiteral("uuids"), uuids);
    }
    Output::json(object);
}

void Reporter::fail(int status)
{
    if (status == Interrupted || worst == Succeeded)
        worst = status;
}

void Reporter::answered(const Answer &answer, const Action &action)
{
    const OutcomeName &outcome = nameOf(answer.outcome);
    if (answer.outcome == Answer::Outcome::Pending || answer.outcome == Answer::Outcome::NotSent)
        fail(Interrupted);
    else if (!outcome.succeeded)
        fail(SomeFailed);
    if (!jsonLines) {
        QStringList heard;
        for (const QJsonValue &uuid : known.value(answer.address.toIPv4Address()).heard)
            heard.append(Output::field(uuidName(uuid)));
        line(answer.address, uuidCell(answer.address),
            outcomeText(answer, action, heard.join(QStringLiteral(", "))));
        return;
    }
    QJsonObject object{
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
    json(answer.address, object);
}

void Reporter::confirmed(
    const Answer &answer, const QJsonObject &before, const Confirmation &result)
{
    const WaitOutcome outcome = result.verdict.outcome;
    if (outcome == WaitOutcome::Interrupted)
        fail(Interrupted);
    else if (outcome != WaitOutcome::Confirmed)
        fail(SomeFailed);
    if (!jsonLines) {
        line(answer.address, uuidCell(answer.address), result.verdict.text.shown());
        return;
    }
    json(answer.address,
        {
            {QStringLiteral("ip"), answer.address.toString()},
            {QStringLiteral("command"), command},
            {QStringLiteral("outcome"), QString::fromLatin1(waitOutcomeNames[int(outcome)])},
            {QStringLiteral("ok"), outcome == WaitOutcome::Confirmed},
            {QStringLiteral("text"), result.verdict.text.english()},
            {QStringLiteral("before"), orNull(before)},
            {QStringLiteral("after"), orNull(result.after)},
            {QStringLiteral("seconds"), std::round(result.seconds * 10) / 10},
            {QStringLiteral("tries"), answer.tries},
        });
}

void Reporter::plan(const QHostAddress &address, const QString &uuid, const QString &text,
    const QJsonObject &object)
{
    if (jsonLines)
        Output::json(object);
    else
        line(address, Output::field(uuid), text);
}
