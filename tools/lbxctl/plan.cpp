#include "plan.h"

#include "output.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace {

// Fields of one CSV line: commas separate, double quotes enclose, "" is a quote.
bool csvFields(const QString &text, QStringList *fields)
{
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"'))
                field += c, ++i;
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields->append(field.trimmed());
            field.clear();
        } else {
            field += c;
        }
    }
    fields->append(field.trimmed());
    return !quoted;
}

// A row's members as text, before they are checked.
struct RowText
{
    QString uuid;
    QString baud;
    QString plugin;
};

QString knownPluginsText()
{
    QStringList names = Protocol::pluginNames();
    names.removeAll(QString());
    return names.join(QStringLiteral(", "));
}

// The row, or why it is wrong.
std::optional<PlanRow> checkedRow(int line, const RowText &text, QString *why)
{
    PlanRow row{line, text.uuid, {}};
    bool ok = false;
    row.settings.baud = text.baud.trimmed().toInt(&ok);
    if (!text.plugin.isEmpty())
        row.settings.pluginName = text.plugin;
    if (row.uuid.isEmpty())
        *why = QStringLiteral("no uuid");
    else if (!ok || !Protocol::isBaudRate(row.settings.baud))
        *why = QStringLiteral("unknown baud rate \"%1\" (%2)")
                   .arg(Output::escaped(text.baud), Protocol::baudRatesText());
    else if (!text.plugin.isEmpty() && !Protocol::pluginNames().contains(text.plugin))
        *why = QStringLiteral("unknown plug-in \"%1\" (%2, or empty to keep the converter's own)")
                   .arg(Output::escaped(text.plugin), knownPluginsText());
    return why->isEmpty() ? std::optional<PlanRow>(row) : std::nullopt;
}

// Reads a plan line by line; the CSV header names the columns.
class PlanReader
{
public:
    explicit PlanReader(bool jsonLines)
        : jsonLines(jsonLines)
    {
    }
    // False once the plan cannot be read further.
    bool read(int line, const QString &text);
    PlanReading reading;

private:
    bool rowFromJson(const QString &text, RowText *row, QString *why) const;
    bool rowFromCsv(const QString &text, RowText *row, QString *why);
    void add(const PlanRow &row);

    const bool jsonLines;
    int uuidColumn = -1;
    int baudColumn = -1;
    int pluginColumn = -1;
    bool headerRead = false;
    bool unreadable = false;
    QHash<QString, int> lineOfUuid;
};

bool PlanReader::rowFromJson(const QString &text, RowText *row, QString *why) const
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (!document.isObject()) {
        *why = QStringLiteral("not a JSON object");
        return false;
    }
    const QJsonObject object = document.object();
    const QJsonValue baud = object.value(QStringLiteral("baud"));
    row->uuid = object.value(QStringLiteral("uuid")).toString();
    row->baud = baud.isDouble() ? QString::number(baud.toDouble()) : baud.toString();
    row->plugin = object.value(QStringLiteral("plugin")).toString();
    return true;
}

bool PlanReader::rowFromCsv(const QString &text, RowText *row, QString *why)
{
    QStringList fields;
    if (!csvFields(text, &fields)) {
        *why = QStringLiteral("a quote is not closed");
        return false;
    }
    if (headerRead) {
        *row = {fields.value(uuidColumn), fields.value(baudColumn), fields.value(pluginColumn)};
        return true;
    }
    for (int column = 0; column < fields.size(); ++column) {
        const QString name = fields.at(column).toLower();
        if (name == QLatin1String("uuid"))
            uuidColumn = column;
        else if (name == QLatin1String("baud"))
            baudColumn = column;
        else if (name == QLatin1String("plugin"))
            pluginColumn = column;
    }
    headerRead = true;
    if (uuidColumn < 0 || baudColumn < 0 || pluginColumn < 0) {
        *why = QStringLiteral("the header must name the columns uuid, baud and plugin");
        // Without them the rest cannot be read.
        unreadable = true;
    }
    return false;
}

void PlanReader::add(const PlanRow &row)
{
    const auto twice = lineOfUuid.constFind(row.uuid);
    if (twice != lineOfUuid.constEnd()) {
        reading.errors.append(QStringLiteral("line %1: the uuid \"%2\" is also on line %3")
                                  .arg(row.line)
                                  .arg(Output::escaped(row.uuid))
                                  .arg(*twice));
        return;
    }
    lineOfUuid.insert(row.uuid, row.line);
    reading.rows.append(row);
}

bool PlanReader::read(int line, const QString &text)
{
    RowText row;
    QString why;
    const bool read = jsonLines ? rowFromJson(text, &row, &why) : rowFromCsv(text, &row, &why);
    if (read) {
        if (const std::optional<PlanRow> checked = checkedRow(line, row, &why))
            add(*checked);
    }
    if (!why.isEmpty())
        reading.errors.append(QStringLiteral("line %1: %2").arg(line).arg(why));
    return !unreadable;
}

} // namespace

PlanReading readPlan(const QString &text)
{
    QString plan = text;
    if (plan.startsWith(QChar(0xfeff))) // spreadsheets write a byte-order mark
        plan.remove(0, 1);
    const QStringList lines = plan.split(QLatin1Char('\n'));
    PlanReader reader(plan.trimmed().startsWith(QLatin1Char('{')));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (!line.trimmed().isEmpty() && !reader.read(i + 1, line))
            break;
    }
    return reader.reading;
}

QList<PlanStep> comparePlan(const QList<PlanRow> &rows, const QList<FoundConverter> &found)
{
    QHash<QString, QList<FoundConverter>> byUuid; // each in the order found
    for (const FoundConverter &converter : found)
        byUuid[converter.uuid].append(converter);
    QList<PlanStep> steps;
    QSet<QString> planned;
    for (const PlanRow &row : rows) {
        planned.insert(row.uuid);
        const QList<FoundConverter> matches = byUuid.value(row.uuid);
        PlanStep::Kind kind = PlanStep::Set;
        if (matches.isEmpty())
            kind = PlanStep::Missing;
        else if (matches.size() > 1)
            kind = PlanStep::Ambiguous;
        else if (Protocol::showsSettings(matches.constFirst().record, row.settings))
            kind = PlanStep::Unchanged;
        steps.append({kind, row, matches});
    }
    for (const FoundConverter &converter : found) {
        if (!planned.contains(converter.uuid))
            steps.append({PlanStep::NotInPlan, std::nullopt, {converter}});
    }
    return steps;
}

QString plannedText(const Protocol::Settings &settings)
{
    return settings.pluginName
        ? QStringLiteral("%1 %2").arg(settings.baud).arg(*settings.pluginName)
        : QString::number(settings.baud);
}
