// kelto-cli: the converter's work without a window system.

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

#include "app/GlobalObject.h"
#include "cli/Commands.h"
#include "platform/MainThread.h"

namespace {

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "Usage: kelto-cli [--version] [--help] COMMAND [ARGS...]\n"
                 "\n"
                 "Commands:\n"
                 "  info FILE...     describe media files\n"
                 "\n"
                 "Every command has --help.\n");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("kelto-cli");
    MainThread::Init();
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    int status = 2;
    if (args.isEmpty()) {
        PrintUsage(stderr);
    } else if (args[0] == "--version" || args[0] == "-v") {
        std::printf("%s%s\n", kAppTitle, FileVersionText().toLocal8Bit().constData());
        status = 0;
    } else if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintUsage(stdout);
        status = 0;
    } else if (args[0] == "info") {
        status = RunInfoCommand(args);
    } else {
        std::fprintf(stderr, "kelto-cli: unknown command '%s'\n", args[0].toLocal8Bit().constData());
        PrintUsage(stderr);
    }
    MainThread::Shutdown();
    return status;
}
