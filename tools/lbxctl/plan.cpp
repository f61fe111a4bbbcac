#include "plan.h"

#include "output.h"
#include "translation.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QVector>

namespace {

// One CSV record as RFC 4180 reads it: commas separate, double quotes enclose
// (line breaks too, as spreadsheets write notes), "" is a quote. Fields are
// trimmed.
struct CsvRecord
{
    int line = 1; // where it starts
    QStringList fields;
    bool closed = true; // false: a quote is still open at the end of the text
};

QList<CsvRecord> csvRecords(const QString &text)
{
    QList<CsvRecord> records;
    CsvRecord record;
    QString field;
    bool quoted = false;
    int line = 1;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (c == QLatin1Char('\n'))
            ++line;
        if (quoted && c == QLatin1Char('"') && next == QLatin1Char('"')) {
            field += c;
            ++i;
        } else if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (quoted
            || (c != QLatin1Char(',') && c != QLatin1Char('\n') && c != QLatin1Char('\r'))) {
            field += c;
        } else if (c != QLatin1Char('\r') || next != QLatin1Char('\n')) {
            record.fields.append(field.trimmed());
            field.clear();
            if (c != QLatin1Char(',')) {
                records.append(record);
                record = {line, {}, true};
            }
        }
    }
    record.fields.append(field.trimmed());
    record.closed = !quoted;
    records.append(record);
    return records;
}

// A row's members as text, before they are checked.
struct RowText
{
    QString uuid;
    QString baud;
    QString plugin;
    QJsonValue uuidValue = QJsonValue::Undefined; // a JSON line's number
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
    PlanRow row{line, text.uuid, text.uuidValue, {}, false, {}};
    bool ok = false;
    row.settings.baud = text.baud.trimmed().toInt(&ok);
    if (!text.plugin.isEmpty())
        row.settings.pluginName = text.plugin;
    if (row.uuid.isEmpty())
        *why = Text::tr("no uuid");
    else if (!ok || !Protocol::isBaudRate(row.settings.baud))
        *why = Text::tr("unknown baud rate \"%1\" (%2)")
                   .arg(Output::escaped(text.baud), baudRatesShown());
    else if (!text.plugin.isEmpty() && !Protocol::pluginNames().contains(text.plugin))
        *why = Text::tr("unknown plug-in \"%1\" (%2, or empty to keep the converter's own)")
                   .arg(Output::escaped(text.plugin), knownPluginsText());
    return why->isEmpty() ? std::optional<PlanRow>(row) : std::nullopt;
}

// Reads a plan line by line; the CSV header names the columns.
class PlanReader
{
public:
    void readJson(int line, const QString &text);
    // False once the plan cannot be read further.
    bool readCsv(const CsvRecord &record);
    PlanReading reading;

private:
    bool rowFromJson(const QString &text, RowText *row, QString *why) const;
    bool rowFromCsv(const CsvRecord &record, RowText *row, QString *why);
    void read(int line, bool complete, const RowText &row, QString why);
    void add(const PlanRow &row);

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
    const QJsonObject object = document.object();
    const QJsonValue uuid = object.value(QStringLiteral("uuid"));
    const QJsonValue baud = object.value(QStringLiteral("baud"));
    const QJsonValue plugin = object.value(QStringLiteral("plugin"));
    if (!document.isObject())
        *why = Text::tr("not a JSON object");
    else if (!uuid.isString() && !uuid.isDouble() && !uuid.isUndefined())
        *why = Text::tr("the uuid is neither text nor a number");
    else if (!baud.isDouble() && !baud.isString() && !baud.isUndefined())
        *why = Text::tr("the baud rate is neither a number nor text");
    else if (!plugin.isString() && !plugin.isNull() && !plugin.isUndefined())
        *why = Text::tr("the plug-in is not text");
    *row = {uuidName(uuid), baud.isDouble() ? QString::number(baud.toDouble()) : baud.toString(),
        plugin.toString(), uuid.isDouble() ? uuid : QJsonValue(QJsonValue::Undefined)};
    return why->isEmpty();
}

bool PlanReader::rowFromCsv(const CsvRecord &record, RowText *row, QString *why)
{
    const QStringList &fields = record.fields;
    if (!record.closed) {
        *why = Text::tr("a quote is not closed");
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
        *why = Text::tr("the header must name the columns uuid, baud and plugin");
        // Without them the rest cannot be read.
        unreadable = true;
    }
    return false;
}

void PlanReader::add(const PlanRow &row)
{
    const auto twice = lineOfUuid.constFind(row.uuid);
    if (twice != lineOfUuid.constEnd()) {
        reading.errors.append(Text::tr("line %1: the uuid \"%2\" is also on line %3")
                                  .arg(QString::number(row.line), Output::escaped(row.uuid),
                                      QString::number(*twice)));
        return;
    }
    lineOfUuid.insert(row.uuid, row.line);
    reading.rows.append(row);
}

void PlanReader::read(int line, bool complete, const RowText &row, QString why)
{
    if (complete) {
        if (const std::optional<PlanRow> checked = checkedRow(line, row, &why))
            add(*checked);
    }
    if (!why.isEmpty())
        reading.errors.append(Text::tr("line %1: %2").arg(QString::number(line), why));
}

void PlanReader::readJson(int line, const QString &text)
{
    RowText row;
    QString why;
    const bool complete = rowFromJson(text, &row, &why);
    read(line, complete, row, why);
}

bool PlanReader::readCsv(const CsvRecord &record)
{
    RowText row;
    QString why;
    const bool complete = rowFromCsv(record, &row, &why);
    read(record.line, complete, row, why);
    return !unreadable;
}

} // namespace

