#include "confirm.h"

#include "output.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>

#include <algorithm>
#include <cstdio>
#include <vector>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

QString settingsText(const QJsonObject &record)
{
    return QStringLiteral("%1 %2").arg(Protocol::baudText(record),
        Output::field(record.value(QStringLiteral("pluginName")).toString()));
}

namespace {

QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 1) + QStringLiteral(" s");
}

bool stderrIsTerminal()
{
#ifdef Q_OS_UNIX
    return isatty(STDERR_FILENO) == 1;
#else
    return false;
#endif
}

} // namespace

Judge settingsJudge(int baud, const QString &plugin, bool withPlugin)
{
    return [=](const QJsonObject &after, const QHostAddress &, bool settled, double seconds) {
        const bool applied = Protocol::baudText(after) == QString::number(baud)
            && (!withPlugin || after.value(QStringLiteral("pluginName")).toString() == plugin);
        if (applied)
            return Verdict{Verdict::Confirmed,
                QStringLiteral("confirmed %1 after %2")
                    .arg(settingsText(after), secondsText(seconds))};
        if (settled)
            return Verdict{Verdict::NotApplied,
                QStringLiteral("came back with %1: not applied").arg(settingsText(after))};
        return Verdict{};
    };
}

Judge updateJudge(const QJsonObject &before)
{
    const QString from = Output::field(Protocol::appVersionText(before));
    return [=](const QJsonObject &after, const QHostAddress &, bool settled, double seconds) {
        const QString to = Output::field(Protocol::appVersionText(after));
        if (!before.isEmpty() && to != from)
            return Verdict{Verdict::Confirmed,
                QStringLiteral("app %1 -> %2 after %3").arg(from, to, secondsText(seconds))};
        if (settled)
            return Verdict{before.isEmpty() ? Verdict::Confirmed : Verdict::NotApplied,
                QStringLiteral("back after %1, %2 %3")
                    .arg(secondsText(seconds),
                        before.isEmpty() ? QStringLiteral("app") : QStringLiteral("still"), to)};
        return Verdict{};
    };
}

Judge factoryJudge()
{
    return [](const QJsonObject &after, const QHostAddress &at, bool settled, double seconds) {
        if (!settled)
            return Verdict{};
        return Verdict{Verdict::Confirmed,
            QStringLiteral("back after %1 at %2 with %3")
                .arg(secondsText(seconds), at.toString(), settingsText(after))};
    };
}

Confirmer::Confirmer(Client &client, int timeoutMs)
    : client(client)
    , timeoutMs(timeoutMs)
{
}

