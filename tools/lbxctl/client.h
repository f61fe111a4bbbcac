#ifndef LBXCTL_CLIENT_H
#define LBXCTL_CLIENT_H

#include "protocol.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUdpSocket>

// A converter that answered a search: its device record, "ip" included.
struct Converter
{
    QString uuid;
    QHostAddress address;
    QJsonObject record;
};

// What one converter answered to a command.
struct Answer
{
    QHostAddress address;
    bool answered = false;
    QJsonObject reply;
    int tries = 0;
};

// Speaks the converters' protocol from one UDP socket, waiting for answers
// with a timeout and asking again the converters that have not answered.
class Client
{
public:
    struct Options
    {
        int timeoutMs = 2000;
        int retries = 0;
        QString interfaceName; // empty: every adapter
        QList<QHostAddress> hosts; // asked by unicast instead of searched for by broadcast
    };

    explicit Client(Options options);

    // Binds the socket (to the adapter's address with an interface name); on
    // failure says why.
    bool open(QString *error);

    // Converters in the order of their first answer, one per uuid; a later
    // answer under the same uuid replaces the record.
    QList<Converter> discover();
    // Sends the request to each address and waits for the answer whose ack
    // names the call, asking again those that stay silent.
    QList<Answer> ask(
        const QList<QHostAddress> &addresses, const QByteArray &request, Protocol::Reply expected);

private:
    void send(const QByteArray &request, const QHostAddress &to);
    // Reads whatever arrives until the deadline or until done() says so.
    template <typename Handle, typename Done> void receive(int timeoutMs, Handle handle, Done done);

    Options options;
    QUdpSocket socket;
    QList<QHostAddress> destinations;
};

// The adapters' directed broadcast addresses: of every IPv4 adapter that is up,
// or of the one named. Empty when there is none.
QList<QHostAddress> directedBroadcasts(
    const QString &interfaceName, QHostAddress *ownAddress = nullptr);

#endif // LBXCTL_CLIENT_H
