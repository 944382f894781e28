// kelto-cli frame IN.bmp OUT.bmp [EFFECT OPTIONS]: the per-frame sequence of the frame
// effects on one picture, written as a 24-bit BMP.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "cli/EffectOptions.h"
#include "effects/FrameEffects.h"
#include "platform/Bitmap24.h"

namespace {

std::string Local(const QString& text) { return text.toLocal8Bit().toStdString(); }

// The parser names the program by its path; the usage line names the subcommand.
std::string HelpText(const QCommandLineParser& parser) {
    QString text = parser.helpText();
    const qsizetype eol = text.indexOf('\n');
    const qsizetype options = text.indexOf(" [options]");
    if (text.startsWith("Usage: ") && options > 0 && options < eol) text.replace(7, options - 7, "kelto-cli frame");
    return Local(text);
}

int UsageError(const QCommandLineParser& parser, const QString& message) {
    std::fprintf(stderr, "kelto-cli frame: %s\n", Local(message).c_str());
    std::fprintf(stderr, "%s", HelpText(parser).c_str());
    return 2;
}

}  // namespace

int RunFrameCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Applies the colour corrections and the text and image watermark of a job to one 24-bit picture "
        "and writes the result as a 24-bit BMP.");
    const QCommandLineOption helpOption(QStringList{"h", "help"}, "Shows this help.");
    parser.addOption(helpOption);
    const TEffectOptions effectOptions;
    effectOptions.AddTo(parser);
    parser.addPositionalArgument("IN", "Picture to process (BMP).", "IN.bmp");
    parser.addPositionalArgument("OUT", "Where to write the result (24-bit BMP).", "OUT.bmp");

    if (!parser.parse(args)) return UsageError(parser, parser.errorText());
    if (parser.isSet(helpOption)) {
        std::printf("%s", HelpText(parser).c_str());
        return 0;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() != 2) return UsageError(parser, files.size() < 2 ? "IN and OUT are needed" : "too many files");
    TFrameEffects effects;
    QString error;
    if (!effectOptions.Read(parser, effects, &error)) return UsageError(parser, error);

    Bitmap24 picture;
    if (!picture.LoadFromFile(files[0])) {
        std::fprintf(stderr, "kelto-cli frame: cannot read the picture %s\n", Local(files[0]).c_str());
        return 1;
    }
    if (!ApplyFrameEffects(picture, effects, &error)) {
        std::fprintf(stderr, "kelto-cli frame: %s\n", Local(error).c_str());
        return 1;
    }
    if (!picture.SaveToBmp(files[1])) {
        std::fprintf(stderr, "kelto-cli frame: cannot write %s\n", Local(files[1]).c_str());
        return 1;
    }
    return 0;
}
