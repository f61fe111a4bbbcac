// lbxctl discover: every converter that answers a search, as a table or JSON.

#include "commands.h"
#include "outcome.h"
#include "output.h"
#include "roster.h"
#include "session.h"
#include "translation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <iterator>

namespace {

// A converter that answered from an address the search did not ask is listed
// with what was asked, and is no target until named by its address.
QByteArray jsonText(const QList<FoundConverter> &converters, const QStringList &searched)
{
    QByteArray text;
    for (const FoundConverter &converter : converters) {
        QJsonObject line = converter.record;
        line.insert(QStringLiteral("caption"), Protocol::pluginCaption(converter.record));
        if (converter.sharedUuid)
            line.insert(QStringLiteral("sharedUuid"), true);
        if (!converter.asked)
            line.insert(QStringLiteral("askedAt"), QJsonArray::fromStringList(searched));
        text += QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    }
    return text;
}

QByteArray tableText(const QList<FoundConverter> &converters, const QStringList &searched)
{
    QList<QStringList> rows{{Text::tr("UUID"), Text::tr("IP"), Text::tr("APP"), Text::tr("ROM"),
        Text::tr("BAUD"), Text::tr("PLUGIN"), Text::tr("CAPTION")}};
    for (const FoundConverter &converter : converters) {
        const QJsonObject &record = converter.record;
        rows.append({Output::field(converter.uuid), Protocol::ipText(record),
            Output::field(Protocol::appVersionText(record)),
            Output::field(record.value(QStringLiteral("romVersion")).toString()),
            Protocol::baudText(record),
            Output::field(record.value(QStringLiteral("pluginName")).toString()),
            Protocol::pluginCaption(record)
                + (converter.sharedUuid ? Text::tr("  (uuid also at another address)") : QString())
                + (converter.asked ? QString()
                                   : Text::tr("  (answered from an address not asked; asked: %1)")
                                         .arg(searched.join(QStringLiteral(", "))))});
    }
    // Each column as wide as its widest cell, its head included, as a terminal
    // counts them (a negative width aligns right); the caption as long as it is.
    int widths[] = {4, 15, 7, 10, -6, 9};
    for (const QStringList &row : qAsConst(rows)) {
        for (int i = 0; i < int(std::size(widths)); ++i)
            widths[i]
                = (widths[i] < 0 ? -1 : 1) * qMax(qAbs(widths[i]), Output::columns(row.at(i)));
    }
    QByteArray text;
    for (const QStringList &row : qAsConst(rows)) {
        QStringList line;
        for (int i = 0; i < int(std::size(widths)); ++i)
            line.append(Output::padded(row.at(i), widths[i]));
        text += Output::encoded(
            line.join(QStringLiteral("  ")) + QStringLiteral("  ") + row.constLast() + '\n');
    }
    return text;
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
    line.addOutputOption();
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
    const QString output = line.outputPath(); // refused before anything is sent
    const QList<FoundConverter> found
        = session.search(session.options.retries, Session::OnInterrupt::KeepFound);
    const QStringList searched = session.client().searchedText();
    const QByteArray text = format == QLatin1String("json") ? jsonText(found, searched)
        : format == QLatin1String("csv")                    ? rosterCsv(found)
                                                            : tableText(found, searched);
    int status = found.isEmpty() ? SomeFailed : Succeeded;
    if (!Output::deliver(output, text))
        status = OutputFailed;
    if (line.isSet(QStringLiteral("save")))
        status = qMax(status, save(session, found));
    if (found.isEmpty())
        Output::note(Text::tr("no converter answered"));
    if (session.client().droppedDatagrams() > 0) {
        warnOfDrops(session.client(), Text::tr("the list may be incomplete; search again"));
        status = qMax(status, int(SomeFailed));
    }
    if (Client::interrupted()) {
        Output::note(Text::tr("interrupted: the list holds the converters found so far"));
        status = Interrupted;
    }
    return Output::finish(status);
}

} // namespace Discover

const CommandEntry discoverCommand{"discover",
    QT_TRANSLATE_NOOP("lbxctl", "Lists the converters that answer a search."), "[--save ROSTER.json]", 0,
    0, Discover::addOptions, Discover::run};
