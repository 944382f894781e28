// kelto-cli: the converter's work without a window system.

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>

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
                 "  play FILE        play a file with the preview player (offscreen)\n"
                 "  frame IN OUT     apply the frame effects to one picture\n"
                 "\n"
                 "Every command has --help.\n");
}

// Commands that draw text need the font database, which comes with a GUI application object;
// it runs on the offscreen platform unless the caller chose one, so no display is needed.
bool NeedsFonts(int argc, char** argv) { return argc > 1 && std::strcmp(argv[1], "frame") == 0; }

}  // namespace

int main(int argc, char** argv) {
    std::unique_ptr<QCoreApplication> app;
    if (NeedsFonts(argc, argv)) {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        // The GUI application object would take options of its own (--style, --platform ...)
        // out of the command line; it gets only the program name.
        static int guiArgc = 1;
        app = std::make_unique<QGuiApplication>(guiArgc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName("kelto-cli");
    // The media libraries read and write decimal numbers with the C library's locale.
    std::setlocale(LC_NUMERIC, "C");
    MainThread::Init();
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
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
    } else if (args[0] == "play") {
        status = RunPlayCommand(args);
    } else if (args[0] == "frame") {
        status = RunFrameCommand(args);
    } else {
        std::fprintf(stderr, "kelto-cli: unknown command '%s'\n", args[0].toLocal8Bit().constData());
        PrintUsage(stderr);
    }
    MainThread::Shutdown();
    return status;
}
