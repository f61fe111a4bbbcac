#ifndef LBXSIM_SIMULATOR_H
#define LBXSIM_SIMULATOR_H

#include "converter.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonObject>
#include <QMap>
#include <QNetworkDatagram>
#include <QObject>
#include <QRandomGenerator>
#include <QSet>
#include <QTextStream>
#include <QUdpSocket>

#include <memory>
#include <vector>

// Runs simulated converters on the local machine: one socket on the converter
// port of the any-address hears broadcasts for all of them, and each converter
// has a socket of its own on its address, which hears requests sent to it alone
// and sends its replies.
class Simulator : public QObject
{
public:
    struct Options
    {
        int count = 3;
        QHostAddress base = QHostAddress(QStringLiteral("127.0.0.2"));
        quint16 port = 12166;
        int delayMs = 0;
        double silentChance = 0;
        int restartMs = 0;
        bool verbose = false;
        quint32 seed = 1;
        QString uuidPrefix = QStringLiteral("LBXSIM");
        QMap<int, QString> uuids; // by converter number from 1: a uuid of its own
        QSet<int> keepingSettings; // converter numbers from 1
        QSet<int> rejecting; // converter numbers from 1: reject every lbx.set
        QSet<int> rejectingUpdates; // converter numbers from 1: reject every lbx.update
        QSet<int> uuidNumbers; // converter numbers from 1: report the uuid as a number
        QMap<int, QString> twins; // by converter number from 1: a second uuid it answers as
        double updateTo = 0;
        QHostAddress factoryAddress; // null: a reset converter keeps its address
        QString journal; // a file for a JSON line per datagram received; empty: none
        // What a real LAN does to answers: some arrive lateMs later than the
        // rest (after the tool has moved on), some arrive twice.
        double lateChance = 0;
        int lateMs = 0;
        double duplicateChance = 0;
        // By converter number from 1: its own plug-in name at factory settings
        // (any text, the empty one too), or none at all.
        QMap<int, QString> plugins;
        QSet<int> withoutPlugin;
        // By converter number from 1: answers from another address (a second
        // adapter, NAT, a neighbour answering for it).
        QMap<int, QHostAddress> answersFrom;
        QSet<int> unicastOnly; // does not hear the search broadcast
        QSet<int> broadcastOnly; // hears the broadcast only, not requests to its address
    };

    explicit Simulator(Options options);
    ~Simulator() override;

    // Binds every socket; on failure says why in error.
    bool start(QString *error);
    QHostAddress address(int converter) const;

private:
    struct Node
    {
        Converter converter;
        QHostAddress address;
        std::unique_ptr<QUdpSocket> socket;
        QDeadlineTimer restartedAt;
        std::unique_ptr<QUdpSocket> answerSocket; // where it answers from, when not its own
    };

    // How the network treats one answer.
    struct Delivery
    {
        bool silent = false; // lost
        bool late = false;
        bool duplicated = false;
    };

    void receive(QUdpSocket &socket, int converter);
    void request(int converter, const QNetworkDatagram &datagram, bool broadcast);
    void answer(int converter, const QNetworkDatagram &datagram, const Converter::Outcome &outcome,
        Delivery delivery);
    Delivery drawDelivery();
    // Whether the converter hears a datagram that came by broadcast, or to its address.
    bool hears(int converter, bool broadcast) const;
    void send(int converter, const QByteArray &reply, const QHostAddress &to, quint16 port);
    bool listen(int converter, const QHostAddress &address, QString *error);
    bool answerFrom(int converter, const QHostAddress &address, QString *error);
    bool openJournal(QString *error);
    Converter makeConverter(int n) const;
    // Where a converter comes back after a factory reset: the factory address,
    // or the next one that no other converter holds.
    QHostAddress factoryAddressFor(int converter) const;
    void say(int converter, const QString &what);
    void recordOutcome(int converter, const QNetworkDatagram &datagram,
        const Converter::Outcome &outcome, const Converter::Settings &before, Delivery delivery);
    // One line of the journal: what a converter did with a datagram.
    void record(int converter, const QNetworkDatagram &datagram, const char *did,
        const QJsonObject &more = {});

    Options options;
    QUdpSocket broadcastSocket;
    QSet<QHostAddress> broadcastAddresses;
    std::vector<Node> nodes;
    QRandomGenerator random;
    QTextStream out;
    QFile journal;
    QElapsedTimer clock;
};

#endif // LBXSIM_SIMULATOR_H
