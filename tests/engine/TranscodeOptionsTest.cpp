// Transcode settings: the option interpreter, generic option holders, option texts, the
// application order of the option records, targets, presets on the real libx264 encoder.

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <clocale>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/EngineOptions.h"
#include "engine/FrameHook.h"
#include "engine/MediaLib.h"
#include "engine/MediaLibLoader.h"
#include "engine/MediaLogger.h"
#include "engine/OptionParser.h"
#include "engine/Presets.h"
#include "engine/TranscodeSettings.h"

namespace {

struct TLogLine {
    TLogLevel Level;
    std::string Msg;
};

class TranscodeOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MediaLibLoader().LoadLibs(EngineLibs)) << MediaLibLoader().LastErrMsg();
        MediaLogger().TriggerEventInMainThread = false;
        savedLevel = MediaLogger().LogLevel();
        MediaLogger().SetLogLevel(llVerbose);
        MediaLogger().OnLog = [this](const void*, uint32_t, TLogLevel level, const std::string& msg) {
            log.push_back({level, msg});
        };
        MediaLogger().HookLog();  // library messages reach the log too
        s.ResetSettings();
    }
    void TearDown() override {
        MediaLogger().UnhookLog();
        MediaLogger().OnLog = nullptr;
        MediaLogger().SetLogLevel(savedLevel);
    }
    bool Logged(TLogLevel level, const std::string& text) const {
        for (const auto& l : log)
            if (l.Level == level && l.Msg.find(text) != std::string::npos) return true;
        return false;
    }
    static int64_t Int(void* obj, const char* name) {
        int64_t v = -12345;
        EXPECT_GE(gAVUtil.av_opt_get_int(obj, name, AV_OPT_SEARCH_CHILDREN, &v), 0) << name;
        return v;
    }
    AVCodecContext* Video() const { return s.CodecHolder(AVMEDIA_TYPE_VIDEO); }
    AVCodecContext* Audio() const { return s.CodecHolder(AVMEDIA_TYPE_AUDIO); }
    std::string Fails(const std::string& name, const std::string& value) {
        try {
            s.ParseOption(name, value);
        } catch (const ConvertException& e) {
            return e.what();
        }
        return "<no failure>";
    }

    TTranscodeSettings s;
    std::vector<TLogLine> log;
    TLogLevel savedLevel = llInfo;
};

// ---------------------------------------------------------------- defaults

