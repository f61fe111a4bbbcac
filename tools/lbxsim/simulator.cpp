#include "simulator.h"

#include <QTimer>

#include <cstdio>
#include <utility>

Simulator::Simulator(Options options)
    : options(std::move(options))
    , random(this->options.seed)
    , out(stdout)
{
}

Simulator::~Simulator() = default;

QHostAddress Simulator::address(int converter) const
{
    return QHostAddress(options.base.toIPv4Address() + quint32(converter));
}

bool Simulator::start(QString *error)
{
    const auto bindMode = QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint;
    auto bind = [&](QUdpSocket &socket, const QHostAddress &address) {
        if (socket.bind(address, options.port, bindMode))
            return true;
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(address.toString())
                     .arg(options.port)
                     .arg(socket.errorString());
        return false;
    };
    if (!bind(broadcastSocket, QHostAddress::AnyIPv4))
        return false;
    connect(&broadcastSocket, &QUdpSocket::readyRead, this, [this] {
        receive(broadcastSocket, -1);
    });

    nodes.reserve(options.count);
    for (int n = 0; n < options.count; ++n) {
        const QString uuid
            = QStringLiteral("%1%2").arg(options.uuidPrefix).arg(n + 1, 6, 10, QLatin1Char('0'));
        const QString rom = QStringLiteral("2.0.%1").arg(n + 1);
        nodes.push_back({Converter(uuid, 1.5, rom, Converter::Settings()), address(n),
            std::make_unique<QUdpSocket>(), {}});
        Node &node = nodes.back();
        if (!bind(*node.socket, node.address))
            return false;
        connect(node.socket.get(), &QUdpSocket::readyRead, this, [this, n] {
            receive(*nodes[n].socket, n);
        });
        if (options.verbose || options.count <= 16)
            say(n, QStringLiteral("up, %1").arg(node.converter.settings().pluginName));
    }
    out << "lbxsim: " << options.count << " converters on " << address(0).toString() << " to "
        << address(options.count - 1).toString() << ", port " << options.port << Qt::endl;
    return true;
}

// Reads everything queued: a converter keeps up with whatever reaches it.
void Simulator::receive(QUdpSocket &socket, int converter)
{
    while (socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket.receiveDatagram();
        if (converter >= 0) {
            request(converter, datagram, false);
            continue;
        }
        for (int n = 0; n < int(nodes.size()); ++n)
            request(n, datagram, true);
    }
}

void Simulator::request(int converter, const QNetworkDatagram &datagram, bool broadcast)
{
    Node &node = nodes[converter];
    const QString from = QStringLiteral("%1:%2")
                             .arg(QHostAddress(datagram.senderAddress().toIPv4Address()).toString())
                             .arg(datagram.senderPort());
    if (options.verbose) {
        say(converter,
            QStringLiteral("in  %1 from %2: %3")
                .arg(broadcast ? QStringLiteral("broadcast") : QStringLiteral("unicast"), from,
                    QString::fromUtf8(datagram.data())));
    }
    if (node.restartedAt.remainingTime() > 0) {
        if (options.verbose)
            say(converter, QStringLiteral("silent: restarting"));
        return;
    }
    const Converter::Outcome outcome = node.converter.handle(datagram.data());
    if (!outcome.event.isEmpty())
        say(converter, outcome.event);
    if (outcome.reply.isEmpty())
        return;
    if (options.silentChance > 0 && random.generateDouble() < options.silentChance) {
        if (options.verbose)
            say(converter, QStringLiteral("does not answer"));
        return;
    }
    if (outcome.restarts && options.restartMs > 0)
        node.restartedAt = QDeadlineTimer(options.delayMs + options.restartMs);

    const QHostAddress to = datagram.senderAddress();
    const quint16 port = quint16(datagram.senderPort());
    if (options.delayMs == 0) {
        send(converter, outcome.reply, to, port);
        return;
    }
    QTimer::singleShot(options.delayMs, this, [=] {
        send(converter, outcome.reply, to, port);
    });
}

void Simulator::send(int converter, const QByteArray &reply, const QHostAddress &to, quint16 port)
{
    nodes[converter].socket->writeDatagram(reply, to, port);
    if (options.verbose) {
        say(converter,
            QStringLiteral("out to %1:%2: %3")
                .arg(QHostAddress(to.toIPv4Address()).toString())
                .arg(port)
                .arg(QString::fromUtf8(reply)));
    }
}

void Simulator::say(int converter, const QString &what)
{
    const Node &node = nodes[converter];
    out << node.address.toString() << ' ' << node.converter.uuid() << ": " << what << Qt::endl;
}
