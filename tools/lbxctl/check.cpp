// lbxctl check ROSTER.json: what changed on a site since its roster was saved,
// one line per converter (missing, new, changed, duplicate, ok), as a table,
// JSON lines, or metrics in the Prometheus text format for node_exporter's
// textfile collector.

#include "commands.h"
#include "outcome.h"
#include "output.h"
#include "roster.h"
#include "rostercheck.h"
#include "session.h"
#include "translation.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QMap>

namespace {

// A Prometheus label value: backslash, double quote and line feed escaped.
QString labelValue(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    out.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    out.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

// What the whole check came to.
struct Summary
{
    int expected = 0;
    int found = 0;
    bool ok = false;
    double seconds = 0;
    bool withRoster = false;
};

QString metricsText(const QList<Finding> &findings, const Summary &summary)
{
    QString text = QStringLiteral("# HELP lbx_converter_up 1 when the converter answered the "
                                  "check, 0 when it did not.\n# TYPE lbx_converter_up gauge\n");
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
        for (const RosterMember &member : rosterMembers)
            labels.append(QString::fromLatin1(member.label) + QLatin1Char('=')
                + labelValue(memberText(finding.record, member.name)));
        text += QStringLiteral("lbx_converter_info{%1} 1\n").arg(labels.join(QLatin1Char(',')));
    }
    if (summary.withRoster) {
        text += QStringLiteral("# HELP lbx_converter_changed 1 when what the converter reports "
                               "differs from its roster entry.\n"
                               "# TYPE lbx_converter_changed gauge\n");
        for (const Finding &finding : findings) {
            if (!finding.record.isEmpty())
                text += QStringLiteral("lbx_converter_changed{uuid=%1,ip=%2} %3\n")
                            .arg(labelValue(finding.uuid), labelValue(finding.ip),
                                finding.changes.isEmpty() ? QStringLiteral("0")
                                                          : QStringLiteral("1"));
        }
    }
    // Written only by a check that ran to its end: stale, it says the checks stopped.
    text += QStringLiteral("# HELP lbx_check_last_success_timestamp_seconds When the last "
                           "check ran to its end, in seconds since the epoch.\n"
                           "# TYPE lbx_check_last_success_timestamp_seconds gauge\n"
                           "lbx_check_last_success_timestamp_seconds %1\n")
                .arg(double(QDateTime::currentMSecsSinceEpoch()) / 1000, 0, 'f', 3);
    text += QStringLiteral(
        "# HELP lbx_converters_expected Converters the roster names, or --expect.\n"
        "# TYPE lbx_converters_expected gauge\nlbx_converters_expected %1\n"
        "# HELP lbx_converters_found Converters that answered the check.\n"
        "# TYPE lbx_converters_found gauge\nlbx_converters_found %2\n"
        "# HELP lbx_check_duration_seconds How long the check took.\n"
        "# TYPE lbx_check_duration_seconds gauge\nlbx_check_duration_seconds %3\n")
                .arg(summary.expected)
                .arg(summary.found)
                .arg(summary.seconds, 0, 'f', 3);
    return text;
}

QString jsonLine(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact))
        + QLatin1Char('\n');
}

QString jsonText(const QList<Finding> &findings, const Summary &summary)
{
    QString text;
    for (const Finding &finding : findings) {
        QJsonObject object{{QStringLiteral("check"), finding.kind},
            {QStringLiteral("uuid"), finding.uuid}, {QStringLiteral("ip"), finding.ip}};
        if (!finding.detail.isEmpty())
            object.insert(QStringLiteral("detail"), finding.detail);
        if (!finding.changes.isEmpty())
            object.insert(QStringLiteral("changes"), finding.changes);
        if (!finding.record.isEmpty())
            object.insert(QStringLiteral("now"), finding.record);
        text += jsonLine(object);
    }
    return text
        + jsonLine({{QStringLiteral("expected"), summary.expected},
            {QStringLiteral("found"), summary.found}, {QStringLiteral("ok"), summary.ok}});
}

// A finding's kind as the table shows it, in the user's language.
QString kindShown(const QString &kind)
{
    static const char *const kinds[] = {QT_TRANSLATE_NOOP("lbxctl", "ok"),
        QT_TRANSLATE_NOOP("lbxctl", "missing"), QT_TRANSLATE_NOOP("lbxctl", "new"),
        QT_TRANSLATE_NOOP("lbxctl", "changed"), QT_TRANSLATE_NOOP("lbxctl", "duplicate")};
    return wordShown(kind, kinds);
}

