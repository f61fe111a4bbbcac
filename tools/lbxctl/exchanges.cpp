#include "exchanges.h"

#include <algorithm>

Exchanges::Exchanges(
    Client &client, const QList<Client::Order> &orders, const Client::OutcomeKnown &outcomeKnown)
    : client(client)
    , timeoutMs(client.settings().timeoutMs)
    , retries(client.settings().retries)
    , outcomeKnown(outcomeKnown)
{
    QSet<quint32> addresses;
    exchanges.reserve(size_t(orders.size()));
    for (const Client::Order &order : orders) {
        if (addresses.contains(order.address.toIPv4Address()))
            continue;
        addresses.insert(order.address.toIPv4Address());
        exchanges.push_back({Answer{order.address, Answer::Outcome::NotSent, {}, {}, 0, {}},
            &order.command, State::Queued, {}, {}, {}});
    }
}

void Exchanges::finish(size_t i, Answer::Outcome outcome)
{
    Exchange &exchange = exchanges[i];
    exchange.state = State::Finished;
    exchange.answer.outcome = outcome;
    exchange.probing.reset();
    // lbx.info's channel stays open: the address may answer as another uuid too.
    if (exchange.command->expected != Protocol::Reply::Info)
        exchange.asking.reset();
    active.erase(std::find(active.begin(), active.end(), i));
    if (outcomeKnown)
        outcomeKnown(exchange.answer);
}

void Exchanges::sendCommand(size_t i)
{
    Exchange &exchange = exchanges[i];
    exchange.probing.reset();
    if (!exchange.asking) {
        exchange.asking
            = client.openChannel([this, i](const QHostAddress &from, const QJsonObject &reply) {
                  commandAnswered(i, from, reply);
              });
    }
    exchange.asking->send(exchange.command->request, exchange.answer.address);
    ++exchange.answer.tries;
    exchange.state = State::Sent;
    exchange.due = QDeadlineTimer(timeoutMs);
}

void Exchanges::probe(size_t i)
{
    Exchange &exchange = exchanges[i];
    exchange.probing
        = client.openChannel([this, i](const QHostAddress &from, const QJsonObject &reply) {
              probeAnswered(i, from, reply);
          });
    exchange.probing->send(Protocol::infoRequest, exchange.answer.address);
    exchange.state = State::Probing;
    exchange.due = QDeadlineTimer(timeoutMs);
}

// Any try's acknowledgement is the command's: every try asked the same.
void Exchanges::commandAnswered(size_t i, const QHostAddress &from, const QJsonObject &reply)
{
    Exchange &exchange = exchanges[i];
    Answer &answer = exchange.answer;
    if (from != answer.address || Protocol::replyKind(reply) != exchange.command->expected)
        return;
    if (exchange.state == State::Sent || exchange.state == State::Probing) {
        answer.reply = reply;
        answer.failure = Protocol::replyFailure(reply);
        finish(i, answer.failure.isEmpty() ? Answer::Outcome::Done : Answer::Outcome::Failed);
        return;
    }
    if (exchange.state != State::Finished || exchange.command->expected != Protocol::Reply::Info)
        return;
    const QJsonObject record = Protocol::deviceRecord(Protocol::replyArg(reply), from.toString());
    const auto uuid = [](const QJsonObject &object) {
        return object.value(QLatin1String("uuid"));
    };
    const QJsonValue first = uuid(Protocol::replyArg(answer.reply));
    const bool known = uuid(record) == first
        || std::any_of(
            answer.moreRecords.cbegin(), answer.moreRecords.cend(), [&](const QJsonObject &more) {
                return uuid(more) == uuid(record);
            });
    if (!known)
        answer.moreRecords.append(record);
}

void Exchanges::probeAnswered(size_t i, const QHostAddress &from, const QJsonObject &reply)
{
    Exchange &exchange = exchanges[i];
    if (exchange.state != State::Probing || from != exchange.answer.address
        || Protocol::replyKind(reply) != Protocol::Reply::Info)
        return;
    const QJsonObject record = Protocol::deviceRecord(Protocol::replyArg(reply), from.toString());
    const Client::Command &command = *exchange.command;
    const Evidence evidence = command.taken ? command.taken(record) : Evidence::Unknown;
    if (evidence == Evidence::NotTaken) {
        sendCommand(i); // up, and it did not take the command
        return;
    }
    exchange.answer.reply = record;
    finish(i, evidence == Evidence::Taken ? Answer::Outcome::AlreadySo : Answer::Outcome::Untold);
}

// A state-changing command is sent again only once lbx.info shows the
// converter up and not changed: it may have taken the command and be restarting.
void Exchanges::expire(size_t i)
{
    Exchange &exchange = exchanges[i];
    if (exchange.state == State::Probing)
        finish(i, Answer::Outcome::SilentToInfo);
    else if (exchange.answer.tries > retries)
        finish(i, Answer::Outcome::Silent);
    else if (exchange.command->changesState)
        probe(i);
    else
        sendCommand(i);
}

void Exchanges::run()
{
    size_t next = 0;
    while ((next < exchanges.size() || !active.empty()) && !Client::interrupted()) {
        while (int(active.size()) < Client::maxOutstanding && next < exchanges.size()) {
            active.push_back(next);
            sendCommand(next++);
        }
        QDeadlineTimer earliest(QDeadlineTimer::Forever);
        for (size_t i : active)
            earliest = qMin(earliest, exchanges[i].due);
        client.receiveUntil(earliest);
        const std::vector<size_t> waiting = active;
        for (size_t i : waiting) {
            if (exchanges[i].state != State::Finished && exchanges[i].due.hasExpired())
                expire(i);
        }
    }
    reportUnfinished();
}

// What an interrupt left: sent and not answered, or never sent.
void Exchanges::reportUnfinished()
{
    for (Exchange &exchange : exchanges) {
        if (exchange.state == State::Finished)
            continue;
        exchange.answer.outcome
            = exchange.state == State::Queued ? Answer::Outcome::NotSent : Answer::Outcome::Pending;
        if (outcomeKnown)
            outcomeKnown(exchange.answer);
    }
}

QList<Answer> Exchanges::answers() const
{
    QList<Answer> answers;
    for (const Exchange &exchange : exchanges)
        answers.append(exchange.answer);
    return answers;
}
