#include "sweep.h"

#include "protocol.h"

namespace {

// Time the pace may lag behind and then catch up on at once: without it, a
// rate above a thousand a second could not be kept by waits of whole milliseconds.
constexpr qint64 catchUpNs = qint64(5) * 1000 * 1000;
constexpr qint64 nsPerMs = qint64(1000) * 1000;

} // namespace

Sweep::Sweep(Channel &channel, const QList<QHostAddress> &addresses, int rate, int timeoutMs,
    int mostUnanswered)
    : channel(channel)
    , addresses(addresses)
    , intervalNs(qint64(1000) * nsPerMs / qMax(rate, 1))
    , timeoutNs(qint64(timeoutMs) * nsPerMs)
    , mostUnanswered(mostUnanswered)
{
    clock.start();
}

qint64 Sweep::placeTimeoutNs() const
{
    if (smoothedNs < 0)
        return qMin(timeoutNs, firstGuessMs * nsPerMs);
    return qBound(floorMs * nsPerMs, smoothedNs + 4 * variationNs, timeoutNs);
}

void Sweep::heard(const QHostAddress &from)
{
    const quint32 address = from.toIPv4Address();
    answering.insert(address);
    const auto asked = unanswered.constFind(address);
    if (asked == unanswered.constEnd())
        return;
    const qint64 sample = clock.nsecsElapsed() - *asked;
    unanswered.erase(asked);
    if (smoothedNs < 0) {
        smoothedNs = sample;
        variationNs = sample / 2;
    } else {
        variationNs = (3 * variationNs + qAbs(smoothedNs - sample)) / 4;
        smoothedNs = (7 * smoothedNs + sample) / 8;
    }
}

QDeadlineTimer Sweep::step()
{
    const qint64 now = clock.nsecsElapsed();
    while (!waiting.empty()
        && (!unanswered.contains(waiting.front().address)
            || now - waiting.front().sentNs > placeTimeoutNs())) {
        unanswered.remove(waiting.front().address);
        waiting.pop_front();
    }
    const bool room = unanswered.size() < mostUnanswered;
    if (next < total() && room && now >= nextNs) {
        const QHostAddress &to = addresses.at(next++);
        channel.send(Protocol::infoRequest, to);
        waiting.push_back({to.toIPv4Address(), now});
        unanswered.insert(to.toIPv4Address(), now);
        nextNs = qMax(nextNs, now - catchUpNs) + intervalNs;
        lastSentNs = now;
        return QDeadlineTimer(0);
    }
    qint64 wakeNs = lastSentNs + timeoutNs;
    if (next < total())
        wakeNs = room ? nextNs : waiting.front().sentNs + placeTimeoutNs() + 1;
    QDeadlineTimer wake;
    wake.setPreciseRemainingTime(0, qMax<qint64>(0, wakeNs - now));
    return wake;
}

bool Sweep::done() const
{
    return total() == 0 || (next >= total() && clock.nsecsElapsed() >= lastSentNs + timeoutNs);
}

qint64 Sweep::msLeft() const
{
    const qint64 now = clock.nsecsElapsed();
    const qint64 end = qMax(nextNs, now) + qint64(total() - next) * intervalNs + timeoutNs;
    return (next >= total() ? lastSentNs + timeoutNs - now : end - now) / nsPerMs;
}