TEST_F(TranscodeOptionsTest, ResetGivesTheDefaultsAndFreshHolders) {
    s.ParseOption("ar", "22050");
    s.ParseOption("g", "7");
    s.ParseOption("vcodec", "copy");
    s.ParseOption("vbsf", "null");
    s.ResetSettings();
    EXPECT_EQ(s.AudioSampleRate, 44100);
    EXPECT_EQ(s.AudioChannels, 2);
    EXPECT_FALSE(s.VideoStreamCopy);
    EXPECT_EQ(s.RecordingTime, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(s.MaxFrames[flAudio], std::numeric_limits<int>::max());
    EXPECT_EQ(s.IntraDcPrecision, 8);
    EXPECT_EQ(s.AudioQScale, -99999.0f);
    EXPECT_EQ(s.AudioVolume, 256);
    EXPECT_EQ(s.LoopOutput, -1);
    EXPECT_EQ(s.VideoSyncMethod, -1);
    EXPECT_FLOAT_EQ(s.MuxPreload, 0.5f);
    EXPECT_FLOAT_EQ(s.MuxMaxDelay, 0.7f);
    EXPECT_FLOAT_EQ(s.DtsDeltaThreshold, 10.0f);
    EXPECT_EQ(s.FramePixFmt, AV_PIX_FMT_NONE);
    EXPECT_EQ(s.FrameRate.den, 0);
    EXPECT_EQ(s.ThreadCount, 1);
    EXPECT_EQ(s.SwsFlags, 4);
    EXPECT_EQ(s.HolderSwsFlags(), 4);
    EXPECT_TRUE(s.SetOptionNames().empty());
    EXPECT_TRUE(s.BitstreamFilters('v').empty());
    EXPECT_NE(Int(Video(), "g"), 7);
}

// ---------------------------------------------------------------- the interpreter

struct TGoodCase {
    const char* Name;
    const char* Value;
    std::function<void(TTranscodeSettings&)> Check;
};

TEST_F(TranscodeOptionsTest, ParseOptionStoresGoodValues) {
    const TGoodCase cases[] = {
        {"map", "1:2", [](auto& t) {
             ASSERT_EQ(t.StreamMaps.size(), 1u);
             EXPECT_EQ(t.StreamMaps[0].FileIndex, 1);
             EXPECT_EQ(t.StreamMaps[0].StreamIndex, 2);
             EXPECT_EQ(t.StreamMaps[0].SyncFileIndex, 1);
             EXPECT_EQ(t.StreamMaps[0].SyncStreamIndex, 2);
         }},
        {"map", "0.1,2.3", [](auto& t) {
             ASSERT_EQ(t.StreamMaps.size(), 1u);
             EXPECT_EQ(t.StreamMaps[0].SyncFileIndex, 2);
             EXPECT_EQ(t.StreamMaps[0].SyncStreamIndex, 3);
         }},
        {"map_meta_data", "1:0", [](auto& t) {
             ASSERT_EQ(t.MetaDataMaps.size(), 1u);
             EXPECT_EQ(t.MetaDataMaps[0].OutFile, 1);
             EXPECT_EQ(t.MetaDataMaps[0].InFile, 0);
         }},
        {"t", "00:01:30.5", [](auto& t) { EXPECT_EQ(t.RecordingTime, 90500000); }},
        {"ss", "2.5", [](auto& t) { EXPECT_EQ(t.StartTime, 2500000); }},
        {"itsoffset", "-1", [](auto& t) { EXPECT_EQ(t.InputTsOffset, -1000000); }},
        {"timestamp", "2020-01-02 03:04:05Z", [](auto& t) { EXPECT_EQ(t.RecordingTimestamp, 1577934245); }},
        {"itsscale", "3:1.5", [](auto& t) { EXPECT_DOUBLE_EQ(t.InputTsScale[0][3], 1.5); }},
        {"metadata", "title=a=b", [](auto& t) {
             ASSERT_EQ(t.Metadata.size(), 1u);
             EXPECT_EQ(t.Metadata[0].first, "title");
             EXPECT_EQ(t.Metadata[0].second, "a=b");
         }},
        {"fs", "12345678901", [](auto& t) { EXPECT_EQ(t.LimitFileSize, 12345678901LL); }},
        {"f", "pgmyuv", [](auto& t) {
             EXPECT_EQ(t.FileFormatName, "image2");
             EXPECT_TRUE(t.PgmYuvHack);
         }},
        {"r", "30000/1001", [](auto& t) {
             EXPECT_EQ(t.FrameRate.num, 30000);
             EXPECT_EQ(t.FrameRate.den, 1001);
         }},
        {"s", "vga", [](auto& t) {
             EXPECT_EQ(t.FrameWidth, 640);
             EXPECT_EQ(t.FrameHeight, 480);
         }},
        {"aspect", "16:9", [](auto& t) { EXPECT_FLOAT_EQ(t.FrameAspectRatio, 16.0f / 9.0f); }},
        {"aspect", "1.5", [](auto& t) { EXPECT_FLOAT_EQ(t.FrameAspectRatio, 1.5f); }},
        {"pix_fmt", "yuv422p", [](auto& t) { EXPECT_EQ(t.FramePixFmt, AV_PIX_FMT_YUV422P); }},
        {"sample_fmt", "s16", [](auto& t) { EXPECT_EQ(t.AudioSampleFmt, AV_SAMPLE_FMT_S16); }},
        {"qscale", "255", [](auto& t) { EXPECT_FLOAT_EQ(t.VideoQScale, 255.0f); }},
        {"streamid", "2:300", [](auto& t) { EXPECT_EQ(t.StreamIdMap[2], 300); }},
        {"vtag", "XVID", [](auto& t) { EXPECT_EQ(t.VideoCodecTag, OptText::FourCC("XVID")); }},
        {"atag", "mp4a", [](auto& t) { EXPECT_EQ(t.AudioCodecTag, 0x6134706du); }},
        {"ar", "0", [](auto& t) { EXPECT_EQ(t.AudioSampleRate, 44100); }},
        {"ac", "1", [](auto& t) { EXPECT_EQ(t.AudioChannels, 1); }},
        {"vn", "0", [](auto& t) { EXPECT_FALSE(t.VideoDisable); }},
        {"an", "yes", [](auto& t) { EXPECT_TRUE(t.AudioDisable); }},
        {"copyts", "0", [](auto& t) { EXPECT_TRUE(t.CopyTs); }},
        {"xerror", "0", [](auto& t) { EXPECT_TRUE(t.ExitOnError); }},
        {"vcodec", "copy", [](auto& t) {
             EXPECT_TRUE(t.VideoStreamCopy);
             EXPECT_TRUE(t.VideoCodecName.empty());
         }},
        {"acodec", "mp2", [](auto& t) { EXPECT_EQ(t.AudioCodecName, "mp2"); }},
        {"vf", "", [](auto& t) { EXPECT_TRUE(t.VideoFilters.empty()); }},
        {"vfilters", "hflip", [](auto& t) { EXPECT_EQ(t.VideoFilters, "hflip"); }},
        {"pass", "2", [](auto& t) { EXPECT_EQ(t.Pass, 2); }},
        {"dframes", "$10", [](auto& t) { EXPECT_EQ(t.MaxFrames[flData], 16); }},
        {"muxdelay", "0.25", [](auto& t) { EXPECT_FLOAT_EQ(t.MuxMaxDelay, 0.25f); }},
        {"vstats_file", "/tmp/v.log", [](auto& t) { EXPECT_EQ(t.VStatsFile, "/tmp/v.log"); }},
        {"vstats", "", [](auto& t) {
             EXPECT_NE(t.VStatsFile.find("/vstats_"), std::string::npos);
             EXPECT_EQ(t.VStatsFile.size() - t.VStatsFile.find("/vstats_"), std::string("/vstats_hhnnss.log").size());
         }},
        {"absf", "aac_adtstoasc", [](auto& t) {
             ASSERT_EQ(t.BitstreamFilters('a').size(), 1u);
             EXPECT_EQ(t.BitstreamFilters('a')[0], "aac_adtstoasc");
         }},
        {"vbsf", "=x", [](auto& t) { EXPECT_TRUE(t.BitstreamFilters('v').empty()); }},
        {"b", "800k", [](auto& t) { EXPECT_EQ(Int(t.CodecHolder(AVMEDIA_TYPE_VIDEO), "b"), 800000); }},
        {"ab", "64000", [](auto& t) { EXPECT_EQ(Int(t.CodecHolder(AVMEDIA_TYPE_AUDIO), "b"), 64000); }},
        {"g", "12", [](auto& t) {
             EXPECT_EQ(Int(t.CodecHolder(AVMEDIA_TYPE_VIDEO), "g"), 12);
             EXPECT_EQ(t.SetOptionNames(), std::vector<std::string>{"g"});
         }},
        {"sws_flags", "bilinear", [](auto& t) { EXPECT_EQ(t.HolderSwsFlags(), SWS_BILINEAR); }},
        {"packetsize", "2048", [](auto& t) { EXPECT_EQ(Int(t.FormatHolder(), "packetsize"), 2048); }},
        {"no_such_option", "1", [](auto& t) { EXPECT_TRUE(t.SetOptionNames().empty()); }},
    };
    for (const TGoodCase& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + "=" + c.Value);
        s.ResetSettings();
        ASSERT_NO_THROW(s.ParseOption(c.Name, c.Value));
        c.Check(s);
    }
}

