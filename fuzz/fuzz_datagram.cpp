// Everything a received datagram reaches before it touches a widget: parsing,
// reply recognition, the device record and the detail view's texts.

#include "lbxform.h"
#include "protocol.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray datagram
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const QJsonObject reply = Protocol::replyObject(datagram);
    const Protocol::Reply kind = Protocol::replyKind(reply);
    if (kind != Protocol::Reply::Info)
        return 0;
    const QJsonObject record
        = Protocol::deviceRecord(Protocol::replyArg(reply), QStringLiteral("::ffff:10.77.0.9"));
    // Whatever the converter sent, the address is the sender's.
    if (Protocol::ipText(record) != QLatin1String("10.77.0.9"))
        std::abort();
    const QString version = Protocol::versionText(record);
    if (!version.endsWith(QLatin1Char(')')) || !version.contains(QLatin1Char('(')))
        std::abort();
    const QString baud = Protocol::baudText(record);
    if (baud.isEmpty() || baud.size() > 16)
        std::abort();
    const int plugin = Protocol::pluginIndex(record, pluginMap, 5);
    if (plugin < 0 || plugin > 4)
        std::abort();
    (void)Protocol::uuidText(record);
    return 0;
}
