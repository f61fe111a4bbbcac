// lbxctl apply PLAN: a whole site set up from one file. The converters that
// differ from the plan are set, all at once, and each is confirmed by what it
// reports once it is back.

#include "commands.h"
#include "outcome.h"
#include "output.h"
#include "plan.h"
#include "roster.h"
#include "send.h"
#include "session.h"
#include "translation.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>

namespace {

// The rows of the plan file, or refuse() with every bad line's number.
QList<PlanRow> planFrom(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        refuse(Text::tr("cannot read the plan %1: %2").arg(path, file.errorString()));
    const PlanReading reading = readPlan(QString::fromUtf8(file.readAll()));
    if (!reading.errors.isEmpty()) {
        QStringList errors;
        for (const QString &error : reading.errors)
            errors.append(path + QLatin1Char(' ') + error);
        refuse(errors.join(QLatin1Char('\n')) + Text::tr("\nnothing was sent"));
    }
    if (reading.rows.isEmpty())
        refuse(Text::tr("%1 holds no converter").arg(path));
    return reading.rows;
}

// In JSON, in the order of PlanStep::Kind.
const char *const kindNames[]
    = {"missing", "ambiguous", "unchanged", "set", "not-in-plan", "not-restorable"};

// What a roster's converter that reported no plug-in leaves undone.
QString pluginNote(const PlanStep &step)
{
    return step.row && step.row->pluginUnknown
        ? Text::tr("; the roster holds no plug-in, so that is not put back")
        : QString();
}

QString stepText(const PlanStep &step)
{
    switch (step.kind) {
    case PlanStep::Missing:
        return Text::tr("missing: in the plan, did not answer");
    case PlanStep::Ambiguous: {
        QStringList at;
        QStringList as;
        for (const FoundConverter &converter : step.converters) {
            at.append(converter.address.toString());
            as.append(Output::field(converter.uuid));
        }
        if (at.constFirst() != at.constLast())
            return Text::tr("ambiguous: answered from %1; not set")
                .arg(at.join(QStringLiteral(", ")));
        return Text::tr("ambiguous: %1 answers as %2; not set")
            .arg(at.constFirst(), as.join(QStringLiteral(", ")));
    }
    case PlanStep::Unchanged:
        return Text::tr("unchanged") + pluginNote(step);
    case PlanStep::Set:
        return Text::tr("set %1 -> %2")
                   .arg(settingsText(step.converters.constFirst().record),
                       plannedText(step.row->settings))
            + pluginNote(step);
    case PlanStep::NotInPlan:
        return Text::tr("not in plan");
    case PlanStep::Unrestorable:
        return Text::tr("not put back: converter %1 of the roster: %2")
            .arg(QString::number(step.row->line), step.row->unrestorable);
    }
    Q_UNREACHABLE();
}

// The step as apply reports it: its row, and the one converter it is about.
void report(Reporter &reporter, const PlanStep &step)
{
    const bool one = step.kind != PlanStep::Missing && step.kind != PlanStep::Ambiguous
        && step.kind != PlanStep::Unrestorable;
    const FoundConverter converter = one ? step.converters.constFirst() : FoundConverter();
    const QString uuid = step.row ? step.row->uuid : converter.uuid;
    const QJsonValue uuidValue = !step.row  ? converter.uuidValue()
        : step.row->uuidValue.isUndefined() ? QJsonValue(step.row->uuid)
                                            : step.row->uuidValue;
    QJsonObject object{{QStringLiteral("command"), QStringLiteral("apply")},
        {QStringLiteral("plan"), QString::fromLatin1(kindNames[step.kind])},
        {QStringLiteral("uuid"), uuidValue},
        {QStringLiteral("ip"),
            converter.address.isNull() ? QJsonValue() : converter.address.toString()}};
    if (step.row) {
        const std::optional<QString> &plugin = step.row->settings.pluginName;
        object.insert(QStringLiteral("line"), step.row->line);
        object.insert(QStringLiteral("baud"), step.row->settings.baud);
        // null: the converter keeps its own
        object.insert(QStringLiteral("plugin"), plugin ? QJsonValue(*plugin) : QJsonValue());
        if (step.row->pluginUnknown)
            object.insert(QStringLiteral("ok"), false);
        if (!step.row->unrestorable.isEmpty())
            object.insert(QStringLiteral("why"), step.row->unrestorable);
    }
    if (!converter.record.isEmpty())
        object.insert(QStringLiteral("before"), converter.record);
    reporter.plan(converter.address, uuid, stepText(step), object);
}

struct Tally
{
    int toSet = 0;
    int unchanged = 0;
    int missing = 0;
    int ambiguous = 0;
    int undone = 0; // roster converters that cannot be put back, wholly or in part

