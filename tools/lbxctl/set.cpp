// lbxctl set: baud rate and protocol plug-in of the targets.

#include "commandline.h"
#include "commands.h"
#include "output.h"
#include "targets.h"

#include <algorithm>
#include <iterator>

namespace {

QStringList pluginNames()
{
    QStringList names;
    for (const Protocol::Plugin &plugin : Protocol::plugins)
        names.append(QStringLiteral("\"%1\"").arg(QString::fromUtf8(plugin.name)));
    return names;
}

} // namespace

namespace Set {

// A converter restarts after a setting; half a minute is usual.
constexpr int defaultWaitSeconds = 60;

void addOptions(CommandLine &line)
{
    line.addExchangeOptions(2,
        QStringLiteral("Asks a silent converter this many more times (default 2); it is set "
                       "again only when lbx.info shows it up and not set."));
    line.addTargets();
    line.addOption({QStringLiteral("baud"),
        QStringLiteral("Baud rate: 4800, 9600, 19200, 38400 or 115200."), QStringLiteral("N")});
    line.addOption({QStringLiteral("plugin"),
        QStringLiteral("Protocol plug-in: %1 (the empty name is \"other\"); left out, the "
                       "converter keeps its own.")
            .arg(pluginNames().join(QStringLiteral(", "))),
        QStringLiteral("NAME")});
    line.addWaitOptions(defaultWaitSeconds);
}

int run(CommandLine &line)
{
    if (!line.isSet(QStringLiteral("baud")))
        refuse(QStringLiteral("set needs --baud"));
    bool ok = false;
    const QString baudText = line.value(QStringLiteral("baud"));
    const int baud = baudText.toInt(&ok);
    if (!ok
        || std::find(std::begin(Protocol::baudRates), std::end(Protocol::baudRates), baud)
            == std::end(Protocol::baudRates))
        refuse(QStringLiteral(
            "unknown baud rate \"%1\": a converter takes 4800, 9600, 19200, 38400 or 115200")
                   .arg(Output::escaped(baudText)));
    const Protocol::PluginTable table = Protocol::pluginTable();
    const bool withPlugin = line.isSet(QStringLiteral("plugin"));
    const QString plugin = line.value(QStringLiteral("plugin"));
    if (withPlugin && !table.contains(plugin))
        refuse(QStringLiteral("unknown plug-in \"%1\": a converter takes %2")
                   .arg(Output::escaped(plugin), pluginNames().join(QStringLiteral(", "))));

    Client::Command command;
    command.request = Protocol::datagram(
        Protocol::setRequest(QString::number(baud), withPlugin ? table.value(plugin) : -1, table));
    command.expected = Protocol::Reply::Set;
    command.changesState = true;
    command.alreadySo = [=](const QJsonObject &record) {
        return Protocol::baudText(record) == QString::number(baud)
            && (!withPlugin || record.value(QStringLiteral("pluginName")).toString() == plugin);
    };
    const WaitSpec wait{defaultWaitSeconds, false, [=](const QJsonObject &) {
                            return settingsJudge(baud, plugin, withPlugin);
                        }};
    return sendToTargets(line, command, &wait);
}

} // namespace Set

const CommandEntry setCommand{
    "set", "Sets baud rate and protocol plug-in of the targets.", Set::addOptions, Set::run};
