// kelto-cli frame, run as a separate process and compared with the frame effects called in
// this process; and the effect options shared by the commands that take them.

#include <gtest/gtest.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <string>

#include "cli/CliRunner.h"

#include "cli/EffectOptions.h"
#include "effects/FrameEffects.h"
#include "platform/Bitmap24.h"

namespace {

using TRun = TCliRun;

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Pattern(Bitmap24& bitmap, int seed) {
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width() * 3; ++x) row[x] = uint8_t(x * 7 + y * 31 + seed);
    }
}

class FrameCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        Bitmap24 picture(101, 47);  // an odd width, so rows carry padding
        Pattern(picture, 3);
        ASSERT_TRUE(picture.SaveToBmp(In()));
        Bitmap24 image(30, 20);
        Pattern(image, 90);
        ASSERT_TRUE(image.SaveToBmp(Mark()));
    }
    QString PathOf(const QString& name) const { return m_dir.path() + "/" + name; }
    QString In() const { return PathOf("in.bmp"); }
    QString Out() const { return PathOf("out.bmp"); }
    QString Mark() const { return PathOf("mark.bmp"); }
    // The file the library writes for these effects, made in this process.
    QByteArray Expected(const TFrameEffects& effects) {
        Bitmap24 picture;
        EXPECT_TRUE(picture.LoadFromFile(In()));
        TWatermarkImageCache cache;
        EXPECT_TRUE(ApplyFrameEffects(picture, effects, cache));
        const QString path = PathOf("expected.bmp");
        EXPECT_TRUE(picture.SaveToBmp(path));
        return ReadAll(path);
    }

    QTemporaryDir m_dir;
};

