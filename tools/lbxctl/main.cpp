// lbxctl: the LBX converters from the command line, for many at once and
// across adapters. Speaks the same protocol as the window, through the same code.

#include "commandline.h"
#include "commands.h"
#include "output.h"
#include "session.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

const char *const overview = R"(Usage: lbxctl COMMAND [OPTION...] [TARGET...]

Finds the LBX converters on the network and sets them up.

Commands:
%s
A TARGET is a converter's IPv4 address, four decimal numbers without leading
zeros (192.168.1.20, not 192.168.001.020), or its uuid (found by a search
first); "ip:ADDRESS" and "uuid:TEXT" say which. Broadcast, multicast and
network addresses are refused: a command reaches only the converters named.
--all takes every converter that answers a search. "lbxctl help COMMAND" (or
"lbxctl COMMAND --help") lists a command's options; man lbxctl tells more.

Exit status: 0 when every converter asked has done what was asked (for
discover: when at least one answered and no reply was lost), 1 when some did
not, or said it failed; 2 for bad input, before anything is sent; 74 when the
output (a table, metrics, a roster) could not be written; 130 when interrupted.
)";

void printOverview(std::FILE *to)
{
    QByteArray list;
    for (const CommandEntry *command : commandTable)
        list += QByteArray("  ") + QByteArray(command->name).leftJustified(12) + "  "
            + wrapped(QString::fromUtf8(command->summary), 16).toUtf8() + '\n';
    std::fprintf(to, overview, list.constData());
}

// The interrupt ends the current wait; the command then says what was sent and
// not yet answered.
void onInterrupt(int)
{
    Client::interrupt();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lbxctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LBX_VERSION));
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString first = arguments.value(0);
    if (arguments.isEmpty()) {
        printOverview(stderr);
        return BadInput;
    }
    if (first == QLatin1String("--help") || first == QLatin1String("-h")
        || (first == QLatin1String("help") && arguments.size() == 1)) {
        printOverview(stdout);
        return Succeeded;
    }
    if (first == QLatin1String("help")) // help COMMAND is COMMAND --help
        arguments = QStringList{arguments.at(1), QStringLiteral("--help")};
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        std::printf("lbxctl %s\n", LBX_VERSION);
        return Succeeded;
    }
    for (const CommandEntry *command : commandTable) {
        if (arguments.constFirst() != QLatin1String(command->name))
            continue;
        CommandLine line(arguments.constFirst(), QString::fromUtf8(command->summary),
            QString::fromUtf8(command->synopsis));
        command->addOptions(line);
        line.process(arguments.mid(1));
        Session session(line);

        std::signal(SIGINT, onInterrupt);
        return command->run(session);
    }
    refuse(QStringLiteral("unknown command \"%1\"; see lbxctl --help")
               .arg(Output::escaped(arguments.constFirst())));
}
