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
            {}});
}

} // namespace UploadLog

const CommandEntry uploadLogCommand{"upload-log",
    QT_TRANSLATE_NOOP("lbxctl", "Asks the targets to upload their log."), "TARGET...",
    UploadLog::addOptions, UploadLog::run};

namespace Update {

void addOptions(CommandLine &line)
{
    addCommonOptions(line, true);
}

int run(Session &session)
{
    return sendToTargets(session,
        {targetsOf(session.line), {Protocol::updateRequest, Protocol::Reply::Update, true, {}},
            updateTaken, session.line.waitMs(), {false, updateJudge}});
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
            factoryTaken, session.line.waitMs(), wait});
}

} // namespace Factory

const CommandEntry factoryCommand{"factory",
    QT_TRANSLATE_NOOP("lbxctl",
        "Returns the targets to factory settings; their configuration and data are lost."),
    "TARGET... --yes", Factory::addOptions, Factory::run};
