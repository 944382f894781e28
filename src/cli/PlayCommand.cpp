// kelto-cli play FILE: plays a file with the preview player on an offscreen surface and
// prints its state and position events as they arrive.

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "cli/Commands.h"
#include "engine/MediaLogger.h"
#include "media/PreviewPlayer.h"
#include "media/VideoSurface.h"
#include "platform/MainThread.h"
#include "platform/Paths.h"

namespace {

std::string PlayHelpText(const QCommandLineParser& parser) {
    QString text = parser.helpText();
    const qsizetype eol = text.indexOf('\n');
    const qsizetype options = text.indexOf(" [options]");
    if (text.startsWith("Usage: ") && options > 0 && options < eol) text.replace(7, options - 7, "kelto-cli play");
    return text.toLocal8Bit().toStdString();
}

int UsageError(const QCommandLineParser& parser, const std::string& message) {
    std::fprintf(stderr, "kelto-cli play: %s\n", message.c_str());
    std::fprintf(stderr, "%s", PlayHelpText(parser).c_str());
    return 2;
}

}  // namespace

int RunPlayCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Plays a media file with the preview player on an offscreen picture surface and prints its state and "
        "position events. Sound goes to SDL's audio driver (SDL_AUDIODRIVER chooses).");
    const QCommandLineOption helpOption(QStringList{"h", "help"}, "Shows this help.");
    const QCommandLineOption secondsOption("seconds", "Stops after N seconds (default: at the end of the file).",
                                           "N");
    const QCommandLineOption pausedOption("paused", "Opens paused: shows the first pictures, then pauses.");
    const QCommandLineOption seekOption("seek", "Seeks to SEC seconds from the start after opening.", "SEC");
    const QCommandLineOption muteOption("mute", "Plays silence instead of the sound.");
    const QCommandLineOption volumeOption("volume", "Mixing volume 0-128 (default 128).", "0-128");
    const QCommandLineOption snapshotOption("snapshot", "Saves the current frame as a 24-bit BMP before stopping.",
                                            "OUT.bmp");
    const QCommandLineOption logLevelOption(
        "loglevel", "Prints log lines up to LEVEL on standard error (quiet, panic, fatal, error, warning, info, "
                    "verbose, debug).",
        "LEVEL");
    for (const QCommandLineOption* o : {&helpOption, &secondsOption, &pausedOption, &seekOption, &muteOption,
                                        &volumeOption, &snapshotOption, &logLevelOption})
        parser.addOption(*o);
    parser.addPositionalArgument("FILE", "The media file to play.");

    if (!parser.parse(args)) return UsageError(parser, parser.errorText().toStdString());
    if (parser.isSet(helpOption)) {
        std::printf("%s", PlayHelpText(parser).c_str());
        return 0;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) return UsageError(parser, files.isEmpty() ? "no FILE given" : "give one FILE");

    double seconds = -1;
    if (parser.isSet(secondsOption)) {
        bool ok = false;
        seconds = parser.value(secondsOption).toDouble(&ok);
        if (!ok || seconds < 0) return UsageError(parser, "invalid --seconds value");
    }
    double seek = -1;
    if (parser.isSet(seekOption)) {
        bool ok = false;
        seek = parser.value(seekOption).toDouble(&ok);
        if (!ok || seek < 0) return UsageError(parser, "invalid --seek value");
    }
    int volume = 128;
    if (parser.isSet(volumeOption)) {
        bool ok = false;
        volume = parser.value(volumeOption).toInt(&ok);
        if (!ok || volume < 0 || volume > 128) return UsageError(parser, "invalid --volume value (0-128)");
    }

    TMediaLogger& logger = MediaLogger();
    if (parser.isSet(logLevelOption)) {
        try {
            logger.SetLogLevelByName(parser.value(logLevelOption).toStdString());
        } catch (const std::exception&) {
            return UsageError(parser, "invalid log level '" + parser.value(logLevelOption).toStdString() + "'");
        }
        logger.TriggerEventInMainThread = false;
        logger.OnLog = [](const void*, uint32_t, TLogLevel, const std::string& msg) {
            std::fprintf(stderr, "%s\n", msg.c_str());
        };
    }

    TOffscreenSurface surface(QSize(640, 480));
    int status = 0;
    {
        TPreviewPlayer player;
        bool ended = false;
        bool stopped = false;
        player.OnState = [&](TCustomPlayer*, TPlayState state) {
            std::printf("state %s\n", PlayStateName(state));
            std::fflush(stdout);
            if (state == psEnd) ended = true;
            if (state == psStop) stopped = true;
        };
        player.OnPosition = [](TCustomPlayer*, int64_t pts) {
            std::printf("position %.6f\n", double(pts) / 1000000.0);
            std::fflush(stdout);
        };
        player.SetMute(parser.isSet(muteOption));
        player.SetAudioVolume(volume);
        if (!player.AVLibLoaded() && !player.LoadAVLib(Paths::LibAVFolder())) {
            std::fprintf(stderr, "%s\n", player.LastErrMsg().c_str());
            logger.OnLog = nullptr;
            return 1;
        }
        if (!player.Open(files[0], &surface, parser.isSet(pausedOption))) {
            std::fprintf(stderr, "%s\n", player.LastErrMsg().c_str());
            logger.OnLog = nullptr;
            return 1;
        }
        if (seek >= 0) player.Seek(0, true, int64_t(seek * 1000000.0));
        QElapsedTimer timer;
        timer.start();
        MainThread::WaitFor([&] {
            if (ended || stopped) return true;
            return seconds >= 0 && timer.elapsed() >= qint64(seconds * 1000.0);
        });
        if (parser.isSet(snapshotOption)) {
            const QString out = parser.value(snapshotOption);
            const Bitmap24& frame = player.CurrentFrame();
            if (frame.Empty() || !frame.SaveToBmp(out)) {
                std::fprintf(stderr, "Cannot save the snapshot %s\n", out.toLocal8Bit().constData());
                status = 1;
            }
        }
        player.Stop(true);
        MainThread::WaitFor([&] { return stopped; }, std::chrono::seconds(5));
        player.OnState = nullptr;
        player.OnPosition = nullptr;
    }
    logger.OnLog = nullptr;
    return status;
}