TEST_F(TranscodeOptionsTest, ParseOptionFailuresCarryTheirMessages) {
    const struct {
        const char* Name;
        const char* Value;
        const char* Message;
    } cases[] = {
        {"t", "abc", "Invalid duration specification for t: abc"},
        {"ss", "x", "Invalid duration specification for ss: x"},
        {"timestamp", "notadate", "Invalid date specification for timestamp: notadate"},
        {"itsscale", "20:1", "stream index over MAX_STREAMS(20)"},
        {"metadata", "novalue", "Missing ="},
        {"threads", "2", "TODO: option - threads"},
        {"r", "abc", "Incorrect frame rate"},
        {"s", "abc", "Incorrect frame size"},
        {"aspect", "4:0", "Incorrect aspect ratio specification."},
        {"aspect", "wide", "Incorrect aspect ratio specification."},
        {"pix_fmt", "nopix", "Unknown pixel format requested: nopix"},
        {"padtop", "10", "Please use vfilters=pad"},
        {"padcolor", "000000", "Please use vfilters=pad"},
        {"qscale", "0", "qscale must be > 0.0 and <= 255"},
        {"qscale", "255.5", "qscale must be > 0.0 and <= 255"},
        {"pass", "3", "pass number can be only 1 or 2"},
        {"intra_matrix", "1,2,3", "Syntax error in matrix \"1,2,3\" at coeff 2"},
        {"streamid", "5", "Invalid value \"5\" for option \"streamid\", required syntax is \"index:value\""},
        {"streamid", "5:", "Invalid value \"5:\" for option \"streamid\", required syntax is \"index:value\""},
        {"newvideo", "", "At least one output file must be specified"},
        {"newaudio", "", "At least one output file must be specified"},
        {"absf", "nosuchbsf", "Unknown bitstream filter nosuchbsf"},
        {"vbsf", " h264_metadata=no_such_key=1 ", "Unknown bitstream filter h264_metadata=no_such_key=1"},
        {"vhook", "/nonexistent/hook.so 1", "Failed to add video hook function: /nonexistent/hook.so 1"},
        {"target", "pal-xyz", "Unknown target type"},
        {"target", "dvd", "frame_rate is invalid."},
        {"vpre", "nosuch", "Preset \"nosuch\" not found"},
        {"fpre", "/nonexistent.ffpreset", "Preset \"/nonexistent.ffpreset\" not found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + "=" + c.Value);
        s.ResetSettings();
        EXPECT_EQ(Fails(c.Name, c.Value), c.Message);
    }
    EXPECT_THROW(s.ParseOption("dframes", "x1"), EConvertError);
    EXPECT_THROW(s.ParseOption("aq", "1,5"), EConvertError);
    EXPECT_THROW(s.ParseOption("vtag", "ABC"), EAssertionFailed);
    EXPECT_THROW(s.ParseOption("stag", "ABCDE"), EAssertionFailed);
    EXPECT_THROW(s.ParseOption("loglevel", "loud"), std::invalid_argument);
}

TEST(OptionNumbers, IntegersAndDecimalsReadAsTheOptionsExpect) {
    using namespace OptText;
    EXPECT_EQ(StrToInt(" 42 "), 42);
    EXPECT_EQ(StrToInt("-7"), -7);
    EXPECT_EQ(StrToInt("$1F"), 31);
    EXPECT_EQ(StrToInt("0x10"), 16);
    EXPECT_EQ(StrToInt64("-9223372036854775808"), std::numeric_limits<int64_t>::min());
    for (const char* bad : {"", "12a", "+-1", "2147483648", "0x", "1 2"})
        EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
    EXPECT_DOUBLE_EQ(StrToFloat("0.71"), 0.71);
    EXPECT_DOUBLE_EQ(StrToFloat("+2"), 2.0);
    EXPECT_DOUBLE_EQ(StrToFloat("-3e2"), -300.0);
    for (const char* bad : {"", "1,5", "+-1", "inf", "nan", "1.5x"})
        EXPECT_THROW(StrToFloat(bad), EConvertError) << bad;
    try {
        StrToInt("x1");
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'x1' is not a valid integer value");
    }
    try {
        StrToFloat("y");
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'y' is not a valid floating point value");
    }
}

TEST_F(TranscodeOptionsTest, DecimalOptionsReadTheSameInACommaLocale) {
    const std::string saved = setlocale(LC_ALL, nullptr);
    const char* comma = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
        if (setlocale(LC_ALL, name)) {
            comma = name;
            break;
        }
    if (!comma) GTEST_SKIP() << "no locale with a decimal comma installed";
    s.ParseOption("vcodec", "libx264");
    EXPECT_NO_THROW(s.ParseOption("vpre", "libx264-psp"));
    EXPECT_NO_THROW(s.ParseOption("aspect", "1.5"));
    double q = 0;
    gAVUtil.av_opt_get_double(Video(), "i_qfactor", 0, &q);
    setlocale(LC_ALL, saved.c_str());
    EXPECT_NEAR(q, 0.71, 1e-6);
}

TEST_F(TranscodeOptionsTest, MatricesTakeSixtyFourCoefficients) {
    std::string text;
    for (int i = 1; i <= 64; ++i) text += std::to_string(i) + (i < 64 ? "," : "");
    s.ParseOption("inter_matrix", text);
    ASSERT_EQ(s.InterMatrix.size(), 64u);
    EXPECT_EQ(s.InterMatrix[0], 1);
    EXPECT_EQ(s.InterMatrix[63], 64);
    EXPECT_TRUE(s.IntraMatrix.empty());
}

TEST_F(TranscodeOptionsTest, InformativeOptionsOnlyLog) {
    s.ParseOption("formats", "");
    EXPECT_TRUE(Logged(llInfo, "Do nothing: option - formats"));
    s.ParseOption("timelimit", "10");
    EXPECT_TRUE(Logged(llWarning, "Warning: -timelimit not implemented on Windows"));
    s.ParseOption("f", "pgmyuv");
    EXPECT_TRUE(Logged(llInfo, "pgmyuv format is deprecated, use image2"));
    log.clear();
    s.ParseOption("pix_fmt", "list");
    ASSERT_EQ(log.size(), 68u);
    EXPECT_NE(log[0].Msg.find("name"), std::string::npos);
    EXPECT_EQ(log[1].Msg.rfind("yuv420p", 0), 0u);
    log.clear();
    s.ParseOption("sample_fmt", "list");
    EXPECT_EQ(log.size(), 6u);
}

TEST_F(TranscodeOptionsTest, NewStreamOptionsReachTheTask) {
    std::vector<std::string> added;
    s.OnNewStream = [&](const std::string& kind) { added.push_back(kind); };
    s.ParseOption("newaudio", "");
    s.ParseOption("newvideo", "");
    EXPECT_EQ(added, (std::vector<std::string>{"newaudio", "newvideo"}));
}

TEST_F(TranscodeOptionsTest, BitstreamFiltersFormOneChain) {
    s.ParseOption("vbsf", "null");
    s.ParseOption("vbsf", "h264_mp4toannexb");
    s.ParseOption("vbsf", "noise=amount=3");
    EXPECT_EQ(s.BitstreamFilters('v'), (std::vector<std::string>{"null", "h264_mp4toannexb", "noise=amount=3"}));
    EXPECT_TRUE(s.BitstreamFilters('a').empty());
    AVBSFContext* chain = s.TakeBitstreamFilterChain('v');
    ASSERT_NE(chain, nullptr);
    gAVCodec.av_bsf_free(&chain);
    EXPECT_TRUE(s.BitstreamFilters('v').empty());
    EXPECT_EQ(s.TakeBitstreamFilterChain('v'), nullptr);
}

TEST_F(TranscodeOptionsTest, VhookAddsFrameHookPlugins) {
    const std::string full = KELTO_TEST_LIBS_DIR "/hooks/hook_full.so";
    const std::string bad = KELTO_TEST_LIBS_DIR "/hooks/hook_badconfigure.so";
    EXPECT_FALSE(s.VideoHooksActive);
    s.ParseOption("vhook", full + "|5");  // words split at "|"
    s.ParseOption("vhook", full + "  2");  // words split at blanks
    EXPECT_TRUE(s.VideoHooksActive);
    EXPECT_EQ(FrameHookCount(), 2);
    uint8_t plane[4] = {10, 0, 0, 0};
    KeltoHookPicture picture{{plane, nullptr, nullptr, nullptr}, {4, 0, 0, 0}};
    FrameHookProcess(&picture, 0, 2, 2, 0);
    EXPECT_EQ(plane[0], 10 + 5 + 2);
    EXPECT_EQ(Fails("vhook", bad), "Failed to add video hook function: " + bad);
    FrameHookRelease();
}

// ---------------------------------------------------------------- generic options

TEST_F(TranscodeOptionsTest, SetCodecOptionReachesTheHoldersOfTheRightKinds) {
    EXPECT_FALSE(s.SetCodecOption("", "1"));
    EXPECT_FALSE(s.SetCodecOption("g", "  "));
    EXPECT_FALSE(s.SetCodecOption("no_such_option", "1"));
    // "b" is a video and audio option; "ar" a generic audio one; "abt" falls back to "bt" on audio.
    ASSERT_TRUE(s.SetCodecOption(" b ", " 300000 "));
    EXPECT_EQ(Int(Video(), "b"), 300000);
    EXPECT_EQ(Int(Audio(), "b"), 300000);
    ASSERT_TRUE(s.SetCodecOption("abt", "5000"));
    EXPECT_EQ(Int(Audio(), "bt"), 5000);
    EXPECT_NE(Int(Video(), "bt"), 5000);
    // A rejected value is refused and not recorded.
    const auto before = s.SetOptionNames();
    EXPECT_FALSE(s.SetCodecOption("g", "abc"));
    EXPECT_EQ(s.SetOptionNames(), before);
    EXPECT_TRUE(Logged(llError, "Invalid value \"abc\" for option \"g\""));
}

TEST_F(TranscodeOptionsTest, CopyCodecOptionsCopiesByMask) {
    s.ParseOption("g", "12");
    s.ParseOption("ab", "64000");
    s.ParseOption("vb", "900000");
    const AVCodec* mpeg4 = gAVCodec.avcodec_find_encoder_by_name("mpeg4");
    const AVCodec* mp2 = gAVCodec.avcodec_find_encoder_by_name("mp2");
    ASSERT_TRUE(mpeg4 && mp2);
    AVCodecContext* v = gAVCodec.avcodec_alloc_context3(mpeg4);
    AVCodecContext* a = gAVCodec.avcodec_alloc_context3(mp2);
    s.CopyCodecOptions(v, Video(), kOptMaskVideoEncoder);
    s.CopyCodecOptions(a, Audio(), kOptMaskAudioEncoder);
    EXPECT_EQ(v->gop_size, 12);
    EXPECT_EQ(v->bit_rate, 900000);
    EXPECT_EQ(a->bit_rate, 64000);
    EXPECT_NE(a->gop_size, 12);  // "g" is no audio option
    gAVCodec.avcodec_free_context(&v);
    gAVCodec.avcodec_free_context(&a);
}

TEST_F(TranscodeOptionsTest, LowBitrateWarns) {
    s.ParseOption("ab", "128");
    EXPECT_TRUE(Logged(llWarning, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, "
                                  "not kbits/s"));
    EXPECT_EQ(Int(Audio(), "b"), 128);
    log.clear();
    s.ParseOption("b", "128000");
    s.ParseOption("ab", "128k");
    EXPECT_FALSE(Logged(llWarning, "bitrate parameter is set too low"));
}

TEST_F(TranscodeOptionsTest, DebugOptionRaisesTheLogLevel) {
    MediaLogger().SetLogLevel(llInfo);
    ASSERT_TRUE(s.SetCodecOption("fdebug", "ts"));
    EXPECT_EQ(MediaLogger().LogLevel(), llDebug);
}

// ---------------------------------------------------------------- option texts

TEST_F(TranscodeOptionsTest, OptionTextSplitsAtLineBreaksAndCRLFMarks) {
    const TNameValueList lines = SplitOptionText("  vn=1<CRLF>AN=1\r\ng=10\r\rmetadata=a=b\n\n  noequals  ");
    const TNameValueList expected = {{"vn", "1"}, {"an", "1"}, {"g", "10"}, {"metadata", "a=b"}, {"noequals", ""}};
    EXPECT_EQ(lines, expected);
}

TEST_F(TranscodeOptionsTest, ExtOptionsSkipStreamOptionsAndKeepCodecsForTheInputSide) {
    const std::string text = "acodec=mp2<CRLF>s=320x240<CRLF>vf=hflip<CRLF>vpre=default<CRLF>newvideo=<CRLF>ar=22050";
    ApplyExtOptions(s, text, false);
    EXPECT_TRUE(s.AudioCodecName.empty());
    EXPECT_EQ(s.FrameWidth, 0);
    EXPECT_TRUE(s.VideoFilters.empty());
    EXPECT_EQ(s.AudioSampleRate, 22050);
    s.ResetSettings();
    ApplyExtOptions(s, text, true);
    EXPECT_EQ(s.AudioCodecName, "mp2");
    EXPECT_EQ(s.FrameWidth, 320);
    EXPECT_TRUE(s.VideoFilters.empty());
}

TEST_F(TranscodeOptionsTest, InputOptionsApplyInOrder) {
    TInputOptions in;
    in.ExtOptions = "vn=1<CRLF>f=avi";
    in.FileFormat = "mov";
    in.ProgramID = 3;
    std::string error;
    ASSERT_TRUE(ApplyInputOptions(s, in, error)) << error;
    EXPECT_TRUE(s.VideoDisable);
    EXPECT_EQ(s.FileFormatName, "mov");
    EXPECT_EQ(s.StartTime, 0);  // no time stamp given
    EXPECT_EQ(s.ProgramId, 3);

    s.ResetSettings();
    in.Init();
    in.StartTime = 1500000;
    in.ExtOptions = "ss=9";
    ASSERT_TRUE(ApplyInputOptions(s, in, error));
    EXPECT_EQ(s.StartTime, 1500000);
    EXPECT_EQ(s.ProgramId, 0);

    in.ExtOptions = "pass=7";
    EXPECT_FALSE(ApplyInputOptions(s, in, error));
    EXPECT_EQ(error, "pass number can be only 1 or 2");
}

// ---------------------------------------------------------------- output records

TEST_F(TranscodeOptionsTest, CropsAreCheckedAgainstTheInputFrameSize) {
    const struct {
        int Top, Bottom, Left, Right;
        const char* Error;  // nullptr: accepted
        int Width, Height;
    } cases[] = {
        {0, -5, 0, 0, nullptr, 320, 240},
        {10, 20, 4, 6, nullptr, 310, 210},
        {240, 0, 0, 0, "Vertical crop dimensions are outside the range of the original image.\n"
                       "Remember to crop first and scale second.", 0, 0},
        {100, 140, 0, 0, "Vertical crop dimensions are outside the range of the original image.\n"
                         "Remember to crop first and scale second.", 0, 0},
        {0, 0, 0, 320, "Horizontal crop dimensions are outside the range of the original image.\n"
                       "Remember to crop first and scale second.", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Top << "," << c.Bottom << "," << c.Left << "," << c.Right);
        s.ResetSettings();
        s.FrameWidth = 320;  // as the opened input set them
        s.FrameHeight = 240;
        log.clear();
        TOutputOptions out;
        out.CropTop = c.Top;
        out.CropBottom = c.Bottom;
        out.CropLeft = c.Left;
        out.CropRight = c.Right;
        TNameValueList defaults;
        std::string error;
        const bool ok = ApplyOutputOptions(s, out, defaults, error);
        if (c.Error) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(error, c.Error);
            continue;
        }
        ASSERT_TRUE(ok) << error;
        EXPECT_EQ(s.FrameWidth, c.Width);
        EXPECT_EQ(s.FrameHeight, c.Height);
        EXPECT_EQ(s.CropTop, std::max(c.Top, 0));
        EXPECT_EQ(s.CropBottom, std::max(c.Bottom, 0));
        EXPECT_EQ(Logged(llWarning, "CropXXX is deprecated in favor of the crop avfilter"), c.Top > 0);
    }
}

