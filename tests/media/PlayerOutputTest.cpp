// Output of the preview player: the display rectangle, the picture size and the hook,
// sound volume and mute on SDL's disk driver, and the event ring.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>

#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "PlayerTestSupport.h"
#include "engine/MediaLib.h"
#include "media/SubtitleBlend.h"

namespace {

TEST(DisplayRect, AspectRules) {
    struct TCase {
        float aspect;
        double sar;
        int pw, ph, aw, ah;
        QRect expected;
    } cases[] = {
        // own aspect, window wider than the picture: full height, centred horizontally
        {0, 0, 320, 240, 640, 360, QRect(80, 0, 480, 360)},
        // own aspect, window taller: full width, centred vertically
        {0, 0, 320, 240, 320, 400, QRect(0, 80, 320, 240)},
        // anamorphic picture 352x288 with 12:11 pixels shows at 384:288 (4:3)
        {0, 12.0 / 11.0, 352, 288, 400, 300, QRect(0, 0, 400, 300)},
        // forced 16:9 in a 4:3 window
        {16.0f / 9.0f, 0, 320, 240, 640, 480, QRect(0, 60, 640, 360)},
        // below 0: fills the window whatever the picture
        {-1, 0, 320, 240, 500, 100, QRect(0, 0, 500, 100)},
        // width rounded to even
        {0, 0, 161, 97, 161, 97, QRect(0, 0, 160, 97)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.aspect << " " << c.pw << "x" << c.ph << " in " << c.aw << "x" << c.ah);
        EXPECT_EQ(DisplayRect(c.aspect, c.sar, c.pw, c.ph, 0, 0, c.aw, c.ah), c.expected);
    }
    // The area's offset moves the rectangle.
    EXPECT_EQ(DisplayRect(0, 0, 320, 240, 10, 20, 640, 360), QRect(90, 20, 480, 360));
}

TEST(SubtitleBlend, PaletteToYuva) {
    EXPECT_EQ(RgbaToYuva(0xFFFFFFFFu), 0xFFEB8080u);  // white: Y 235
    EXPECT_EQ(RgbaToYuva(0xFF000000u), 0xFF108080u);  // black: Y 16
    EXPECT_EQ(RgbaToYuva(0x80FF0000u), 0x80515AF0u);  // red, alpha kept
}

TEST(SubtitleBlend, LumaPerPixelChromaPerCoveredBlock) {
    // An 8x8 picture (Y 16, U and V 128) and a 3x3 rectangle at (1, 1) of one opaque
    // colour Y 235, U 64, V 200.
    uint8_t y[64], u[16], v[16];
    std::fill(std::begin(y), std::end(y), 16);
    std::fill(std::begin(u), std::end(u), 128);
    std::fill(std::begin(v), std::end(v), 128);
    uint8_t indexes[9] = {};
    uint32_t palette[1] = {0xFFEB40C8u};
    AVSubtitleRect rect{};
    rect.x = 1;
    rect.y = 1;
    rect.w = 3;
    rect.h = 3;
    rect.nb_colors = 1;
    rect.data[0] = indexes;
    rect.data[1] = reinterpret_cast<uint8_t*>(palette);
    rect.linesize[0] = 3;
    rect.type = SUBTITLE_BITMAP;
    uint8_t* const planes[3] = {y, u, v};
    const int strides[3] = {8, 4, 4};
    BlendSubtitleRect(planes, strides, 8, 8, &rect);
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col) {
            const bool inside = row >= 1 && row <= 3 && col >= 1 && col <= 3;
            EXPECT_EQ(y[row * 8 + col], inside ? 235 : 16) << row << "," << col;
        }
    // Sample (0,0) covers one pixel of the rectangle: alpha 255 >> 2 = 63.
    EXPECT_EQ(u[0], (128 * 192 + 64 * 63) / 255);
    // Sample (1,0) covers two: alpha 510 >> 2 = 127, sum 128, shift 1.
    EXPECT_EQ(u[1], ((128 << 1) * 128 + 128 * 127) / 510);
    EXPECT_EQ(v[1], ((128 << 1) * 128 + 400 * 127) / 510);
    // Sample (1,1) covers four: full alpha, the colour itself.
    EXPECT_EQ(u[5], 64);
    EXPECT_EQ(v[5], 200);
    // Outside the rectangle nothing changes.
    EXPECT_EQ(u[2], 128);
    EXPECT_EQ(u[10], 128);
    // A rectangle hanging over the picture's edge is clipped.
    rect.x = 6;
    rect.y = 6;
    BlendSubtitleRect(planes, strides, 8, 8, &rect);
    EXPECT_EQ(y[7 * 8 + 7], 235);
    EXPECT_EQ(u[15], 64);
}

