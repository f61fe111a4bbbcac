#ifndef LBXCTL_ADDRESSRANGE_H
#define LBXCTL_ADDRESSRANGE_H

#include <QHostAddress>
#include <QList>
#include <QString>

// An IPv4 range written ADDRESS/PREFIX, which a sweep asks address by address.
struct AddressRange
{
    quint32 network = 0;
    int prefix = 32;

    // The widest range a sweep takes: a /16 is 65,534 requests already.
    static constexpr int widestPrefix = 16;

    // The range of that prefix holding the address.
    static AddressRange around(quint32 address, int prefix);

    // "10.80.0.0/24"
    QString text() const;
    // Its host addresses in order: without the network and broadcast address
    // where the prefix has them; a /31 holds two hosts and a /32 one (RFC 3021).
    QList<QHostAddress> hosts() const;
};

// The range "ADDRESS/PREFIX" (host bits of the address are ignored, as in
// "10.80.0.7/24" for the adapter's own network); a null range, prefix -1, and
// why for anything else: not such a text, wider than a /16, or in 0.0.0.0/8,
// multicast or reserved space, where no converter can be.
AddressRange addressRange(const QString &text, QString *error);

#endif // LBXCTL_ADDRESSRANGE_H
