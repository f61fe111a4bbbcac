#ifndef LBXCTL_EXCHANGES_H
#define LBXCTL_EXCHANGES_H

#include "client.h"

#include <QDeadlineTimer>

#include <memory>
#include <vector>

// The exchanges of one Client::ask: each order's command, sent with at most
// Client::maxOutstanding waiting, and what became of it. Each command goes out
// from a channel of its own, kept for all its tries, and each probe (lbx.info
// before a state-changing command is sent again) from another: only the
// command's own acknowledgement, and the probe's own answer, from the address
// asked, decide anything.
class Exchanges
{
public:
    Exchanges(Client &client, const QList<Client::Order> &orders,
        const Client::OutcomeKnown &outcomeKnown);

    void run();
    QList<Answer> answers() const;

private:
    enum class State { Queued, Sent, Probing, Finished };
    struct Exchange
    {
        Answer answer;
        const Client::Command *command;
        State state = State::Queued;
        QDeadlineTimer due;
        std::unique_ptr<Channel> asking; // the command's
        std::unique_ptr<Channel> probing; // the probe's, while one is out
    };

    void finish(size_t i, Answer::Outcome outcome);
    void sendCommand(size_t i);
    void probe(size_t i);
    void commandAnswered(size_t i, const QHostAddress &from, const QJsonObject &reply);
    void probeAnswered(size_t i, const QHostAddress &from, const QJsonObject &reply);
    void expire(size_t i);
    void reportUnfinished();

    Client &client;
    const int timeoutMs;
    const int retries;
    const Client::OutcomeKnown &outcomeKnown;
    std::vector<Exchange> exchanges;
    std::vector<size_t> active; // sent or probing, in no particular order
};

#endif // LBXCTL_EXCHANGES_H