TEST_F(TranscodeOptionsTest, ThreadsOptionMakesTheOutputFail) {
    TOutputOptions out;
    out.ExtOptions = "g=10<CRLF>threads=4";
    TNameValueList defaults;
    std::string error;
    EXPECT_FALSE(ApplyOutputOptions(s, out, defaults, error));
    EXPECT_EQ(error, "TODO: option - threads");
}

TEST_F(TranscodeOptionsTest, RecordFieldsOverrideExtOptions) {
    TOutputOptions out;
    out.VideoCodec = "mpeg4";
    out.AudioCodec = "";
    out.VideoBitrate = 800000;
    out.AudioSyncMethod = 0;
    out.AudioLanguage = "eng";
    out.FrameSize = "";
    out.MuxDelay = 0.3f;
    out.Duration = 4000000;
    out.Info.Year = 2001;
    out.Info.Title = "T";
    out.Info.Genre = "G";
    out.ExtOptions = "vcodec=libx264\nacodec=mp2\nvb=500000\nasync=3\nalang=fra\ns=176x144\nvf=hflip\ng=33";
    int64_t expected = -1;
    s.OnRecordingTime = [&](int64_t t) { expected = t; };
    TNameValueList defaults;
    std::string error;
    ASSERT_TRUE(ApplyOutputOptions(s, out, defaults, error)) << error;
    EXPECT_EQ(s.VideoCodecName, "mpeg4");     // the record's codec wins
    EXPECT_EQ(s.AudioCodecName, "mp2");       // the record leaves it empty
    EXPECT_EQ(Int(Video(), "b"), 800000);
    EXPECT_EQ(Int(Video(), "g"), 33);
    EXPECT_EQ(s.AudioSyncMethod, 0);          // "always" fields
    EXPECT_EQ(s.AudioLanguage, "eng");
    EXPECT_EQ(s.FrameWidth, 176);
    EXPECT_EQ(s.VideoFilters, "hflip");
    EXPECT_FLOAT_EQ(s.MuxMaxDelay, 0.3f);
    EXPECT_FLOAT_EQ(s.MuxPreload, 0.5f);
    EXPECT_EQ(s.RecordingTime, 4000000);
    EXPECT_EQ(expected, 4000000);
    const TNameValueList tags = {{"year", "2001"}, {"title", "T"}, {"genre", "G"}};
    EXPECT_EQ(s.Metadata, tags);
    EXPECT_EQ(s.RecordingTimestamp, 0);
}

