#ifndef LBXCTL_CHANNEL_H
#define LBXCTL_CHANNEL_H

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QUdpSocket>

#include <functional>
#include <memory>

class Client;

// A UDP socket of its own for one round of questions (a search, one command to
// one converter, one probe, one poll). The protocol has no request
// identifiers, so this is what tells which question an answer answers: a late
// answer to an earlier round arrives at a port nobody reads for this one. A
// port serves one round only in a run of lbxctl.
//
// Made by Client::openChannel(); every datagram that arrives is handed to the
// handler by Client::receiveUntil(). Closed when destroyed.
class Channel
{
public:
    // Takes an answer and the address it came from.
    using Handler = std::function<void(const QHostAddress &from, const QJsonObject &reply)>;

    ~Channel();
    Channel(const Channel &) = delete;
    Channel &operator=(const Channel &) = delete;

    void send(const QByteArray &request, const QHostAddress &to);
    quint16 port() const { return socket->localPort(); }
    // The receive buffer the system granted, in bytes.
    int grantedBufferBytes() const;
    // Datagrams the system dropped on this socket for want of buffer space; -1
    // where it does not tell (Linux tells, per socket).
    qint64 kernelDrops() const;

private:
    friend class Client;
    Channel(Client &client, int id, Handler handler, std::unique_ptr<QUdpSocket> socket);

    Client &client;
    const int id;
    Handler handler;
    std::unique_ptr<QUdpSocket> socket;
    bool countsDrops = false; // a search's: its drops are the client's to report
};

#endif // LBXCTL_CHANNEL_H
