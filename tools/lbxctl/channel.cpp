#include "channel.h"

#include "client.h"

#include <QFile>

Channel::Channel(Client &client, int id, Handler handler, std::unique_ptr<QUdpSocket> socket)
    : client(client)
    , id(id)
    , handler(std::move(handler))
    , socket(std::move(socket))
{
}

Channel::~Channel()
{
    client.forget(*this);
}

void Channel::send(const QByteArray &request, const QHostAddress &to)
{
    socket->writeDatagram(request, to, Protocol::converterPort);
    ++client.sent;
}

int Channel::grantedBufferBytes() const
{
    return socket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
}

#ifdef Q_OS_WIN
qint64 Channel::kernelDrops() const
{
    return -1;
}
#else
// Linux counts each UDP socket's drops in the last column of /proc/net/udp,
// where the socket is found by its local port.
qint64 Channel::kernelDrops() const
{
    QFile table(QStringLiteral("/proc/self/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray portText = QByteArray::number(port(), 16).toUpper().rightJustified(4, '0');
    table.readLine(); // the header
    for (QByteArray line = table.readLine(); !line.isEmpty(); line = table.readLine()) {
        const QList<QByteArray> columns = line.simplified().split(' ');
        if (columns.size() < 13 || !columns.at(1).endsWith(':' + portText))
            continue;
        bool ok = false;
        const qint64 drops = columns.constLast().toLongLong(&ok);
        return ok ? drops : -1;
    }
    return -1;
}
#endif