TEST_F(TranscodeOptionsTest, RecordingTimestampFromLocalDateTime) {
    const char* oldTz = std::getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "XYZ-2", 1);  // two hours east of UTC
    tzset();
    EXPECT_EQ(LocalDateTimeToUnix(25569.5), 43200 - 7200);
    TOutputOptions out;
    out.Info.Timestamp = 25570.0;  // 2 Jan 1970 00:00 local
    TNameValueList defaults;
    std::string error;
    ASSERT_TRUE(ApplyOutputOptions(s, out, defaults, error));
    EXPECT_EQ(s.RecordingTimestamp, 86400 - 7200);
    out.Info.Timestamp = 0;
    const int64_t now = std::time(nullptr);
    ASSERT_TRUE(ApplyOutputOptions(s, out, defaults, error));
    EXPECT_NEAR(double(s.RecordingTimestamp), double(now), 2.0);
    if (oldTz) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

TEST_F(TranscodeOptionsTest, StreamDefaultsAndNewStreamsTakePendingValuesInOrder) {
    TOutputOptions out;
    out.VideoCodec = "mpeg4";
    out.ExtOptions = "acodec=mp2\nnewaudio=\nacodec=ac3\nvfilters=hflip\nnewaudio=\nnewvideo=\nvcodec=\nnewsubtitle=";
    TNameValueList list;
    BuildStreamDefaults(list, out);
    const TNameValueList expected = {{"def_acodec", "mp2"}, {"def_vcodec", "mpeg4"}, {"def_scodec", ""},
                                     {"def_apre", ""},      {"def_vpre", ""},        {"def_spre", ""},
                                     {"def_s", ""},         {"def_vf", "hflip"},     {"acodec", "mp2"},
                                     {"acodec", "ac3"},     {"vf", "hflip"}};
    EXPECT_EQ(list, expected);

    std::vector<std::string> added;
    s.OnNewStream = [&](const std::string& kind) {
        added.push_back(kind + ":" + (kind == "newaudio" ? s.AudioCodecName : kind == "newvideo" ? s.VideoCodecName + "," + s.VideoFilters : s.SubtitleCodecName));
    };
    ApplyNewStreamOptions(s, out.ExtOptions, list);
    EXPECT_EQ(added, (std::vector<std::string>{"newaudio:mp2", "newaudio:ac3", "newvideo:mpeg4,hflip", "newsubtitle:"}));
}

// ---------------------------------------------------------------- codecs

TEST_F(TranscodeOptionsTest, FindCodecChecksNameKindAndStrictness) {
    AVCodecID id = AV_CODEC_ID_H264;
    std::string error;
    EXPECT_TRUE(s.FindCodec("", AVMEDIA_TYPE_VIDEO, 0, true, id, error));
    EXPECT_EQ(id, AV_CODEC_ID_NONE);
    EXPECT_FALSE(s.FindCodec("nosuch", AVMEDIA_TYPE_VIDEO, 0, true, id, error));
    EXPECT_EQ(error, "Unknown encoder 'nosuch'");
    EXPECT_FALSE(s.FindCodec("nosuch", AVMEDIA_TYPE_VIDEO, 0, false, id, error));
    EXPECT_EQ(error, "Unknown decoder 'nosuch'");
    EXPECT_FALSE(s.FindCodec("mp2", AVMEDIA_TYPE_VIDEO, 0, true, id, error));
    EXPECT_EQ(error, "Invalid encoder type 'mp2'");
    EXPECT_TRUE(s.FindCodec("mp2", AVMEDIA_TYPE_AUDIO, 0, true, id, error));
    EXPECT_EQ(id, AV_CODEC_ID_MP2);

    // The native vorbis encoder is experimental in this library generation.
    ASSERT_NE(gAVCodec.avcodec_find_encoder_by_name("vorbis"), nullptr);
    EXPECT_EQ(s.HolderStrictness(AVMEDIA_TYPE_AUDIO), 0);
    EXPECT_FALSE(s.FindCodec("vorbis", AVMEDIA_TYPE_AUDIO, 0, true, id, error));
    std::string expected = "encoder 'vorbis' is experimental and might produce bad results.\r\n"
                           "Add '-strict experimental' if you want to use it.";
    if (gAVCodec.avcodec_find_encoder_by_name("libvorbis"))
        expected += "\r\nOr use the non experimental encoder 'libvorbis'.";
    EXPECT_EQ(error, expected);
    s.ParseOption("strict", "experimental");
    EXPECT_EQ(s.HolderStrictness(AVMEDIA_TYPE_AUDIO), FF_COMPLIANCE_EXPERIMENTAL);
    EXPECT_TRUE(s.FindCodec("vorbis", AVMEDIA_TYPE_AUDIO, s.HolderStrictness(AVMEDIA_TYPE_AUDIO), true, id, error));
    EXPECT_EQ(id, AV_CODEC_ID_VORBIS);
}