QList<Confirmation> Confirmer::wait(
    const QList<Watch> &watches, const std::function<void(int, const Confirmation &)> &known)
{
    struct Waiting
    {
        Confirmation result;
        QDeadlineTimer nextPoll;
        int intervalMs = firstPollMs;
        bool pollUnanswered = false;
        bool seenSilent = false;
        bool done = false;
    };
    std::vector<Waiting> waiting(size_t(watches.size()));
    QHash<quint32, int> byAddress;
    QHash<QString, int> movableByUuid;
    for (int i = 0; i < watches.size(); ++i) {
        waiting[size_t(i)].result.address = watches.at(i).address;
        waiting[size_t(i)].nextPoll = QDeadlineTimer(firstPollMs);
        byAddress.insert(watches.at(i).address.toIPv4Address(), i);
        if (watches.at(i).mayMove && !watches.at(i).uuid.isEmpty())
            movableByUuid.insert(watches.at(i).uuid, i);
    }
    QElapsedTimer clock;
    clock.start();
    const QDeadlineTimer deadline(timeoutMs);
    int pending = int(waiting.size());

    auto finish = [&](int i, Confirmation::Kind kind, const QString &text) {
        Waiting &w = waiting[size_t(i)];
        w.done = true;
        w.result.kind = kind;
        w.result.text = text;
        w.result.seconds = double(clock.elapsed()) / 1000;
        --pending;
        if (known)
            known(i, w.result);
    };
    auto heard = [&](int i, const QHostAddress &from, const QJsonObject &record) {
        Waiting &w = waiting[size_t(i)];
        if (w.done)
            return;
        w.pollUnanswered = false;
        w.result.address = from;
        w.result.after = record;
        const bool settled = w.seenSilent || clock.elapsed() >= settleMs;
        const Verdict verdict
            = watches.at(i).judge(record, from, settled, double(clock.elapsed()) / 1000);
        if (verdict.kind == Verdict::Confirmed)
            finish(i, Confirmation::Confirmed, verdict.text);
        else if (verdict.kind == Verdict::NotApplied)
            finish(i, Confirmation::NotApplied, verdict.text);
    };
    auto handle = [&](const QHostAddress &from, const QJsonObject &reply) {
        if (Protocol::replyKind(reply) != Protocol::Reply::Info)
            return;
        const QJsonObject record
            = Protocol::deviceRecord(Protocol::replyArg(reply), from.toString());
        const int at = byAddress.value(from.toIPv4Address(), -1);
        if (at >= 0 && !waiting[size_t(at)].done) {
            heard(at, from, record);
            return;
        }
        const int moved = movableByUuid.value(Protocol::uuidText(record), -1);
        if (moved >= 0 && waiting[size_t(moved)].seenSilent)
            heard(moved, from, record);
    };

    // A bucket of a tenth of a second's polls, refilled at the rate.
    const double burst = maxPollsPerSecond / 10.0;
    double tokens = burst;
    qint64 refilledAt = clock.nsecsElapsed();
    auto mayPoll = [&] {
        const qint64 now = clock.nsecsElapsed();
        tokens = qMin(burst, tokens + double(now - refilledAt) * maxPollsPerSecond / 1e9);
        refilledAt = now;
        return tokens >= 1;
    };
    QDeadlineTimer nextSearch(searchEveryMs);
    QDeadlineTimer nextProgress(1000);
    const bool showProgress = stderrIsTerminal();

    while (pending > 0 && !deadline.hasExpired() && !Client::interrupted()) {
        QDeadlineTimer wake = deadline;
        for (size_t i = 0; i < waiting.size(); ++i) {
            Waiting &w = waiting[i];
            if (w.done)
                continue;
            if (w.nextPoll.hasExpired() && mayPoll()) {
                if (w.pollUnanswered) {
                    // Silent since the last poll: restarting. Ask less often.
                    w.seenSilent = true;
                    w.intervalMs = qMin(w.intervalMs * 3 / 2, int(longestPollMs));
                }
                client.send(Protocol::infoRequest, watches.at(int(i)).address);
                w.pollUnanswered = true;
                w.nextPoll = QDeadlineTimer(w.intervalMs);
                tokens -= 1;
            }
            wake = qMin(wake, w.nextPoll);
        }
        const bool movedMaybe
            = std::any_of(movableByUuid.cbegin(), movableByUuid.cend(), [&](int i) {
                  return !waiting[size_t(i)].done && waiting[size_t(i)].seenSilent;
              });
        if (movedMaybe && nextSearch.hasExpired()) {
            client.search();
            nextSearch = QDeadlineTimer(searchEveryMs);
        }
        if (!mayPoll())
            wake = qMin(wake, QDeadlineTimer(1000 / maxPollsPerSecond + 1));
        if (showProgress && nextProgress.hasExpired()) {
            std::fprintf(stderr, "\rlbxctl: %d back, %d pending, %lld s left   ",
                int(waiting.size()) - pending, pending, deadline.remainingTime() / 1000);
            nextProgress = QDeadlineTimer(1000);
        }
        client.receiveUntil(wake, handle);
    }
    if (showProgress)
        std::fprintf(stderr, "\r%60s\r", "");

    QList<Confirmation> results;
    for (size_t i = 0; i < waiting.size(); ++i) {
        if (!waiting[i].done && !waiting[i].result.after.isEmpty()) {
            // It answered, but never conclusively: what it reports now is final.
            const Verdict verdict = watches.at(int(i)).judge(waiting[i].result.after,
                waiting[i].result.address, true, double(clock.elapsed()) / 1000);
            if (verdict.kind != Verdict::NotYet)
                finish(int(i),
                    verdict.kind == Verdict::Confirmed ? Confirmation::Confirmed
                                                       : Confirmation::NotApplied,
                    verdict.text);
        }
        if (!waiting[i].done) {
            if (Client::interrupted())
                finish(int(i), Confirmation::Interrupted,
                    QStringLiteral("acknowledged, not back yet (interrupted)"));
            else
                finish(int(i), Confirmation::TimedOut,
                    QStringLiteral("did not come back within %1 s").arg(timeoutMs / 1000));
        }
        results.append(waiting[i].result);
    }
    return results;
}
