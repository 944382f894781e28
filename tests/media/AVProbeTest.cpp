// The media probe on generated media: counts, stream and file records, the description
// text, and the failure cases.

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/MediaErrorText.h"
#include "engine/MediaLib.h"
#include "engine/MediaLibLoader.h"
#include "engine/MediaLogger.h"
#include "engine/UnicodeProtocol.h"
#include "fixtures/Fixtures.h"
#include "media/AVProbe.h"
#include "media/ProbeText.h"
#include "platform/Format.h"

namespace {

struct TLogLine {
    const void* sender;
    TLogLevel level;
    std::string msg;
};

class AVProbeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        loaded_ = Fixtures::LoadMediaLibs(&error);
        loadError_ = error;
    }

    void SetUp() override {
        ASSERT_TRUE(loaded_) << loadError_;
        MediaLogger().SetLogLevel(llInfo);
        MediaLogger().OnLog = [this](const void* sender, uint32_t, TLogLevel level, const std::string& msg) {
            log_.push_back({sender, level, msg});
        };
    }
    void TearDown() override { MediaLogger().OnLog = nullptr; }

    // Lines that the probe itself reported (the library's own lines come from the logger).
    std::vector<TLogLine> ProbeLog(const TCustomAVProbe& probe) const {
        std::vector<TLogLine> out;
        for (const TLogLine& l : log_)
            if (l.sender == &probe) out.push_back(l);
        return out;
    }

    static QString Media(const char* name) { return Fixtures::Path(QString::fromUtf8(name)); }
    static const Fixtures::TFixtureFacts& Facts(const char* name) {
        const Fixtures::TFixtureFacts* f = Fixtures::Facts(QString::fromUtf8(name));
        if (!f) throw std::runtime_error(std::string("no facts for ") + name);
        return *f;
    }
    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t eol; (eol = text.find("\r\n", start)) != std::string::npos; start = eol + 2)
            lines.push_back(text.substr(start, eol - start));
        return lines;
    }
    static bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    static const std::string* LineStarting(const std::vector<std::string>& lines, const std::string& head) {
        for (const std::string& l : lines)
            if (l.rfind(head, 0) == 0) return &l;
        return nullptr;
    }

    std::vector<TLogLine> log_;

private:
    static inline bool loaded_ = false;
    static inline std::string loadError_;
};

std::string ReportedLanguage(const char* reported, const char* written) {
    if (reported) return reported;
    return written ? written : "";
}

void ExpectAllUnknown(const TCustomAVProbe& p) {
    EXPECT_EQ(p.FileSize(), -1);
    EXPECT_EQ(p.StreamCount(), -1);
    EXPECT_EQ(p.ProgramCount(), -1);
    EXPECT_EQ(p.AudioStreamCount(), -1);
    EXPECT_EQ(p.VideoStreamCount(), -1);
    EXPECT_EQ(p.SubtitleStreamCount(), -1);
    EXPECT_EQ(p.FirstAudioStream(), -1);
    EXPECT_EQ(p.FirstVideoStream(), -1);
    EXPECT_EQ(p.FirstSubtitleStream(), -1);
    EXPECT_EQ(p.FormatContext(), nullptr);
}

void ExpectUnknown(const TVideoStreamInfo& v) {
    EXPECT_EQ(v.Language, "");
    EXPECT_EQ(v.CodecName, "");
    for (int64_t n : {v.StartTime, v.StartTimeUs, v.Duration, v.DurationUs}) EXPECT_EQ(n, -1);
    for (int32_t n : {v.BitRate, v.Height, v.Width, v.PixFmt, v.FrameRateNum, v.FrameRateDen}) EXPECT_EQ(n, -1);
    EXPECT_EQ(v.AspectRatio, -1.0f);
}

void ExpectUnknown(const TAudioStreamInfo& a) {
    EXPECT_EQ(a.Language, "");
    EXPECT_EQ(a.CodecName, "");
    for (int64_t n : {a.StartTime, a.StartTimeUs, a.Duration, a.DurationUs}) EXPECT_EQ(n, -1);
    for (int32_t n : {a.BitRate, a.Channels, a.SampleRate, a.SampleFormat}) EXPECT_EQ(n, -1);
}

void ExpectUnknown(const TFileStreamInfo& f) {
    for (int64_t n : {f.StartTime, f.Duration, f.TimeStamp}) EXPECT_EQ(n, -1);
    for (int32_t n : {f.BitRate, f.Year, f.Track}) EXPECT_EQ(n, -1);
    for (const std::string* s : {&f.Title, &f.Author, &f.Copyright, &f.Comment, &f.Album, &f.Genre})
        EXPECT_EQ(*s, "");
}

// ---------------------------------------------------------------------------------------
// Counts