// ---------------------------------------------------------------- targets

TEST_F(TranscodeOptionsTest, PalDvdTargetOnAnNtscSource) {
    s.FrameRate = {30000, 1001};
    s.ParseOption("target", "pal-dvd");
    EXPECT_EQ(s.FrameWidth, 720);
    EXPECT_EQ(s.FrameHeight, 576);
    EXPECT_EQ(s.FrameRate.num, 25);
    EXPECT_EQ(s.FrameRate.den, 1);
    EXPECT_EQ(s.VideoCodecName, "mpeg2video");
    EXPECT_EQ(s.AudioCodecName, "ac3");
    EXPECT_EQ(s.FileFormatName, "dvd");
    EXPECT_EQ(s.AudioSampleRate, 48000);
    EXPECT_EQ(Int(Video(), "g"), 15);
    EXPECT_EQ(Int(Video(), "b"), 6000000);
    EXPECT_EQ(Int(Video(), "maxrate"), 9000000);
    EXPECT_EQ(Int(Video(), "bufsize"), 1835008);
    EXPECT_EQ(Int(Audio(), "b"), 448000);
    EXPECT_EQ(Int(s.FormatHolder(), "packetsize"), 2048);
    EXPECT_EQ(Int(s.FormatHolder(), "muxrate"), 10080000);
    EXPECT_FLOAT_EQ(s.FrameAspectRatio, 16.0f / 9.0f);
    EXPECT_TRUE(Logged(llInfo, "Assuming 16:9 for aspect ratio"));
    EXPECT_FALSE(Logged(llVerbose, "for target."));  // the norm was given

    // The container options reach the real output context, the muxer's own ones included.
    AVFormatContext* out = nullptr;
    ASSERT_GE(gAVFormat.avformat_alloc_output_context2(&out, nullptr, "dvd", nullptr), 0);
    s.CopyCodecOptions(out, s.FormatHolder(), kOptMaskOutputContainer);
    EXPECT_EQ(out->packet_size, 2048u);
    EXPECT_EQ(Int(out, "muxrate"), 10080000);
    gAVFormat.avformat_free_context(out);
}

TEST_F(TranscodeOptionsTest, TargetNormIsGuessedFromRatesAndInputs) {
    const struct {
        AVRational Rate;
        std::vector<AVRational> InputTimeBases;
        const char* Text;
        const char* DefaultNorm;  // nullptr: ParseTarget
        int Height;
        const char* Assumed;
    } cases[] = {
        {{25, 1}, {}, "dvd", nullptr, 576, "PAL"},
        {{24000, 1001}, {}, "dvd", nullptr, 480, "NTSC"},
        {{15, 1}, {}, "dvd", nullptr, 480, "NTSC"},              // undecidable: ParseTarget's default
        {{15, 1}, {}, "dvd", "pal", 576, "PAL"},                 // undecidable: the given default
        {{15, 1}, {}, "dvd", "film", 480, "NTSC"},
        {{15, 1}, {{1, 10}, {1001, 30000}}, "dvd", "pal", 480, "NTSC"},  // first matching input
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Rate.num << "/" << c.Rate.den << " default "
                                        << (c.DefaultNorm ? c.DefaultNorm : "-"));
        s.ResetSettings();
        log.clear();
        s.FrameRate = c.Rate;
        s.OnInputVideoTimeBases = [&c] { return c.InputTimeBases; };
        if (c.DefaultNorm)
            s.ApplyTarget(c.Text, "auto", c.DefaultNorm);
        else
            s.ParseTarget(c.Text);
        EXPECT_EQ(s.FrameHeight, c.Height);
        EXPECT_TRUE(Logged(llVerbose, std::string("Assuming ") + c.Assumed + " for target."));
    }
    s.ResetSettings();
    s.FrameRate = {25, 1};
    s.Verbose = 0;
    log.clear();
    s.ParseTarget("dvd");
    EXPECT_FALSE(Logged(llVerbose, "for target."));
    s.OnInputVideoTimeBases = nullptr;
    s.ResetSettings();
    s.FrameRate = {15, 1};
    s.ParseTarget("film-dvd");
    EXPECT_EQ(s.FrameRate.num, 24000);
    EXPECT_EQ(s.FrameRate.den, 1001);
}

