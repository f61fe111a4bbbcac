#ifndef LBXCTL_SESSION_H
#define LBXCTL_SESSION_H

#include "client.h"
#include "commandline.h"
#include "targets.h"

#include <memory>
#include <optional>

// What every command shares, set up once by the command table: its command
// line, the shared options read from it (refused before anything is sent),
// and the client, opened when first used.
class Session
{
public:
    explicit Session(CommandLine &line);
    ~Session();

    CommandLine &line;
    const Client::Options options;
    const bool json; // --json
    const bool dryRun; // --dry-run
    const TargetSet targets; // TARGET... and --all, for a command that takes them
    // --wait-timeout, for a command that waits; and the same where --wait asks
    // for the wait.
    const int waitTimeoutMs;
    const std::optional<int> waitMs;

    // The client, opened on first use; refuses (exit 2) when it cannot be.
    Client &client();

    enum class OnInterrupt {
        Stop, // says that nothing was sent and ends the command with status 130
        KeepFound, // returns what was found so far; the command says it was cut short
    };
    // The converters that answer a search and as many repeats.
    QList<FoundConverter> search(int repeats = 0, OnInterrupt onInterrupt = OnInterrupt::Stop);

private:
    std::unique_ptr<Client> opened;
};

#endif // LBXCTL_SESSION_H
