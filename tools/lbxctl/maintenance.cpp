// lbxctl upload-log, update and factory: the fixed requests of maintenance.

#include "action.h"
#include "commands.h"
#include "outcome.h"
#include "output.h"
#include "send.h"
#include "session.h"
#include "translation.h"

namespace {

void addCommonOptions(CommandLine &line, bool changesState)
{
    line.addExchangeOptions(2,
        changesState ? Text::tr("Asks a silent converter this many more times (default "
                                "%1), once lbx.info shows it up and still there.")
                     : Text::tr("Asks a silent converter this many more times (default %1)."));
    line.addTargets();
    // An update or a factory reset takes minutes.
    if (changesState)
        line.addWaitOptions(180);
}

// An update shows in the application version; looking again where none was
// found changes nothing.
Evidence updateTaken(const QJsonObject &before, const QJsonObject &now)
{
    if (before.isEmpty())
        return Evidence::Unknown;
    return Protocol::appVersionText(now) != Protocol::appVersionText(before) ? Evidence::Taken
                                                                             : Evidence::NotTaken;
}

// A reset shows where it changed the settings; where they were the factory's
// already, nothing tells, and a reset is never sent twice on a guess.
Evidence factoryTaken(const QJsonObject &before, const QJsonObject &now)
{
    const bool changed = !before.isEmpty()
        && (Protocol::baudText(now) != Protocol::baudText(before)
            || now.value(QStringLiteral("pluginName"))
                != before.value(QStringLiteral("pluginName")));
    return changed ? Evidence::Taken : Evidence::Unknown;
}

// An update is confirmed by the converter's word and a new version, or a
// restart; without its word nothing is.
Judge updateJudge(const QJsonObject &before)
{
    const QString from = Output::field(Protocol::appVersionText(before));
    return [=](const Sighting &seen) -> std::optional<Verdict> {
        const QString to = Output::field(Protocol::appVersionText(seen.after));
        if (seen.acknowledged && !before.isEmpty() && to != from)
            return Verdict{WaitOutcome::Confirmed,
                Phrase(QT_TRANSLATE_NOOP("lbxctl", "app %1 -> %2 after %3"))
                    .arg(from)
                    .arg(to)
                    .arg(secondsText(seen.seconds))};
        if (!seen.settled)
            return std::nullopt;
        if (!seen.acknowledged)
            return Verdict{WaitOutcome::NotApplied,
                Phrase(QT_TRANSLATE_NOOP("lbxctl", "no acknowledgement; back after %1 with app %2"))
                    .arg(secondsText(seen.seconds))
                    .arg(to)};
        if (seen.seenRestarting)
            return Verdict{WaitOutcome::Confirmed,
                Phrase(QT_TRANSLATE_NOOP("lbxctl", "restarted; back after %1, app %2"))
                    .arg(secondsText(seen.seconds))
                    .arg(to)};
        return Verdict{WaitOutcome::NotApplied,
            Phrase(QT_TRANSLATE_NOOP("lbxctl", "back after %1, still %2"))
                .arg(secondsText(seen.seconds))
                .arg(to)};
    };
}

// A reset is confirmed by the converter's word and a restart seen, a new
// address or other settings; nothing less.
Judge factoryJudge(const QJsonObject &before)
{
    return [=](const Sighting &seen) -> std::optional<Verdict> {
        if (!seen.settled)
            return std::nullopt;
        const Phrase back = Phrase(QT_TRANSLATE_NOOP("lbxctl", "back after %1 at %2 with %3"))
                                .arg(secondsText(seen.seconds))
                                .arg(seen.at.toString())
                                .arg(settingsText(seen.after));
        if (!seen.acknowledged)
            return Verdict{WaitOutcome::NotApplied,
                Phrase(QT_TRANSLATE_NOOP("lbxctl", "no acknowledgement; %1")).arg(back)};
        const bool changed = seen.seenRestarting || seen.at != seen.was
            || (!before.isEmpty() && settingsText(seen.after) != settingsText(before));
        if (changed)
            return Verdict{WaitOutcome::Confirmed, back};
        return Verdict{WaitOutcome::NotApplied,
            Phrase(QT_TRANSLATE_NOOP(
                       "lbxctl", "%1, never seen restarting: the reset is not confirmed"))
                .arg(back)};
    };
}

QString alreadyUpdated(const QJsonObject &now)
{
    return Text::tr("no answer, but it reports app %1: it took the command")
        .arg(Output::field(Protocol::appVersionText(now)));
}

QString alreadyReset(const QJsonObject &now)
{
    return Text::tr("no answer, but it reports %1 now: it took the command").arg(settingsText(now));
}

} // namespace

