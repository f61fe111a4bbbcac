// lbxctl set: baud rate and protocol plug-in of the targets.

#include "action.h"
#include "commands.h"
#include "outcome.h"
#include "output.h"
#include "send.h"
#include "session.h"
#include "translation.h"

namespace {

// "\"OvUdp485\", ..., \"\"": every name a converter takes, the empty one too.
QString pluginNamesText()
{
    QStringList names;
    const QStringList plain = Protocol::pluginNames();
    for (const QString &name : plain)
        names.append(QStringLiteral("\"%1\"").arg(name));
    return names.join(QStringLiteral(", "));
}

Protocol::Settings settingsFrom(const CommandLine &line)
{
    if (!line.isSet(QStringLiteral("baud")))
        refuse(Text::tr("set needs --baud"));
    Protocol::Settings settings;
    bool ok = false;
    const QString baudText = line.value(QStringLiteral("baud"));
    settings.baud = baudText.toInt(&ok);
    if (!ok || !Protocol::isBaudRate(settings.baud))
        refuse(Text::tr("unknown baud rate \"%1\": a converter takes %2")
                   .arg(Output::escaped(baudText), baudRatesShown()));
    if (line.isSet(QStringLiteral("plugin")))
        settings.pluginName = line.value(QStringLiteral("plugin"));
    if (settings.pluginName && !Protocol::pluginNames().contains(*settings.pluginName))
        refuse(Text::tr("unknown plug-in \"%1\": a converter takes %2")
                   .arg(Output::escaped(*settings.pluginName), pluginNamesText()));
    return settings;
}

// Settings are confirmed by what the converter reports once back; old values
// are final once it has restarted, or after long enough.
Judge settingsJudge(const Protocol::Settings &settings)
{
    return [=](const Sighting &seen) -> std::optional<Verdict> {
        if (Protocol::showsSettings(seen.after, settings))
            return Verdict{WaitOutcome::Confirmed,
                Phrase(QT_TRANSLATE_NOOP("lbxctl", "confirmed %1 after %2"))
                    .arg(settingsText(seen.after))
                    .arg(secondsText(seen.seconds))};
        if (seen.settled)
            return Verdict{WaitOutcome::NotApplied,
                Phrase(QT_TRANSLATE_NOOP("lbxctl", "came back with %1: not applied"))
                    .arg(settingsText(seen.after))};
        return std::nullopt;
    };
}

QString alreadySet(const QJsonObject &now)
{
    return Text::tr("no answer, but it reports %1 as asked").arg(settingsText(now));
}

} // namespace

Action setAction(const Protocol::Settings &settings)
{
    Action action{Protocol::setDatagram(settings), Protocol::Reply::Set, true};
    action.taken = [settings](const QJsonObject &, const QJsonObject &now) {
        return Protocol::showsSettings(now, settings) ? Evidence::Taken : Evidence::NotTaken;
    };
    action.judgeFor = [settings](const QJsonObject &) {
        return settingsJudge(settings);
    };
    action.alreadySo = alreadySet;
    return action;
}

namespace Set {

void addOptions(CommandLine &line)
{
    line.addExchangeOptions(2,
        Text::tr("Asks a silent converter this many more times (default %1); it is set "
                 "again only when lbx.info shows it up and not set."));
    line.addTargets();
    line.addOption({QStringLiteral("baud"), Text::tr("Baud rate: %1.").arg(baudRatesShown()),
        QStringLiteral("N")});
    line.addOption({QStringLiteral("plugin"),
        Text::tr("Protocol plug-in: %1 (the empty name stands for any other); left out, the "
                 "converter keeps its own.")
            .arg(pluginNamesText()),
        QStringLiteral("NAME")});
    // A converter restarts after a setting; half a minute is usual.
    line.addWaitOptions(60);
}

int run(Session &session)
{
    return sendToTargets(session, setAction(settingsFrom(session.line)));
}

} // namespace Set

const CommandEntry setCommand{"set",
    QT_TRANSLATE_NOOP("lbxctl", "Sets baud rate and protocol plug-in of the targets."),
    "TARGET... --baud N [--plugin NAME]", 0, -1, Set::addOptions, Set::run};
