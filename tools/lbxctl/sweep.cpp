#include "sweep.h"

#include <QElapsedTimer>
#include <QSet>

#include <deque>

namespace {

// Time the pace may lag behind and then catch up on at once: without it, a
// rate above a thousand a second could not be kept by waits of whole milliseconds.
constexpr qint64 catchUpNs = qint64(5) * 1000 * 1000;

struct Sent
{
    quint32 address;
    QDeadlineTimer due;
};

} // namespace

Sweep::Sweep(Client &client, const QList<QHostAddress> &addresses, int rate, int timeoutMs,
    int mostUnanswered)
    : client(client)
    , addresses(addresses)
    , intervalNs(qint64(1000) * 1000 * 1000 / qMax(rate, 1))
    , timeoutMs(timeoutMs)
    , mostUnanswered(mostUnanswered)
{
}

void Sweep::run(const Client::Handler &handle)
{
    std::deque<Sent> sent; // in the order sent, so the earliest due comes first
    QSet<quint32> unanswered;
    const auto heard = [&](const QHostAddress &from, const QJsonObject &reply) {
        unanswered.remove(from.toIPv4Address());
        handle(from, reply);
    };
    QElapsedTimer clock;
    clock.start();
    qint64 nextNs = 0;
    for (int next = 0; next < addresses.size() && !Client::interrupted();) {
        while (!sent.empty() && sent.front().due.hasExpired()) {
            unanswered.remove(sent.front().address);
            sent.pop_front();
        }
        const qint64 now = clock.nsecsElapsed();
        const bool room = unanswered.size() < mostUnanswered;
        if (room && now >= nextNs) {
            const QHostAddress &to = addresses.at(next++);
            client.send(Protocol::infoRequest, to);
            sent.push_back({to.toIPv4Address(), QDeadlineTimer(timeoutMs)});
            unanswered.insert(to.toIPv4Address());
            nextNs = qMax(nextNs, now - catchUpNs) + intervalNs;
            continue;
        }
        QDeadlineTimer wake = sent.empty() ? QDeadlineTimer(0) : sent.front().due;
        if (room)
            wake.setPreciseRemainingTime(0, nextNs - now);
        client.receiveUntil(wake, heard);
    }
    const QDeadlineTimer last(timeoutMs);
    while (!last.hasExpired() && !Client::interrupted())
        client.receiveUntil(last, heard);
}
