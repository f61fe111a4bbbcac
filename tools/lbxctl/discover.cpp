// lbxctl discover: every converter that answers a search, as a table or JSON.

#include "commands.h"
#include "outcome.h"
#include "output.h"
#include "roster.h"
#include "session.h"

#include <QJsonObject>

namespace {

void printJson(const QList<FoundConverter> &converters)
{
    for (const FoundConverter &converter : converters) {
        QJsonObject line = converter.record;
        line.insert(QStringLiteral("caption"), Protocol::pluginCaption(converter.record));
        if (converter.sharedUuid)
            line.insert(QStringLiteral("sharedUuid"), true);
        Output::json(line);
    }
}

void printTable(const QList<FoundConverter> &converters)
{
    const QString row = QStringLiteral("%1  %2  %3  %4  %5  %6  %7%8");
    int uuidWidth = 4;
    for (const FoundConverter &converter : converters)
        uuidWidth = qMax(uuidWidth, Output::field(converter.uuid).size());
    Output::line(row.arg(QStringLiteral("UUID"), -uuidWidth)
                     .arg(QStringLiteral("IP"), -15)
                     .arg(QStringLiteral("APP"), -7)
                     .arg(QStringLiteral("ROM"), -10)
                     .arg(QStringLiteral("BAUD"), 6)
                     .arg(QStringLiteral("PLUGIN"), -9)
                     .arg(QStringLiteral("CAPTION"), QString()));
    for (const FoundConverter &converter : converters) {
        const QJsonObject &record = converter.record;
        Output::line(
            row.arg(Output::field(converter.uuid), -uuidWidth)
                .arg(Protocol::ipText(record), -15)
                .arg(Output::field(Protocol::appVersionText(record)), -7)
                .arg(Output::field(record.value(QStringLiteral("romVersion")).toString()), -10)
                .arg(Protocol::baudText(record), 6)
                .arg(Output::field(record.value(QStringLiteral("pluginName")).toString()), -9)
                .arg(Protocol::pluginCaption(record),
                    converter.sharedUuid ? QStringLiteral("  (uuid also at another address)")
                                         : QString()));
    }
}

// A roster only from a search that found converters and lost nothing: an
// empty, cut short or lossy one would replace a site's record with less.
int save(Session &session, const QList<FoundConverter> &found)
{
    const QString path = session.line.value(QStringLiteral("save"));
    QString why;
    if (found.isEmpty())
        why = QStringLiteral("no converter answered");
    else if (Client::interrupted())
        why = QStringLiteral("the search was interrupted");
    else if (session.client().droppedDatagrams() > 0)
        why = QStringLiteral("the system dropped answers");
    if (!why.isEmpty()) {
        Output::note(QStringLiteral("%1: %2 is left as it was").arg(why, path));
        return SomeFailed;
    }
    QString error;
    if (saveRoster(rosterOf(found, session.client().searchDestinations()), path, &error))
        return Succeeded;
    Output::note(error);
    return OutputFailed;
}

} // namespace

namespace Discover {

void addOptions(CommandLine &line)
{
    line.addSearchOptions();
    line.addFormatOption(
        QStringLiteral("table, json (as --json) or csv (UTF-8, for a spreadsheet)."));
    line.addOption({QStringLiteral("save"),
        QStringLiteral("Saves the converters found, when, from which computer and through which "
                       "adapters, as a roster for lbxctl check."),
        QStringLiteral("ROSTER.json")});
}

int run(Session &session)
{
    const CommandLine &line = session.line;
    const QString format
        = line.format({QStringLiteral("table"), QStringLiteral("json"), QStringLiteral("csv")});
    const QList<FoundConverter> found
        = session.search(session.options.retries, Session::OnInterrupt::KeepFound);
    if (format == QLatin1String("json"))
        printJson(found);
    else if (format == QLatin1String("csv"))
        Output::raw(rosterCsv(found));
    else
        printTable(found);
    int status = found.isEmpty() ? SomeFailed : Succeeded;
    if (line.isSet(QStringLiteral("save")))
        status = qMax(status, save(session, found));
    if (found.isEmpty())
        Output::note(QStringLiteral("no converter answered"));
    if (session.client().droppedDatagrams() > 0) {
        warnOfDrops(session.client(), QStringLiteral("the list may be incomplete; search again"));
        status = SomeFailed;
    }
    if (Client::interrupted()) {
        Output::note(QStringLiteral("interrupted: the list holds the converters found so far"));
        status = Interrupted;
    }
    return Output::finish(status);
}

} // namespace Discover

const CommandEntry discoverCommand{"discover", "Lists the converters that answer a search.",
    "[--save ROSTER]", Discover::addOptions, Discover::run};
