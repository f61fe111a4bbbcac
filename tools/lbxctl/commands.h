#ifndef LBXCTL_COMMANDS_H
#define LBXCTL_COMMANDS_H

class CommandLine;

// One lbxctl command: its name, what it does, the options of its own, and what
// it does with them. The table of them is in main.cpp; a new command is one
// unit that defines its entry, and a line here and there.
struct CommandEntry
{
    const char *name;
    const char *summary;
    void (*addOptions)(CommandLine &line);
    int (*run)(CommandLine &line);
};

// Each command's entry, defined in the command's own unit.
extern const CommandEntry discoverCommand;
extern const CommandEntry setCommand;
extern const CommandEntry uploadLogCommand;
extern const CommandEntry updateCommand;
extern const CommandEntry factoryCommand;
extern const CommandEntry applyCommand;
extern const CommandEntry checkCommand;
extern const CommandEntry doctorCommand;

#endif // LBXCTL_COMMANDS_H
