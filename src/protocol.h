#ifndef PROTOCOL_H
#define PROTOCOL_H

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>

// The converters' command protocol: one JSON object per UDP datagram.
// Plain values and functions only, so that everything a datagram reaches
// before it touches a widget can be tested and fuzzed on its own.
namespace Protocol {

constexpr quint16 converterPort = 12166;

// The fixed requests, byte for byte as the converters expect them.
constexpr char infoRequest[] = R"({"call":"lbx.info"})";
constexpr char uploadLogRequest[] = R"({"call":"lbx.uploadLog"})";
constexpr char updateRequest[] = R"({"call":"lbx.update"})";
constexpr char factoryRequest[] = R"({"call":"lbx.factory"})";

// Plug-in name as the converter reports and accepts it, to the index of the
// protocol entry that stands for it.
using PluginTable = QMap<QString, int>;

// What a reply answers, by its "ack"; Unknown for anything else.
enum class Reply { Unknown, Info, Set, UploadLog, Update, Factory };

// The lbx.set request for a baud-rate text and a protocol index; "pluginName"
// is left out when no plug-in has that index.
QJsonObject setRequest(const QString &baudText, int protocolIndex, const PluginTable &plugins);
QByteArray datagram(const QJsonObject &request);

// The top-level object of a datagram; empty for anything that is not a JSON
// object, and for an object in which some object names a member twice.
QJsonObject replyObject(const QByteArray &datagram);
Reply replyKind(const QJsonObject &reply);

// A reply's "arg"; empty when it is missing or not an object.
QJsonObject replyArg(const QJsonObject &reply);
// The device record of an lbx.info reply's "arg": every member as received, and
// "ip" set to the sender's address whatever the converter put there.
QJsonObject deviceRecord(const QJsonObject &infoArg, const QString &senderAddress);

// An address text without an IPv6 prefix: "::ffff:10.0.0.7" gives "10.0.0.7".
QString lastAddressPart(const QString &addressText);

// What the detail view shows for a device record.
QString uuidText(const QJsonObject &record);
QString ipText(const QJsonObject &record);
QString versionText(const QJsonObject &record);
QString baudText(const QJsonObject &record);
int pluginIndex(const QJsonObject &record, const PluginTable &plugins, int entryCount);

} // namespace Protocol

#endif // PROTOCOL_H