TEST(EventRing, RecordsOfTheNewestKindMerge) {
    TEventRing ring;
    ring.Post(TEventRing::ekPosition, 0, 100);
    ring.Post(TEventRing::ekPosition, 0, 200);
    ring.Post(TEventRing::ekState, psPause, 0);
    ring.Post(TEventRing::ekPosition, 0, 300);
    ring.Post(TEventRing::ekPosition, 0, 400);
    TEventRing::TRecord rec;
    ASSERT_TRUE(ring.Take(rec));
    EXPECT_EQ(rec.TimeStamp, 200);
    ASSERT_TRUE(ring.Take(rec));
    EXPECT_EQ(rec.State, psPause);
    ASSERT_TRUE(ring.Take(rec));
    EXPECT_EQ(rec.TimeStamp, 400);
    EXPECT_FALSE(ring.Take(rec));
    // A full ring drops its oldest record.
    for (int i = 0; i < 12; ++i) ring.Post(i % 2 ? TEventRing::ekState : TEventRing::ekPosition, i, i);
    EXPECT_EQ(ring.Pending(), TEventRing::kSize - 1);
    ASSERT_TRUE(ring.Take(rec));
    EXPECT_EQ(rec.TimeStamp, 12 - (TEventRing::kSize - 1));
}

class PlayerOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(Fixtures::LoadMediaLibs(&error)) << error;
    }
};

TEST_F(PlayerOutputTest, OddSizedVideoIsShownAndHookedAtEvenSize) {
    TRecordingPlayer r;
    r.surface.SetClientSize(QSize(800, 600));
    std::mutex m;
    QSize hooked;
    int hooks = 0;
    r.player.SetHook(true);
    r.player.OnHook = [&](TCustomPlayer*, Bitmap24& b, int64_t) {
        std::lock_guard<std::mutex> lock(m);
        hooked = QSize(b.Width(), b.Height());
        ++hooks;
        b.FillRect(QRect(0, 0, 64, 64), QColor(255, 0, 0));
    };
    ASSERT_TRUE(r.player.Open(Fixtures::Path("odd_641x361.avi"), &r.surface, false)) << r.player.LastErrMsg();
    EXPECT_EQ(r.open.width, 641);
    EXPECT_EQ(r.open.height, 361);
    ASSERT_TRUE(r.WaitState(psEnd, 1, 5000));
    {
        std::lock_guard<std::mutex> lock(m);
        EXPECT_EQ(hooked, QSize(640, 360));
        EXPECT_GE(hooks, 5);
    }
    const QImage shown = r.surface.LastPicture();
    EXPECT_EQ(shown.size(), QSize(640, 360));
    // 640:360 in 800x600: full width, centred vertically.
    EXPECT_EQ(r.surface.LastTarget(), QRect(0, 75, 800, 450));
    // The hook's drawing reached the picture (red, within the YUV round trip).
    const QColor c = shown.pixelColor(20, 20);
    EXPECT_GT(c.red(), 200);
    EXPECT_LT(c.green(), 60);
    EXPECT_EQ(r.player.CurrentFrame().Width(), 640);
    r.player.Stop(true);
}

TEST_F(PlayerOutputTest, RaisingHookLogsOncePerPictureAndLeavesThePicture) {
    TLogRecorder log;
    TRecordingPlayer r;
    std::atomic<int> hooks{0};
    r.player.SetHook(true);
    r.player.OnHook = [&](TCustomPlayer*, Bitmap24& b, int64_t) {
        ++hooks;
        b.FillRect(QRect(0, 0, b.Width(), b.Height()), QColor(255, 0, 0));
        throw std::runtime_error("boom");
    };
    ASSERT_TRUE(r.player.Open(Fixtures::Path("video_only.mp4"), &r.surface, false)) << r.player.LastErrMsg();
    ASSERT_TRUE(r.WaitState(psEnd, 1, 5000));
    r.player.Stop(true);
    EXPECT_GE(hooks.load(), 10);
    EXPECT_EQ(log.CountStartingWith("Error occurs OnHook: boom"), hooks.load());
    const QColor c = r.surface.LastPicture().pixelColor(40, 40);
    EXPECT_FALSE(c.red() > 200 && c.green() < 60 && c.blue() < 60);
}

