// lbxctl set: baud rate and protocol plug-in of the targets.

#include "commands.h"
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

} // namespace

namespace Set {

void addOptions(CommandLine &line)
{
    line.addExchangeOptions(2,
        Text::tr("Asks a silent converter this many more times (default 2); it is set "
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
    const Protocol::Settings settings = settingsFrom(session.line);
    const Client::Command command{Protocol::setDatagram(settings), Protocol::Reply::Set, true, {}};
    const auto taken = [settings](const QJsonObject &, const QJsonObject &now) {
        return Protocol::showsSettings(now, settings) ? Evidence::Taken : Evidence::NotTaken;
    };
    const WaitRule wait{false, [settings](const QJsonObject &) {
                            return settingsJudge(settings);
                        }};
    return sendToTargets(session,
        {targetsOf(session.line), command, taken, session.line.waitMs(), wait, std::nullopt,
            session.line.isSet(QStringLiteral("dry-run"))});
}

} // namespace Set

const CommandEntry setCommand{"set",
    QT_TRANSLATE_NOOP("lbxctl", "Sets baud rate and protocol plug-in of the targets."),
    "TARGET... --baud N [--plugin NAME]", Set::addOptions, Set::run};
