#ifndef LBXCTL_SEARCH_H
#define LBXCTL_SEARCH_H

#include "client.h"
#include "sweep.h"

#include <QDeadlineTimer>

#include <memory>

// One search for converters, from a channel of its own: lbx.info by broadcast
// (to 255.255.255.255 and each adapter's broadcast address, or to the one
// adapter's), or, where hosts or ranges are given, by unicast to each of their
// addresses (a Sweep). Stepped by its owner's receive loop, so that a wait can
// search while it polls. With progressShown, a sweep that takes long shows
// how far it is on standard error.
class Search
{
public:
    Search(Client &client, Channel::Handler heard, bool progressShown = false);
    ~Search();

    // Sends what is due; returns when it next needs a step.
    QDeadlineTimer step();
    bool done() const;
    const Channel &channel() const { return *asking; }

private:
    void answered(const QHostAddress &from, const QJsonObject &reply);
    void showProgress();

    Client &client;
    Channel::Handler heard;
    std::unique_ptr<Channel> asking;
    std::unique_ptr<Sweep> sweep;
    // By broadcast: every converter answers each broadcast that reaches it, so
    // the next one goes out once the answers to the last have died down.
    int nextDestination = 0;
    QDeadlineTimer quiet;
    QDeadlineTimer deadline;
    const bool progressShown;
    QDeadlineTimer nextProgress{1000};
    bool progressOnScreen = false;
};

#endif // LBXCTL_SEARCH_H
