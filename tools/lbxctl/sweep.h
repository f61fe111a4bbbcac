#ifndef LBXCTL_SWEEP_H
#define LBXCTL_SWEEP_H

#include "client.h"

#include <QHostAddress>
#include <QList>

// Asks lbx.info of each address by unicast, paced so that a busy LAN and a
// small receive buffer take it: at most `rate` requests a second, and at most
// `mostUnanswered` waiting for their answer at once (a request waits until
// its answer or the timeout). Then listens for late answers until the timeout
// after the last request has passed.
class Sweep
{
public:
    Sweep(Client &client, const QList<QHostAddress> &addresses, int rate, int timeoutMs,
        int mostUnanswered);

    void run(const Client::Handler &handle);

private:
    Client &client;
    const QList<QHostAddress> &addresses;
    const qint64 intervalNs;
    const int timeoutMs;
    const int mostUnanswered;
};

#endif // LBXCTL_SWEEP_H
