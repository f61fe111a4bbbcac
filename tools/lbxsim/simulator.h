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
        QSet<int> uuidNumbers; // converter numbers from 1: report the uuid as a number
        QMap<int, QString> twins; // by converter number from 1: a second uuid it answers as
        double updateTo = 0;
        QHostAddress factoryAddress; // null: a reset converter keeps its address
        QString journal; // a file for a JSON line per datagram received; empty: none
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
    };

    void receive(QUdpSocket &socket, int converter);
    void request(int converter, const QNetworkDatagram &datagram, bool broadcast);
    void answer(int converter, const QNetworkDatagram &datagram, const Converter::Outcome &outcome,
        bool silent);
    void send(int converter, const QByteArray &reply, const QHostAddress &to, quint16 port);
    bool listen(int converter, const QHostAddress &address, QString *error);
    bool openJournal(QString *error);
    // Where a converter comes back after a factory reset: the factory address,
    // or the next one that no other converter holds.
    QHostAddress factoryAddressFor(int converter) const;
    void say(int converter, const QString &what);
    void recordOutcome(int converter, const QNetworkDatagram &datagram,
        const Converter::Outcome &outcome, const Converter::Settings &before, bool unanswered);
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
