// kelto-cli info FILE...: the probe's description of each file.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "cli/Commands.h"
#include "engine/MediaLibLoader.h"
#include "engine/MediaLogger.h"
#include "media/AVProbe.h"
#include "platform/Paths.h"

namespace {

std::string ToTerminal(std::string text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

// The parser names the program by its path; the usage line names the subcommand.
std::string HelpText(const QCommandLineParser& parser) {
    QString text = parser.helpText();
    const qsizetype eol = text.indexOf('\n');
    const qsizetype options = text.indexOf(" [options]");
    if (text.startsWith("Usage: ") && options > 0 && options < eol) text.replace(7, options - 7, "kelto-cli info");
    return text.toLocal8Bit().toStdString();
}

}  // namespace

int RunInfoCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription("Describes media files: container, duration, bit rate, tags and streams.");
    const QCommandLineOption helpOption(QStringList{"h", "help"}, "Shows this help.");
    const QCommandLineOption logLevelOption(
        "loglevel", "Prints media-library log lines up to LEVEL on standard error (quiet, panic, fatal, error, "
                    "warning, info, verbose, debug).",
        "LEVEL");
    parser.addOption(helpOption);
    parser.addOption(logLevelOption);
    parser.addPositionalArgument("FILE", "Media files to describe.", "FILE...");

    if (!parser.parse(args)) {
        std::fprintf(stderr, "kelto-cli info: %s\n", parser.errorText().toLocal8Bit().constData());
        std::fprintf(stderr, "%s", HelpText(parser).c_str());
        return 2;
    }
    if (parser.isSet(helpOption)) {
        std::printf("%s", HelpText(parser).c_str());
        return 0;
    }
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty()) {
        std::fprintf(stderr, "kelto-cli info: no FILE given\n");
        std::fprintf(stderr, "%s", HelpText(parser).c_str());
        return 2;
    }

    TAVProbe probe;
    TMediaLogger& logger = MediaLogger();
    if (parser.isSet(logLevelOption)) {
        try {
            logger.SetLogLevelByName(parser.value(logLevelOption).toStdString());
        } catch (const std::exception&) {
            std::fprintf(stderr, "kelto-cli info: invalid log level '%s'\n",
                         parser.value(logLevelOption).toLocal8Bit().constData());
            return 2;
        }
        // The probe's own reports reach standard error as its error text below; the
        // library's lines are printed as they come, on whatever thread logs them (writing
        // to standard error needs no hand-over to the main thread).
        logger.TriggerEventInMainThread = false;
        logger.OnLog = [&probe](const void* sender, uint32_t, TLogLevel, const std::string& msg) {
            if (sender == &probe) return;
            std::fprintf(stderr, "%s\n", msg.c_str());
        };
    }

    TMediaLibLoader& loader = MediaLibLoader();
    loader.SetLibraryPath(Paths::LibAVFolder().toStdString());
    if (!loader.LoadLibs(EngineLibs)) {
        std::fprintf(stderr, "%s\n", loader.LastErrMsg().c_str());
        logger.OnLog = nullptr;
        return 1;
    }

    int status = 0;
    for (const QString& file : files) {
        if (!probe.LoadFile(file)) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s\n", probe.LastErrMsg().c_str());
            status = 1;
            continue;
        }
        const std::string text = ToTerminal(probe.GetFormatInfo());
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        probe.Close();
    }
    logger.OnLog = nullptr;
    return status;
}
