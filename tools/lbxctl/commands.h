#ifndef LBXCTL_COMMANDS_H
#define LBXCTL_COMMANDS_H

class CommandLine;
class Session;

// One lbxctl command: its name, what it does, what its usage line shows after
// its name (what it requires), the options of its own, and what it does with
// them. The table runs the shared set-up once for every command:
// it reads the command line, answers --help, reads the client options, and
// hands the command a Session that opens the client and searches.
//
// Adding a command takes three edits:
//   1. its unit, tools/lbxctl/NAME.cpp, which defines
//      const CommandEntry NAMECommand{"NAME", "Summary.", "SYNOPSIS", addOptions, run};
//   2. two lines below: its declaration, and its place in commandTable (the
//      order of lbxctl --help);
//   3. NAME.cpp in the list of commands in tools/lbxctl/CMakeLists.txt.
struct CommandEntry
{
    const char *name;
    const char *summary;
    const char *synopsis;
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
