#ifndef LBXCTL_ROSTERCHECK_H
#define LBXCTL_ROSTERCHECK_H

#include "client.h"

#include <QJsonObject>
#include <QList>
#include <QString>

// What lbxctl check makes of a search against a saved roster. Plain values and
// functions: no file, no socket.

// The members a roster keeps and check compares, and their metric labels.
struct RosterMember
{
    const char *name;
    const char *label;
};
inline constexpr RosterMember rosterMembers[] = {
    {"ip", "ip"},
    {"appVersion", "app_version"},
    {"romVersion", "rom_version"},
    {"baud", "baud"},
    {"pluginName", "plugin"},
};
// A member as text: numbers as the converter sent them, strings as they are.
QString memberText(const QJsonObject &record, const char *name);

// What check finds of one converter.
struct Finding
{
    QString kind; // missing, new, changed, duplicate, ok
    QString uuid;
    QString ip;
    QString detail; // in English, as JSON carries it
    QString shownDetail; // the same in the user's language
    QJsonObject changes; // by member: {"from": ..., "to": ...}
    QJsonObject record; // what the converter reports now; empty when missing
};

// One finding for each converter in the roster, in its order, then one for each
// converter found that it does not name: "new", or "ok" without a roster (when
// only a number of converters is expected). A uuid at two addresses, or an
// address answering as two uuids, is a duplicate.
QList<Finding> compareWithRoster(
    const QList<QJsonObject> &roster, const QList<FoundConverter> &found, bool withRoster);
// Every finding ok, and as many converters found as expected.
bool allOk(const QList<Finding> &findings, int expected, int found);

#endif // LBXCTL_ROSTERCHECK_H
