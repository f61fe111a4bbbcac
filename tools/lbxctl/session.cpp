#include "session.h"

#include "output.h"
#include "translation.h"

#include <cstdlib>

Session::Session(CommandLine &line)
    : line(line)
    , options(line.clientOptions())
    , json(line.isSet(QStringLiteral("json")))
    , dryRun(line.isSet(QStringLiteral("dry-run")))
    , targets(line.defines(QStringLiteral("all")) ? targetsOf(line) : TargetSet())
    , waitTimeoutMs(line.defines(QStringLiteral("wait-timeout")) ? line.waitTimeoutMs() : 0)
    , waitMs(line.isSet(QStringLiteral("wait")) ? std::optional<int>(waitTimeoutMs) : std::nullopt)
{
}

Session::~Session() = default;

Client &Session::client()
{
    if (opened)
        return *opened;
    auto client = std::make_unique<Client>(options);
    QString error;
    if (!client->open(&error))
        refuse(error);
    opened = std::move(client);
    return *opened;
}

QList<FoundConverter> Session::search(int repeats, OnInterrupt onInterrupt)
{
    const QList<FoundConverter> found = client().discover(repeats, true);
    if (client().searchRepeatedForUnknownDrops())
        Output::note(Text::tr("this system does not tell whether it dropped answers, so the "
                              "search was made twice"));
    if (Client::interrupted() && onInterrupt == OnInterrupt::Stop) {
        Output::note(Text::tr("interrupted during the search; nothing was sent"));
        std::exit(Output::finish(Interrupted));
    }
    return found;
}