// Bytes that SDL's disk driver wrote for one second of a tone.
struct TSoundRun {
    QByteArray bytes;
    int64_t position = -1;
};

TSoundRun PlayToDisk(const QString& out, bool mute, int volume, const char* file = "tone_48k_mono.wav",
                     int64_t until = 600000) {
    const QByteArray oldDriver = qgetenv("SDL_AUDIODRIVER");
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", out.toLocal8Bit());
    TSoundRun run;
    {
        TRecordingPlayer r;
        r.player.SetMute(mute);
        r.player.SetAudioVolume(volume);
        if (r.player.Open(Fixtures::Path(file), &r.surface, false)) {
            MainThread::WaitFor([&] { return r.player.Position() > until; }, std::chrono::seconds(4));
            run.position = r.player.Position();
            r.player.Stop(true);
        }
    }
    qputenv("SDL_AUDIODRIVER", oldDriver);
    QFile f(out);
    if (f.open(QIODevice::ReadOnly)) run.bytes = f.readAll();
    return run;
}

int NonZero(const QByteArray& bytes) {
    int n = 0;
    for (char c : bytes) n += c != 0;
    return n;
}

TEST_F(PlayerOutputTest, MuteAndVolumeZeroSilenceWithoutStoppingTheClock) {
    const QString dir = Fixtures::ScratchDir(QString("PlayerMute-%1").arg(QCoreApplication::applicationPid()));
    const TSoundRun loud = PlayToDisk(dir + "/loud.raw", false, 128);
    const TSoundRun muted = PlayToDisk(dir + "/muted.raw", true, 128);
    const TSoundRun silent = PlayToDisk(dir + "/silent.raw", false, 0);
    ASSERT_GT(loud.bytes.size(), 20000);
    EXPECT_GT(NonZero(loud.bytes), loud.bytes.size() / 4);
    for (const TSoundRun* run : {&muted, &silent}) {
        EXPECT_GT(run->bytes.size(), 20000);
        EXPECT_EQ(NonZero(run->bytes), 0);
        EXPECT_GT(run->position, 600000);
    }
}

TEST_F(PlayerOutputTest, EightBitAndFloatSamplesPlayThroughTheConverter) {
    const QString dir = Fixtures::ScratchDir(QString("PlayerSampleFormats-%1").arg(QCoreApplication::applicationPid()));
    for (const char* file : {"tone_u8_stereo.wav", "tone_f32_stereo.wav"}) {
        SCOPED_TRACE(file);
        const TSoundRun run = PlayToDisk(dir + "/out.raw", false, 128, file, 350000);
        EXPECT_GT(run.position, 350000);
        ASSERT_GT(run.bytes.size(), 10000);
        EXPECT_GT(NonZero(run.bytes), run.bytes.size() / 4);
    }
}

TEST_F(PlayerOutputTest, ResizeWhilePausedRedrawsTheSamePictureAtTheNewSize) {
    TRecordingPlayer r;
    ASSERT_TRUE(r.player.Open(Fixtures::Path("mp4_h264_aac.mp4"), &r.surface, true)) << r.player.LastErrMsg();
    ASSERT_TRUE(r.WaitState(psPause));
    MainThread::Sleep(std::chrono::milliseconds(200));
    const QImage before = r.surface.LastPicture();
    EXPECT_EQ(r.surface.LastTarget(), QRect(0, 0, 320, 240));
    const int shown = r.surface.PresentCount();
    r.player.SurfaceResized(800, 300);
    ASSERT_TRUE(MainThread::WaitFor([&] { return r.surface.PresentCount() > shown; }, std::chrono::seconds(2)));
    EXPECT_EQ(r.player.ScreenWidth(), 800);
    // 4:3 in 800x300: full height, centred.
    EXPECT_EQ(r.surface.LastTarget(), QRect(200, 0, 400, 300));
    EXPECT_EQ(r.surface.LastPicture(), before);
    // A forced aspect reopens the display with the same picture.
    const int again = r.surface.PresentCount();
    r.player.SetAspectRatio(-1);
    ASSERT_TRUE(MainThread::WaitFor([&] { return r.surface.PresentCount() > again; }, std::chrono::seconds(2)));
    EXPECT_EQ(r.surface.LastTarget(), QRect(0, 0, 800, 300));
    EXPECT_EQ(r.surface.LastPicture(), before);
    r.player.Stop(true);
}

