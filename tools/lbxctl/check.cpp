// lbxctl check ROSTER.json: what changed on a site since its roster was saved,
// one line per converter (missing, new, changed, duplicate, ok), as a table,
// JSON lines, or metrics in the Prometheus text format for node_exporter's
// textfile collector.

#include "commandline.h"
#include "commands.h"
#include "output.h"
#include "roster.h"
#include "targets.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonDocument>
#include <QSaveFile>
#include <QVector>

namespace {

// The members a roster keeps and check compares, and their metric labels.
struct Member
{
    const char *name;
    const char *label;
};
const Member members[] = {
    {"ip", "ip"},
    {"appVersion", "app_version"},
    {"romVersion", "rom_version"},
    {"baud", "baud"},
    {"pluginName", "plugin"},
};

QString memberText(const QJsonObject &record, const char *name)
{
    const QJsonValue value = record.value(QLatin1String(name));
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 15);
    return value.toString();
}

struct Finding
{
    QString kind; // missing, new, changed, duplicate, ok
    QString uuid;
    QString ip;
    QString detail;
    QJsonObject changes;
    QJsonObject record; // what the converter reports now; empty when missing
};

// A Prometheus label value: backslash, double quote and line feed escaped.
QString labelValue(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    out.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    out.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

QString metrics(const QList<Finding> &findings, int expected, int found, double seconds)
{
    QString text;
    text += QStringLiteral("# HELP lbx_converter_up 1 when the converter answered the check, 0 "
                           "when it did not.\n# TYPE lbx_converter_up gauge\n");
    for (const Finding &finding : findings) {
        text += QStringLiteral("lbx_converter_up{uuid=%1,ip=%2} %3\n")
                    .arg(labelValue(finding.uuid), labelValue(finding.ip),
                        finding.kind == QLatin1String("missing") ? QStringLiteral("0")
                                                                 : QStringLiteral("1"));
    }
    text += QStringLiteral("# HELP lbx_converter_info What the converter reports, as labels.\n"
                           "# TYPE lbx_converter_info gauge\n");
    for (const Finding &finding : findings) {
        if (finding.record.isEmpty())
            continue;
        QStringList labels{QStringLiteral("uuid=") + labelValue(finding.uuid)};
        for (const Member &member : members)
            labels.append(QString::fromLatin1(member.label) + QLatin1Char('=')
                + labelValue(memberText(finding.record, member.name)));
        text += QStringLiteral("lbx_converter_info{%1} 1\n").arg(labels.join(QLatin1Char(',')));
    }
    text += QStringLiteral(
        "# HELP lbx_converters_expected Converters the roster names, or --expect.\n"
        "# TYPE lbx_converters_expected gauge\nlbx_converters_expected %1\n"
        "# HELP lbx_converters_found Converters that answered the check.\n"
        "# TYPE lbx_converters_found gauge\nlbx_converters_found %2\n"
        "# HELP lbx_check_duration_seconds How long the check took.\n"
        "# TYPE lbx_check_duration_seconds gauge\nlbx_check_duration_seconds %3\n")
                .arg(expected)
                .arg(found)
                .arg(seconds, 0, 'f', 3);
    return text;
}

} // namespace