TEST_F(TranscodeOptionsTest, TargetTable) {
    const struct {
        const char* Text;
        int Width, Height;
        const char* Format;
        AVPixelFormat PixFmt;
        int SampleRate;
        int64_t VideoBitrate;
    } cases[] = {
        {"pal-vcd", 352, 288, "vcd", AV_PIX_FMT_NONE, 44100, 1150000},
        {"ntsc-vcd", 352, 240, "vcd", AV_PIX_FMT_NONE, 44100, 1150000},
        {"pal-svcd", 480, 576, "svcd", AV_PIX_FMT_NONE, 44100, 2040000},
        {"ntsc-dvd", 720, 480, "dvd", AV_PIX_FMT_NONE, 48000, 6000000},
        {"pal-dv", 720, 576, "dv", AV_PIX_FMT_YUV420P, 48000, -1},
        {"ntsc-dv", 720, 480, "dv", AV_PIX_FMT_YUV411P, 48000, -1},
        {"film-dv50", 720, 480, "dv", AV_PIX_FMT_YUV422P, 48000, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        s.ResetSettings();
        s.AudioChannels = 1;
        s.ParseOption("target", c.Text);
        EXPECT_EQ(s.FrameWidth, c.Width);
        EXPECT_EQ(s.FrameHeight, c.Height);
        EXPECT_EQ(s.FileFormatName, c.Format);
        EXPECT_EQ(s.FramePixFmt, c.PixFmt);
        EXPECT_EQ(s.AudioSampleRate, c.SampleRate);
        EXPECT_EQ(s.AudioChannels, 2);
        if (c.VideoBitrate > 0) {
            EXPECT_EQ(Int(Video(), "b"), c.VideoBitrate);
        }
    }
    s.ResetSettings();
    s.ParseOption("target", "ntsc-vcd");
    EXPECT_EQ(Int(s.FormatHolder(), "muxrate"), 1411200);
    EXPECT_EQ(Int(Video(), "g"), 18);
    EXPECT_FLOAT_EQ(s.MuxPreload, 0.44f);
    EXPECT_FLOAT_EQ(s.FrameAspectRatio, 4.0f / 3.0f);
    s.ResetSettings();
    s.ParseOption("target", "pal-svcd");
    EXPECT_EQ(Int(Video(), "scan_offset"), 1);
    EXPECT_EQ(Int(Video(), "minrate"), 0);
}

TEST_F(TranscodeOptionsTest, OutputRecordTargetUsesTheRecordsNorms) {
    TOutputOptions out;
    out.Target = 3;
    out.TVStandard = 0;          // auto
    out.DefaultTVStandard = 2;   // ntsc when undecidable
    s.FrameRate = {15, 1};
    TNameValueList defaults;
    std::string error;
    ASSERT_TRUE(ApplyOutputOptions(s, out, defaults, error)) << error;
    EXPECT_EQ(s.FrameHeight, 480);
    s.ResetSettings();
    out.TVStandard = 1;
    ASSERT_TRUE(ApplyOutputOptions(s, out, defaults, error)) << error;
    EXPECT_EQ(s.FrameHeight, 576);
    EXPECT_EQ(s.FileFormatName, "dvd");
}

// ---------------------------------------------------------------- presets

TEST_F(TranscodeOptionsTest, PresetTableHoldsFortyNamedPresets) {
    EXPECT_EQ(FindBuiltinPreset("LIBX264-Baseline"), &kBuiltinPresets[0]);
    EXPECT_STREQ(kBuiltinPresets[0].Options, "coder=0\nbf=0\nflags2=-wpred-dct8x8\nwpredp=0");
    EXPECT_STREQ(kBuiltinPresets[36].Name, "libx264-psp");
    EXPECT_STREQ(kBuiltinPresets[39].Name, "libx264-mp4");
    EXPECT_STREQ(kBuiltinPresets[36].Options, kBuiltinPresets[39].Options);
    EXPECT_EQ(FindBuiltinPreset("libx264-nosuch"), nullptr);
    const std::string ps3 = FindBuiltinPreset("libx264-ps3")->Options;
    EXPECT_EQ(ps3.find("\nb="), std::string::npos);
    EXPECT_NE(ps3.find("maxrate=3500000"), std::string::npos);
    const std::string ipod = FindBuiltinPreset("libx264-ipod")->Options;
    EXPECT_EQ(ipod.find("bf="), std::string::npos);
    EXPECT_NE(ipod.find("b=1000000\nmaxrate=1250000"), std::string::npos);
}

TEST_F(TranscodeOptionsTest, LegacyPresetLinesTranslate) {
    using P = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(TranslatePresetOption("flags2", "-wpred-dct8x8"), (P{{"weightb", "0"}, {"8x8dct", "0"}}));
    EXPECT_EQ(TranslatePresetOption("flags2", "+bpyramid+mixed_refs+local_header-fastpskip+mbtree"),
              (P{{"flags2", "+local_header"}, {"b-pyramid", "normal"}, {"mixed-refs", "1"}, {"fast-pskip", "0"},
                 {"mbtree", "1"}}));
    EXPECT_EQ(TranslatePresetOption("partitions", "+parti8x8+parti4x4-partp8x8+partb8x8"),
              (P{{"partitions", "i8x8,i4x4,b8x8"}}));
    EXPECT_EQ(TranslatePresetOption("partitions", "-parti8x8-parti4x4-partp8x8-partb8x8"), (P{{"partitions", "none"}}));
    EXPECT_EQ(TranslatePresetOption("directpred", "3"), (P{{"direct-pred", "3"}}));
    EXPECT_EQ(TranslatePresetOption("rc_lookahead", "40"), (P{{"rc-lookahead", "40"}}));
    EXPECT_EQ(TranslatePresetOption("cqp", "0"), (P{{"qp", "0"}}));
    EXPECT_EQ(TranslatePresetOption("subq", "7"), (P{{"subq", "7"}}));
    EXPECT_EQ(TranslatePresetOption("partitions", "all"), (P{{"partitions", "all"}}));
    EXPECT_EQ(TranslatePresetOption("flags", "-loop+psnr"), (P{{"flags", "+psnr"}, {"x264-params", "no-deblock=1"}}));
    EXPECT_EQ(TranslatePresetOption("flags", "+loop"), (P{{"flags", "+loop"}}));
}

TEST_F(TranscodeOptionsTest, VpreDefaultFindsTheCodecsPreset) {
    EXPECT_EQ(Fails("vpre", "default"), "Preset \"default\" not found");
    s.ResetSettings();
    s.ParseOption("vcodec", "libx264");
    ASSERT_NO_THROW(s.ParseOption("vpre", "default"));
    EXPECT_EQ(Int(Video(), "refs"), 3);
    EXPECT_EQ(Int(Video(), "direct-pred"), 1);
    EXPECT_EQ(Int(Video(), "me_method"), 1);  // hex
    EXPECT_EQ(Int(Video(), "8x8dct"), 1);
    EXPECT_EQ(Int(Video(), "fast-pskip"), 1);
}

TEST_F(TranscodeOptionsTest, PresetFilesAndTheirSyntaxErrors) {
    const std::string path = testing::TempDir() + "kelto_test.ffpreset";
    auto write = [&](const char* text) {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs(text, f);
        std::fclose(f);
    };
    write("  vcodec=mpeg4\r\n\r\n g = 17 \r\nbt=9000\r\n");
    s.ParseOption("fpre", path);
    EXPECT_EQ(s.VideoCodecName, "mpeg4");
    EXPECT_EQ(Int(Video(), "g"), 17);
    write("g=17\nnovalue=\n");
    EXPECT_EQ(Fails("fpre", path), path + ": Invalid syntax: \"novalue=\"");
    write("g=17\nno_such_option=3\n");
    EXPECT_EQ(Fails("vpre", path),
              path + ": Invalid option or argument: \"no_such_option=3\", parsed as \"no_such_option\" = \"3\"");
    std::remove(path.c_str());
}

// A libx264 encoder for a 64x64 picture with the video options of the settings.
AVCodecContext* OpenX264(const TTranscodeSettings& st, int& result) {
    const AVCodec* x264 = gAVCodec.avcodec_find_encoder_by_name("libx264");
    AVCodecContext* ctx = gAVCodec.avcodec_alloc_context3(x264);
    st.CopyCodecOptions(ctx, st.CodecHolder(AVMEDIA_TYPE_VIDEO), kOptMaskVideoEncoder);
    ctx->width = 64;
    ctx->height = 64;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = {1, 25};
    ctx->framerate = {25, 1};
    ctx->thread_count = 1;
    result = gAVCodec.avcodec_open2(ctx, x264, nullptr);
    return ctx;
}

// The encoder settings that libx264 writes into its first packet ("... options: cabac=1 ref=3 ...").
std::string X264SettingsText(AVCodecContext* ctx);

int EncodeFrames(AVCodecContext* ctx, int count, std::string* firstPacket = nullptr) {
    AVFrame* frame = gAVUtil.av_frame_alloc();
    AVPacket* pkt = gAVCodec.av_packet_alloc();
    frame->format = ctx->pix_fmt;
    frame->width = ctx->width;
    frame->height = ctx->height;
    int packets = 0;
    if (gAVUtil.av_frame_get_buffer(frame, 0) < 0) return -1;
    auto drain = [&] {
        while (gAVCodec.avcodec_receive_packet(ctx, pkt) == 0) {
            if (packets == 0 && firstPacket) firstPacket->assign(reinterpret_cast<char*>(pkt->data), size_t(pkt->size));
            ++packets;
            gAVCodec.av_packet_unref(pkt);
        }
    };
    for (int i = 0; i < count; ++i) {
        gAVUtil.av_frame_make_writable(frame);
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < (p ? 32 : 64); ++y)
                std::memset(frame->data[p] + y * frame->linesize[p], (p ? 128 : 16 + 8 * i + y) & 0xFF, p ? 32 : 64);
        frame->pts = i;
        if (gAVCodec.avcodec_send_frame(ctx, frame) < 0) break;
        drain();
    }
    gAVCodec.avcodec_send_frame(ctx, nullptr);
    drain();
    gAVCodec.av_packet_free(&pkt);
    gAVUtil.av_frame_free(&frame);
    return packets;
}