    void count(const PlanStep &step)
    {
        toSet += step.kind == PlanStep::Set ? 1 : 0;
        unchanged += step.kind == PlanStep::Unchanged ? 1 : 0;
        missing += step.kind == PlanStep::Missing ? 1 : 0;
        ambiguous += step.kind == PlanStep::Ambiguous ? 1 : 0;
        undone += step.kind == PlanStep::Unrestorable || (step.row && step.row->pluginUnknown);
    }

    // ", 2 ambiguous" where there are any.
    QString ambiguousText() const
    {
        return ambiguous ? Text::tr(", %1 ambiguous").arg(ambiguous) : QString();
    }
};

// The undo of an earlier run is never replaced, nor the plan taken for the
// undo of this one: refused before anything is sent.
void refuseUnsafeBackup(const CommandLine &line, const QString &plan)
{
    if (!line.isSet(QStringLiteral("backup")))
        return;
    const QFileInfo backup(line.value(QStringLiteral("backup")));
    if (backup.filePath().isEmpty())
        refuse(Text::tr("--backup names no file; nothing was sent"));
    if (backup.exists() && backup.canonicalFilePath() == QFileInfo(plan).canonicalFilePath())
        refuse(Text::tr("--backup %1 is the plan itself, which the backup would replace; "
                        "nothing was sent")
                   .arg(backup.filePath()));
    if (backup.exists() || backup.isSymLink())
        refuse(Text::tr("--backup %1 exists, and may hold the undo of an earlier run: apply it, "
                        "move it away or name another file; nothing was sent")
                   .arg(backup.filePath()));
}

// --backup: the roster of the converters about to be set, written whole before
// the first is set; false, with the reason said, where it could not be.
bool savedBackup(Session &session, const QList<PlanStep> &steps)
{
    if (!session.line.isSet(QStringLiteral("backup")))
        return true;
    const QString path = session.line.value(QStringLiteral("backup"));
    QList<FoundConverter> touched;
    for (const PlanStep &step : steps) {
        if (step.kind == PlanStep::Set)
            touched.append(step.converters.constFirst());
    }
    QString error;
    if (!saveRoster(rosterOf(touched, session.client().searchedText()), path, &error)) {
        Output::note(error + Text::tr("; nothing was set"));
        return false;
    }
    Output::note(Text::tr("the undo of this run is in %1: lbxctl apply %1 puts the %2 "
                          "converters it sets back")
                     .arg(path)
                     .arg(touched.size()));
    return true;
}

// Why no backup was written, where one was asked for.
void noBackup(const CommandLine &line, const QString &why)
{
    if (line.isSet(QStringLiteral("backup")))
        Output::note(Text::tr("no backup was written to %1: %2")
                         .arg(line.value(QStringLiteral("backup")), why));
}

// A roster's converter that reported no plug-in: its baud rate put back is no
// whole restore.
Judge withoutPlugin(const Judge &judge)
{
    return [judge](const Sighting &seen) -> std::optional<Verdict> {
        std::optional<Verdict> verdict = judge(seen);
        if (!verdict || verdict->outcome != WaitOutcome::Confirmed)
            return verdict;
        return Verdict{WaitOutcome::Partial,
            Phrase(QT_TRANSLATE_NOOP(
                       "lbxctl", "%1; the roster holds no plug-in, so that was not put back"))
                .arg(verdict->text)};
    };
}

// Set's action for a plan's row; for a roster's converter that reported no
// plug-in, its baud rate put back is no whole restore.
Action actionFor(const PlanRow &row)
{
    Action action = setAction(row.settings);
    if (row.pluginUnknown) {
        action.judgeFor = [judgeFor = action.judgeFor](const QJsonObject &before) {
            return withoutPlugin(judgeFor(before));
        };
    }
    return action;
}

// The converters to set, each asked lbx.info at its address just before: one
// that is not found there, or that answers as another uuid too, is not set.
int setAndConfirm(Session &session, const QList<FoundConverter> &found,
    const QList<PlanStep> &steps, Reporter &reporter, Tally tally)
{
    QList<Aimed> aimed;
    for (const PlanStep &step : steps) {
        if (step.kind == PlanStep::Set) {
            const FoundConverter &converter = step.converters.constFirst();
            aimed.append({{converter.address, false, converter.uuidValue()}, actionFor(*step.row)});
        }
    }
    Client &client = session.client();
    const int confirmed
        = sendAimed(client, found, aimed, {session.waitTimeoutMs, std::nullopt, false}, reporter);
    Output::note(Text::tr("%1 set, %2 confirmed, %3 unchanged, %4 missing%5; %6 datagrams "
                          "sent")
                     .arg(tally.toSet)
                     .arg(confirmed)
                     .arg(tally.unchanged)
                     .arg(tally.missing)
                     .arg(tally.ambiguousText())
                     .arg(client.sentCount()));
    warnOfDrops(client, Text::tr("answers may be missing"));
    return Output::finish(reporter.status());
}

} // namespace

