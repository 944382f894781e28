// kelto-cli play, run as a separate process on generated media.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

#include <string>

#include "cli/CliRunner.h"

#include "fixtures/Fixtures.h"
#include "platform/Bitmap24.h"

namespace {

struct TRun {
    int status = -1;
    QString out;
    QString err;
};

TRun RunPlay(const QStringList& args) {
    const TCliRun r = RunCli(QStringList{"play"} + args);
    return {r.status, QString::fromStdString(r.out), QString::fromStdString(r.err)};
}

class PlayCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(Fixtures::LoadMediaLibs(&error)) << error;
    }
};

TEST_F(PlayCommandTest, PlaysToTheEndPrintingStatesAndPositions) {
    const TRun r = RunPlay({Fixtures::Path("video_only.mp4")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines.first(), "state psPlay");
    EXPECT_EQ(lines.last(), "state psStop");
    EXPECT_TRUE(lines.contains("state psEnd"));
    double last = -1;
    for (const QString& line : lines)
        if (line.startsWith("position ")) last = line.mid(9).toDouble();
    // The end comes with the last picture (15 fps: 0.933 s) or later.
    EXPECT_GE(last, 0.9);
    EXPECT_LE(last, 1.0);
    const QRegularExpression shape("^(state ps(Play|Pause|Resume|End|Stop)|position \\d+\\.\\d{6})$");
    for (const QString& line : lines) EXPECT_TRUE(shape.match(line).hasMatch()) << line.toStdString();
}

TEST_F(PlayCommandTest, PausedSeekAndSnapshot) {
    const QString out = Fixtures::ScratchDir(QString("PlayCommandSnapshot-%1").arg(QCoreApplication::applicationPid())) + "/frame.bmp";
    const TRun r = RunPlay({Fixtures::Path("mp4_h264_aac.mp4"), "--paused", "--seek", "1", "--seconds", "0.5",
                            "--mute", "--snapshot", out});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("state psPause\n"));
    EXPECT_FALSE(r.out.contains("state psEnd"));
    Bitmap24 picture;
    ASSERT_TRUE(picture.LoadFromFile(out));
    EXPECT_EQ(picture.Width(), 320);
    EXPECT_EQ(picture.Height(), 240);
}

TEST_F(PlayCommandTest, FailuresAndUsageErrors) {
    const QString bad = Fixtures::Path("text.mp4");
    TRun r = RunPlay({bad});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.startsWith(bad + ": ")) << r.err.toStdString();
    EXPECT_EQ(RunPlay({}).status, 2);
    EXPECT_EQ(RunPlay({bad, "--volume", "200"}).status, 2);
    EXPECT_EQ(RunPlay({bad, "--seconds", "x"}).status, 2);
    r = RunPlay({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.contains("kelto-cli play"));
}

}  // namespace
