// File names on their way to the media library, and the custom I/O behind
// "unicode:utf8:" URLs.

#include <dirent.h>

#include <QByteArray>
#include <QFile>

#include <gtest/gtest.h>

#include "engine/MediaErrorText.h"
#include "engine/MediaLib.h"
#include "engine/MediaLibLoader.h"
#include "engine/UnicodeProtocol.h"
#include "fixtures/Fixtures.h"

namespace {

int OpenDescriptorCount() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n;
}

// A minimal PCM WAV file: 16-bit mono at 8000 Hz, `samples` samples of a ramp.
QByteArray WavFile(int samples) {
    QByteArray data;
    auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) data.append(char((v >> (8 * i)) & 0xFF)); };
    auto u16 = [&](uint16_t v) { data.append(char(v & 0xFF)); data.append(char(v >> 8)); };
    data.append("RIFF");
    u32(36 + uint32_t(samples) * 2);
    data.append("WAVEfmt ");
    u32(16); u16(1); u16(1); u32(8000); u32(16000); u16(2); u16(16);
    data.append("data");
    u32(uint32_t(samples) * 2);
    for (int i = 0; i < samples; ++i) u16(uint16_t(i * 7));
    return data;
}

class UnicodeIOTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MediaLibLoader().LoadLibs(EngineLibs)) << MediaLibLoader().LastErrMsg();
        folder = Fixtures::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    static std::string UnicodeURL(const QString& path) {
        return (QString(kUnicodeURLPrefix) + path).toUtf8().toStdString();
    }
    QString folder;
};

}  // namespace

TEST(FileNameToURL, NamesTheNarrowFormHoldsPassUnchanged) {
    const QString names[] = {
        "/tmp/clip.wmv",
        "/tmp/with space/clip one.avi",
        QString::fromUtf8("/tmp/Кириллица/файл.avi"),
        QString::fromUtf8("/tmp/日本語のファイル.mp4"),
        "http://example.invalid/a.mp4",
        "rtp://127.0.0.1:1234",
    };
    for (const QString& name : names) {
        EXPECT_FALSE(NeedUnicodeURL(name)) << name.toStdString();
        EXPECT_EQ(FileNameToURL(name), name.toUtf8().toStdString());
        EXPECT_EQ(URLToFileName(FileNameToURL(name)), name);
    }
}

TEST(FileNameToURL, NameTheNarrowFormCannotHoldBecomesAUnicodeURL) {
    // A lone surrogate has no narrow form.
    const QString name = QString("/tmp/a") + QChar(0xD800) + "b.avi";
    EXPECT_TRUE(NeedUnicodeURL(name));
    EXPECT_EQ(FileNameToURL(name).rfind(kUnicodeURLPrefix, 0), 0u);
    // A known protocol never gets the prefix.
    EXPECT_FALSE(NeedUnicodeURL(QString("http:") + QChar(0xD800)));
}

TEST(URLToFileName, DropsThePrefixOnlyWhenSomethingFollows) {
    EXPECT_EQ(URLToFileName("unicode:utf8:/tmp/\xD0\x9A.avi"), QString::fromUtf8("/tmp/К.avi"));
    EXPECT_EQ(URLToFileName("unicode:utf8:"), QString("unicode:utf8:"));
    EXPECT_EQ(URLToFileName("unicode:utf8:x"), QString("x"));
    EXPECT_EQ(URLToFileName("/plain/name.mp4"), QString("/plain/name.mp4"));
}

