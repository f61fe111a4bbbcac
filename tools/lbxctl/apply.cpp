// lbxctl apply PLAN: a whole site set up from one file. The plan is the
// spreadsheet a site keeps (CSV with the header uuid,baud,plugin) or JSON lines
// of the same members; the converters that differ from it are set, all at once,
// and each is confirmed by what it reports once it is back.

#include "commandline.h"
#include "commands.h"
#include "output.h"
#include "targets.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <iterator>

namespace {

constexpr int defaultWaitSeconds = 60;

struct Row
{
    int line = 0;
    QString uuid;
    int baud = 0;
    QString plugin; // empty: the converter keeps its own
};

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

QString checkRow(Row &row, const QString &baudText)
{
    bool ok = false;
    row.baud = baudText.trimmed().toInt(&ok);
    if (row.uuid.isEmpty())
        return QStringLiteral("no uuid");
    if (!ok
        || std::find(std::begin(Protocol::baudRates), std::end(Protocol::baudRates), row.baud)
            == std::end(Protocol::baudRates))
        return QStringLiteral("unknown baud rate \"%1\" (4800, 9600, 19200, 38400 or 115200)")
            .arg(Output::escaped(baudText));
    if (!row.plugin.isEmpty() && !Protocol::pluginTable().contains(row.plugin))
        return QStringLiteral("unknown plug-in \"%1\" (OvUdp485, OvCom485, OvTcp485, Net485, or "
                              "empty to keep the converter's own)")
            .arg(Output::escaped(row.plugin));
    return {};
}

// The rows of a plan, or refuse() with every bad line's number.
QList<Row> readPlan(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        refuse(QStringLiteral("cannot read the plan %1: %2").arg(path, file.errorString()));
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xfeff))) // spreadsheets write a byte-order mark
        text.remove(0, 1);
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    const bool jsonLines = text.trimmed().startsWith(QLatin1Char('{'));

    QList<Row> rows;
    QStringList errors;
    auto bad = [&](int number, const QString &why) {
        errors.append(QStringLiteral("%1 line %2: %3").arg(path).arg(number).arg(why));
    };
    int uuidColumn = -1;
    int baudColumn = -1;
    int pluginColumn = -1;
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        if (lines.at(i).trimmed().isEmpty())
            continue;
        Row row;
        row.line = number;
        QString baudText;
        if (jsonLines) {
            QJsonParseError error{};
            const QJsonDocument document = QJsonDocument::fromJson(lines.at(i).toUtf8(), &error);
            if (!document.isObject()) {
                bad(number, QStringLiteral("not a JSON object"));
                continue;
            }
            const QJsonObject object = document.object();
            const QJsonValue baud = object.value(QStringLiteral("baud"));
            row.uuid = object.value(QStringLiteral("uuid")).toString();
            baudText = baud.isDouble() ? QString::number(baud.toDouble()) : baud.toString();
            row.plugin = object.value(QStringLiteral("plugin")).toString();
        } else {
            QStringList fields;
            if (!csvFields(lines.at(i), &fields)) {
                bad(number, QStringLiteral("a quote is not closed"));
                continue;
            }
            if (uuidColumn < 0) {
                for (int f = 0; f < fields.size(); ++f) {
                    const QString name = fields.at(f).toLower();
                    if (name == QLatin1String("uuid"))
                        uuidColumn = f;
                    else if (name == QLatin1String("baud"))
                        baudColumn = f;
                    else if (name == QLatin1String("plugin"))
                        pluginColumn = f;
                }
                if (uuidColumn < 0 || baudColumn < 0 || pluginColumn < 0) {
                    bad(number,
                        QStringLiteral("the header must name the columns uuid, baud and "
                                       "plugin"));
                    break;
                }
                continue;
            }
            row.uuid = fields.value(uuidColumn);
            baudText = fields.value(baudColumn);
            row.plugin = fields.value(pluginColumn);
        }
        const QString why = checkRow(row, baudText);
        if (!why.isEmpty()) {
            bad(number, why);
            continue;
        }
        const auto twice = std::find_if(rows.cbegin(), rows.cend(), [&](const Row &other) {
            return other.uuid == row.uuid;
        });
        if (twice != rows.cend()) {
            bad(number,
                QStringLiteral("the uuid \"%1\" is also on line %2")
                    .arg(Output::escaped(row.uuid))
                    .arg(twice->line));
            continue;
        }
        rows.append(row);
    }
    if (!errors.isEmpty())
        refuse(errors.join(QLatin1Char('\n')) + QStringLiteral("\nnothing was sent"));
    if (rows.isEmpty())
        refuse(QStringLiteral("%1 holds no converter").arg(path));
    return rows;
}

QString plannedText(const Row &row)
{
    return row.plugin.isEmpty() ? QString::number(row.baud)
                                : QStringLiteral("%1 %2").arg(row.baud).arg(row.plugin);
}

bool asPlanned(const Row &row, const QJsonObject &record)
{
    return Protocol::baudText(record) == QString::number(row.baud)
        && (row.plugin.isEmpty()
            || record.value(QStringLiteral("pluginName")).toString() == row.plugin);
}

QJsonObject planObject(const QString &kind, const QString &uuid, const QHostAddress &address,
    const Row *row, const QJsonObject &record)
{
    QJsonObject object{{QStringLiteral("command"), QStringLiteral("apply")},
        {QStringLiteral("plan"), kind}, {QStringLiteral("uuid"), uuid},
        {QStringLiteral("ip"), address.isNull() ? QJsonValue() : address.toString()}};
    if (row) {
        object.insert(QStringLiteral("line"), row->line);
        object.insert(QStringLiteral("baud"), row->baud);
        object.insert(QStringLiteral("plugin"), row->plugin);
    }
    if (!record.isEmpty())
        object.insert(QStringLiteral("before"), record);
    return object;
}

} // namespace