TEST_F(FrameCommandTest, WritesExactlyWhatTheLibraryGives) {
    const TRun r = RunCli({"frame", In(), Out(), "--brightness", "300", "--contrast", "20", "--saturation", "180",
                           "--exposure", "40", "--process-text", "--text", "Kelto 3", "--text-pos", "5,6", "--font",
                           "DejaVu Sans,14,#20C040,bi", "--image", Mark(), "--image-pos", "80,30", "--alpha", "120",
                           "--style", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("kelto-cli"), std::string::npos) << r.err;

    TFrameEffects e;
    e.Brightness = 300;
    e.Contrast = 20;
    e.Saturation = 180;
    e.Exposure = 40;
    e.ProcessText = true;
    e.WaterText = "Kelto 3";
    e.TextLeft = 5;
    e.TextTop = 6;
    e.WaterFont.Name = "DejaVu Sans";
    e.WaterFont.Size = 14;
    e.WaterFont.Color = QColor(0x20, 0xC0, 0x40);
    e.WaterFont.Bold = true;
    e.WaterFont.Italic = true;
    e.WaterImage = Mark();
    e.ImageLeft = 80;
    e.ImageTop = 30;
    e.ImageAlpha = 120;
    e.TransparentStyle = 1;
    const QByteArray out = ReadAll(Out());
    EXPECT_EQ(out, Expected(e));
    EXPECT_NE(out, ReadAll(In()));
    // A 24-bit BMP.
    ASSERT_GT(out.size(), 54);
    EXPECT_EQ(out.left(2), "BM");
    EXPECT_EQ(uint8_t(out[28]), 24);
}

TEST_F(FrameCommandTest, MultiplyStyleImageFirstAndNoOptions) {
    TRun r = RunCli({"frame", In(), Out(), "--process-image", "--saturation", "0", "--image", Mark(), "--style", "2",
                     "--image-pos=-4,-3", "--text", "on top", "--font", "DejaVu Serif,10,#FF0000,us"});
    ASSERT_EQ(r.status, 0) << r.err;
    TFrameEffects e;
    e.ProcessImage = true;
    e.Saturation = 0;
    e.WaterImage = Mark();
    e.TransparentStyle = 2;
    e.ImageLeft = -4;
    e.ImageTop = -3;
    e.WaterText = "on top";
    e.WaterFont.Name = "DejaVu Serif";
    e.WaterFont.Size = 10;
    e.WaterFont.Color = QColor(255, 0, 0);
    e.WaterFont.Underline = true;
    e.WaterFont.StrikeOut = true;
    EXPECT_EQ(ReadAll(Out()), Expected(e));

    // Without effect options the picture is written as it was read.
    r = RunCli({"frame", In(), Out()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadAll(Out()), ReadAll(In()));
}

TEST_F(FrameCommandTest, UsageErrorsExitWithStatusTwo) {
    const QStringList bad[] = {
        {"frame"},
        {"frame", In()},
        {"frame", In(), Out(), "third.bmp"},
        {"frame", In(), Out(), "--brightness", "513"},
        {"frame", In(), Out(), "--contrast", "abc"},
        {"frame", In(), Out(), "--exposure", "-256"},
        {"frame", In(), Out(), "--saturation", "-1"},
        {"frame", In(), Out(), "--alpha", "256"},
        {"frame", In(), Out(), "--style", "3"},
        {"frame", In(), Out(), "--style", "0"},
        {"frame", In(), Out(), "--text-pos", "5"},
        {"frame", In(), Out(), "--image-pos", "a,b"},
        {"frame", In(), Out(), "--font", "Arial,12,red"},
        {"frame", In(), Out(), "--font", "Arial,#FF0000"},
        {"frame", In(), Out(), "--font", "Arial,12,#FF0000,x"},
        {"frame", In(), Out(), "--unknown"},
    };
    for (const QStringList& args : bad) {
        const TRun r = RunCli(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_NE(r.err.find("kelto-cli frame: "), std::string::npos) << r.err;
        EXPECT_FALSE(QFileInfo::exists(Out())) << args.join(' ').toStdString();
    }
    const TRun help = RunCli({"frame", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: kelto-cli frame"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("--font"), std::string::npos);
}

TEST_F(FrameCommandTest, UnreadableFilesExitWithStatusOne) {
    {
        QFile f(PathOf("junk.bmp"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a picture");
    }
    for (const QString& input : {PathOf("junk.bmp"), PathOf("missing.bmp")}) {
        const TRun r = RunCli({"frame", input, Out()});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(input.toStdString()), std::string::npos) << r.err;
        EXPECT_FALSE(QFileInfo::exists(Out()));
    }
    // A watermark image that is not a bitmap: nothing is written.
    const TRun r = RunCli({"frame", In(), Out(), "--image", PathOf("junk.bmp"), "--saturation", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("junk.bmp"), std::string::npos) << r.err;
    EXPECT_FALSE(QFileInfo::exists(Out()));
    // An output that cannot be written.
    const TRun w = RunCli({"frame", In(), PathOf("no/such/folder/out.bmp")});
    EXPECT_EQ(w.status, 1);
    EXPECT_NE(w.err.find("no/such/folder/out.bmp"), std::string::npos) << w.err;
}

// --- The effect options in this process -------------------------------------------------

bool ReadOptions(const QStringList& options, TFrameEffects& effects, QString* error) {
    QCommandLineParser parser;
    TEffectOptions effectOptions;
    effectOptions.AddTo(parser);
    if (!parser.parse(QStringList{"convert"} + options)) {
        *error = parser.errorText();
        return false;
    }
    return effectOptions.Read(parser, effects, error);
}

TEST(EffectOptions, FillTheJobValuesAndKeepTheRest) {
    TFrameEffects e;
    e.ImageAlpha = 77;
    e.WaterFont.Size = 9;
    QString error;
    ASSERT_TRUE(ReadOptions({"--brightness", "0", "--contrast", "-100", "--saturation", "512", "--exposure", "-255",
                             "--text", "a, b", "--text-pos", "-3,12", "--image", "rel/mark.bmp"},
                            e, &error))
        << error.toStdString();
    EXPECT_EQ(e.Brightness, 0);
    EXPECT_EQ(e.Contrast, -100);
    EXPECT_EQ(e.Saturation, 512);
    EXPECT_EQ(e.Exposure, -255);
    EXPECT_EQ(e.WaterText, "a, b");
    EXPECT_EQ(e.TextLeft, -3);
    EXPECT_EQ(e.TextTop, 12);
    EXPECT_TRUE(QFileInfo(e.WaterImage).isAbsolute());
    EXPECT_TRUE(e.WaterImage.endsWith("/rel/mark.bmp"));
    // Not given: unchanged.
    EXPECT_FALSE(e.ProcessText);
    EXPECT_FALSE(e.ProcessImage);
    EXPECT_EQ(e.ImageAlpha, 77);
    EXPECT_EQ(e.TransparentStyle, 1);
    EXPECT_EQ(e.WaterFont, TWaterFont{.Size = 9});

    // A bad value leaves every field as it was.
    const TFrameEffects before = e;
    EXPECT_FALSE(ReadOptions({"--brightness", "10", "--alpha", "300"}, e, &error));
    EXPECT_NE(error.indexOf("--alpha"), -1) << error.toStdString();
    EXPECT_EQ(e, before);
}

TEST(EffectOptions, FontSpecifications) {
    struct {
        const char* text;
        TWaterFont font;
    } const good[] = {
        {"Arial,12,#FF8000", {.Name = "Arial", .Size = 12, .Color = QColor(255, 128, 0)}},
        {"Times New Roman,9,#0a0B0c,bius",
         {.Name = "Times New Roman", .Size = 9, .Color = QColor(10, 11, 12), .Bold = true, .Italic = true,
          .Underline = true, .StrikeOut = true}},
        {"Odd, Name,20,#000000,U", {.Name = "Odd, Name", .Size = 20, .Color = QColor(0, 0, 0), .Underline = true}},
        {"Mono,7,#FFFFFF,", {.Name = "Mono", .Size = 7, .Color = QColor(255, 255, 255)}},
    };
    for (const auto& c : good) {
        TWaterFont font;
        font.Bold = true;  // replaced by the style field
        QString error;
        ASSERT_TRUE(ParseFontSpec(c.text, font, &error)) << c.text << ": " << error.toStdString();
        EXPECT_EQ(font, c.font) << c.text;
    }
    for (const char* text : {"", "Arial", "Arial,12", ",12,#000000", "Arial,0,#000000", "Arial,big,#000000",
                             "Arial,12,#00000", "Arial,12,000000", "Arial,12,#GG0000", "Arial,12,#000000,bx"}) {
        TWaterFont font;
        QString error;
        EXPECT_FALSE(ParseFontSpec(text, font, &error)) << text;
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(font, TWaterFont{}) << text;
    }
}

}  // namespace
