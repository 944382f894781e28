// kelto-cli info and --version, run as a separate process.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <string>

#include "cli/CliRunner.h"

#include "fixtures/Fixtures.h"
#include "media/AVProbe.h"

namespace {

using TRun = TCliRun;

std::string WithoutCR(std::string s) {
    std::string out;
    for (char c : s)
        if (c != '\r') out += c;
    return out;
}

class InfoCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(Fixtures::LoadMediaLibs(&error)) << error;
    }
    // The probe's description as the terminal shows it.
    static std::string Described(const QString& path) {
        TAVProbe probe;
        if (!probe.LoadFile(path)) return "cannot probe " + path.toStdString();
        return WithoutCR(probe.GetFormatInfo());
    }
    static std::string ErrorOf(const QString& path) {
        TAVProbe probe;
        probe.LoadFile(path);
        return probe.LastErrMsg();
    }
};

TEST_F(InfoCommandTest, DescribesEveryFileAndReportsTheOneThatFails) {
    const QString first = Fixtures::Path("avi_mpeg4_mp3.avi");
    const QString bad = Fixtures::Path("truncated.mp4");
    const QString second = Fixtures::Path("Кириллица файл.avi");
    const TRun r = RunCli({"info", first, bad, second});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, Described(first) + "\n" + Described(second) + "\n");
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    // Without --loglevel only the error text reaches standard error.
    EXPECT_EQ(r.err, ErrorOf(bad) + "\n");
    EXPECT_EQ(ErrorOf(bad), bad.toStdString() + ": Invalid data found when processing input");
}

TEST_F(InfoCommandTest, AllFilesDescribedGivesStatusZero) {
    const QString a = Fixtures::Path("audio_only.mp3");
    const QString b = Fixtures::Path("start_time.ts");
    const TRun r = RunCli({"info", a, b});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Described(a) + "\n" + Described(b) + "\n");
    EXPECT_NE(r.out.find("Program 1 FFmpeg@Service01\n"), std::string::npos);
    EXPECT_EQ(r.err, "");
}

TEST_F(InfoCommandTest, MissingFileAndUnreadableFile) {
    const TRun r = RunCli({"info", "/nonexistent/clip.avi", Fixtures::Path("random.bin")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "/nonexistent/clip.avi: No such file or directory\n" +
                         Fixtures::Path("random.bin").toStdString() + ": Invalid data found when processing input\n");
}

TEST_F(InfoCommandTest, LogLevelRoutesLibraryLinesToStandardError) {
    const QString bad = Fixtures::Path("truncated.mp4");
    TRun r = RunCli({"info", "--loglevel", "error", bad});
    EXPECT_EQ(r.status, 1);
    // The demuxer's own complaint, with its context prefix, then the probe's error text.
    EXPECT_NE(r.err.find("]moov atom not found\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("[mov,mp4,m4a,3gp,3g2,mj2 @ 0x"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(ErrorOf(bad) + "\n"), std::string::npos) << r.err;

    r = RunCli({"info", "--loglevel", "quiet", bad});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, ErrorOf(bad) + "\n");

    r = RunCli({"info", "--loglevel", "loud", bad});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("loud"), std::string::npos) << r.err;
}

TEST_F(InfoCommandTest, UsageErrorsAndHelp) {
    TRun r = RunCli({"info"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Usage: kelto-cli info"), std::string::npos) << r.err;

    r = RunCli({"info", "--no-such-option", Fixtures::Path("audio_only.mp3")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");

    r = RunCli({"info", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: kelto-cli info [options] FILE...\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("--loglevel <LEVEL>"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST_F(InfoCommandTest, LibrariesThatCannotBeLoadedEndWithTheLoadersMessage) {
    // A private "LibAV" folder beside a copy of the program, holding a file that is not
    // a library: it is preferred over the system's copy and fails to load.
    const QString dir = QFileInfo(Fixtures::ScratchDir("InfoCommandBrokenLibAV")).canonicalFilePath();
    ASSERT_TRUE(QDir(dir).mkpath("LibAV"));
    const QString program = dir + "/kelto-cli";
    ASSERT_TRUE(QFile::copy(QCoreApplication::applicationDirPath() + "/kelto-cli", program));
    QFile broken(dir + "/LibAV/libavcodec.so.59");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a shared object\n");
    broken.close();

    const TRun r = RunCli({"info", Fixtures::Path("audio_only.mp3")}, program);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("Load library " + dir.toStdString() + "/LibAV/libavcodec.so.59 error: ", 0), 0u) << r.err;
}

TEST(CliVersionTest, PrintsTheTitleAndVersion) {
    const TRun r = RunCli({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Kelto RAZ 3IR Ederarere", 0), 0u) << r.out;
    EXPECT_EQ(r.out.back(), '\n');
}

}  // namespace