namespace Apply {

void addOptions(CommandLine &line)
{
    line.addExchangeOptions(2,
        Text::tr("Asks a silent converter this many more times (default %1); it is set "
                 "again only when lbx.info shows it up and not set."));
    // apply always waits: only how long is its option.
    line.addWaitTimeout(60);
    line.addOption({QStringLiteral("dry-run"),
        Text::tr("Prints the plan of change and sends nothing but the search.")});
    line.addOption({QStringLiteral("backup"),
        Text::tr("Saves the roster of the converters to be set, as they are, before the "
                 "first is set; applied as a plan, it puts them back. The file must not "
                 "exist yet, so that the undo of an earlier run is never lost."),
        QStringLiteral("ROSTER.json")});
    line.addOperand(QStringLiteral("PLAN"),
        Text::tr("CSV with the header uuid,baud,plugin (an empty plugin keeps the "
                 "converter's own), JSON lines with those members, or a roster "
                 "(discover --save, --backup), whose settings it puts back."));
}

int run(Session &session)
{
    const QString plan = session.line.operands().constFirst();
    const QList<PlanRow> rows = planFrom(plan);
    refuseUnsafeBackup(session.line, plan);
    const QList<FoundConverter> found = session.search();

    Reporter reporter(session.line.command, session.json, found);
    const QList<PlanStep> steps = comparePlan(rows, found);
    Tally tally;
    for (const PlanStep &step : steps) {
        report(reporter, step);
        tally.count(step);
    }
    if (tally.missing + tally.ambiguous + tally.undone > 0)
        reporter.fail(SomeFailed);

    if (tally.toSet == 0) {
        Output::note(Text::tr("nothing to change: %1 of %2 converters in the plan are "
                              "as planned")
                         .arg(tally.unchanged)
                         .arg(rows.size()));
        noBackup(session.line, Text::tr("nothing was to be set"));
        // A dry run's success is that the plan could be read and compared.
        return Output::finish(session.dryRun ? Succeeded : reporter.status());
    }
    if (session.dryRun) {
        Output::note(Text::tr("dry run: %1 to set, %2 unchanged, %3 missing%4; nothing "
                              "was sent")
                         .arg(tally.toSet)
                         .arg(tally.unchanged)
                         .arg(tally.missing)
                         .arg(tally.ambiguousText()));
        noBackup(session.line, Text::tr("a dry run sets nothing"));
        return Output::finish(Succeeded);
    }
    if (!savedBackup(session, steps))
        return Output::finish(OutputFailed);
    return setAndConfirm(session, found, steps, reporter, tally);
}

} // namespace Apply

const CommandEntry applyCommand{"apply",
    QT_TRANSLATE_NOOP("lbxctl", "Sets a whole site from a plan file, and confirms each change."),
    "PLAN [--dry-run] [--backup ROSTER.json]", 1, 1, Apply::addOptions, Apply::run};
