// Output of the preview player: the display rectangle, the picture size and the hook,
// sound volume and mute on SDL's disk driver, and the event ring.

#include <gtest/gtest.h>

#include <QFile>

#include <cstdlib>
#include <stdexcept>

#include "PlayerTestSupport.h"

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

TSoundRun PlayToDisk(const QString& out, bool mute, int volume) {
    const QByteArray oldDriver = qgetenv("SDL_AUDIODRIVER");
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", out.toLocal8Bit());
    TSoundRun run;
    {
        TRecordingPlayer r;
        r.player.SetMute(mute);
        r.player.SetAudioVolume(volume);
        if (r.player.Open(Fixtures::Path("tone_48k_mono.wav"), &r.surface, false)) {
            MainThread::WaitFor([&] { return r.player.Position() > 600000; }, std::chrono::seconds(4));
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
    const QString dir = Fixtures::ScratchDir("PlayerMute");
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

}  // namespace