TEST_F(UnicodeIOTest, WritesReadsAndSeeksAFileThroughTheURL) {
    const QString path = folder + QString::fromUtf8("/Кириллица 日本.bin");
    const std::string url = UnicodeURL(path);
    AVIOContext* pb = nullptr;
    ASSERT_EQ(UnicodeOpen(&pb, url, AVIO_FLAG_WRITE), 0);
    ASSERT_TRUE(IsUnicodeIO(pb));
    for (int i = 0; i < 100000; ++i) gAVFormat.avio_w8(pb, uint8_t(i % 251));
    EXPECT_EQ(UnicodeClose(&pb), 0);
    EXPECT_EQ(pb, nullptr);
    EXPECT_EQ(QFile(path).size(), 100000);

    ASSERT_EQ(UnicodeOpen(&pb, url, AVIO_FLAG_READ), 0);
    EXPECT_EQ(gAVFormat.avio_seek(pb, 1000, SEEK_SET), 1000);
    // The size query answers without moving the position.
    EXPECT_EQ(gAVFormat.avio_size(pb), 100000);
    EXPECT_EQ(gAVFormat.avio_seek(pb, 0, SEEK_CUR), 1000);
    uint8_t buffer[16];
    ASSERT_EQ(gAVFormat.avio_read(pb, buffer, 16), 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(buffer[i], uint8_t((1000 + i) % 251));
    EXPECT_EQ(gAVFormat.avio_seek(pb, 99990, SEEK_SET), 99990);
    EXPECT_EQ(gAVFormat.avio_read(pb, buffer, 16), 10);
    EXPECT_TRUE(gAVFormat.avio_feof(pb));
    UnicodeClose(&pb);
}

TEST_F(UnicodeIOTest, WritingReplacesAnExistingFile) {
    const QString path = folder + QString::fromUtf8("/заменить.bin");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(5000, 'x'));
    f.close();
    AVIOContext* pb = nullptr;
    ASSERT_EQ(UnicodeOpen(&pb, UnicodeURL(path), AVIO_FLAG_WRITE), 0);
    gAVFormat.avio_write(pb, reinterpret_cast<const unsigned char*>("abc"), 3);
    UnicodeClose(&pb);
    EXPECT_EQ(QFile(path).size(), 3);
}

TEST_F(UnicodeIOTest, MissingFileGivesNoSuchFile) {
    AVIOContext* pb = nullptr;
    const int r = UnicodeOpen(&pb, UnicodeURL(folder + "/none.bin"), AVIO_FLAG_READ);
    EXPECT_EQ(r, -2);
    EXPECT_EQ(pb, nullptr);
    EXPECT_EQ(MediaErrorText(r), "No such file or directory");
    AVFormatContext* ctx = nullptr;
    EXPECT_EQ(OpenInputURL(&ctx, UnicodeURL(folder + "/none.wav"), nullptr, nullptr), -2);
    EXPECT_EQ(ctx, nullptr);
}

TEST_F(UnicodeIOTest, DemuxerOpensAMediaFileThroughTheURLAndClosingReleasesIt) {
    const QString path = folder + QString::fromUtf8("/тон 日本.wav");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(WavFile(8000));
    f.close();
    const int descriptors = OpenDescriptorCount();

    AVFormatContext* ctx = nullptr;
    const std::string url = UnicodeURL(path);
    ASSERT_EQ(OpenInputURL(&ctx, url, nullptr, nullptr), 0);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(URLToFileName(ctx->url), path);
    ASSERT_GE(gAVFormat.avformat_find_stream_info(ctx, nullptr), 0);
    ASSERT_EQ(ctx->nb_streams, 1u);
    EXPECT_EQ(ctx->streams[0]->codecpar->codec_id, AV_CODEC_ID_PCM_S16LE);
    EXPECT_EQ(ctx->streams[0]->codecpar->sample_rate, 8000);
    EXPECT_NEAR(double(ctx->duration) / AV_TIME_BASE, 1.0, 0.01);
    AVPacket* pkt = gAVCodec.av_packet_alloc();
    int bytes = 0;
    while (gAVFormat.av_read_frame(ctx, pkt) >= 0) {
        bytes += pkt->size;
        gAVCodec.av_packet_unref(pkt);
    }
    gAVCodec.av_packet_free(&pkt);
    EXPECT_EQ(bytes, 16000);
    CloseInputURL(&ctx);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

TEST_F(UnicodeIOTest, FailedDemuxerOpenReleasesTheFile) {
    const QString path = folder + QString::fromUtf8("/мусор.wav");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(10, '\0'));
    f.close();
    const int descriptors = OpenDescriptorCount();
    AVFormatContext* ctx = nullptr;
    EXPECT_LT(OpenInputURL(&ctx, UnicodeURL(path), nullptr, nullptr), 0);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
}