TEST_F(AVProbeTest, CountsFirstStreamsAndContainerFacts) {
    const struct {
        const char* name;
        int streams, video, audio, firstVideo, firstAudio, programs;
    } cases[] = {
        {"audio_only.mp3", 1, 0, 1, -1, 0, 0},
        {"tone_48k_mono.wav", 1, 0, 1, -1, 0, 0},
        {"video_only.mp4", 1, 1, 0, 0, -1, 0},
        {"asf_wmv2_wma2.asf", 2, 1, 1, 0, 1, 0},
        {"mp4_h264_aac.mp4", 2, 1, 1, 0, 1, 0},
        {"avi_mpeg4_mp3.avi", 2, 1, 1, 0, 1, 0},
        {"start_time.ts", 2, 1, 1, 0, 1, 1},
    };
    TAVProbe probe;  // one probe for all: every LoadFile replaces what was open
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = Media(c.name);
        const auto& facts = Facts(c.name);
        ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg();
        EXPECT_TRUE(probe.OwnsContext());
        EXPECT_EQ(probe.ForceFormat(), "");
        EXPECT_EQ(probe.GetFormatName(), facts.Container);
        EXPECT_EQ(probe.GetFileName(), path);
        EXPECT_EQ(probe.FileSize(), QFileInfo(path).size());
        EXPECT_EQ(probe.StreamCount(), c.streams);
        EXPECT_EQ(probe.ProgramCount(), c.programs);
        EXPECT_EQ(probe.VideoStreamCount(), c.video);
        EXPECT_EQ(probe.AudioStreamCount(), c.audio);
        EXPECT_EQ(probe.SubtitleStreamCount(), 0);
        EXPECT_EQ(probe.VideoStreamCount() > 0, facts.HasVideo());
        EXPECT_EQ(probe.AudioStreamCount() > 0, facts.HasAudio());
        EXPECT_EQ(probe.FirstVideoStream(), c.firstVideo);
        EXPECT_EQ(probe.FirstAudioStream(), c.firstAudio);
        EXPECT_EQ(probe.FirstSubtitleStream(), -1);
        EXPECT_EQ(probe.PrimaryStream(), c.firstVideo >= 0 ? c.firstVideo : c.firstAudio);
        for (int i = -1; i <= c.streams; ++i) {
            EXPECT_EQ(probe.IsVideoStream(i), i >= 0 && i == c.firstVideo) << i;
            EXPECT_EQ(probe.IsAudioStream(i), i >= 0 && i == c.firstAudio) << i;
        }
    }
    probe.Close();
    ExpectAllUnknown(probe);
    EXPECT_EQ(probe.GetFileName(), "");
    EXPECT_EQ(probe.GetFormatName(), "");
    EXPECT_FALSE(probe.IsAudioStream(0));
    EXPECT_TRUE(ProbeLog(probe).empty());
}

// ---------------------------------------------------------------------------------------
// Stream records

TEST_F(AVProbeTest, VideoRecordsMatchTheGeneratedStreams) {
    const struct {
        const char* name;
        const char* codecName;  // decoder name and long name
        double aspect;          // 0: the stream has no sample aspect ratio (0/1)
        bool durationKnown;
        bool startKnown;
    } cases[] = {
        {"asf_wmv2_wma2.asf", "wmv2(Windows Media Video 8)", 0.0, true, true},
        {"mp4_h264_aac.mp4", "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)", 0.0, true, true},
        {"avi_mpeg4_mp3.avi", "mpeg4(MPEG-4 part 2)", 352.0 / 288.0, true, true},
        {"video_only.mp4", "mpeg4(MPEG-4 part 2)", 176.0 / 144.0, true, true},
        {"odd_size.avi", "mpeg4(MPEG-4 part 2)", 161.0 / 97.0, true, true},
        {"start_time.ts", "mpeg2video(MPEG-2 video)", 4.0 / 3.0, true, true},
        // 12:11 pixels on 352x288 display as 4:3; Matroska keeps no stream duration.
        {"sar.mkv", "mpeg4(MPEG-4 part 2)", 4.0 / 3.0, false, true},
        // A raw elementary stream knows neither its start nor its length.
        {"no_duration.m2v", "mpeg2video(MPEG-2 video)", 4.0 / 3.0, false, false},
    };
    TAVProbe probe;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto& facts = Facts(c.name);
        ASSERT_TRUE(probe.LoadFile(Media(c.name))) << probe.LastErrMsg();
        TVideoStreamInfo v;
        ASSERT_TRUE(probe.GetVideoStreamInfo(-1, v)) << probe.LastErrMsg();
        EXPECT_EQ(v.CodecName, c.codecName);
        EXPECT_EQ(v.Language, ReportedLanguage(facts.VideoLanguageReported, facts.VideoLanguage));
        EXPECT_EQ(v.Width, facts.Width);
        EXPECT_EQ(v.Height, facts.Height);
        EXPECT_EQ(v.FrameRateNum, facts.FrameRateNum);
        EXPECT_EQ(v.FrameRateDen, facts.FrameRateDen);
        EXPECT_EQ(v.PixFmt, gAVUtil.av_get_pix_fmt(facts.PixelFormat));
        EXPECT_NEAR(v.AspectRatio, c.aspect, 1e-5);
        EXPECT_GE(v.BitRate, 0);

        const AVRational tb = probe.FormatContext()->streams[probe.FirstVideoStream()]->time_base;
        if (c.startKnown) {
            EXPECT_NEAR(double(v.StartTimeUs), double(facts.FirstPtsUs), 50000.0);
            EXPECT_EQ(v.StartTimeUs, gAVUtil.av_rescale_q(v.StartTime, tb, AVRational{1, 1000000}));
        } else {
            EXPECT_EQ(v.StartTime, AV_NOPTS_VALUE);
            EXPECT_EQ(v.StartTimeUs, -1);
        }
        if (c.durationKnown) {
            EXPECT_NEAR(double(v.DurationUs), double(facts.DurationUs), 60000.0);
            EXPECT_EQ(v.DurationUs, gAVUtil.av_rescale_q(v.Duration, tb, AVRational{1, 1000000}));
        } else {
            EXPECT_EQ(v.Duration, AV_NOPTS_VALUE);
            EXPECT_EQ(v.DurationUs, -1);
        }

        // An explicit index gives the same record.
        TVideoStreamInfo byIndex;
        ASSERT_TRUE(probe.GetVideoStreamInfo(probe.FirstVideoStream(), byIndex));
        EXPECT_EQ(byIndex.CodecName, v.CodecName);
        EXPECT_EQ(byIndex.Width, v.Width);
        EXPECT_EQ(byIndex.DurationUs, v.DurationUs);
    }
    EXPECT_TRUE(ProbeLog(probe).empty());
}

