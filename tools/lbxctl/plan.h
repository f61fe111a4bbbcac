#ifndef LBXCTL_PLAN_H
#define LBXCTL_PLAN_H

#include "client.h"

#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A site's plan, as apply reads it: the spreadsheet a site keeps (CSV with the
// columns uuid, baud and plugin, in any order, among others), JSON lines of
// the same members, or a roster (discover --save, apply --backup), which puts
// back exactly what each converter reported. Plain values and functions: no
// file, no socket.

// One row: a converter by its uuid, and the settings it should have (without a
// plug-in, it keeps its own).
struct PlanRow
{
    int line = 0; // a roster's converter number
    QString uuid; // as people name it
    // The uuid exactly as a converter reported it (a roster's, or a JSON
    // line's number); undefined where the row names it by text.
    QJsonValue uuidValue = QJsonValue::Undefined;
    Protocol::Settings settings;
    // A roster's converter that reported no plug-in: only its baud rate can be
    // put back.
    bool pluginUnknown = false;
    // Why a roster's converter cannot be put back (it cannot be told apart,
    // or its record holds no baud rate); empty for a row that can.
    QString unrestorable;
};

// The rows of a plan's text; or, for every line that is wrong, "line N: why".
// A roster is never refused for its converters: each that cannot be put back
// is a row that says why.
struct PlanReading
{
    QList<PlanRow> rows;
    QStringList errors;
};
PlanReading readPlan(const QString &text);

// What apply does about a row, or about a converter that no row names.
struct PlanStep
{
    enum Kind {
        Missing, // in the plan, did not answer
        Ambiguous, // its uuid answered from more than one address, or its address
                   // answers as other uuids too
        Unchanged, // already as planned
        Set, // to be set
        NotInPlan, // answered, no row names it
        Unrestorable, // a roster's converter that cannot be put back (row->unrestorable)
    };
    Kind kind;
    std::optional<PlanRow> row; // none for NotInPlan
    QList<FoundConverter> converters; // the one it is about; for Ambiguous, every one
                                      // with its uuid, or at its address
};
// The steps for each row in the plan's order, then for each converter found
// that no row names.
QList<PlanStep> comparePlan(const QList<PlanRow> &rows, const QList<FoundConverter> &found);

// "115200 OvTcp485", or "115200" where the converter keeps its plug-in.
QString plannedText(const Protocol::Settings &settings);

#endif // LBXCTL_PLAN_H
