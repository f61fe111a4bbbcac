// lbxctl discover: every converter that answers a search, as a table or JSON.

#include "commandline.h"
#include "commands.h"
#include "output.h"
#include "roster.h"

#include <QJsonObject>

namespace {

QString pluginCaption(const QJsonObject &record)
{
    const int index
        = Protocol::pluginIndex(record, Protocol::pluginTable(), int(std::size(Protocol::plugins)));
    return QString::fromUtf8(Protocol::plugins[index].caption);
}

void printJson(const QList<Converter> &converters)
{
    for (const Converter &converter : converters) {
        QJsonObject line = converter.record;
        line.insert(QStringLiteral("caption"), pluginCaption(converter.record));
        if (converter.sharedUuid)
            line.insert(QStringLiteral("sharedUuid"), true);
        Output::json(line);
    }
}

void printTable(const QList<Converter> &converters)
{
    const QString row = QStringLiteral("%1  %2  %3  %4  %5  %6  %7%8");
    int uuidWidth = 4;
    for (const Converter &converter : converters)
        uuidWidth = qMax(uuidWidth, Output::field(converter.uuid).size());
    Output::line(row.arg(QStringLiteral("UUID"), -uuidWidth)
                     .arg(QStringLiteral("IP"), -15)
                     .arg(QStringLiteral("APP"), -7)
                     .arg(QStringLiteral("ROM"), -10)
                     .arg(QStringLiteral("BAUD"), 6)
                     .arg(QStringLiteral("PLUGIN"), -9)
                     .arg(QStringLiteral("CAPTION"), QString()));
    for (const Converter &converter : converters) {
        const QJsonObject &record = converter.record;
        Output::line(
            row.arg(Output::field(converter.uuid), -uuidWidth)
                .arg(Protocol::ipText(record), -15)
                .arg(Output::field(Protocol::appVersionText(record)), -7)
                .arg(Output::field(record.value(QStringLiteral("romVersion")).toString()), -10)
                .arg(Protocol::baudText(record), 6)
                .arg(Output::field(record.value(QStringLiteral("pluginName")).toString()), -9)
                .arg(pluginCaption(record),
                    converter.sharedUuid ? QStringLiteral("  (uuid also at another address)")
                                         : QString()));
    }
}

} // namespace

namespace Discover {

void addOptions(CommandLine &line)
{
    line.addExchangeOptions(
        0, QStringLiteral("Searches this many more times and merges the answers (default 0)."));
    line.addOption({QStringLiteral("format"),
        QStringLiteral("table, json (as --json) or csv (UTF-8, for a spreadsheet)."),
        QStringLiteral("FORMAT"), QStringLiteral("table")});
    line.addOption({QStringLiteral("save"),
        QStringLiteral("Saves the converters found, when, from which computer and through which "
                       "adapters, as a roster for lbxctl check."),
        QStringLiteral("ROSTER.json")});
}

int run(CommandLine &line)
{
    const Client::Options options = line.clientOptions();
    QString format = line.value(QStringLiteral("format"));
    if (line.json())
        format = QStringLiteral("json");
    if (format != QLatin1String("table") && format != QLatin1String("json")
        && format != QLatin1String("csv"))
        refuse(QStringLiteral("--format takes table, json or csv, not \"%1\"")
                   .arg(Output::escaped(format)));
    Client client(options);
    QString error;
    if (!client.open(&error))
        refuse(error);
    const QList<Converter> found = client.discover(options.retries);
    if (format == QLatin1String("json"))
        printJson(found);
    else if (format == QLatin1String("csv"))
        Output::raw(rosterCsv(found));
    else
        printTable(found);
    int status = found.isEmpty() ? SomeFailed : Succeeded;
    if (line.isSet(QStringLiteral("save"))) {
        if (!saveRoster(rosterOf(found, client.searchDestinations()),
                line.value(QStringLiteral("save")), &error)) {
            Output::note(error);
            status = SomeFailed;
        }
    }
    if (found.isEmpty())
        Output::note(QStringLiteral("no converter answered"));
    const qint64 dropped = client.droppedDatagrams();
    if (dropped > 0) {
        Output::note(QStringLiteral("the system dropped %1 replies for want of receive buffer: "
                                    "the list may be incomplete (search again, or raise "
                                    "net.core.rmem_max, for example sysctl -w "
                                    "net.core.rmem_max=4194304)")
                         .arg(dropped));
        status = SomeFailed;
    }
    if (Client::interrupted()) {
        Output::note(QStringLiteral("interrupted: the list holds the converters found so far"));
        status = Interrupted;
    }
    return Output::finish(status);
}

} // namespace Discover

const CommandEntry discoverCommand{
    "discover", "Lists the converters that answer a search.", Discover::addOptions, Discover::run};