TEST_F(AVProbeTest, AudioRecordsMatchTheGeneratedStreams) {
    const struct {
        const char* name;
        const char* codecName;
        const char* sampleFormat;  // what the decoder delivers (not always the encoder's)
        bool startKnown;
    } cases[] = {
        {"asf_wmv2_wma2.asf", "wmav2(Windows Media Audio 2)", "fltp", true},
        {"mp4_h264_aac.mp4", "aac(AAC (Advanced Audio Coding))", "fltp", true},
        {"avi_mpeg4_mp3.avi", "mp3float(MP3 (MPEG audio layer 3))", "fltp", true},
        {"audio_only.mp3", "mp3float(MP3 (MPEG audio layer 3))", "fltp", true},
        {"start_time.ts", "mp2(MP2 (MPEG audio layer 2))", "fltp", true},
        {"tone_48k_mono.wav", "pcm_s16le(PCM signed 16-bit little-endian)", "s16", false},
    };
    TAVProbe probe;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto& facts = Facts(c.name);
        ASSERT_TRUE(probe.LoadFile(Media(c.name))) << probe.LastErrMsg();
        TAudioStreamInfo a;
        ASSERT_TRUE(probe.GetAudioStreamInfo(-1, a)) << probe.LastErrMsg();
        EXPECT_EQ(a.CodecName, c.codecName);
        EXPECT_EQ(a.Language, ReportedLanguage(facts.AudioLanguageReported, facts.AudioLanguage));
        EXPECT_EQ(a.SampleRate, facts.SampleRate);
        EXPECT_EQ(a.Channels, facts.Channels);
        EXPECT_EQ(a.SampleFormat, gAVUtil.av_get_sample_fmt(c.sampleFormat));
        EXPECT_NEAR(double(a.DurationUs), double(facts.DurationUs), 60000.0);
        if (c.startKnown) {
            EXPECT_NEAR(double(a.StartTimeUs), double(facts.FirstPtsUs), 50000.0);
        } else {
            EXPECT_EQ(a.StartTime, AV_NOPTS_VALUE);
            EXPECT_EQ(a.StartTimeUs, -1);
        }
    }
    // PCM has an exact bit rate: 48000 samples of 16 bits, one channel.
    ASSERT_TRUE(probe.LoadFile(Media("tone_48k_mono.wav")));
    TAudioStreamInfo pcm;
    ASSERT_TRUE(probe.GetAudioStreamInfo(0, pcm));
    EXPECT_EQ(pcm.BitRate, 768000);
}

// A stream whose time base has a zero denominator is repaired in place (the denominator
// becomes the numerator, or 1) so that its times can be rescaled.
TEST_F(AVProbeTest, ZeroTimeBaseDenominatorIsRepaired) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media("avi_mpeg4_mp3.avi")));
    AVStream* st = probe.FormatContext()->streams[0];
    st->start_time = 3;
    st->duration = 7;
    st->time_base = AVRational{0, 0};
    TVideoStreamInfo v;
    ASSERT_TRUE(probe.GetVideoStreamInfo(0, v));
    EXPECT_EQ(st->time_base.num, 0);
    EXPECT_EQ(st->time_base.den, 1);
    EXPECT_EQ(v.StartTimeUs, 0);  // 3 * 0/1
    st->time_base = AVRational{2, 0};
    ASSERT_TRUE(probe.GetVideoStreamInfo(0, v));
    EXPECT_EQ(st->time_base.den, 2);
    EXPECT_EQ(v.StartTimeUs, 3000000);
    EXPECT_EQ(v.DurationUs, 7000000);
}

