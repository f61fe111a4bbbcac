// lbxctl discover: every converter that answers a search, as a table or JSON.

#include "commands.h"
#include "outcome.h"
#include "output.h"
#include "roster.h"
#include "session.h"
#include "translation.h"

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
    // Heads in the user's language, padded to the columns as a terminal shows them.
    Output::line(QStringList{Output::padded(Text::tr("UUID"), uuidWidth),
        Output::padded(Text::tr("IP"), 15), Output::padded(Text::tr("APP"), 7),
        Output::padded(Text::tr("ROM"), 10), Output::padded(Text::tr("BAUD"), -6),
        Output::padded(Text::tr("PLUGIN"), 9), Text::tr("CAPTION")}
                     .join(QStringLiteral("  ")));
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
                    converter.sharedUuid ? Text::tr("  (uuid also at another address)")
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
        why = Text::tr("no converter answered");
    else if (Client::interrupted())
        why = Text::tr("the search was interrupted");
    else if (session.client().droppedDatagrams() > 0)
        why = Text::tr("the system dropped answers");
    if (!why.isEmpty()) {
        Output::note(Text::tr("%1: %2 is left as it was").arg(why, path));
        return SomeFailed;
    }
    QString error;
    if (saveRoster(rosterOf(found, session.client().searchedText()), path, &error))
        return Succeeded;
    Output::note(error);
    return OutputFailed;
}

} // namespace

namespace Discover {

void addOptions(CommandLine &line)
{
    line.addSearchOptions();
    line.addFormatOption(Text::tr("table, json (as --json) or csv (UTF-8, for a spreadsheet)."));
    line.addOption({QStringLiteral("save"),
        Text::tr("Saves the converters found, when, from which computer and through which "
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
        Output::note(Text::tr("no converter answered"));
    if (session.client().droppedDatagrams() > 0) {
        warnOfDrops(session.client(), Text::tr("the list may be incomplete; search again"));
        status = SomeFailed;
    }
    if (Client::interrupted()) {
        Output::note(Text::tr("interrupted: the list holds the converters found so far"));
        status = Interrupted;
    }
    return Output::finish(status);
}

} // namespace Discover

const CommandEntry discoverCommand{"discover",
    QT_TRANSLATE_NOOP("lbxctl", "Lists the converters that answer a search."), "[--save ROSTER]",
    Discover::addOptions, Discover::run};