std::string X264SettingsText(AVCodecContext* ctx) {
    std::string first;
    EncodeFrames(ctx, 1, &first);
    const size_t at = first.find("options: ");
    if (at == std::string::npos) return {};
    const size_t end = first.find('\0', at);
    return " " + first.substr(at + 9, end == std::string::npos ? std::string::npos : end - at - 9) + " ";
}

// The translated lines reach the encoder with their old meaning.
TEST_F(TranscodeOptionsTest, TranslatedPresetsKeepTheirMeaningInTheEncoder) {
    const struct {
        const char* Preset;
        std::vector<const char*> Settings;
    } cases[] = {
        {"libx264-ultrafast", {"cabac=0", "deblock=0:", "analyse=0x1:0 ", "me=dia", "subme=0", "mixed_ref=0",
                               "8x8dct=0", "bframes=0", "weightp=0", "scenecut=0", "mbtree=0", "aq=0"}},
        {"libx264-baseline", {"cabac=0", "8x8dct=0", "bframes=0", "weightp=0"}},
        {"libx264-medium", {"cabac=1", "deblock=1:", "me=hex", "subme=7", "ref=3", "mixed_ref=1", "8x8dct=1",
                            "fast_pskip=1", "bframes=3", "b_pyramid=2", "direct=1", "weightb=1", "weightp=2",
                            "rc_lookahead=40", "trellis=1", "chroma_me=1"}},
        {"libx264-slow_firstpass", {"analyse=0x1:0 ", "me=dia", "subme=2", "ref=1", "mixed_ref=0", "8x8dct=0",
                                    "direct=3", "b_adapt=2", "trellis=0"}},
        {"libx264-placebo", {"me=tesa", "subme=10", "me_range=24", "ref=16", "fast_pskip=0", "trellis=2"}},
        {"libx264-lossless_medium", {"qp=0", "me=hex", "subme=5"}},
        {"libx264-psp", {"cabac=1", "me=umh", "subme=7", "ref=1", "trellis=2", "direct=1", "bframes=3",
                         "keyint=250", "scenecut=40", "vbv_maxrate=1500", "vbv_bufsize=4000"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Preset);
        s.ResetSettings();
        s.ParseOption("vcodec", "libx264");
        s.ParseOption("vpre", c.Preset);
        int result = 0;
        AVCodecContext* ctx = OpenX264(s, result);
        ASSERT_EQ(result, 0);
        const std::string text = X264SettingsText(ctx);
        ASSERT_FALSE(text.empty());
        for (const char* setting : c.Settings)
            EXPECT_NE(text.find(std::string(" ") + setting), std::string::npos) << setting << " in" << text;
        gAVCodec.avcodec_free_context(&ctx);
    }
}

TEST_F(TranscodeOptionsTest, OldPresetLinesStayAsTheyAreForOtherCodecs) {
    s.ParseOption("vcodec", "mpeg4");
    EXPECT_EQ(Fails("vpre", "libx264-main"),
              "libx264-main: Invalid option or argument: \"flags2=-dct8x8\", parsed as \"flags2\" = \"-dct8x8\"");
}

TEST_F(TranscodeOptionsTest, SystemPresetsOpenAndEncodeWithLibx264) {
    ASSERT_NE(gAVCodec.avcodec_find_encoder_by_name("libx264"), nullptr);
    const struct {
        const char* Name;
        int64_t Bitrate;  // 0: the encoder's own
        int64_t MaxRate;
        int BFrames;      // -1: the wrapper's default
        int Coder;
    } cases[] = {
        {"psp", 1250000, 1500000, 3, 1},
        {"ps3", 0, 3500000, 3, 1},
        {"libx264-ipod", 1000000, 1250000, -1, 0},
        {"mp4", 1250000, 1500000, 3, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        s.ResetSettings();
        s.ParseOption("vcodec", "libx264");
        ASSERT_NO_THROW(s.ParseOption("vpre", c.Name));
        int result = 0;
        AVCodecContext* ctx = OpenX264(s, result);
        ASSERT_EQ(result, 0);
        if (c.Bitrate) {
            EXPECT_EQ(ctx->bit_rate, c.Bitrate);
        }
        EXPECT_EQ(ctx->rc_max_rate, c.MaxRate);
        EXPECT_EQ(ctx->rc_buffer_size, 4000000);
        EXPECT_EQ(ctx->refs, 1);
        EXPECT_EQ(ctx->trellis, 2);
        EXPECT_EQ(ctx->me_subpel_quality, 7);
        if (c.BFrames >= 0) {
            EXPECT_EQ(ctx->max_b_frames, c.BFrames);
        }
        EXPECT_EQ(Int(ctx, "coder"), c.Coder);
        EXPECT_EQ(Int(ctx, "direct-pred"), 1);
        EXPECT_EQ(Int(ctx, "me_method"), 2);  // umh
        EXPECT_EQ(Int(ctx, "sc_threshold"), 40);
        EXPECT_GT(EncodeFrames(ctx, 6), 0);
        gAVCodec.avcodec_free_context(&ctx);
    }
}

TEST_F(TranscodeOptionsTest, EveryBuiltinPresetAppliesToLibx264) {
    ASSERT_NE(gAVCodec.avcodec_find_encoder_by_name("libx264"), nullptr);
    for (const TOptionsPreset& p : kBuiltinPresets) {
        SCOPED_TRACE(p.Name);
        s.ResetSettings();
        log.clear();
        s.ParseOption("vcodec", "libx264");
        ASSERT_NO_THROW(s.ApplyPreset("vpre", p.Name));
        EXPECT_FALSE(Logged(llError, "Invalid value"));
        int result = 0;
        AVCodecContext* ctx = OpenX264(s, result);
        EXPECT_EQ(result, 0);
        gAVCodec.avcodec_free_context(&ctx);
    }
}

}  // namespace