// ---------------------------------------------------------------------------------------
// File record

TEST_F(AVProbeTest, FileRecordTimesAndBitRate) {
    TAVProbe probe;
    int checked = 0;
    for (const Fixtures::TFixtureFacts& facts : Fixtures::AllFacts()) {
        if (!facts.Playable || facts.Kind != Fixtures::TFixtureKind::Media) continue;
        SCOPED_TRACE(facts.Name);
        ASSERT_TRUE(probe.LoadFile(Media(facts.Name))) << probe.LastErrMsg();
        TFileStreamInfo f;
        ASSERT_TRUE(probe.GetFileStreamInfo(f));
        // The library's no-time marker becomes -1.
        EXPECT_EQ(f.Duration, facts.HasDuration() ? facts.ReportedDurationUs : -1);
        EXPECT_EQ(f.StartTime, facts.StartTimeUs == Fixtures::kNoTime ? -1 : facts.StartTimeUs);
        if (facts.HasDuration()) {
            EXPECT_NEAR(double(f.Duration), double(facts.DurationUs), 100000.0);
            EXPECT_GT(f.BitRate, 0);
        }
        EXPECT_EQ(f.TimeStamp, 0);
        ++checked;
    }
    EXPECT_GE(checked, 8);
}

TEST_F(AVProbeTest, FileRecordTags) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media("asf_wmv2_wma2.asf")));
    TFileStreamInfo f;
    ASSERT_TRUE(probe.GetFileStreamInfo(f));
    EXPECT_EQ(f.Title, "Test Title");
    EXPECT_EQ(f.Author, "Test Author");
    EXPECT_EQ(f.Copyright, "Test Copyright");
    EXPECT_EQ(f.Comment, "Test Comment");
    EXPECT_EQ(f.Album, "");
    EXPECT_EQ(f.Genre, "");
    EXPECT_EQ(f.Year, 0);
    EXPECT_EQ(f.Track, 0);

    ASSERT_TRUE(probe.LoadFile(Media("audio_only.mp3")));
    ASSERT_TRUE(probe.GetFileStreamInfo(f));
    EXPECT_EQ(f.Title, "Sine Song");
    EXPECT_EQ(f.Author, "Kelto Test");
    EXPECT_EQ(f.Album, "Fixtures");
    EXPECT_EQ(f.Genre, "Test");
    EXPECT_EQ(f.Year, 2024);
    EXPECT_EQ(f.Track, 7);
    EXPECT_EQ(f.Copyright, "");
    EXPECT_EQ(f.Comment, "");

    ASSERT_TRUE(probe.LoadFile(Media("avi_mpeg4_mp3.avi")));
    ASSERT_TRUE(probe.GetFileStreamInfo(f));
    EXPECT_EQ(f.Title, "");
    EXPECT_EQ(f.Author, "");
    EXPECT_EQ(f.Year, 0);
    EXPECT_EQ(f.Track, 0);
}

// Sets TZ for one test and restores it.
class TZoneGuard {
public:
    explicit TZoneGuard(const char* zone) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (old) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TZoneGuard() {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

// The creation time is the "creation_time" tag, shown in local standard time.
TEST_F(AVProbeTest, CreationTimeGivesTimeStampAndItsLine) {
    const TZoneGuard zone("EST5EDT,M3.2.0,M11.1.0");

    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media("avi_mpeg4_mp3.avi")));
    AVFormatContext* ctx = probe.FormatContext();
    gAVUtil.av_dict_set(&ctx->metadata, "creation_time", "2021-07-04T05:06:07.000000Z", 0);
    TFileStreamInfo f;
    ASSERT_TRUE(probe.GetFileStreamInfo(f));
    EXPECT_EQ(f.TimeStamp, 1625375167);
    const auto lines = Lines(probe.GetFormatInfo());
    const auto stamp = std::find(lines.begin(), lines.end(), "Time Stamp: 2021-07-04 00:06:07");
    ASSERT_NE(stamp, lines.end());
    ASSERT_NE(stamp, lines.begin());
    EXPECT_EQ(stamp[-1].rfind("Bit Rate: ", 0), 0u);
    EXPECT_EQ(stamp[1], "Metadata:");
    EXPECT_EQ(stamp[2], "  creation_time   : 2021-07-04T05:06:07.000000Z");
}

// ---------------------------------------------------------------------------------------
// Description text

