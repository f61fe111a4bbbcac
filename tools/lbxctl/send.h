#ifndef LBXCTL_SEND_H
#define LBXCTL_SEND_H

#include "action.h"
#include "targets.h"

#include <optional>

class Reporter;
class Session;

// A staged rollout: a first wave (a canary), then waves of a size, each sent
// once every converter of the last one confirmed the command.
struct Waves
{
    int first = 1;
    int size = 1;
    // How many waves the converters make.
    int count(int converters) const;
};

// Sends the action to exactly the converters the command line names
// (searching first for uuids and --all) and reports each one's outcome; with a
// wait, waits for each to come back and judges what it reports; in waves where
// asked (each wave then waits, --wait or not). Returns the exit status.
int sendToTargets(
    Session &session, const Action &action, std::optional<Waves> waves = std::nullopt);

// A converter to send to, and what to send it.
struct Aimed
{
    Aim aim;
    Action action;
};

// How the converters are sent to: whether to wait for them to come back, and
// how long; in waves; or not at all, in a dry run.
struct Sending
{
    std::optional<int> waitMs;
    std::optional<Waves> waves; // waitMs then set
    bool dryRun = false; // says which converters it would go to, and sends to none
};

// The step every command that sends takes: asks each aim's address lbx.info
// just before, holds back (and reports) those that may not be sent to (see
// clearance()), sends the others their action, and waits for them as asked;
// reports every outcome. Returns how many were confirmed.
int sendAimed(Client &client, const QList<FoundConverter> &found, const QList<Aimed> &aimed,
    const Sending &sending, Reporter &reporter);

#endif // LBXCTL_SEND_H
