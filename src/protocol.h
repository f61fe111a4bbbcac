#ifndef PROTOCOL_H
#define PROTOCOL_H

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

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

// The protocol plug-ins a converter offers, in the order of the protocol
// entries (their index is the protocol index): the name the converter reports
// and accepts, and the caption the window shows. The empty name stands for
// any other plug-in.
struct Plugin
{
    const char *name;
    const char *caption;
};
constexpr Plugin plugins[] = {
    {"OvUdp485", "网络字节协议"},
    {"OvCom485", "485字节协议"},
    {"OvTcp485", "JSON协议"},
    {"Net485", "VEXO协议"},
    {"", "其他"},
};

// The baud rates a converter offers, in the order of the baud-rate entries.
constexpr int baudRates[] = {4800, 9600, 19200, 38400, 115200};
bool isBaudRate(int baud);
// The plug-in names, in the order of the protocol entries; the empty one last.
QStringList pluginNames();

// Plug-in name as the converter reports and accepts it, to the index of the
// protocol entry that stands for it.
using PluginTable = QMap<QString, int>;
PluginTable pluginTable();

// What lbx.set asks of a converter: a baud rate, and a plug-in, or none to keep
// the converter's own.
struct Settings
{
    int baud = 0;
    std::optional<QString> pluginName;
};
// The lbx.set datagram for the settings, the plug-in's name as it is given.
QByteArray setDatagram(const Settings &settings);
// Whether a device record reports the settings (the plug-in's name exactly).
bool showsSettings(const QJsonObject &record, const Settings &settings);

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

// Why a reply says its command failed, in the converter's own words: its "result"
// when that is not a success, and its "error" member in any form. Empty when the
// reply claims no failure.
QString replyFailure(const QJsonObject &reply);

// A reply's "arg"; empty when it is missing or not an object.
QJsonObject replyArg(const QJsonObject &reply);
// The device record of an lbx.info reply's "arg": every member as received, and
// "ip" set to the sender's address whatever the converter put there.
QJsonObject deviceRecord(const QJsonObject &infoArg, const QString &senderAddress);

// An address text without an IPv6 prefix: "::ffff:10.0.0.7" gives "10.0.0.7".
QString lastAddressPart(const QString &addressText);

// Text as the window shows it: cut to at most maxShownLength characters, an
// ellipsis included, so that no datagram can make one label or entry costly
// to draw. Only what is shown is cut: a converter is known by its whole uuid.
constexpr int maxShownLength = 256;
QString shownText(const QString &text);

// What the detail view shows for a device record.
QString uuidText(const QJsonObject &record);
QString ipText(const QJsonObject &record);
QString appVersionText(const QJsonObject &record);
QString versionText(const QJsonObject &record);
QString baudText(const QJsonObject &record);
int pluginIndex(const QJsonObject &record, const PluginTable &plugins, int entryCount);
// The caption of the plug-in a record reports; that of "other" for any unknown.
QString pluginCaption(const QJsonObject &record);

} // namespace Protocol

#endif // PROTOCOL_H
