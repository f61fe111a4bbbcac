#include "confirm.h"

#include "outcome.h"
#include "output.h"
#include "search.h"
#include "translation.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 1) + QStringLiteral(" s");
}

namespace {

// A uuid as a key: its JSON text, which tells 111 and "111" apart.
QString uuidKey(const QJsonValue &uuid)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{uuid}).toJson(QJsonDocument::Compact));
}

// One Confirmer::wait: polls each converter with lbx.info, paced and backing
// off while it is silent, searches for those that may have moved as the
// command searched (by broadcast, or the same hosts and ranges), and judges
// every record that comes back. Each poll goes out from a channel of its own:
// an answer to an earlier poll, late, is no answer to this one.
class Waiting
{
public:
    Waiting(Client &client, int timeoutMs, const QList<Watch> &watches,
        const Confirmer::ConfirmationKnown &confirmationKnown);

    void run();
    QList<Confirmation> conclude();

private:
    struct Progress
    {
        Confirmation confirmation;
        QDeadlineTimer nextPoll;
        int intervalMs = Confirmer::firstPollMs;
        std::unique_ptr<Channel> polling; // the last poll's, until it is answered
        bool seenSilent = false;
        bool done = false;
    };

    double seconds() const { return double(clock.elapsed()) / 1000; }
    // What the converter last reported, and what is known of it; final once
    // the wait is over.
    Sighting sighting(size_t i, bool final) const;
    void finish(size_t i, const Verdict &verdict);
    void heard(size_t i, const QHostAddress &from, const QJsonObject &record);
    void polled(size_t i, const QHostAddress &from, const QJsonObject &reply);
    void searched(const QHostAddress &from, const QJsonObject &reply);
    int movedFor(const QJsonObject &record) const;
    Phrase notBack(size_t i) const;
    bool mayPoll();
    QDeadlineTimer pollWhereDue();
    QDeadlineTimer searchForMoved();
    void showProgress();

    Client &client;
    const int timeoutMs;
    const QList<Watch> &watches;
    const Confirmer::ConfirmationKnown &confirmationKnown;
    std::vector<Progress> progress;
    QHash<quint32, size_t> byAddress;
    // Those that may come back elsewhere, by uuid; several may share one, and
    // each new address is taken for one of them only.
    QMultiHash<QString, int> movableByUuid;
    QHash<quint32, int> movedTo;
    std::unique_ptr<Search> search; // for those that may have moved, while one is on
    QElapsedTimer clock;
    QDeadlineTimer deadline;
    int pending;
    // A bucket of a tenth of a second's polls, refilled at the rate.
    const double burst = Confirmer::maxPollsPerSecond / 10.0;
    double tokens = burst;
    qint64 refilledAt = 0;
    QDeadlineTimer nextSearch{Confirmer::searchEveryMs};
    QDeadlineTimer nextProgress{1000};
    const bool progressShown = Output::stderrIsTerminal();
    const qint64 dropsBefore; // what the system had dropped when the wait began
};

Waiting::Waiting(Client &client, int timeoutMs, const QList<Watch> &watches,
    const Confirmer::ConfirmationKnown &confirmationKnown)
    : client(client)
    , timeoutMs(timeoutMs)
    , watches(watches)
    , confirmationKnown(confirmationKnown)
    , progress(size_t(watches.size()))
    , deadline(timeoutMs)
    , pending(watches.size())
    , dropsBefore(client.droppedDatagrams())
{
    for (int i = 0; i < watches.size(); ++i) {
        progress[size_t(i)].confirmation.address = watches.at(i).address;
        progress[size_t(i)].nextPoll = QDeadlineTimer(Confirmer::firstPollMs);
        byAddress.insert(watches.at(i).address.toIPv4Address(), size_t(i));
        // Without a uuid of its own it cannot be told apart anywhere else.
        if (watches.at(i).mayMove && !uuidName(watches.at(i).uuid).isEmpty())
            movableByUuid.insert(uuidKey(watches.at(i).uuid), i);
    }
    clock.start();
}

Sighting Waiting::sighting(size_t i, bool final) const
{
    const Progress &p = progress[i];
    const Watch &watch = watches.at(int(i));
    return {p.confirmation.after, p.confirmation.address, watch.address, watch.acknowledged,
        p.seenSilent, final || p.seenSilent || clock.elapsed() >= Confirmer::settleMs, seconds()};
}

