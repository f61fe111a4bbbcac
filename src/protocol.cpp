#include "protocol.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>
#include <limits>

namespace Protocol {

static_assert(sizeof(infoRequest) - 1 == 19, "lbx.info request is 19 bytes");
static_assert(sizeof(uploadLogRequest) - 1 == 24, "lbx.uploadLog request is 24 bytes");
static_assert(sizeof(updateRequest) - 1 == 21, "lbx.update request is 21 bytes");
static_assert(sizeof(factoryRequest) - 1 == 22, "lbx.factory request is 22 bytes");

namespace {

// Compared in this order; the first equal name wins.
const struct
{
    const char *ack;
    Reply reply;
} replyNames[] = {
    {"lbx.info", Reply::Info},
    {"lbx.set", Reply::Set},
    {"lbx.uploadLog", Reply::UploadLog},
    {"lbx.update", Reply::Update},
    {"lbx.factory", Reply::Factory},
};

// QString::toDouble truncated toward zero; values an int cannot hold would be
// undefined behaviour to convert, so they saturate.
int truncatedInt(const QString &text)
{
    const double value = std::trunc(text.toDouble());
    if (std::isnan(value))
        return 0;
    if (value >= std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (value <= std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

QString shortNumber(double value)
{
    return QString::number(value, 'g', 6);
}

} // namespace

QJsonObject setRequest(const QString &baudText, int protocolIndex, const PluginTable &plugins)
{
    QJsonObject arg;
    arg.insert(QStringLiteral("baud"), truncatedInt(baudText));
    for (auto it = plugins.cbegin(); it != plugins.cend(); ++it) {
        if (it.value() == protocolIndex) {
            arg.insert(QStringLiteral("pluginName"), it.key());
            break;
        }
    }
    QJsonObject request;
    request.insert(QStringLiteral("call"), QStringLiteral("lbx.set"));
    request.insert(QStringLiteral("arg"), arg);
    return request;
}

QByteArray datagram(const QJsonObject &request)
{
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

QJsonObject replyObject(const QByteArray &datagram)
{
    return QJsonDocument::fromJson(datagram).object();
}

Reply replyKind(const QJsonObject &reply)
{
    const QString ack = reply.value(QLatin1String("ack")).toString();
    for (const auto &name : replyNames) {
        if (ack == QLatin1String(name.ack))
            return name.reply;
    }
    return Reply::Unknown;
}

QJsonObject replyArg(const QJsonObject &reply)
{
    return reply.value(QLatin1String("arg")).toObject();
}

QJsonObject deviceRecord(const QJsonObject &infoArg, const QString &senderAddress)
{
    QJsonObject record = infoArg;
    record.insert(QStringLiteral("ip"), lastAddressPart(senderAddress));
    return record;
}

QString lastAddressPart(const QString &addressText)
{
    return addressText.split(QLatin1Char(':')).constLast();
}

QString uuidText(const QJsonObject &record)
{
    return record.value(QLatin1String("uuid")).toString();
}

QString ipText(const QJsonObject &record)
{
    return record.value(QLatin1String("ip")).toString();
}

QString versionText(const QJsonObject &record)
{
    const double app = record.value(QLatin1String("appVersion")).toDouble();
    const QString rom = record.value(QLatin1String("romVersion")).toString();
    return shortNumber(app) + QLatin1Char('(') + rom + QLatin1Char(')');
}

QString baudText(const QJsonObject &record)
{
    return shortNumber(record.value(QLatin1String("baud")).toDouble());
}

int pluginIndex(const QJsonObject &record, const PluginTable &plugins, int entryCount)
{
    const QString name = record.value(QLatin1String("pluginName")).toString();
    return plugins.value(name, entryCount - 1);
}

} // namespace Protocol