TEST_F(AVProbeTest, DescriptionOfAnAviFile) {
    TAVProbe probe;
    const QString path = Media("avi_mpeg4_mp3.avi");
    ASSERT_TRUE(probe.LoadFile(path));
    const std::string text = probe.GetFormatInfo();
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    const auto lines = Lines(text);
    for (const std::string& l : lines) EXPECT_EQ(l.find('\n'), std::string::npos) << l;

    TFileStreamInfo f;
    ASSERT_TRUE(probe.GetFileStreamInfo(f));
    const int64_t size = QFileInfo(path).size();
    ASSERT_GT(size, 1024);
    ASSERT_LE(size, 1048576);
    ASSERT_EQ(lines.size(), 9u) << text;
    EXPECT_EQ(lines[0], "File Name: " + path.toStdString());
    EXPECT_EQ(lines[1], "Format Name: avi");
    EXPECT_EQ(lines[2], "Format Long Name: AVI (Audio Video Interleaved)");
    EXPECT_EQ(lines[3], Format("File Size: %.2f KB", double(size) / 1024.0));
    EXPECT_TRUE(QString::fromStdString(lines[4]).contains(QRegularExpression("^Duration: 00:00:02\\.0\\d\\d$")))
        << lines[4];
    EXPECT_EQ(lines[5], "StartTime: 0.000000");
    EXPECT_EQ(lines[6], Format("Bit Rate: %d kb/s", f.BitRate / 1000));
    // No tags, no programs: one line per stream follows, in index order.
    EXPECT_EQ(lines[7].rfind("Stream #0, 1/25: Video: mpeg4", 0), 0u) << lines[7];
    EXPECT_EQ(lines[8].rfind("Stream #1, 32/1225: Audio: mp3", 0), 0u) << lines[8];
}

TEST_F(AVProbeTest, StreamLinesOfTheFixtures) {
    const struct {
        const char* name;
        const char* head;      // the line starts with this
        const char* contains;  // and holds this
    } cases[] = {
        {"avi_mpeg4_mp3.avi", "Stream #0, 1/25: Video: mpeg4",
         ", 25 fps, 25 tbr, 25 tbn, StartTime: 0.000000, Duration: 00:00:02.040"},
        {"avi_mpeg4_mp3.avi", "Stream #1, 32/1225: Audio: mp3", ", StartTime: 0.000000, Duration: 00:00:02."},
        {"mp4_h264_aac.mp4", "Stream #0[0x1](und), 1/30000: Video: h264", ", 29.97 fps, 29.97 tbr, 30k tbn, "},
        {"mp4_h264_aac.mp4", "Stream #1[0x2](eng), 1/48000: Audio: aac", "48000 Hz"},
        {"start_time.ts", "Stream #0[0x100], 1/90000: Video: mpeg2video",
         ", 25 fps, 25 tbr, 90k tbn, StartTime: 10.000000, Duration: 00:00:01.000"},
        {"start_time.ts", "Stream #1[0x101], 1/90000: Audio: mp2", ", StartTime: 9.9"},
        {"video_only.mp4", "Stream #0[0x1](und), 1/15360: Video: mpeg4", ", 15 fps, 15 tbr, 15360 tbn, "},
        {"sar.mkv", "Stream #0, 1/1000: Video: mpeg4", "[SAR 12:11 DAR 4:3], 25 fps, 25 tbr, 1k tbn, StartTime: "},
        // Unknown start and length: no StartTime part and "Duration: N/A".
        {"no_duration.m2v", "Stream #0, 1/1200000: Video: mpeg2video", ", 25 fps, 25 tbr, 1200k tbn, Duration: N/A"},
        {"tone_48k_mono.wav", "Stream #0, 1/48000: Audio: pcm_s16le", "48000 Hz"},
    };
    TAVProbe probe;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(probe.LoadFile(Media(c.name)));
        const auto lines = Lines(probe.GetFormatInfo());
        const std::string* line = LineStarting(lines, c.head);
        ASSERT_NE(line, nullptr) << c.head;
        EXPECT_NE(line->find(c.contains), std::string::npos) << *line;
        EXPECT_EQ(line->find("PAR "), std::string::npos) << *line;
        EXPECT_EQ(line->find(" tbc"), std::string::npos) << *line;
        if (std::string(c.name) == "no_duration.m2v" || std::string(c.name) == "tone_48k_mono.wav") {
            EXPECT_EQ(line->find("StartTime"), std::string::npos) << *line;
        }
    }
}

TEST_F(AVProbeTest, ContainerLinesForMissingDurationStartAndBitRate) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media("no_duration.m2v")));
    auto lines = Lines(probe.GetFormatInfo());
    EXPECT_TRUE(HasLine(lines, "Duration: N/A"));
    EXPECT_TRUE(HasLine(lines, "Bit Rate: N/A"));
    EXPECT_EQ(LineStarting(lines, "StartTime"), nullptr);
    EXPECT_EQ(LineStarting(lines, "Metadata:"), nullptr);

    ASSERT_TRUE(probe.LoadFile(Media("start_time.ts")));
    TFileStreamInfo f;
    ASSERT_TRUE(probe.GetFileStreamInfo(f));
    lines = Lines(probe.GetFormatInfo());
    ASSERT_EQ(f.StartTime, Facts("start_time.ts").StartTimeUs);
    // Whole seconds and six decimals of the container's start time.
    EXPECT_TRUE(HasLine(lines, Format("StartTime: %d.%06d", int(f.StartTime / 1000000), int(f.StartTime % 1000000))));
}

