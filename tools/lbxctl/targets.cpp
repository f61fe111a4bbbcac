#include "targets.h"

#include "commandline.h"
#include "output.h"

#include <QHash>

#include <algorithm>

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

QString outcomeText(const Answer &answer)
{
    switch (answer.outcome) {
    case Answer::Outcome::Done:
        return QStringLiteral("answered");
    case Answer::Outcome::Failed:
        return QStringLiteral("failed: ") + Output::escaped(answer.failure);
    case Answer::Outcome::AlreadySo:
        return QStringLiteral("no answer, but it reports %1 %2 as asked")
            .arg(Protocol::baudText(answer.reply),
                Output::escaped(answer.reply.value(QStringLiteral("pluginName")).toString()));
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

} // namespace

int sendToTargets(CommandLine &line, const Client::Command &command)
{
    const Client::Options options = line.clientOptions();
    const bool all = line.isSet(QStringLiteral("all"));
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

    QHash<quint32, QString> uuidOf;
    int uuidWidth = 12;
    for (const Converter &converter : qAsConst(found)) {
        if (!uuidOf.contains(converter.address.toIPv4Address()))
            uuidOf.insert(converter.address.toIPv4Address(), converter.uuid);
        uuidWidth = qMax(uuidWidth, Output::field(converter.uuid).size());
    }

    const QString name = line.command;
    const bool json = line.json();
    auto report = [&](const Answer &answer) {
        const quint32 address = answer.address.toIPv4Address();
        const OutcomeName &outcome = nameOf(answer.outcome);
        if (json) {
            QJsonObject object{
                {QStringLiteral("uuid"),
                    uuidOf.contains(address) ? QJsonValue(uuidOf.value(address)) : QJsonValue()},
                {QStringLiteral("ip"), answer.address.toString()},
                {QStringLiteral("command"), name},
                {QStringLiteral("outcome"), QString::fromLatin1(outcome.name)},
                {QStringLiteral("ok"), outcome.succeeded},
                {QStringLiteral("answered"),
                    answer.outcome == Answer::Outcome::Done
                        || answer.outcome == Answer::Outcome::Failed},
                {QStringLiteral("tries"), answer.tries},
            };
            if (answer.outcome == Answer::Outcome::AlreadySo)
                object.insert(QStringLiteral("info"), answer.reply);
            else if (!answer.reply.isEmpty())
                object.insert(QStringLiteral("reply"), answer.reply);
            if (!answer.failure.isEmpty())
                object.insert(QStringLiteral("failure"), answer.failure);
            Output::json(object);
            return;
        }
        const QString uuid
            = uuidOf.contains(address) ? Output::field(uuidOf.value(address)) : QStringLiteral("-");
        Output::line(QStringLiteral("%1  %2  %3: %4")
                         .arg(uuid, -uuidWidth)
                         .arg(answer.address.toString(), -15)
                         .arg(name, outcomeText(answer)));
    };
    const QList<Answer> answers = client.ask(addresses, command, report);
    warnOfDrops(client);

    int status = Succeeded;
    for (const Answer &answer : answers) {
        if (answer.outcome == Answer::Outcome::Pending
            || answer.outcome == Answer::Outcome::NotSent)
            status = Interrupted;
        else if (!nameOf(answer.outcome).succeeded && status == Succeeded)
            status = SomeFailed;
    }
    return Output::finish(status);
}
