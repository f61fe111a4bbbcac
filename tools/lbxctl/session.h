#ifndef LBXCTL_SESSION_H
#define LBXCTL_SESSION_H

#include "client.h"
#include "commandline.h"

#include <memory>

// What every command shares, set up once by the command table: its command
// line, the client options read from it, and the client, opened when first
// used.
class Session
{
public:
    explicit Session(CommandLine &line);
    ~Session();

    CommandLine &line;
    const Client::Options options;

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