QString tableText(const QList<Finding> &findings, const Summary &summary)
{
    int uuidWidth = 12;
    for (const Finding &finding : findings)
        uuidWidth = qMax(uuidWidth, Output::columns(Output::field(finding.uuid)));
    QString text;
    for (const Finding &finding : findings) {
        text += Output::padded(Output::field(finding.uuid), uuidWidth) + QStringLiteral("  ")
            + Output::padded(finding.ip, 15) + QStringLiteral("  ") + kindShown(finding.kind)
            + (finding.shownDetail.isEmpty() ? QString()
                                             : QStringLiteral(": ") + finding.shownDetail)
            + QLatin1Char('\n');
    }
    return text
        + Text::tr("%1 of %2 expected converters answered; %3\n")
              .arg(summary.found)
              .arg(summary.expected)
              .arg(summary.ok ? Text::tr("all ok") : Text::tr("not all ok"));
}

// "4 of 4 expected converters answered; all ok", or what is not: one line for
// a log, such as the monitoring unit's journal.
QString summaryLine(const QList<Finding> &findings, const Summary &summary)
{
    QMap<QString, QStringList> notOk; // by kind: each converter, with what changed
    for (const Finding &finding : findings) {
        if (finding.kind != QLatin1String("ok"))
            notOk[kindShown(finding.kind)].append(Output::field(finding.uuid)
                + (finding.changes.isEmpty() ? QString()
                                             : QStringLiteral(" (%1)").arg(finding.shownDetail)));
    }
    QStringList parts;
    for (auto kind = notOk.cbegin(); kind != notOk.cend(); ++kind)
        parts.append(QStringLiteral("%1 %2: %3")
                         .arg(kind->size())
                         .arg(kind.key(), kind->join(QStringLiteral(", "))));
    return Text::tr("%1 of %2 expected converters answered; %3")
        .arg(summary.found)
        .arg(summary.expected)
        .arg(!parts.isEmpty() ? parts.join(QStringLiteral("; "))
                : summary.ok  ? Text::tr("all ok")
                              : Text::tr("not all ok"));
}

// The converters the site should have: a roster's, or only their number.
struct Expectation
{
    bool withRoster = false;
    QList<QJsonObject> roster;
    int count = 0;
};

Expectation expectationFrom(const CommandLine &line)
{
    const QStringList operands = line.operands();
    const bool expecting = line.isSet(QStringLiteral("expect"));
    if (operands.isEmpty() == !expecting)
        refuse(Text::tr("check takes a roster or --expect N; see \"lbxctl check --help\""));
    Expectation expectation;
    if (expecting) {
        bool ok = false;
        expectation.count = line.value(QStringLiteral("expect")).toInt(&ok);
        if (!ok || expectation.count < 0)
            refuse(Text::tr("--expect takes a number of converters, not \"%1\"")
                       .arg(Output::escaped(line.value(QStringLiteral("expect")))));
        return expectation;
    }
    Roster roster;
    QString error;
    if (!loadRoster(operands.constFirst(), &roster, &error))
        refuse(error);
    expectation.withRoster = true;
    expectation.roster = roster.converters;
    expectation.count = roster.converters.size();
    return expectation;
}

} // namespace

namespace Check {

void addOptions(CommandLine &line)
{
    line.addSearchOptions();
    line.addOperand(QStringLiteral("ROSTER"),
        Text::tr("A roster saved by lbxctl discover --save; or --expect."));
    line.addOption({QStringLiteral("expect"),
        Text::tr("Without a roster: the number of converters that should answer."),
        QStringLiteral("N")});
    line.addFormatOption(
        Text::tr("table, json (as --json) or openmetrics (the Prometheus text format)."));
    line.addOutputOption();
}

int run(Session &session)
{
    QElapsedTimer clock;
    clock.start();
    const CommandLine &line = session.line;
    const QString format = line.format(
        {QStringLiteral("table"), QStringLiteral("json"), QStringLiteral("openmetrics")});
    const Expectation expectation = expectationFrom(line);
    const QString output = line.outputPath(); // refused before anything is sent
    const QList<FoundConverter> found = session.search(session.options.retries);

    const QList<Finding> findings
        = compareWithRoster(expectation.roster, found, expectation.withRoster);
    const Summary summary{expectation.count, found.size(),
        allOk(findings, expectation.count, found.size()), double(clock.elapsed()) / 1000,
        expectation.withRoster};
    const QString text = format == QLatin1String("openmetrics") ? metricsText(findings, summary)
        : format == QLatin1String("json")                       ? jsonText(findings, summary)
                                                                : tableText(findings, summary);
    // A table for people, in their terminal's encoding; what machines read in UTF-8.
    const QByteArray bytes
        = format == QLatin1String("table") ? Output::encoded(text) : text.toUtf8();
    if (!Output::deliver(output, bytes))
        return OutputFailed;
    if (!output.isEmpty()) // what the file holds, in a line for the log
        Output::line(summaryLine(findings, summary));
    warnOfDrops(session.client(), Text::tr("answers may be missing"));
    return Output::finish(summary.ok ? Succeeded : SomeFailed);
}

} // namespace Check

const CommandEntry checkCommand{"check",
    QT_TRANSLATE_NOOP("lbxctl", "Compares the converters that answer with a saved roster."),
    "ROSTER | --expect N", 0, 1, Check::addOptions, Check::run};
