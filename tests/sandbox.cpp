#include "sandbox.h"

#include <QByteArray>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

void requireSandbox()
{
    char here[64] = {};
    const ssize_t length = readlink("/proc/self/ns/net", here, sizeof here - 1);
    const QByteArray made = qgetenv("LBX_SANDBOX");
    if (length > 0 && !made.isEmpty() && made == QByteArray(here, int(length)))
        return;
    std::fprintf(stderr,
        "refused: this program sends datagrams, and runs only inside the private network "
        "namespace of scripts/netns-run (as ctest and bench/run run it): scripts/netns-run %s\n",
        program_invocation_name);
    std::exit(1);
}
