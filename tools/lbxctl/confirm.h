#ifndef LBXCTL_CONFIRM_H
#define LBXCTL_CONFIRM_H

#include "client.h"
#include "translation.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// The converters' protocol has no completion report: a converter acknowledges
// a command, restarts, and only what lbx.info reports once it is back tells
// whether the command took. Confirmation polls for that.

// What became of a converter that was waited for.
// Partial: back as asked in part only (a restore that cannot put everything back).
enum class WaitOutcome { Confirmed, NotApplied, TimedOut, Interrupted, Partial };

// What is known of a converter after a command, and how it reads:
// "confirmed 115200 OvTcp485 after 6.2 s".
struct Verdict
{
    WaitOutcome outcome = WaitOutcome::TimedOut;
    Phrase text; // in English in JSON, in the user's language in a table
};

// What a converter reported when it answered a poll, and what is known of it.
struct Sighting
{
    QJsonObject after;
    QHostAddress at; // where it answered
    QHostAddress was; // where the command went
    bool acknowledged = false; // it acknowledged the command, or showed it took it
    bool seenRestarting = false; // silent to a poll since the command
    bool settled = false; // seen restarting, or long enough that old values are final
    double seconds = 0; // since the command
};

// Judges a sighting: Confirmed or NotApplied, or nothing while it cannot tell.
using Judge = std::function<std::optional<Verdict>(const Sighting &)>;

// A converter to wait for.
struct Watch
{
    QHostAddress address;
    // Looked for by search when it may move; undefined where it is not known
    // (the converter never answered before the command).
    QJsonValue uuid;
    bool mayMove = false;
    Judge judge;
    bool acknowledged = true;
};

// What waiting for one converter came to.
struct Confirmation
{
    Verdict verdict;
    QHostAddress address; // where it answered last
    QJsonObject after; // its last record; empty when it never answered
    double seconds = 0;
};

class Confirmer
{
public:
    // lbx.info requests a second, at most, in all; and polling backs off from
    // every 2 s to every 10 s while a converter stays silent.
    static constexpr int maxPollsPerSecond = 1000;
    static constexpr int firstPollMs = 2000;
    static constexpr int longestPollMs = 10000;
    // Old values are final after this long even if no restart was seen.
    static constexpr int settleMs = 10000;
    // A converter that may have moved is searched for this often, once it has
    // been seen restarting.
    static constexpr int searchEveryMs = 4000;

    // Called with the watch's index and its confirmation as soon as it is known.
    using ConfirmationKnown = std::function<void(int, const Confirmation &)>;

    Confirmer(Client &client, int timeoutMs);

    // Waits for every converter (the clock of each starts now) and reports each
    // outcome as soon as it is known; returns them in the order given.
    QList<Confirmation> wait(
        const QList<Watch> &watches, const ConfirmationKnown &confirmationKnown);

private:
    Client &client;
    int timeoutMs;
};

// "6.2 s": how long a converter took, as a verdict says it.
QString secondsText(double seconds);

#endif // LBXCTL_CONFIRM_H
