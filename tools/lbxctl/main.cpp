// lbxctl: the LBX converters from the command line, for many at once and
// across adapters. Speaks the same protocol as the window, through the same code.

#include "commandline.h"
#include "commands.h"
#include "output.h"
#include "session.h"
#include "translation.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

QString overview(const QString &commands)
{
    return Text::tr(
        "Usage: lbxctl COMMAND [OPTION...] [TARGET...]\n"
        "\n"
        "Finds the LBX converters on the network and sets them up.\n"
        "\n"
        "Commands:\n"
        "%1\n"
        "A TARGET is a converter's IPv4 address, four decimal numbers without leading\n"
        "zeros (192.168.1.20, not 192.168.001.020), or its uuid (found by a search\n"
        "first); \"ip:ADDRESS\" and \"uuid:TEXT\" say which. Broadcast, multicast and\n"
        "network addresses are refused: a command reaches only the converters named.\n"
        "--all takes every converter that answers a search. \"lbxctl help COMMAND\" (or\n"
        "\"lbxctl COMMAND --help\") lists a command's options; man lbxctl tells more.\n"
        "\n"
        "Exit status: 0 when every converter asked has done what was asked (for\n"
        "discover: when at least one answered and no reply was lost), 1 when some did\n"
        "not, or said it failed; 2 for bad input, before anything is sent; 74 when the\n"
        "output (a table, metrics, a roster) could not be written; 130 when interrupted.\n")
        .arg(commands);
}

QString overviewText()
{
    QString list;
    for (const CommandEntry *command : commandTable)
        list += QStringLiteral("  ") + QString::fromLatin1(command->name).leftJustified(12)
            + QStringLiteral("  ") + wrapped(Text::tr(command->summary), 16) + QLatin1Char('\n');
    return overview(list);
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
    installTranslation(app);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString first = arguments.value(0);
    if (arguments.isEmpty()) {
        Output::error(overviewText());
        return BadInput;
    }
    if (first == QLatin1String("--help") || first == QLatin1String("-h")
        || (first == QLatin1String("help") && arguments.size() == 1)) {
        Output::text(overviewText());
        return Output::finish(Succeeded);
    }
    if (first == QLatin1String("help")) // help COMMAND is COMMAND --help
        arguments = QStringList{arguments.at(1), QStringLiteral("--help")};
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        Output::text(QStringLiteral("lbxctl %1\n").arg(QStringLiteral(LBX_VERSION)));
        return Output::finish(Succeeded);
    }
    for (const CommandEntry *command : commandTable) {
        if (arguments.constFirst() != QLatin1String(command->name))
            continue;
        CommandLine line(arguments.constFirst(), Text::tr(command->summary),
            QString::fromUtf8(command->synopsis));
        command->addOptions(line);
        line.process(arguments.mid(1), command->leastOperands, command->mostOperands);
        Session session(line);

        std::signal(SIGINT, onInterrupt);
        return command->run(session);
    }
    refuse(Text::tr("unknown command \"%1\"; see lbxctl --help")
               .arg(Output::escaped(arguments.constFirst())));
}