TEST_F(AVProbeTest, MetadataBlocksOfContainerAndStreams) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media("audio_only.mp3")));
    auto lines = Lines(probe.GetFormatInfo());
    auto block = std::find(lines.begin(), lines.end(), "Metadata:");
    ASSERT_NE(block, lines.end());
    const std::vector<std::string> expected = {
        "  title           : Sine Song", "  artist          : Kelto Test", "  album           : Fixtures",
        "  genre           : Test",      "  track           : 7",          "  date            : 2024",
    };
    ASSERT_GE(lines.end() - block, 1 + long(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(block[1 + i], expected[i]);
    // A stream's block is indented by two more columns.
    const std::string* stream = LineStarting(lines, "Stream #0, ");
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(HasLine(lines, "  Metadata:"));

    ASSERT_TRUE(probe.LoadFile(Media("asf_wmv2_wma2.asf")));
    lines = Lines(probe.GetFormatInfo());
    EXPECT_TRUE(HasLine(lines, "Metadata:"));
    const auto& asf = Facts("asf_wmv2_wma2.asf");
    ASSERT_EQ(asf.Tags.size(), 4u);
    for (const Fixtures::TFixtureTag& tag : asf.Tags)
        EXPECT_TRUE(HasLine(lines, ProbeText::MetadataLine("", tag.ReadKey(), tag.Value))) << tag.Key;
    EXPECT_TRUE(HasLine(lines, "  title           : Test Title"));

    ASSERT_TRUE(probe.LoadFile(Media("sar.mkv")));
    lines = Lines(probe.GetFormatInfo());
    const auto sline = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Stream #0", 0) == 0; });
    ASSERT_NE(sline, lines.end());
    ASSERT_GE(lines.end() - sline, 3);
    EXPECT_EQ(sline[1], "  Metadata:");
    EXPECT_EQ(sline[2], "    DURATION        : 00:00:01.000000000");
}

// Tags put into the open context: translation of ID3 frame names, the "language" tag.
TEST_F(AVProbeTest, MetadataTranslationAndTheLanguageTag) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media("avi_mpeg4_mp3.avi")));
    AVFormatContext* ctx = probe.FormatContext();
    gAVUtil.av_dict_set(&ctx->metadata, "TALB", "Old Album", 0);
    gAVUtil.av_dict_set(&ctx->metadata, "TYER", "1999", 0);
    gAVUtil.av_dict_set(&ctx->metadata, "talb", "lower case stays", AV_DICT_MULTIKEY);
    AVStream* st = ctx->streams[0];
    gAVUtil.av_dict_set(&st->metadata, "language", "fre", 0);

    auto lines = Lines(probe.GetFormatInfo());
    auto block = std::find(lines.begin(), lines.end(), "Metadata:");
    ASSERT_NE(block, lines.end());
    ASSERT_GE(lines.end() - block, 4);
    EXPECT_EQ(block[1], "  album           : Old Album");
    EXPECT_EQ(block[2], "  year            : 1999");
    EXPECT_EQ(block[3], "  talb            : lower case stays");
    // Only a language tag: shown in the stream line, no block.
    const auto sline = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Stream #0(fre), 1/25: Video", 0) == 0; });
    ASSERT_NE(sline, lines.end());
    ASSERT_NE(sline + 1, lines.end());
    EXPECT_NE(sline[1], "  Metadata:");

    // With a second tag the block appears, still without the language tag.
    gAVUtil.av_dict_set(&st->metadata, "handler_name", "Pictures", 0);
    lines = Lines(probe.GetFormatInfo());
    const auto sline2 = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Stream #0(fre)", 0) == 0; });
    ASSERT_NE(sline2, lines.end());
    ASSERT_GE(lines.end() - sline2, 3);
    EXPECT_EQ(sline2[1], "  Metadata:");
    EXPECT_EQ(sline2[2], "    handler_name    : Pictures");
    EXPECT_NE(sline2[3].rfind("    language", 0), 0u);
}

TEST_F(AVProbeTest, MetadataBlockHelper) {
    AVDictionary* d = nullptr;
    EXPECT_EQ(ProbeMetadataBlock(nullptr, ""), "");
    gAVUtil.av_dict_set(&d, "language", "eng", 0);
    EXPECT_EQ(ProbeMetadataBlock(d, "  "), "");
    gAVUtil.av_dict_set(&d, "TIT2", "Name", 0);
    EXPECT_EQ(ProbeMetadataBlock(d, "  "), "  Metadata:\r\n    title           : Name\r\n");
    gAVUtil.av_dict_free(&d);
    gAVUtil.av_dict_set(&d, "TCON", "Rock", 0);
    EXPECT_EQ(ProbeMetadataBlock(d, ""), "Metadata:\r\n  genre           : Rock\r\n");
    gAVUtil.av_dict_free(&d);
}

