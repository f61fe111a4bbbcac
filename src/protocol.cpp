#include "protocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QSet>
#include <QStringList>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <vector>

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

// Reads the JSON string that starts at the quote p points to, decoding its
// escapes as the parser does; returns the position after its closing quote, or
// nullptr when it does not close (the parser then refuses the text anyway).
const char *readString(const char *p, const char *end, QString *text)
{
    text->clear();
    const char *run = ++p;
    while (p < end) {
        if (*p == '"') {
            text->append(QString::fromUtf8(run, int(p - run)));
            return p + 1;
        }
        if (*p != '\\') {
            ++p;
            continue;
        }
        text->append(QString::fromUtf8(run, int(p - run)));
        if (end - p < 2)
            return nullptr;
        const char escaped = p[1];
        p += 2;
        if (escaped == 'u') {
            if (end - p < 4)
                return nullptr;
            bool ok = false;
            const ushort unit = QByteArray(p, 4).toUShort(&ok, 16);
            text->append(ok ? QChar(unit) : QChar::ReplacementCharacter);
            p += 4;
        } else {
            // \" \\ \/ stand for themselves; the others for control characters.
            static const char controls[] = "b\bf\fn\nr\rt\t";
            const char *control = std::strchr(controls, escaped);
            const bool isControl = escaped != '\0' && control && (control - controls) % 2 == 0;
            text->append(QLatin1Char(isControl ? control[1] : escaped));
        }
        run = p;
    }
    return nullptr;
}

// Deeper than this, Qt's JSON parser refuses a document.
constexpr size_t parserNestingLimit = 1024;

// Whether some object in the text names a member twice, or the text nests
// deeper than the parser goes (it would refuse it: no need to read on). Only
// strings, member names and nesting are followed; the parser judges the rest.
bool refusedBeforeParsing(const QByteArray &json)
{
    struct Scope
    {
        bool isObject;
        QSet<QString> keys;
    };
    std::vector<Scope> scopes;
    bool nextIsKey = false;
    QString text;
    const char *p = json.constData();
    const char *const end = p + json.size();
    while (p < end) {
        switch (*p) {
        case '{':
        case '[':
            if (scopes.size() == parserNestingLimit)
                return true;
            scopes.push_back({*p == '{', {}});
            nextIsKey = *p == '{';
            ++p;
            break;
        case '}':
        case ']':
            if (!scopes.empty())
                scopes.pop_back();
            nextIsKey = false;
            ++p;
            break;
        case ',':
            nextIsKey = !scopes.empty() && scopes.back().isObject;
            ++p;
            break;
        case '"':
            p = readString(p, end, &text);
            if (!p)
                return false;
            if (nextIsKey) {
                QSet<QString> &keys = scopes.back().keys;
                if (keys.contains(text))
                    return true;
                keys.insert(text);
                nextIsKey = false;
            }
            break;
        default:
            ++p;
        }
    }
    return false;
}

QString shortNumber(double value)
{
    return QString::number(value, 'g', 6);
}

} // namespace

PluginTable pluginTable()
{
    PluginTable table;
    int index = 0;
    for (const Plugin &plugin : plugins)
        table.insert(QString::fromUtf8(plugin.name), index++);
    return table;
}

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

bool isBaudRate(int baud)
{
    return std::find(std::begin(baudRates), std::end(baudRates), baud) != std::end(baudRates);
}

QStringList pluginNames()
{
    QStringList names;
    for (const Plugin &plugin : plugins)
        names.append(QString::fromUtf8(plugin.name));
    return names;
}

QByteArray setDatagram(const Settings &settings)
{
    QJsonObject arg{{QStringLiteral("baud"), settings.baud}};
    if (settings.pluginName) // as given: a converter takes back a name of its own
        arg.insert(QStringLiteral("pluginName"), *settings.pluginName);
    return datagram(
        {{QStringLiteral("call"), QStringLiteral("lbx.set")}, {QStringLiteral("arg"), arg}});
}

bool showsSettings(const QJsonObject &record, const Settings &settings)
{
    // A record without a plug-in does not show the empty one.
    return baudText(record) == QString::number(settings.baud)
        && (!settings.pluginName
            || record.value(QLatin1String("pluginName")) == QJsonValue(*settings.pluginName));
}

// Qt 5.15's parser leaks the first value of a member named twice when that
// value is an array or an object, so any host could make the tool grow with
// every such datagram. No converter names a member twice: the datagram is
// dropped before it is parsed.
QJsonObject replyObject(const QByteArray &datagram)
{
    if (refusedBeforeParsing(datagram))
        return {};
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

QString replyFailure(const QJsonObject &reply)
{
    auto text = [](const QJsonValue &value) {
        if (value.isString())
            return QStringLiteral("\"%1\"").arg(value.toString());
        const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        return QString::fromUtf8(array.mid(1, array.size() - 2));
    };
    QStringList words;
    const QJsonValue result = reply.value(QLatin1String("result"));
    const bool succeeded = result.isUndefined() || result == QJsonValue(true)
        || result.toString().compare(QLatin1String("ok"), Qt::CaseInsensitive) == 0
        || result.toString().compare(QLatin1String("success"), Qt::CaseInsensitive) == 0;
    if (!succeeded)
        words.append(QStringLiteral("result ") + text(result));
    const QJsonValue error = reply.value(QLatin1String("error"));
    if (!error.isUndefined())
        words.append(QStringLiteral("error ") + text(error));
    return words.join(QStringLiteral(", "));
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

QString appVersionText(const QJsonObject &record)
{
    return shortNumber(record.value(QLatin1String("appVersion")).toDouble());
}

QString versionText(const QJsonObject &record)
{
    const QString rom = record.value(QLatin1String("romVersion")).toString();
    return appVersionText(record) + QLatin1Char('(') + rom + QLatin1Char(')');
}

QString shownText(const QString &text)
{
    if (text.size() <= maxShownLength)
        return text;
    // Cut where a character ends, so that no surrogate pair or accent is split.
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    characters.setPosition(maxShownLength - 1);
    const int cut
        = characters.isAtBoundary() ? characters.position() : characters.toPreviousBoundary();
    return text.left(cut) + QChar(0x2026);
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

QString pluginCaption(const QJsonObject &record)
{
    const int count = int(std::size(plugins));
    return QString::fromUtf8(plugins[pluginIndex(record, pluginTable(), count)].caption);
}

} // namespace Protocol
