#ifndef LBXCTL_SWEEP_H
#define LBXCTL_SWEEP_H

#include "channel.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QSet>

#include <deque>

// Asks lbx.info of each address by unicast, paced so that a busy LAN and a
// small receive buffer take it: at most `rate` requests a second, and at most
// `mostUnanswered` waiting for their answer at once. A question waits for its
// answer as long as the round trips measured so far make plausible (as network
// scanners adapt their timeouts); one clearly late frees its place, but its
// answer, should it come while the sweep lasts, still counts. The sweep lasts
// until the timeout after the last request has passed.
class Sweep
{
public:
    Sweep(Channel &channel, const QList<QHostAddress> &addresses, int rate, int timeoutMs,
        int mostUnanswered);

    // Sends what the pace and the places allow; returns when it next needs a step.
    QDeadlineTimer step();
    // An answer came from this address.
    void heard(const QHostAddress &from);
    bool done() const;

    int asked() const { return next; }
    int total() const { return int(addresses.size()); }
    int answered() const { return int(answering.size()); }
    // About how long the rest of the sweep takes.
    qint64 msLeft() const;

    // How long a question waits before its place is freed, from the round
    // trips measured so far: the smoothed round trip and four times its
    // variation (RFC 6298), within floorMs and the timeout.
    static constexpr int floorMs = 20;
    static constexpr int firstGuessMs = 100; // before any answer was measured
    qint64 placeTimeoutNs() const;

private:
    struct Question
    {
        quint32 address;
        qint64 sentNs;
    };

    Channel &channel;
    const QList<QHostAddress> &addresses;
    const qint64 intervalNs;
    const qint64 timeoutNs;
    const int mostUnanswered;
    QElapsedTimer clock;
    int next = 0;
    qint64 nextNs = 0;
    qint64 lastSentNs = 0;
    std::deque<Question> waiting; // in the order sent; the answered ones left lazily
    QHash<quint32, qint64> unanswered; // holding a place: when it was sent
    QSet<quint32> answering;
    qint64 smoothedNs = -1;
    qint64 variationNs = 0;
};

#endif // LBXCTL_SWEEP_H