void Waiting::finish(size_t i, const Verdict &verdict)
{
    Progress &p = progress[i];
    p.done = true;
    p.polling.reset();
    p.confirmation.verdict = verdict;
    p.confirmation.seconds = seconds();
    --pending;
    if (progressShown) // a result line starts on a clean line
        std::fprintf(stderr, "\r%60s\r", "");
    if (confirmationKnown)
        confirmationKnown(int(i), p.confirmation);
}

void Waiting::heard(size_t i, const QHostAddress &from, const QJsonObject &record)
{
    Progress &p = progress[i];
    if (p.done)
        return;
    p.polling.reset(); // answered: the next poll asks anew
    p.confirmation.address = from;
    p.confirmation.after = record;
    if (const auto verdict = watches.at(int(i)).judge(sighting(i, false)))
        finish(i, *verdict);
}

void Waiting::polled(size_t i, const QHostAddress &from, const QJsonObject &reply)
{
    if (from == watches.at(int(i)).address && Protocol::replyKind(reply) == Protocol::Reply::Info)
        heard(i, from, Protocol::deviceRecord(Protocol::replyArg(reply), from.toString()));
}

// An answer to a search made during the wait: from a converter's own address,
// or from one that came back elsewhere, at an address the search asked.
void Waiting::searched(const QHostAddress &from, const QJsonObject &reply)
{
    if (Protocol::replyKind(reply) != Protocol::Reply::Info || !client.askedBySearch(from))
        return;
    const QJsonObject record = Protocol::deviceRecord(Protocol::replyArg(reply), from.toString());
    const auto at = byAddress.constFind(from.toIPv4Address());
    if (at != byAddress.constEnd() && !progress[*at].done) {
        heard(*at, from, record);
        return;
    }
    const int moved = movedTo.value(from.toIPv4Address(), movedFor(record));
    if (moved >= 0) {
        movedTo.insert(from.toIPv4Address(), moved);
        heard(size_t(moved), from, record);
    }
}

// The converter a record from an address no watch knows may be, back elsewhere:
// one seen restarting with its uuid, and not found elsewhere already.
int Waiting::movedFor(const QJsonObject &record) const
{
    QList<int> candidates = movableByUuid.values(uuidKey(record.value(QLatin1String("uuid"))));
    std::sort(candidates.begin(), candidates.end());
    for (int i : qAsConst(candidates)) {
        const Progress &p = progress[size_t(i)];
        const bool found = std::find(movedTo.cbegin(), movedTo.cend(), i) != movedTo.cend();
        if (!p.done && p.seenSilent && !found)
            return i;
    }
    return -1;
}

bool Waiting::mayPoll()
{
    const qint64 now = clock.nsecsElapsed();
    tokens = qMin(burst, tokens + double(now - refilledAt) * Confirmer::maxPollsPerSecond / 1e9);
    refilledAt = now;
    return tokens >= 1;
}

// Polls each converter whose time has come, as the rate allows; returns when
// the next one is due.
QDeadlineTimer Waiting::pollWhereDue()
{
    QDeadlineTimer wake = deadline;
    for (size_t i = 0; i < progress.size(); ++i) {
        Progress &p = progress[i];
        if (p.done)
            continue;
        if (p.nextPoll.hasExpired() && mayPoll()) {
            if (p.polling) {
                // Silent since the last poll: restarting. Ask less often.
                p.seenSilent = true;
                p.intervalMs = qMin(p.intervalMs * 3 / 2, int(Confirmer::longestPollMs));
            }
            p.polling
                = client.openChannel([this, i](const QHostAddress &from, const QJsonObject &reply) {
                      polled(i, from, reply);
                  });
            p.polling->send(Protocol::infoRequest, watches.at(int(i)).address);
            p.nextPoll = QDeadlineTimer(p.intervalMs);
            tokens -= 1;
        }
        wake = qMin(wake, p.nextPoll);
    }
    if (!mayPoll())
        wake = qMin(wake, QDeadlineTimer(1000 / Confirmer::maxPollsPerSecond + 1));
    return wake;
}