namespace Apply {

void addOptions(CommandLine &line)
{
    line.addExchangeOptions(2,
        QStringLiteral("Asks a silent converter this many more times (default 2); it is set "
                       "again only when lbx.info shows it up and not set."));
    line.addWaitOptions(defaultWaitSeconds);
    line.addOption({QStringLiteral("dry-run"),
        QStringLiteral("Prints the plan of change and sends nothing but the search.")});
    line.addArgument(QStringLiteral("PLAN"),
        QStringLiteral("CSV with the header uuid,baud,plugin (an empty plugin keeps the "
                       "converter's own), or JSON lines with those members."));
}

int run(CommandLine &line)
{
    const QStringList arguments = line.targets();
    if (arguments.size() != 1)
        refuse(QStringLiteral("apply takes one plan file; see \"lbxctl apply --help\""));
    const QList<Row> plan = readPlan(arguments.constFirst());
    const Client::Options options = line.clientOptions();
    const int waitMs = line.waitTimeoutMs(defaultWaitSeconds);

    Client client(options);
    QString error;
    if (!client.open(&error))
        refuse(error);
    const QList<Converter> found = client.discover();
    if (Client::interrupted()) {
        Output::note(QStringLiteral("interrupted during the search; nothing was sent"));
        return Interrupted;
    }

    Reporter reporter(line.command, line.json(), found);
    QList<Client::Order> orders;
    QHash<quint32, const Row *> rowAt;
    QHash<quint32, QJsonObject> before;
    int unchanged = 0;
    int missing = 0;
    QSet<QString> planned;
    for (const Row &row : plan) {
        planned.insert(row.uuid);
        QList<const Converter *> matches;
        for (const Converter &converter : found) {
            if (converter.uuid == row.uuid)
                matches.append(&converter);
        }
        if (matches.isEmpty()) {
            ++missing;
            reporter.plan({}, row.uuid, QStringLiteral("missing: in the plan, did not answer"),
                planObject(QStringLiteral("missing"), row.uuid, {}, &row, {}));
            continue;
        }
        if (matches.size() > 1) {
            ++missing;
            QStringList at;
            for (const Converter *converter : qAsConst(matches))
                at.append(converter->address.toString());
            reporter.plan({}, row.uuid,
                QStringLiteral("ambiguous: answered from %1; not set")
                    .arg(at.join(QStringLiteral(", "))),
                planObject(QStringLiteral("ambiguous"), row.uuid, {}, &row, {}));
            continue;
        }
        const Converter &converter = *matches.constFirst();
        if (asPlanned(row, converter.record)) {
            ++unchanged;
            reporter.plan(converter.address, row.uuid, QStringLiteral("unchanged"),
                planObject(QStringLiteral("unchanged"), row.uuid, converter.address, &row,
                    converter.record));
            continue;
        }
        reporter.plan(converter.address, row.uuid,
            QStringLiteral("set %1 -> %2").arg(settingsText(converter.record), plannedText(row)),
            planObject(QStringLiteral("set"), row.uuid, converter.address, &row, converter.record));
        const Protocol::PluginTable table = Protocol::pluginTable();
        Client::Command command{Protocol::datagram(Protocol::setRequest(QString::number(row.baud),
                                    row.plugin.isEmpty() ? -1 : table.value(row.plugin), table)),
            Protocol::Reply::Set, true, [&row](const QJsonObject &record) {
                return asPlanned(row, record);
            }};
        orders.append({converter.address, command});
        rowAt.insert(converter.address.toIPv4Address(), &row);
        before.insert(converter.address.toIPv4Address(), converter.record);
    }
    for (const Converter &converter : found) {
        if (!planned.contains(converter.uuid))
            reporter.plan(converter.address, converter.uuid, QStringLiteral("not in plan"),
                planObject(QStringLiteral("not-in-plan"), converter.uuid, converter.address,
                    nullptr, converter.record));
    }
    if (missing > 0)
        reporter.fail(SomeFailed);

    if (line.isSet(QStringLiteral("dry-run")) || orders.isEmpty()) {
        if (orders.isEmpty())
            Output::note(QStringLiteral("nothing to change: %1 of %2 converters in the plan are "
                                        "as planned")
                             .arg(unchanged)
                             .arg(plan.size()));
        else
            Output::note(QStringLiteral("dry run: %1 to set, %2 unchanged, %3 missing; nothing "
                                        "was sent")
                             .arg(orders.size())
                             .arg(unchanged)
                             .arg(missing));
        return Output::finish(
            line.isSet(QStringLiteral("dry-run")) ? Succeeded : reporter.status());
    }

    const int confirmed
        = sendAndConfirm(client, orders, waitMs, before, reporter, [&](const Answer &answer) {
              const Row &row = *rowAt.value(answer.address.toIPv4Address());
              return Watch{answer.address, row.uuid, false,
                  settingsJudge(row.baud, row.plugin, !row.plugin.isEmpty())};
          });
    Output::note(QStringLiteral("%1 set, %2 confirmed, %3 unchanged, %4 missing; %5 datagrams "
                                "sent")
                     .arg(orders.size())
                     .arg(confirmed)
                     .arg(unchanged)
                     .arg(missing)
                     .arg(client.sentCount()));
    warnOfDrops(client);
    return Output::finish(reporter.status());
}

} // namespace Apply

const CommandEntry applyCommand{"apply",
    "Sets a whole site from a plan file, and confirms each change.", Apply::addOptions, Apply::run};