TEST_F(AVProbeTest, ProgramsListTheirStreamsFirst) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media("start_time.ts")));
    const auto lines = Lines(probe.GetFormatInfo());
    const auto program = std::find(lines.begin(), lines.end(), "Program 1 FFmpeg@Service01");
    ASSERT_NE(program, lines.end()) << probe.GetFormatInfo();
    ASSERT_GE(lines.end() - program, 6);
    EXPECT_EQ(program[1], "  Metadata:");
    EXPECT_EQ(program[2], "    service_name    : Service01");
    EXPECT_EQ(program[3], "    service_provider: FFmpeg");
    EXPECT_EQ(program[4].rfind("Stream #0[0x100]", 0), 0u);
    EXPECT_EQ(program[5].rfind("Stream #1[0x101]", 0), 0u);
    // Each stream is listed once.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Stream #", 0) == 0; }), 2);
}

// A stream whose own sample aspect ratio differs from its codec's gets a PAR/DAR note.
TEST_F(AVProbeTest, DifferingSampleAspectRatioAddsParAndDar) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media("avi_mpeg4_mp3.avi")));
    AVStream* st = probe.FormatContext()->streams[0];
    st->sample_aspect_ratio = AVRational{4, 3};  // the codec says 1:1
    const auto lines = Lines(probe.GetFormatInfo());
    const std::string* line = LineStarting(lines, "Stream #0, ");
    ASSERT_NE(line, nullptr);
    // 352 * 4 : 288 * 3 = 44:27, added before the rates.
    EXPECT_NE(line->find("[SAR 1:1 DAR 11:9]"), std::string::npos) << *line;
    EXPECT_NE(line->find(", PAR 4:3 DAR 44:27, 25 fps, 25 tbr, 25 tbn"), std::string::npos) << *line;
}

// ---------------------------------------------------------------------------------------
// Failures

TEST_F(AVProbeTest, QueriesWithoutAFileWarn) {
    TAVProbe probe;
    ExpectAllUnknown(probe);
    TFileStreamInfo f;
    f.Duration = 5;
    EXPECT_FALSE(probe.GetFileStreamInfo(f));
    ExpectUnknown(f);
    TVideoStreamInfo v;
    v.Width = 5;
    EXPECT_FALSE(probe.GetVideoStreamInfo(0, v));
    ExpectUnknown(v);
    TAudioStreamInfo a;
    EXPECT_FALSE(probe.GetAudioStreamInfo(-1, a));
    ExpectUnknown(a);
    EXPECT_EQ(probe.GetFormatInfo(), "");
    const auto lines = ProbeLog(probe);
    ASSERT_EQ(lines.size(), 4u);
    for (const TLogLine& l : lines) {
        EXPECT_EQ(l.level, llWarning);
        EXPECT_EQ(l.msg, "file not loaded.");
    }
    EXPECT_EQ(probe.LastErrMsg(), "file not loaded.");
    EXPECT_FALSE(probe.IsVideoStream(0));
    EXPECT_FALSE(probe.IsAudioStream(0));
}

TEST_F(AVProbeTest, StreamRecordErrors) {
    const struct {
        const char* name;
        bool video;
        int index;
        const char* text;
    } cases[] = {
        {"audio_only.mp3", true, -1, "no video stream."},
        {"tone_48k_mono.wav", true, -5, "no video stream."},
        {"video_only.mp4", false, -1, "no audio stream."},
        {"asf_wmv2_wma2.asf", true, 2, "stream index #2 is invalid."},
        {"asf_wmv2_wma2.asf", false, 99, "stream index #99 is invalid."},
        {"asf_wmv2_wma2.asf", true, 1, "stream #1 is not video stream."},
        {"asf_wmv2_wma2.asf", false, 0, "stream #0 is not audio stream."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.text);
        TAVProbe probe;
        ASSERT_TRUE(probe.LoadFile(Media(c.name)));
        log_.clear();
        if (c.video) {
            TVideoStreamInfo v;
            v.Width = 99;
            v.AspectRatio = 2.0f;
            v.CodecName = "stale";
            EXPECT_FALSE(probe.GetVideoStreamInfo(c.index, v));
            ExpectUnknown(v);
        } else {
            TAudioStreamInfo a;
            a.SampleRate = 99;
            a.Language = "stale";
            EXPECT_FALSE(probe.GetAudioStreamInfo(c.index, a));
            ExpectUnknown(a);
        }
        EXPECT_EQ(probe.LastErrMsg(), c.text);
        const auto lines = ProbeLog(probe);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].level, llError);
        EXPECT_EQ(lines[0].msg, c.text);
        EXPECT_GT(probe.StreamCount(), 0);  // the file stays open
    }
}

TEST_F(AVProbeTest, UnknownForcedFormatFailsWithoutOpening) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media("avi_mpeg4_mp3.avi")));
    log_.clear();
    // The file does not exist: had it been opened, the text would name that.
    EXPECT_FALSE(probe.LoadFile("/nonexistent/clip.avi", "nosuchformat"));
    EXPECT_EQ(probe.LastErrMsg(), "Unknown input format: nosuchformat");
    EXPECT_TRUE(log_.empty());
    ExpectAllUnknown(probe);
    EXPECT_EQ(probe.ForceFormat(), "");
}

