#include "converter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

const int baudRates[] = {4800, 9600, 19200, 38400, 115200};
const char *const pluginNames[] = {"OvUdp485", "OvCom485", "OvTcp485", "Net485"};

QByteArray reply(const QString &call, const QJsonObject &members = {})
{
    QJsonObject object = members;
    object.insert(QStringLiteral("ack"), call);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString jsonText(const QJsonValue &value)
{
    if (value.isUndefined())
        return QStringLiteral("(none)");
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString describe(const Converter::Settings &settings)
{
    return QStringLiteral("baud %1, plug-in %2")
        .arg(settings.baud)
        .arg(!settings.pluginName                ? QStringLiteral("(none)")
                : settings.pluginName->isEmpty() ? QStringLiteral("\"\"")
                                                 : *settings.pluginName);
}

} // namespace

Converter::Converter(
    QString uuid, double appVersion, QString romVersion, Settings defaults, Quirks quirks)
    : id(std::move(uuid))
    , appVersion(appVersion)
    , romVersion(std::move(romVersion))
    , defaults(defaults)
    , current(std::move(defaults))
    , quirks(std::move(quirks))
{
}

bool Converter::acceptsBaud(int baud)
{
    return std::find(std::begin(baudRates), std::end(baudRates), baud) != std::end(baudRates);
}

bool Converter::acceptsPlugin(const QString &name) const
{
    if (defaults.pluginName == name)
        return true;
    for (const char *known : pluginNames) {
        if (name == QLatin1String(known))
            return true;
    }
    return false;
}

Converter::Outcome Converter::handle(const QByteArray &request)
{
    const QJsonObject object = QJsonDocument::fromJson(request).object();
    const QString call = object.value(QLatin1String("call")).toString();
    if (call == QLatin1String("lbx.info"))
        return {reply(call, {{QStringLiteral("arg"), info()}}), {}, false, false, "answered", {}};
    if (call == QLatin1String("lbx.set"))
        return set(object.value(QLatin1String("arg")).toObject());
    if (call == QLatin1String("lbx.uploadLog"))
        return {reply(call), QStringLiteral("uploads its log"), false, false, "answered", {}};
    if (call == QLatin1String("lbx.update"))
        return update();
    if (call == QLatin1String("lbx.factory"))
        return factory();
    return {{}, QStringLiteral("ignores a request it does not know"), false, false, "unknown", {}};
}

// A setting the converter cannot take leaves both unchanged; the reply says
// why in "error", and the converter does not restart.
Converter::Outcome Converter::set(const QJsonObject &arg)
{
    const QJsonValue baud = arg.value(QLatin1String("baud"));
    const QJsonValue plugin = arg.value(QLatin1String("pluginName"));
    QString error;
    // toInt() gives 0, which no converter takes, for anything but a whole number.
    if (quirks.rejectsSettings)
        error = QStringLiteral("busy");
    else if (!acceptsBaud(baud.toInt()))
        error = QStringLiteral("unsupported baud rate %1").arg(jsonText(baud));
    else if (!plugin.isUndefined() && (!plugin.isString() || !acceptsPlugin(plugin.toString())))
        error = QStringLiteral("unknown plug-in %1").arg(jsonText(plugin));
    if (!error.isEmpty()) {
        return {reply(QStringLiteral("lbx.set"),
                    {{QStringLiteral("result"), QStringLiteral("rejected")},
                        {QStringLiteral("error"), error}}),
            QStringLiteral("rejects lbx.set: %1; keeps %2").arg(error, describe(current)), false,
            false, "rejected", error};
    }
    const Settings before = current;
    if (quirks.keepsSettings) {
        return {
            reply(QStringLiteral("lbx.set"), {{QStringLiteral("result"), QStringLiteral("ok")}}),
            QStringLiteral("acknowledges lbx.set but keeps %1; restarts").arg(describe(current)),
            true, false, "kept", {}};
    }
    current.baud = baud.toInt();
    if (!plugin.isUndefined())
        current.pluginName = plugin.toString();
    return {reply(QStringLiteral("lbx.set"), {{QStringLiteral("result"), QStringLiteral("ok")}}),
        QStringLiteral("set: %1 -> %2; restarts").arg(describe(before), describe(current)), true,
        false, "applied", {}};
}

Converter::Outcome Converter::factory()
{
    current = defaults;
    return {reply(QStringLiteral("lbx.factory")),
        QStringLiteral("factory reset to %1; restarts").arg(describe(current)), true, true, "reset",
        {}};
}

Converter::Outcome Converter::update()
{
    if (quirks.rejectsUpdates) {
        const QString error = QStringLiteral("busy");
        return {reply(QStringLiteral("lbx.update"),
                    {{QStringLiteral("result"), QStringLiteral("rejected")},
                        {QStringLiteral("error"), error}}),
            QStringLiteral("rejects lbx.update: %1").arg(error), false, false, "rejected", error};
    }
    if (quirks.updateTo <= appVersion)
        return {reply(QStringLiteral("lbx.update")),
            QStringLiteral("looks for an update: none found"), false, false, "answered", {}};
    const double before = appVersion;
    appVersion = quirks.updateTo;
    return {reply(QStringLiteral("lbx.update")),
        QStringLiteral("updates from %1 to %2; restarts").arg(before).arg(appVersion), true, false,
        "update-started", {}};
}

QByteArray Converter::twinInfoReply() const
{
    if (quirks.twin.isEmpty())
        return {};
    QJsonObject twin = info();
    twin.insert(QStringLiteral("uuid"), quirks.twin);
    return reply(QStringLiteral("lbx.info"), {{QStringLiteral("arg"), twin}});
}

QJsonValue Converter::uuidValue() const
{
    return quirks.uuidAsNumber ? QJsonValue(id.toDouble()) : QJsonValue(id);
}

QJsonObject Converter::info() const
{
    QJsonObject record{
        {QStringLiteral("uuid"), uuidValue()},
        {QStringLiteral("romVersion"), romVersion},
        {QStringLiteral("appVersion"), appVersion},
        {QStringLiteral("baud"), current.baud},
    };
    if (current.pluginName)
        record.insert(QStringLiteral("pluginName"), *current.pluginName);
    return record;
}
