#include "addressrange.h"

#include "output.h"
#include "translation.h"

#include <QRegularExpression>

AddressRange AddressRange::around(quint32 address, int prefix)
{
    const quint32 mask = prefix == 0 ? 0 : ~quint32(0) << (32 - prefix);
    return {address & mask, prefix};
}

QString AddressRange::text() const
{
    return QStringLiteral("%1/%2").arg(QHostAddress(network).toString()).arg(prefix);
}

QList<QHostAddress> AddressRange::hosts() const
{
    const quint64 size = quint64(1) << (32 - prefix);
    // Below a /31, the first and the last address name the network and its broadcast.
    const quint64 edge = prefix < 31 ? 1 : 0;
    QList<QHostAddress> list;
    list.reserve(int(size - 2 * edge));
    for (quint64 offset = edge; offset < size - edge; ++offset)
        list.append(QHostAddress(quint32(network + offset)));
    return list;
}

AddressRange addressRange(const QString &text, QString *error)
{
    static const QRegularExpression cidr(
        QStringLiteral("^((?:0|[1-9][0-9]{0,2})(?:\\.(?:0|[1-9][0-9]{0,2})){3})/(0|[1-9][0-9]?)$"));
    const QRegularExpressionMatch match = cidr.match(text);
    const QHostAddress address(match.captured(1));
    const int prefix = match.captured(2).toInt();
    if (!match.hasMatch() || address.protocol() != QAbstractSocket::IPv4Protocol || prefix > 32) {
        *error = Text::tr("\"%1\" is not an IPv4 range such as 10.80.0.0/24 (decimal "
                          "numbers without leading zeros, a prefix from %2 to 32)")
                     .arg(Output::escaped(text))
                     .arg(AddressRange::widestPrefix);
        return {0, -1};
    }
    if (prefix < AddressRange::widestPrefix) {
        *error = Text::tr("%1 holds more than a /%2: sweep it as several smaller ranges")
                     .arg(text)
                     .arg(AddressRange::widestPrefix);
        return {0, -1};
    }
    const AddressRange range = AddressRange::around(address.toIPv4Address(), prefix);
    const quint32 first = range.network >> 24;
    if (first == 0 || first >= 224) {
        *error = Text::tr("%1 lies in 0.0.0.0/8, multicast or reserved space, where no "
                          "converter can be")
                     .arg(range.text());
        return {0, -1};
    }
    return range;
}
