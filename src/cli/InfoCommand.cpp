#include "cli/Commands.h"

#include <cstdio>

int RunInfoCommand(const QStringList& args) {
    (void)args;
    std::fprintf(stderr, "kelto-cli info: not available yet\n");
    return 2;
}