Action uploadLogAction()
{
    return {Protocol::uploadLogRequest, Protocol::Reply::UploadLog, false};
}

Action updateAction()
{
    Action action{Protocol::updateRequest, Protocol::Reply::Update, true};
    action.taken = updateTaken;
    action.judgeFor = updateJudge;
    action.alreadySo = alreadyUpdated;
    return action;
}

Action factoryAction()
{
    Action action{Protocol::factoryRequest, Protocol::Reply::Factory, true};
    action.taken = factoryTaken;
    action.judgeFor = factoryJudge;
    // A converter back at factory settings may be back at its factory address.
    action.mayMove = true;
    action.alreadySo = alreadyReset;
    return action;
}

namespace UploadLog {

void addOptions(CommandLine &line)
{
    addCommonOptions(line, false);
}

int run(Session &session)
{
    return sendToTargets(session, uploadLogAction());
}

} // namespace UploadLog

const CommandEntry uploadLogCommand{"upload-log",
    QT_TRANSLATE_NOOP("lbxctl", "Asks the targets to upload their log."), "TARGET...", 0, -1,
    UploadLog::addOptions, UploadLog::run};

namespace Update {

void addOptions(CommandLine &line)
{
    addCommonOptions(line, true);
    line.addOption({QStringLiteral("canary"),
        Text::tr("Updates in waves, each once every converter of the last one confirmed the "
                 "new version (as --wait does): this many first (default 1), and stops at the "
                 "first wave in which one does not."),
        QStringLiteral("N")});
    line.addOption({QStringLiteral("wave-size"),
        Text::tr("Updates in waves of this many after the first (default: the rest at once); "
                 "with --canary, or alone."),
        QStringLiteral("N")});
}

// --canary and --wave-size: a staged update, which waits for each wave.
std::optional<Waves> wavesFrom(const CommandLine &line)
{
    const bool staged
        = line.isSet(QStringLiteral("canary")) || line.isSet(QStringLiteral("wave-size"));
    if (!staged)
        return std::nullopt;
    Waves waves{1, 1000000};
    if (line.isSet(QStringLiteral("canary")))
        waves.first = line.wholeNumber(QStringLiteral("canary"), 1, 1000000);
    if (line.isSet(QStringLiteral("wave-size")))
        waves.size = line.wholeNumber(QStringLiteral("wave-size"), 1, 1000000);
    return waves;
}

int run(Session &session)
{
    return sendToTargets(session, updateAction(), wavesFrom(session.line));
}

} // namespace Update

const CommandEntry updateCommand{"update",
    QT_TRANSLATE_NOOP("lbxctl", "Asks the targets to look for an application update."),
    "TARGET... [--canary N] [--wave-size N]",
    0, -1, Update::addOptions, Update::run};

namespace Factory {

void addOptions(CommandLine &line)
{
    line.addOption({QStringLiteral("yes"),
        Text::tr("Confirms the factory reset: the saved configuration and data are lost.")});
    addCommonOptions(line, true);
}

int run(Session &session)
{
    if (!session.line.isSet(QStringLiteral("yes")))
        refuse(Text::tr("factory returns converters to factory settings and loses their "
                        "configuration and data: add --yes to go ahead"));
    return sendToTargets(session, factoryAction());
}

} // namespace Factory

const CommandEntry factoryCommand{"factory",
    QT_TRANSLATE_NOOP("lbxctl",
        "Returns the targets to factory settings; their configuration and data are lost."),
    "TARGET... --yes", 0, -1, Factory::addOptions, Factory::run};
