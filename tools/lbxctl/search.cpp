#include "search.h"

#include "output.h"
#include "translation.h"

#include <cstdio>

namespace {

// A search's answers have died down after this long without a new one.
constexpr int quietMs = 50;

} // namespace

Search::Search(Client &client, Channel::Handler heard, bool progressShown)
    : client(client)
    , heard(std::move(heard))
    , deadline(client.settings().timeoutMs)
    , progressShown(progressShown && Output::stderrIsTerminal())
{
    asking = client.openChannel(
        [this](const QHostAddress &from, const QJsonObject &reply) {
            answered(from, reply);
        },
        true);
    if (!client.unicastDestinations().isEmpty())
        sweep = std::make_unique<Sweep>(*asking, client.unicastDestinations(),
            client.settings().sweepRate, client.settings().timeoutMs, client.sweepWindow());
}

Search::~Search()
{
    if (progressOnScreen) // what follows starts on a clean line
        std::fprintf(stderr, "\r%70s\r", "");
}

void Search::answered(const QHostAddress &from, const QJsonObject &reply)
{
    if (sweep)
        sweep->heard(from);
    quiet = QDeadlineTimer(quietMs);
    heard(from, reply);
}

QDeadlineTimer Search::step()
{
    if (sweep) {
        showProgress();
        const QDeadlineTimer next = sweep->step();
        return progressShown ? qMin(next, nextProgress) : next;
    }
    const QList<QHostAddress> &destinations = client.searchDestinations();
    if (nextDestination < destinations.size()
        && (nextDestination == 0 || quiet.hasExpired() || deadline.hasExpired())) {
        asking->send(Protocol::infoRequest, destinations.at(nextDestination++));
        quiet = QDeadlineTimer(quietMs);
    }
    return nextDestination < destinations.size() ? qMin(quiet, deadline) : deadline;
}

bool Search::done() const
{
    return sweep ? sweep->done()
                 : nextDestination >= client.searchDestinations().size() && deadline.hasExpired();
}

void Search::showProgress()
{
    if (!progressShown || !nextProgress.hasExpired())
        return;
    const QString text = Text::tr("sweep: %1 of %2 asked, %3 answered, %4 s left")
                             .arg(sweep->asked())
                             .arg(sweep->total())
                             .arg(sweep->answered())
                             .arg((sweep->msLeft() + 999) / 1000);
    Output::error(QStringLiteral("\rlbxctl: %1   ").arg(text));
    progressOnScreen = true;
    nextProgress = QDeadlineTimer(1000);
}