// Searches again, once the last search is over, while one that may have moved
// has been seen restarting; returns when the search next needs a step.
QDeadlineTimer Waiting::searchForMoved()
{
    const bool movedMaybe = std::any_of(movableByUuid.cbegin(), movableByUuid.cend(), [&](int i) {
        return !progress[size_t(i)].done && progress[size_t(i)].seenSilent;
    });
    if (search && search->done())
        search.reset();
    if (!search && movedMaybe && nextSearch.hasExpired()) {
        search = std::make_unique<Search>(
            client, [this](const QHostAddress &from, const QJsonObject &reply) {
                searched(from, reply);
            });
        nextSearch = QDeadlineTimer(Confirmer::searchEveryMs);
    }
    return search ? search->step() : QDeadlineTimer(QDeadlineTimer::Forever);
}

void Waiting::showProgress()
{
    if (!progressShown || !nextProgress.hasExpired())
        return;
    const QString text = Text::tr("%1 back, %2 pending, %3 s left")
                             .arg(int(progress.size()) - pending)
                             .arg(pending)
                             .arg(deadline.remainingTime() / 1000);
    Output::error(QStringLiteral("\rlbxctl: %1   ").arg(text));
    nextProgress = QDeadlineTimer(1000);
}

void Waiting::run()
{
    while (pending > 0 && !deadline.hasExpired() && !Client::interrupted()) {
        // Polled first: a poll unanswered may be what starts a search.
        const QDeadlineTimer nextPoll = pollWhereDue();
        QDeadlineTimer wake = qMin(nextPoll, searchForMoved());
        showProgress();
        if (progressShown)
            wake = qMin(wake, nextProgress);
        client.receiveUntil(wake);
    }
    search.reset();
    if (progressShown)
        std::fprintf(stderr, "\r%60s\r", "");
}

Phrase Waiting::notBack(size_t i) const
{
    const QString seconds = QString::number(timeoutMs / 1000.0, 'g', 6);
    const Watch &watch = watches.at(int(i));
    if (watch.mayMove && watch.uuid.isUndefined())
        return Phrase(QT_TRANSLATE_NOOP("lbxctl",
                          "did not come back within %1 s at its address; it never answered "
                          "before, so its uuid is unknown and it cannot be found elsewhere"))
            .arg(seconds);
    if (watch.mayMove && uuidName(watch.uuid).isEmpty())
        return Phrase(QT_TRANSLATE_NOOP("lbxctl",
                          "did not come back within %1 s at its address; with an empty "
                          "uuid it cannot be found elsewhere"))
            .arg(seconds);
    // The searches for it elsewhere lost answers: its own may have been one.
    if (watch.mayMove && dropsBefore >= 0 && client.droppedDatagrams() > dropsBefore)
        return Phrase(QT_TRANSLATE_NOOP("lbxctl",
                          "not seen back within %1 s; the system dropped answers to the "
                          "search for it elsewhere, so it may be back unseen"))
            .arg(seconds);
    return Phrase(QT_TRANSLATE_NOOP("lbxctl", "did not come back within %1 s")).arg(seconds);
}

// Those still waited for when time ran out or an interrupt came: what they
// reported last is final; the rest did not come back.
QList<Confirmation> Waiting::conclude()
{
    QList<Confirmation> confirmations;
    for (size_t i = 0; i < progress.size(); ++i) {
        const Progress &p = progress[i];
        if (!p.done && !p.confirmation.after.isEmpty()) {
            if (const auto verdict = watches.at(int(i)).judge(sighting(i, true)))
                finish(i, *verdict);
        }
        if (!p.done && Client::interrupted())
            finish(i,
                {WaitOutcome::Interrupted,
                    Phrase(
                        QT_TRANSLATE_NOOP("lbxctl", "acknowledged, not back yet (interrupted)"))});
        else if (!p.done)
            finish(i, {WaitOutcome::TimedOut, notBack(i)});
        confirmations.append(p.confirmation);
    }
    return confirmations;
}

} // namespace

Confirmer::Confirmer(Client &client, int timeoutMs)
    : client(client)
    , timeoutMs(timeoutMs)
{
}

QList<Confirmation> Confirmer::wait(
    const QList<Watch> &watches, const ConfirmationKnown &confirmationKnown)
{
    Waiting waiting(client, timeoutMs, watches, confirmationKnown);
    waiting.run();
    return waiting.conclude();
}
