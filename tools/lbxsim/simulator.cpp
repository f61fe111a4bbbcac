#include "simulator.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QTimer>

#include <cmath>
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
    clock.start();
    if (!openJournal(error))
        return false;
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
    // A reset converter moves there: fail now, not at the reset.
    QUdpSocket trial;
    if (!options.factoryAddress.isNull() && !bind(trial, options.factoryAddress))
        return false;
    connect(&broadcastSocket, &QUdpSocket::readyRead, this, [this] {
        receive(broadcastSocket, -1);
    });

    // Only a datagram sent to one of these reaches every converter.
    broadcastAddresses.insert(QHostAddress(QHostAddress::Broadcast));
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (!entry.broadcast().isNull())
                broadcastAddresses.insert(entry.broadcast());
        }
    }

    nodes.reserve(options.count);
    for (int n = 0; n < options.count; ++n) {
        nodes.push_back({makeConverter(n), address(n), nullptr, {}, nullptr});
        if (!listen(n, address(n), error))
            return false;
        if (options.answersFrom.contains(n + 1)
            && !answerFrom(n, options.answersFrom.value(n + 1), error))
            return false;
        if (options.verbose || options.count <= 16)
            say(n,
                QStringLiteral("up, %1").arg(nodes.back().converter.settings().pluginName.value_or(
                    QStringLiteral("no plug-in"))));
    }
    out << "lbxsim: " << options.count << " converters on " << address(0).toString() << " to "
        << address(options.count - 1).toString() << ", port " << options.port << Qt::endl;
    return true;
}

Converter Simulator::makeConverter(int n) const
{
    const int number = n + 1;
    const QString uuid = options.uuids.value(number,
        QStringLiteral("%1%2").arg(options.uuidPrefix).arg(number, 6, 10, QLatin1Char('0')));
    Converter::Settings factory;
    if (options.withoutPlugin.contains(number))
        factory.pluginName = std::nullopt;
    else if (options.plugins.contains(number))
        factory.pluginName = options.plugins.value(number);
    Converter::Quirks quirks;
    quirks.keepsSettings = options.keepingSettings.contains(number);
    quirks.rejectsSettings = options.rejecting.contains(number);
    quirks.rejectsUpdates = options.rejectingUpdates.contains(number);
    quirks.uuidAsNumber = options.uuidNumbers.contains(number);
    quirks.twin = options.twins.value(number);
    quirks.updateTo = options.updateTo;
    return Converter(uuid, 1.5, QStringLiteral("2.0.%1").arg(number), factory, quirks);
}

