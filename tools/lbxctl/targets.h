#ifndef LBXCTL_TARGETS_H
#define LBXCTL_TARGETS_H

#include "client.h"

class CommandLine;

// Sends one command to exactly the converters the command line names (searching
// first for uuids and --all) and prints each one's outcome as soon as it is
// known: the work of set, upload-log, update and factory. Returns the exit status.
int sendToTargets(CommandLine &line, const Client::Command &command);

#endif // LBXCTL_TARGETS_H