namespace {

// Why a roster's converter cannot be told apart from the others: no uuid, or
// one that another converter of the roster reports too.
QString unidentified(const QJsonArray &converters, int i)
{
    const QJsonValue uuid = converters.at(i).toObject().value(QLatin1String("uuid"));
    if (uuid.isUndefined() || uuid.isNull() || uuid == QJsonValue(QString()))
        return Text::tr("it reported no uuid, so it cannot be told apart from others");
    for (int other = 0; other < converters.size(); ++other) {
        if (other != i && converters.at(other).toObject().value(QLatin1String("uuid")) == uuid)
            return Text::tr("its uuid is also that of converter %1, so they cannot be told "
                            "apart")
                .arg(other + 1);
    }
    return {};
}

// A roster's converter as a row that puts back exactly what it reported: its
// baud rate, and its plug-in whatever its name (the empty one too), where it
// reported one.
PlanRow restoringRow(const QJsonArray &converters, int i)
{
    const QJsonObject record = converters.at(i).toObject();
    const QJsonValue uuid = record.value(QLatin1String("uuid"));
    const QJsonValue baud = record.value(QLatin1String("baud"));
    const QJsonValue plugin = record.value(QLatin1String("pluginName"));
    PlanRow row{i + 1, uuidName(uuid), uuid, {}, !plugin.isString(), {}};
    row.settings.baud = baud.toInt();
    if (plugin.isString())
        row.settings.pluginName = plugin.toString();
    row.unrestorable = converters.at(i).isObject() ? unidentified(converters, i)
                                                   : Text::tr("it is no converter's record");
    const bool wholeBaud = baud.isDouble() && baud.toDouble() == row.settings.baud;
    if (row.unrestorable.isEmpty() && (!wholeBaud || row.settings.baud <= 0))
        row.unrestorable = Text::tr("it reported no baud rate that can be put back");
    return row;
}

} // namespace

PlanReading readPlan(const QString &text)
{
    QString plan = text;
    if (plan.startsWith(QChar(0xfeff))) // spreadsheets write a byte-order mark
        plan.remove(0, 1);
    // A roster (discover --save, apply --backup) puts back the settings it holds.
    const QJsonObject whole = QJsonDocument::fromJson(plan.toUtf8()).object();
    if (whole.value(QLatin1String("converters")).isArray()) {
        const QJsonArray converters = whole.value(QLatin1String("converters")).toArray();
        PlanReading reading;
        for (int i = 0; i < converters.size(); ++i)
            reading.rows.append(restoringRow(converters, i));
        return reading;
    }
    const bool jsonLines = plan.trimmed().startsWith(QLatin1Char('{'));
    PlanReader reader;
    if (jsonLines) {
        const QStringList lines = plan.split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); ++i) {
            if (!lines.at(i).trimmed().isEmpty())
                reader.readJson(i + 1, lines.at(i).trimmed());
        }
        return reader.reading;
    }
    const QList<CsvRecord> records = csvRecords(plan);
    for (const CsvRecord &record : records) {
        const bool blank = record.fields.size() == 1 && record.fields.constFirst().isEmpty();
        if (!blank && !reader.readCsv(record))
            break;
    }
    return reader.reading;
}

namespace {

// Whether a row names the converter: by the exact uuid a roster or a JSON line
// gives, otherwise by its name.
bool names(const PlanRow &row, const FoundConverter &converter)
{
    return row.uuidValue.isUndefined() ? converter.uuid == row.uuid
                                       : converter.uuidValue() == row.uuidValue;
}

} // namespace

QList<PlanStep> comparePlan(const QList<PlanRow> &rows, const QList<FoundConverter> &found)
{
    QHash<quint32, QList<FoundConverter>> byAddress;
    for (const FoundConverter &converter : found)
        byAddress[converter.address.toIPv4Address()].append(converter);
    QList<PlanStep> steps;
    QVector<bool> planned(found.size(), false);
    QList<FoundConverter> matches;
    for (const PlanRow &row : rows) {
        matches.clear();
        for (int i = 0; i < found.size(); ++i) {
            if (names(row, found.at(i))) {
                planned[i] = true;
                matches.append(found.at(i));
            }
        }
        // Where its address answers as other uuids too, a setting sent there sets them all.
        const QList<FoundConverter> sharing = matches.size() == 1
            ? byAddress.value(matches.constFirst().address.toIPv4Address())
            : QList<FoundConverter>();
        PlanStep::Kind kind = PlanStep::Set;
        if (!row.unrestorable.isEmpty()) {
            kind = PlanStep::Unrestorable;
            matches.clear();
        } else if (matches.isEmpty()) {
            kind = PlanStep::Missing;
        } else if (matches.size() > 1) {
            kind = PlanStep::Ambiguous;
        } else if (sharing.size() > 1) {
            kind = PlanStep::Ambiguous;
            matches = sharing;
        } else if (Protocol::showsSettings(matches.constFirst().record, row.settings)) {
            kind = PlanStep::Unchanged;
        }
        steps.append({kind, row, matches});
    }
    for (int i = 0; i < found.size(); ++i) {
        if (!planned.at(i))
            steps.append({PlanStep::NotInPlan, std::nullopt, {found.at(i)}});
    }
    return steps;
}

QString plannedText(const Protocol::Settings &settings)
{
    return settings.pluginName
        ? QStringLiteral("%1 %2").arg(settings.baud).arg(Output::field(*settings.pluginName))
        : QString::number(settings.baud);
}