bool Simulator::openJournal(QString *error)
{
    if (options.journal.isEmpty())
        return true;
    journal.setFileName(options.journal);
    if (journal.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return true;
    *error = QStringLiteral("cannot write the journal %1: %2")
                 .arg(options.journal, journal.errorString());
    return false;
}

bool Simulator::listen(int converter, const QHostAddress &address, QString *error)
{
    Node &node = nodes[size_t(converter)];
    auto socket = std::make_unique<QUdpSocket>();
    if (!socket->bind(
            address, options.port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(address.toString())
                     .arg(options.port)
                     .arg(socket->errorString());
        return false;
    }
    QUdpSocket *raw = socket.get();
    connect(raw, &QUdpSocket::readyRead, this, [this, raw, converter] {
        receive(*raw, converter);
    });
    node.address = address;
    // Replaced only once its own handler has returned.
    if (node.socket)
        node.socket.release()->deleteLater();
    node.socket = std::move(socket);
    return true;
}

// Its answers leave from a port of its own on that address, so that requests
// to a converter living there still reach that converter alone.
bool Simulator::answerFrom(int converter, const QHostAddress &address, QString *error)
{
    auto socket = std::make_unique<QUdpSocket>();
    if (!socket->bind(address, 0)) {
        *error = QStringLiteral("cannot answer from %1: %2")
                     .arg(address.toString(), socket->errorString());
        return false;
    }
    nodes[size_t(converter)].answerSocket = std::move(socket);
    return true;
}

bool Simulator::hears(int converter, bool broadcast) const
{
    return !(broadcast ? options.unicastOnly : options.broadcastOnly).contains(converter + 1);
}

QHostAddress Simulator::factoryAddressFor(int converter) const
{
    for (quint32 candidate = options.factoryAddress.toIPv4Address();; ++candidate) {
        bool taken = false;
        for (int n = 0; n < int(nodes.size()); ++n)
            taken = taken
                || (n != converter && nodes[size_t(n)].address.toIPv4Address() == candidate);
        if (!taken)
            return QHostAddress(candidate);
    }
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
        const QHostAddress to(datagram.destinationAddress().toIPv4Address());
        if (!broadcastAddresses.contains(to)) {
            if (options.verbose)
                out << "lbxsim: no converter at " << to.toString() << ": ignored" << Qt::endl;
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
    if (!hears(converter, broadcast)) {
        record(converter, datagram, "deaf");
        return;
    }
    if (node.restartedAt.remainingTime() > 0) {
        if (options.verbose)
            say(converter, QStringLiteral("silent: restarting"));
        record(converter, datagram, "ignored-restarting");
        return;
    }
    const Converter::Settings before = node.converter.settings();
    const Converter::Outcome outcome = node.converter.handle(datagram.data());
    if (!outcome.event.isEmpty())
        say(converter, outcome.event);
    // A converter restarts whether or not its answer gets through.
    if (outcome.restarts && options.restartMs > 0)
        node.restartedAt = QDeadlineTimer(options.delayMs + options.restartMs);
    if (outcome.reply.isEmpty()) {
        recordOutcome(converter, datagram, outcome, before, {true, false, false});
        return;
    }
    const Delivery delivery = drawDelivery();
    if (delivery.silent && options.verbose)
        say(converter, QStringLiteral("does not answer"));
    recordOutcome(converter, datagram, outcome, before, delivery);

    answer(converter, datagram, outcome, delivery);
}

// Each chance is drawn only where it is set, so that a seed gives the same
// answers lost whatever else is simulated.
Simulator::Delivery Simulator::drawDelivery()
{
    const auto drawn = [this](double chance) {
        return chance > 0 && random.generateDouble() < chance;
    };
    Delivery delivery;
    delivery.silent = drawn(options.silentChance);
    delivery.late = drawn(options.lateChance);
    delivery.duplicated = drawn(options.duplicateChance);
    return delivery;
}

// The answer goes out after the delay (a late one later still), with the
// twin's where there is one; a converter reset to factory settings comes back
// at its factory address.
void Simulator::answer(int converter, const QNetworkDatagram &datagram,
    const Converter::Outcome &outcome, Delivery delivery)
{
    const QHostAddress to = datagram.senderAddress();
    const quint16 port = quint16(datagram.senderPort());
    const bool info
        = QJsonDocument::fromJson(datagram.data()).object().value(QStringLiteral("call"))
        == QStringLiteral("lbx.info");
    const QByteArray twin = info ? nodes[converter].converter.twinInfoReply() : QByteArray();
    const bool moves = outcome.reset && !options.factoryAddress.isNull();
    const int copies = delivery.silent ? 0 : delivery.duplicated ? 2 : 1;
    auto answer = [=] {
        for (int copy = 0; copy < copies; ++copy) {
            send(converter, outcome.reply, to, port);
            if (!twin.isEmpty())
                send(converter, twin, to, port);
        }
        if (moves) {
            QString error;
            const QHostAddress next = factoryAddressFor(converter);
            if (listen(converter, next, &error))
                say(converter, QStringLiteral("comes back at %1").arg(next.toString()));
            else
                say(converter, error);
        }
    };
    const int delayMs = options.delayMs + (delivery.late ? options.lateMs : 0);
    if (delayMs == 0)
        answer();
    else
        QTimer::singleShot(delayMs, this, answer);
}

void Simulator::send(int converter, const QByteArray &reply, const QHostAddress &to, quint16 port)
{
    Node &node = nodes[size_t(converter)];
    (node.answerSocket ? node.answerSocket : node.socket)->writeDatagram(reply, to, port);
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

namespace {

QJsonObject settingsObject(const Converter::Settings &settings)
{
    QJsonObject object{{QStringLiteral("baud"), settings.baud}};
    if (settings.pluginName)
        object.insert(QStringLiteral("pluginName"), *settings.pluginName);
    return object;
}

} // namespace

void Simulator::recordOutcome(int converter, const QNetworkDatagram &datagram,
    const Converter::Outcome &outcome, const Converter::Settings &before, Delivery delivery)
{
    const Node &node = nodes[size_t(converter)];
    QJsonObject more{{QStringLiteral("answered"), !delivery.silent},
        {QStringLiteral("before"), settingsObject(before)},
        {QStringLiteral("after"), settingsObject(node.converter.settings())},
        {QStringLiteral("version"), node.converter.version()}};
    if (!outcome.words.isEmpty())
        more.insert(QStringLiteral("words"), outcome.words);
    if (delivery.late)
        more.insert(QStringLiteral("late"), true);
    if (delivery.duplicated)
        more.insert(QStringLiteral("duplicated"), true);
    if (node.answerSocket)
        more.insert(QStringLiteral("answeredFrom"), node.answerSocket->localAddress().toString());
    record(converter, datagram, outcome.did, more);
}

void Simulator::record(
    int converter, const QNetworkDatagram &datagram, const char *did, const QJsonObject &more)
{
    if (!journal.isOpen())
        return;
    const Node &node = nodes[size_t(converter)];
    QJsonObject line = more;
    line.insert(QStringLiteral("t"), std::round(double(clock.nsecsElapsed()) / 1e3) / 1e6);
    line.insert(QStringLiteral("converter"), converter + 1);
    line.insert(QStringLiteral("uuid"), node.converter.uuidValue());
    line.insert(QStringLiteral("at"), node.address.toString());
    line.insert(QStringLiteral("from"),
        QStringLiteral("%1:%2")
            .arg(QHostAddress(datagram.senderAddress().toIPv4Address()).toString())
            .arg(datagram.senderPort()));
    line.insert(QStringLiteral("to"),
        QHostAddress(datagram.destinationAddress().toIPv4Address()).toString());
    const QJsonObject request = QJsonDocument::fromJson(datagram.data()).object();
    line.insert(QStringLiteral("call"), request.value(QStringLiteral("call")));
    // What a setting asked for, as it arrived.
    if (request.value(QLatin1String("call")) == QLatin1String("lbx.set"))
        line.insert(QStringLiteral("asked"), request.value(QLatin1String("arg")));
    line.insert(QStringLiteral("did"), QString::fromLatin1(did));
    // Written as it happens, so that a test can read it while the converters run;
    // a record with lines missing would lie, so a journal that cannot be written
    // stops the simulator.
    const QByteArray bytes = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    if (journal.write(bytes) != bytes.size() || !journal.flush()) {
        std::fprintf(stderr, "lbxsim: cannot write the journal %s: %s\n",
            qPrintable(options.journal), qPrintable(journal.errorString()));
        journal.close();
        QCoreApplication::exit(1);
    }
}
