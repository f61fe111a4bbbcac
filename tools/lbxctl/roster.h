#ifndef LBXCTL_ROSTER_H
#define LBXCTL_ROSTER_H

#include "client.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// A site's roster: every converter a search found (its record: uuid, address,
// versions, baud and plug-in), when, from which computer, through which
// adapters. Saved as JSON, read back by check.
struct Roster
{
    QString saved; // ISO 8601, UTC
    QString computer;
    QJsonArray adapters;
    QJsonArray searched; // where the search went: addresses, and ranges swept
    QList<QJsonObject> converters;
};

// The roster of a search that has just been made.
Roster rosterOf(const QList<FoundConverter> &found, const QStringList &searched);

// Written whole or not at all; false with the reason otherwise.
bool saveRoster(const Roster &roster, const QString &path, QString *error);
bool loadRoster(const QString &path, Roster *roster, QString *error);

// The converters as CSV for a spreadsheet: UTF-8 with a byte-order mark, the
// captions intact, fields quoted where they must be, and any field that a
// spreadsheet would take for a formula made plain text.
QByteArray rosterCsv(const QList<FoundConverter> &found);

#endif // LBXCTL_ROSTER_H
