#ifndef LBXCTL_OUTCOME_H
#define LBXCTL_OUTCOME_H

#include "action.h"
#include "client.h"
#include "confirm.h"

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

// What became of each converter a command was sent to, as lines of text or
// JSON objects, and the exit status that follows from it.

// Prints each converter's outcome, one line (or JSON object) each, as soon as
// it is known, and keeps the exit status.
class Reporter
{
public:
    Reporter(const QString &command, bool json, const QList<FoundConverter> &found);

    // The outcome of sending the action (whose words say what a converter
    // that took it without answering reports).
    void answered(const Answer &answer, const Action &action = Action());
    // The outcome of waiting for the converter to come back.
    void confirmed(const Answer &answer, const QJsonObject &before, const Confirmation &result);
    // A line of its own about a converter (apply's plan).
    void plan(const QHostAddress &address, const QString &uuid, const QString &text,
        const QJsonObject &object);

    int status() const { return worst; }
    // What is known of an address: the uuid of the converter meant there
    // (undefined where the address was named, and any answering there is
    // meant), and the uuids heard from it, as a line names them.
    void know(const QHostAddress &address, const QJsonValue &meant, const QList<QJsonValue> &heard);
    // Counts a failure that no line of its own reports.
    void fail(int status);

private:
    struct Known
    {
        QJsonValue meant = QJsonValue::Undefined;
        QList<QJsonValue> heard;
    };
    QJsonValue uuidOf(const QHostAddress &address) const;
    QString uuidCell(const QHostAddress &address) const;
    void line(const QHostAddress &address, const QString &uuidCell, const QString &text);
    void json(const QHostAddress &address, QJsonObject object);

    QString command;
    bool jsonLines;
    QHash<quint32, Known> known;
    int uuidWidth = 12;
    int worst = 0;
};

// "9600 OvUdp485": what a record reports of the settings lbx.set changes.
QString settingsText(const QJsonObject &record);

// Says, where the system dropped datagrams for want of receive buffer, what
// follows from it and how to give the socket more.
void warnOfDrops(const Client &client, const QString &consequence);

#endif // LBXCTL_OUTCOME_H
