#ifndef LBXCTL_COMMANDS_H
#define LBXCTL_COMMANDS_H

class CommandLine;

// One lbxctl command: its name, what it does, the options of its own, and what
// it does with them. The table of them is in main.cpp.
struct CommandEntry
{
    const char *name;
    const char *summary;
    void (*addOptions)(CommandLine &line);
    int (*run)(CommandLine &line);
};

namespace Discover {
void addOptions(CommandLine &line);
int run(CommandLine &line);
} // namespace Discover

namespace Set {
void addOptions(CommandLine &line);
int run(CommandLine &line);
} // namespace Set

namespace UploadLog {
void addOptions(CommandLine &line);
int run(CommandLine &line);
} // namespace UploadLog

namespace Update {
void addOptions(CommandLine &line);
int run(CommandLine &line);
} // namespace Update

namespace Factory {
void addOptions(CommandLine &line);
int run(CommandLine &line);
} // namespace Factory

namespace Apply {
void addOptions(CommandLine &line);
int run(CommandLine &line);
} // namespace Apply

namespace Check {
void addOptions(CommandLine &line);
int run(CommandLine &line);
} // namespace Check

namespace Doctor {
void addOptions(CommandLine &line);
int run(CommandLine &line);
} // namespace Doctor

#endif // LBXCTL_COMMANDS_H
