#include "roster.h"

#include "adapter.h"
#include "output.h"
#include "translation.h"

#include <QDateTime>
#include <QFile>
#include <QHostInfo>
#include <QJsonDocument>
#include <QSet>

Roster rosterOf(const QList<FoundConverter> &found, const QStringList &searched)
{
    Roster roster;
    roster.saved = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    roster.computer = QHostInfo::localHostName();
    roster.adapters = adapterRecords();
    roster.searched = QJsonArray::fromStringList(searched);
    for (const FoundConverter &converter : found)
        roster.converters.append(converter.record);
    return roster;
}

bool saveRoster(const Roster &roster, const QString &path, QString *error)
{
    QJsonArray converters;
    for (const QJsonObject &record : roster.converters)
        converters.append(record);
    const QJsonObject object{{QStringLiteral("saved"), roster.saved},
        {QStringLiteral("computer"), roster.computer},
        {QStringLiteral("adapters"), roster.adapters},
        {QStringLiteral("searched"), roster.searched}, {QStringLiteral("converters"), converters}};
    return Output::writeWhole(path, QJsonDocument(object).toJson(), error);
}

bool loadRoster(const QString &path, Roster *roster, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = Text::tr("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parse);
    const QJsonValue converters = document.object().value(QStringLiteral("converters"));
    if (!document.isObject() || !converters.isArray()) {
        *error = Text::tr("%1 is not a roster saved by lbxctl discover --save").arg(path);
        return false;
    }
    const QJsonObject object = document.object();
    roster->saved = object.value(QStringLiteral("saved")).toString();
    roster->computer = object.value(QStringLiteral("computer")).toString();
    roster->adapters = object.value(QStringLiteral("adapters")).toArray();
    roster->searched = object.value(QStringLiteral("searched")).toArray();
    roster->converters.clear();
    const QJsonArray list = converters.toArray();
    QSet<QPair<QString, QString>> listed;
    for (const QJsonValue &record : list) {
        const QJsonObject object = record.toObject();
        // The uuid's JSON text: 111 and "111" are two converters' uuids.
        const auto converter = qMakePair(
            QString::fromUtf8(QJsonDocument(QJsonArray{object.value(QLatin1String("uuid"))})
                                  .toJson(QJsonDocument::Compact)),
            Protocol::ipText(object));
        if (!record.isObject() || listed.contains(converter)) {
            *error = Text::tr("%1 lists a converter twice, or one that is not an object: "
                              "it is no roster lbxctl discover --save wrote")
                         .arg(path);
            return false;
        }
        listed.insert(converter);
        roster->converters.append(object);
    }
    if (roster->converters.isEmpty()) {
        *error = Text::tr("%1 lists no converter: a check against it would say a dead "
                          "site is healthy")
                     .arg(path);
        return false;
    }
    return true;
}

namespace {

QString csvField(QString text)
{
    // A leading =, +, - or @ would make a spreadsheet run the field as a formula.
    if (!text.isEmpty() && QStringLiteral("=+-@\t\r").contains(text.at(0)))
        text.prepend(QLatin1Char('\''));
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"'))
        || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')))
        return QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\""))
            + QLatin1Char('"');
    return text;
}

} // namespace

QByteArray rosterCsv(const QList<FoundConverter> &found)
{
    QString csv = QStringLiteral("uuid,ip,appVersion,romVersion,baud,pluginName,caption\r\n");
    for (const FoundConverter &converter : found) {
        const QJsonObject &record = converter.record;
        const QStringList fields{converter.uuid, Protocol::ipText(record),
            Protocol::appVersionText(record), record.value(QStringLiteral("romVersion")).toString(),
            Protocol::baudText(record), record.value(QStringLiteral("pluginName")).toString(),
            Protocol::pluginCaption(record)};
        QStringList quoted;
        for (const QString &field : fields)
            quoted.append(csvField(field));
        csv += quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return "\xef\xbb\xbf" + csv.toUtf8();
}
