// lbxctl upload-log, update and factory: the fixed requests of maintenance.

#include "commands.h"
#include "send.h"
#include "session.h"
#include "translation.h"

namespace {

void addCommonOptions(CommandLine &line, bool changesState)
{
    line.addExchangeOptions(2,
        changesState ? Text::tr("Asks a silent converter this many more times (default "
                                "2), once lbx.info shows it up and still there.")
                     : Text::tr("Asks a silent converter this many more times (default 2)."));
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

} // namespace

namespace UploadLog {

void addOptions(CommandLine &line)
{
    addCommonOptions(line, false);
}

int run(Session &session)
{
    return sendToTargets(session,
        {targetsOf(session.line),
            {Protocol::uploadLogRequest, Protocol::Reply::UploadLog, false, {}}, {}, std::nullopt,
            {}, std::nullopt, session.line.isSet(QStringLiteral("dry-run"))});
}

} // namespace UploadLog

const CommandEntry uploadLogCommand{"upload-log",
    QT_TRANSLATE_NOOP("lbxctl", "Asks the targets to upload their log."), "TARGET...",
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
    const CommandLine &line = session.line;
    const std::optional<Waves> waves = wavesFrom(line);
    // Each wave waits for the last to confirm the new version.
    const std::optional<int> waitMs = waves ? line.waitTimeoutMs() : line.waitMs();
    return sendToTargets(session,
        {targetsOf(line), {Protocol::updateRequest, Protocol::Reply::Update, true, {}}, updateTaken,
            waitMs, {false, updateJudge}, waves, line.isSet(QStringLiteral("dry-run"))});
}

} // namespace Update

const CommandEntry updateCommand{"update",
    QT_TRANSLATE_NOOP("lbxctl", "Asks the targets to look for an application update."), "TARGET...",
    Update::addOptions, Update::run};

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
    // A converter back at factory settings may be back at its factory address.
    const WaitRule wait{true, factoryJudge};
    return sendToTargets(session,
        {targetsOf(session.line), {Protocol::factoryRequest, Protocol::Reply::Factory, true, {}},
            factoryTaken, session.line.waitMs(), wait, std::nullopt,
            session.line.isSet(QStringLiteral("dry-run"))});
}

} // namespace Factory

const CommandEntry factoryCommand{"factory",
    QT_TRANSLATE_NOOP("lbxctl",
        "Returns the targets to factory settings; their configuration and data are lost."),
    "TARGET... --yes", Factory::addOptions, Factory::run};