TEST_F(AVProbeTest, ForcedFormatIsKeptUntilClose) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media("avi_mpeg4_mp3.avi"), "avi")) << probe.LastErrMsg();
    EXPECT_EQ(probe.ForceFormat(), "avi");
    EXPECT_EQ(probe.GetFormatName(), "avi");
    EXPECT_EQ(probe.StreamCount(), 2);
    probe.Close();
    EXPECT_EQ(probe.ForceFormat(), "");
    // A forced demuxer that does not fit the data fails like any other open.
    const QString mp4 = Media("mp4_h264_aac.mp4");
    EXPECT_FALSE(probe.LoadFile(mp4, "wav"));
    EXPECT_EQ(probe.LastErrMsg().rfind(mp4.toStdString() + ": ", 0), 0u) << probe.LastErrMsg();
    EXPECT_EQ(probe.ForceFormat(), "");
}

TEST_F(AVProbeTest, BadInputsFailCleanly) {
    const char* names[] = {"empty.mp4", "random.bin", "text.mp4", "truncated.mp4"};
    TAVProbe probe;
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const QString path = Media(name);
        EXPECT_FALSE(Facts(name).Playable);
        const Fixtures::TFileReading reading = Fixtures::ReadBack(path);
        ASSERT_FALSE(reading.Opened);
        ASSERT_TRUE(probe.LoadFile(Media("avi_mpeg4_mp3.avi")));  // something open before
        log_.clear();
        EXPECT_FALSE(probe.LoadFile(path));
        const std::string expected = path.toStdString() + ": " + MediaErrorText(reading.OpenError);
        EXPECT_EQ(probe.LastErrMsg(), expected);
        const auto lines = ProbeLog(probe);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].level, llError);
        EXPECT_EQ(lines[0].msg, expected);
        ExpectAllUnknown(probe);
        EXPECT_EQ(probe.GetFileName(), "");
        EXPECT_EQ(probe.GetFormatInfo(), "");
    }
    EXPECT_FALSE(probe.LoadFile("/nonexistent/folder/clip.avi"));
    EXPECT_EQ(probe.LastErrMsg(), "/nonexistent/folder/clip.avi: No such file or directory");
    ExpectAllUnknown(probe);
}

TEST_F(AVProbeTest, NamesWithSpacesAndOtherScripts) {
    const char* names[] = {"name with spaces.avi", "Кириллица файл.avi", "日本語のファイル.avi"};
    TAVProbe probe;
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const QString path = Media(name);
        ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg();
        EXPECT_EQ(probe.GetFileName(), path);
        EXPECT_EQ(probe.StreamCount(), 2);
        EXPECT_EQ(probe.FileSize(), QFileInfo(path).size());
        EXPECT_EQ(probe.GetFormatInfo().rfind("File Name: " + path.toStdString() + "\r\n", 0), 0u);
    }
    // A name stored in the wide-name form is opened through the custom I/O and given back
    // as the plain name.
    const QString path = Media("日本語のファイル.avi");
    ASSERT_TRUE(probe.LoadFile(QString::fromLatin1(kUnicodeURLPrefix) + path)) << probe.LastErrMsg();
    EXPECT_TRUE(IsUnicodeIO(probe.FormatContext()->pb));
    EXPECT_EQ(probe.GetFileName(), path);
    EXPECT_EQ(probe.FileSize(), QFileInfo(path).size());
    EXPECT_EQ(probe.VideoStreamCount(), 1);
    probe.Close();
}

TEST_F(AVProbeTest, AttachedContextIsDescribedButNotClosed) {
    const QString path = Media("mp4_h264_aac.mp4");
    AVFormatContext* ctx = nullptr;
    ASSERT_GE(OpenInputURL(&ctx, FileNameToURL(path), nullptr, nullptr), 0);
    ASSERT_GE(gAVFormat.avformat_find_stream_info(ctx, nullptr), 0);
    {
        TAVProbe probe;
        probe.AttachContext(ctx);
        EXPECT_FALSE(probe.OwnsContext());
        EXPECT_EQ(probe.FormatContext(), ctx);
        EXPECT_EQ(probe.StreamCount(), 2);
        EXPECT_EQ(probe.FirstAudioStream(), 1);
        EXPECT_EQ(probe.GetFileName(), path);
        EXPECT_EQ(probe.FileSize(), QFileInfo(path).size());
        TVideoStreamInfo v;
        EXPECT_TRUE(probe.GetVideoStreamInfo(-1, v));
        EXPECT_EQ(v.Width, 320);
        probe.Close();
        ExpectAllUnknown(probe);
        // Attached again, then replaced by a file of its own and destroyed: the attached
        // context is never closed by the probe.
        probe.AttachContext(ctx);
        ASSERT_TRUE(probe.LoadFile(Media("audio_only.mp3")));
        EXPECT_TRUE(probe.OwnsContext());
        probe.AttachContext(ctx);
    }
    // Still usable.
    AVPacket* pkt = gAVCodec.av_packet_alloc();
    EXPECT_GE(gAVFormat.av_read_frame(ctx, pkt), 0);
    gAVCodec.av_packet_free(&pkt);
    CloseInputURL(&ctx);
    EXPECT_EQ(ctx, nullptr);
}

}  // namespace