namespace Check {

void addOptions(CommandLine &line)
{
    line.addExchangeOptions(
        0, QStringLiteral("Searches this many more times and merges the answers (default 0)."));
    line.addArgument(QStringLiteral("ROSTER"),
        QStringLiteral("A roster saved by lbxctl discover --save; or --expect."));
    line.addOption({QStringLiteral("expect"),
        QStringLiteral("Without a roster: the number of converters that should answer."),
        QStringLiteral("N")});
    line.addOption({QStringLiteral("format"),
        QStringLiteral("table, json (as --json) or openmetrics (the Prometheus text format)."),
        QStringLiteral("FORMAT"), QStringLiteral("table")});
    line.addOption({QStringLiteral("output"),
        QStringLiteral("Writes the output to FILE, whole or not at all, instead of to "
                       "standard output."),
        QStringLiteral("FILE")});
}

int run(CommandLine &line)
{
    QElapsedTimer clock;
    clock.start();
    const QStringList arguments = line.targets();
    const bool expecting = line.isSet(QStringLiteral("expect"));
    if (arguments.size() > 1 || (arguments.isEmpty() == !expecting))
        refuse(QStringLiteral("check takes a roster or --expect N; see \"lbxctl check --help\""));
    QString format = line.json() ? QStringLiteral("json") : line.value(QStringLiteral("format"));
    if (format != QLatin1String("table") && format != QLatin1String("json")
        && format != QLatin1String("openmetrics"))
        refuse(QStringLiteral("--format takes table, json or openmetrics, not \"%1\"")
                   .arg(Output::escaped(format)));
    Roster roster;
    QString error;
    int expected = 0;
    if (expecting) {
        bool ok = false;
        expected = line.value(QStringLiteral("expect")).toInt(&ok);
        if (!ok || expected < 0)
            refuse(QStringLiteral("--expect takes a number of converters, not \"%1\"")
                       .arg(Output::escaped(line.value(QStringLiteral("expect")))));
    } else {
        if (!loadRoster(arguments.constFirst(), &roster, &error))
            refuse(error);
        expected = roster.converters.size();
    }

    const Client::Options options = line.clientOptions();
    Client client(options);
    if (!client.open(&error))
        refuse(error);
    const QList<Converter> found = client.discover(options.retries);
    if (Client::interrupted())
        return Interrupted;

    QHash<quint32, QStringList> uuidsAt;
    for (const Converter &converter : found)
        uuidsAt[converter.address.toIPv4Address()].append(converter.uuid);
    QList<Finding> findings;
    QVector<bool> matched(found.size(), false);
    for (const QJsonObject &before : qAsConst(roster.converters)) {
        const QString uuid = Protocol::uuidText(before);
        int at = -1;
        for (int i = 0; i < found.size(); ++i) {
            if (matched.at(i) || found.at(i).uuid != uuid)
                continue;
            if (at < 0 || Protocol::ipText(found.at(i).record) == Protocol::ipText(before))
                at = i;
        }
        if (at < 0) {
            findings.append({QStringLiteral("missing"), uuid, Protocol::ipText(before),
                QStringLiteral("in the roster, did not answer"), {}, {}});
            continue;
        }
        matched[at] = true;
        const QJsonObject &now = found.at(at).record;
        QStringList changed;
        QJsonObject changes;
        for (const Member &member : members) {
            const QString from = memberText(before, member.name);
            const QString to = memberText(now, member.name);
            if (from == to)
                continue;
            changed.append(
                QStringLiteral("%1 %2 -> %3")
                    .arg(QLatin1String(member.name), Output::field(from), Output::field(to)));
            changes.insert(QLatin1String(member.name),
                QJsonObject{{QStringLiteral("from"), from}, {QStringLiteral("to"), to}});
        }
        findings.append({changed.isEmpty() ? QStringLiteral("ok") : QStringLiteral("changed"), uuid,
            Protocol::ipText(now), changed.join(QStringLiteral(", ")), changes, now});
    }
    for (int i = 0; i < found.size(); ++i) {
        if (!matched.at(i))
            findings.append({expecting ? QStringLiteral("ok") : QStringLiteral("new"),
                found.at(i).uuid, Protocol::ipText(found.at(i).record),
                expecting ? QString() : QStringLiteral("answered, not in the roster"), {},
                found.at(i).record});
    }
    // One uuid at two addresses, or two uuids at one address.
    for (Finding &finding : findings) {
        if (finding.record.isEmpty())
            continue;
        QStringList why;
        for (const Converter &converter : found) {
            if (converter.uuid == finding.uuid && Protocol::ipText(converter.record) != finding.ip)
                why.append(QStringLiteral("uuid also at %1").arg(converter.address.toString()));
        }
        for (const QString &other : uuidsAt.value(QHostAddress(finding.ip).toIPv4Address())) {
            if (other != finding.uuid)
                why.append(QStringLiteral("address also answers as %1").arg(Output::field(other)));
        }
        if (!why.isEmpty()) {
            finding.kind = QStringLiteral("duplicate");
            finding.detail = why.join(QStringLiteral(", "));
        }
    }

    bool allOk = found.size() == expected;
    for (const Finding &finding : qAsConst(findings))
        allOk = allOk && finding.kind == QLatin1String("ok");
    QString text;
    if (format == QLatin1String("openmetrics")) {
        text = metrics(findings, expected, found.size(), double(clock.elapsed()) / 1000);
    } else if (format == QLatin1String("json")) {
        for (const Finding &finding : qAsConst(findings)) {
            QJsonObject object{{QStringLiteral("check"), finding.kind},
                {QStringLiteral("uuid"), finding.uuid}, {QStringLiteral("ip"), finding.ip}};
            if (!finding.detail.isEmpty())
                object.insert(QStringLiteral("detail"), finding.detail);
            if (!finding.changes.isEmpty())
                object.insert(QStringLiteral("changes"), finding.changes);
            if (!finding.record.isEmpty())
                object.insert(QStringLiteral("now"), finding.record);
            text += QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact))
                + QLatin1Char('\n');
        }
        text += QString::fromUtf8(QJsonDocument(
                    QJsonObject{{QStringLiteral("expected"), expected},
                        {QStringLiteral("found"), found.size()},
                        {QStringLiteral("ok"),
                            allOk}}).toJson(QJsonDocument::Compact))
            + QLatin1Char('\n');
    } else {
        int uuidWidth = 12;
        for (const Finding &finding : qAsConst(findings))
            uuidWidth = qMax(uuidWidth, Output::field(finding.uuid).size());
        for (const Finding &finding : qAsConst(findings)) {
            text += QStringLiteral("%1  %2  %3%4\n")
                        .arg(Output::field(finding.uuid), -uuidWidth)
                        .arg(finding.ip, -15)
                        .arg(finding.kind,
                            finding.detail.isEmpty() ? QString()
                                                     : QStringLiteral(": ") + finding.detail);
        }
        text += QStringLiteral("%1 of %2 expected converters answered; %3\n")
                    .arg(found.size())
                    .arg(expected)
                    .arg(allOk ? QStringLiteral("all ok") : QStringLiteral("not all ok"));
    }

    if (line.isSet(QStringLiteral("output"))) {
        QSaveFile file(line.value(QStringLiteral("output")));
        if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
            Output::note(QStringLiteral("cannot write %1: %2")
                             .arg(line.value(QStringLiteral("output")), file.errorString()));
            return SomeFailed;
        }
    } else {
        Output::raw(text.toUtf8());
    }
    warnOfDrops(client);
    return Output::finish(allOk ? Succeeded : SomeFailed);
}

} // namespace Check

const CommandEntry checkCommand{"check", "Compares the converters that answer with a saved roster.",
    Check::addOptions, Check::run};
