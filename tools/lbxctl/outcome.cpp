#include "outcome.h"

#include "commandline.h"
#include "output.h"
#include "translation.h"

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
const char *const waitOutcomeNames[] = {"confirmed", "not-applied", "timed-out", "interrupted"};

QString outcomeText(const Answer &answer, const QString &command)
{
    switch (answer.outcome) {
    case Answer::Outcome::Done:
        return Text::tr("answered");
    case Answer::Outcome::Failed:
        return Text::tr("failed: %1").arg(Output::escaped(answer.failure));
    case Answer::Outcome::AlreadySo:
        if (command == QLatin1String("update"))
            return Text::tr("no answer, but it reports app %1: it took the command")
                .arg(Output::field(Protocol::appVersionText(answer.reply)));
        if (command == QLatin1String("factory"))
            return Text::tr("no answer, but it reports %1 now: it took the command")
                .arg(settingsText(answer.reply));
        return Text::tr("no answer, but it reports %1 as asked").arg(settingsText(answer.reply));
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
    , json(json)
{
    for (const FoundConverter &converter : found) {
        learn(converter.address, converter.uuid);
        uuidWidth = qMax(uuidWidth, Output::columns(Output::field(converter.uuid)));
    }
}

QJsonValue Reporter::uuidOf(const QHostAddress &address) const
{
    const auto at = uuids.constFind(address.toIPv4Address());
    return at == uuids.constEnd() ? QJsonValue() : QJsonValue(*at);
}

void Reporter::line(const QHostAddress &address, const QJsonValue &uuid, const QString &text)
{
    // Padded, not QString::arg() one after another: a uuid's "%2" would take the next field.
    Output::line(
        Output::padded(
            uuid.isString() ? Output::field(uuid.toString()) : QStringLiteral("-"), uuidWidth)
        + QStringLiteral("  ")
        + Output::padded(address.isNull() ? QStringLiteral("-") : address.toString(), 15)
        + QStringLiteral("  ") + command + QStringLiteral(": ") + text);
}

void Reporter::learn(const QHostAddress &address, const QString &uuid)
{
    if (uuids.contains(address.toIPv4Address()))
        return;
    uuids.insert(address.toIPv4Address(), uuid);
    uuidWidth = qMax(uuidWidth, Output::columns(Output::field(uuid)));
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
        line(answer.address, uuidOf(answer.address), outcomeText(answer, command));
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
    const WaitOutcome outcome = result.verdict.outcome;
    if (outcome == WaitOutcome::Interrupted)
        fail(Interrupted);
    else if (outcome != WaitOutcome::Confirmed)
        fail(SomeFailed);
    if (!json) {
        line(answer.address, uuidOf(answer.address), result.verdict.text.shown());
        return;
    }
    Output::json({
        {QStringLiteral("uuid"), uuidOf(answer.address)},
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
    if (json)
        Output::json(object);
    else
        line(address, uuid, text);
}
