#pragma once
// Subcommands of kelto-cli. Each takes the arguments after its name (argv[0] is the
// subcommand) and returns the exit status: 0 success, 1 a file failed, 2 a usage error.

#include <QStringList>

int RunInfoCommand(const QStringList& args);
int RunPlayCommand(const QStringList& args);
int RunFrameCommand(const QStringList& args);
