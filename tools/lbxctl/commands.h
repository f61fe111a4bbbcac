#ifndef LBXCTL_COMMANDS_H
#define LBXCTL_COMMANDS_H

class CommandLine;
class Session;

// One lbxctl command: its name, what it does, what its usage line shows after
// its name (what it requires), how many operands it takes, the options of its
// own, and what it does with them. The table runs the shared set-up once for
// every command: it reads the command line, answers --help, counts the
// operands, reads the shared options (the client's, the targets, the wait),
// and hands the command a Session that opens the client and searches.
// docs/development.md tells every step of adding a command.
struct CommandEntry
{
    const char *name;
    const char *summary;
    const char *synopsis;
    int leastOperands;
    int mostOperands; // -1: any number
    void (*addOptions)(CommandLine &line);
    int (*run)(Session &session);
};

extern const CommandEntry discoverCommand;
extern const CommandEntry setCommand;
extern const CommandEntry uploadLogCommand;
extern const CommandEntry updateCommand;
extern const CommandEntry factoryCommand;
extern const CommandEntry applyCommand;
extern const CommandEntry checkCommand;
extern const CommandEntry doctorCommand;

inline const CommandEntry *const commandTable[] = {
    &discoverCommand,
    &setCommand,
    &uploadLogCommand,
    &updateCommand,
    &factoryCommand,
    &applyCommand,
    &checkCommand,
    &doctorCommand,
};

#endif // LBXCTL_COMMANDS_H