TEST_F(PlayerOutputTest, SpectrumShowsTheToneAtItsFrequency) {
    TRecordingPlayer r;
    ASSERT_TRUE(r.player.Open(Fixtures::Path("audio_only.mp3"), &r.surface, false)) << r.player.LastErrMsg();
    TPlayerTestAccess::Context(r.player)->showAudio = 2;
    ASSERT_TRUE(MainThread::WaitFor([&] { return r.player.Position() > 800000; }, std::chrono::seconds(4)));
    const QImage picture = r.surface.LastPicture();
    r.player.Stop(true);
    ASSERT_EQ(picture.size(), QSize(320, 240));
    // 512 points at 44100 Hz: 440 Hz falls into bin 5, drawn at row 240 - 5. Every drawn
    // column (past the start of the sound) peaks there.
    int columns = 0;
    for (int x = 5; x < picture.width(); ++x) {
        int best = -1, bestValue = 0;
        for (int y = 0; y < picture.height(); ++y) {
            const int value = qRed(picture.pixel(x, y));
            if (value > bestValue) {
                bestValue = value;
                best = y;
            }
        }
        if (bestValue < 100) continue;
        ++columns;
        EXPECT_NEAR(best, 235, 1) << "column " << x;
        // Stereo tone: both channels alike, so red and green match.
        EXPECT_NEAR(qGreen(picture.pixel(x, best)), bestValue, 2);
    }
    EXPECT_GT(columns, 10);
}

TEST_F(PlayerOutputTest, SoundCorrectionStaysWithinTenPercentAndTheBuffer) {
    // A context whose sound runs 1 s ahead of an external master clock: after the
    // averaging period the chunk is lengthened by at most 10%, repeating its last frame.
    TPreviewPlayer player;
    PlayContext ctx;
    ctx.avSyncType = stExternalMaster;
    ctx.audioRate = 48000;
    ctx.audioChannels = 2;
    ctx.audioDiffAvgCoef = std::exp(std::log(0.01) / kAudioDiffAvgNb);
    ctx.audioDiffThreshold = 2048.0 / 48000;
    const int size = 4096;
    ctx.audioBuf.assign(size * 11 / 10 + 8, 0);
    int16_t* samples = reinterpret_cast<int16_t*>(ctx.audioBuf.data());
    samples[size / 2 - 2] = 111;
    samples[size / 2 - 1] = -222;
    ctx.externalClockTime = gAVUtil.av_gettime_relative();
    ctx.externalClock = 10.0;
    ctx.audioClock = 9.0;  // behind: diff -1 s, the chunk is cut to 90%
    int result = 0;
    for (int i = 0; i <= kAudioDiffAvgNb; ++i) result = TPlayerTestAccess::Synchronize(player, &ctx, size);
    EXPECT_EQ(result, size / 4 * 90 / 100 * 4);
    ctx.audioDiffAvgCount = 0;
    ctx.audioDiffCum = 0;
    ctx.audioClock = 11.0;  // ahead: lengthened to 110%
    for (int i = 0; i <= kAudioDiffAvgNb; ++i) result = TPlayerTestAccess::Synchronize(player, &ctx, size);
    EXPECT_EQ(result, size / 4 * 110 / 100 * 4);
    ASSERT_LE(size_t(result), ctx.audioBuf.size());
    for (int i = size / 2; i < result / 2; i += 2) {
        ASSERT_EQ(samples[i], 111) << i;
        ASSERT_EQ(samples[i + 1], -222) << i;
    }
    // An audio master (the player's setting) never touches the chunk.
    ctx.avSyncType = stAudioMaster;
    EXPECT_EQ(TPlayerTestAccess::Synchronize(player, &ctx, size), size);
}

}  // namespace
