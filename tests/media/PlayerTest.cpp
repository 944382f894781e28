// The preview player on generated media: states and their order, file-open values,
// positions, seeking, pausing, stopping, and the failure texts.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "PlayerTestSupport.h"
#include "engine/MediaLib.h"
#include "engine/MediaLibLoader.h"

namespace {

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(Fixtures::LoadMediaLibs(&error)) << error;
    }
};

TEST(PlayerNoLibs, OpenWithoutLibrariesFails) {
    if (MediaLibLoader().LibsLoaded(PlayerLibs)) GTEST_SKIP() << "libraries already loaded in this process";
    TPreviewPlayer player;
    EXPECT_FALSE(player.Open("x.mp4", nullptr, false));
    EXPECT_EQ(player.LastErrMsg(), "libav or libsdl not loaded.");
}

TEST_F(PlayerTest, PausedOpenThenResumeReachesEndTwiceAndStops) {
    TRecordingPlayer r;
    ASSERT_TRUE(r.player.Open(Fixtures::Path("mp4_h264_aac.mp4"), &r.surface, true)) << r.player.LastErrMsg();
    ASSERT_TRUE(r.WaitState(psPause));
    ASSERT_GE(r.states.size(), 2u);
    EXPECT_EQ(r.states[0], psPlay);
    EXPECT_EQ(r.states[1], psPause);
    EXPECT_TRUE(r.player.Paused());
    r.player.Resume();
    ASSERT_TRUE(r.WaitState(psResume));
    if (!r.WaitState(psEnd)) {
        PlayContext* c = TPlayerTestAccess::Context(r.player);
        ADD_FAILURE() << "drained " << c->drained << " finished " << c->videoFinished << " pictq " << c->pictqSize
                      << " endNotified " << c->endNotified << " pos " << r.player.Position() << " vq "
                      << c->videoq.Count() << " aq " << c->audioq.Count() << " states " << r.states.size()
                      << " eof " << c->eofReported << " paused " << c->paused;
        return;
    }
    EXPECT_NEAR(double(r.player.Position()), 2002000.0, 60000.0);
    // Stays at the end: a single psEnd however long it waits.
    MainThread::Sleep(std::chrono::milliseconds(300));
    EXPECT_EQ(r.Count(psEnd), 1);
    r.player.Seek(0, true, 1500000);
    ASSERT_TRUE(r.WaitState(psEnd, 2));
    r.player.Stop(true);
    ASSERT_TRUE(r.WaitState(psStop));
    EXPECT_EQ(r.states.back(), psStop);
    EXPECT_EQ(r.Count(psEnd), 2);
    EXPECT_EQ(r.Count(psStep), 0);
    EXPECT_FALSE(r.player.Playing());
    EXPECT_EQ(r.player.Position(), -1);
    // Delivered positions differ by more than 10 ms from the one before (the end excepted).
    for (size_t i = 1; i < r.positions.size(); ++i) {
        if (r.positions[i] != 2002000 && r.positions[i - 1] != 2002000) {
            EXPECT_GT(std::llabs(r.positions[i] - r.positions[i - 1]), 10000) << i;
        }
    }
    EXPECT_GT(r.surface.PresentCount(), 10);
}

TEST_F(PlayerTest, FileOpenValues) {
    struct TCase {
        const char* file;
        int width, height;
    } cases[] = {{"mp4_h264_aac.mp4", 320, 240}, {"audio_only.mp3", -1, -1}, {"odd_size.avi", 161, 97}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.file);
        TRecordingPlayer r;
        ASSERT_TRUE(r.player.Open(Fixtures::Path(c.file), &r.surface, false)) << r.player.LastErrMsg();
        EXPECT_EQ(r.open.width, c.width);
        EXPECT_EQ(r.open.height, c.height);
        EXPECT_EQ(r.open.duration, Fixtures::Facts(c.file)->ReportedDurationUs);
        EXPECT_EQ(r.player.FileName(), Fixtures::Path(c.file));
        // The display size comes from the surface.
        EXPECT_EQ(r.player.ScreenWidth(), 320);
        r.player.Stop(true);
    }
}

TEST_F(PlayerTest, AudioOnlyDrawsTheWaveform) {
    TRecordingPlayer r;
    ASSERT_TRUE(r.player.Open(Fixtures::Path("audio_only.mp3"), &r.surface, false)) << r.player.LastErrMsg();
    ASSERT_TRUE(MainThread::WaitFor([&] { return r.player.Position() > 300000; }, std::chrono::seconds(5)));
    ASSERT_TRUE(MainThread::WaitFor([&] { return r.surface.PresentCount() > 5; }, std::chrono::seconds(5)));
    const QImage picture = r.surface.LastPicture();
    EXPECT_EQ(picture.size(), QSize(320, 240));
    EXPECT_EQ(r.surface.LastTarget(), QRect(0, 0, 320, 240));
    // Black with white lines: a tone leaves white pixels away from the band separator.
    int white = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (y != 120 && picture.pixel(x, y) == qRgb(255, 255, 255)) ++white;
    EXPECT_GT(white, 1000);
    int64_t pts = 0;
    EXPECT_TRUE(r.player.CurrentFrame(pts).Empty());
    EXPECT_EQ(pts, -1);
    r.player.Stop(true);
}

TEST_F(PlayerTest, PauseHoldsThePositionAndResumeContinues) {
    TRecordingPlayer r;
    ASSERT_TRUE(r.player.Open(Fixtures::Path("mp4_h264_aac.mp4"), &r.surface, false)) << r.player.LastErrMsg();
    ASSERT_TRUE(MainThread::WaitFor([&] { return r.player.Position() > 300000; }, std::chrono::seconds(4)));
    r.player.Pause();
    ASSERT_TRUE(r.WaitState(psPause));
    EXPECT_EQ(r.player.State(), psPause);
    MainThread::Sleep(std::chrono::milliseconds(100));
    const int64_t held = r.player.Position();
    MainThread::Sleep(std::chrono::milliseconds(400));
    EXPECT_LE(std::llabs(r.player.Position() - held), 40000);
    r.player.Resume();
    ASSERT_TRUE(r.WaitState(psResume));
    ASSERT_TRUE(MainThread::WaitFor([&] { return r.player.Position() > held + 200000; }, std::chrono::seconds(3)));
    r.player.Stop(true);
    EXPECT_EQ(r.Count(psEnd), 0);
}

TEST_F(PlayerTest, SoundOfAFileWithoutItsPictureShowsTheWaveformAndEnds) {
    TRecordingPlayer r;
    r.player.SetDisableVideo(true);
    ASSERT_TRUE(r.player.Open(Fixtures::Path("mp4_h264_aac.mp4"), &r.surface, false)) << r.player.LastErrMsg();
    EXPECT_EQ(r.open.width, -1);
    EXPECT_EQ(r.open.height, -1);
    ASSERT_TRUE(r.WaitState(psEnd, 1, 5000));
    EXPECT_GT(r.surface.PresentCount(), 20);
    EXPECT_EQ(r.surface.LastTarget(), QRect(0, 0, 320, 240));
    // Without pictures the end is posted again at each update while the file stays drained.
    ASSERT_TRUE(r.WaitState(psEnd, 3, 2000));
    r.player.Stop(true);
}

TEST_F(PlayerTest, UnknownAudioDriverFailsToStartSound) {
    TRecordingPlayer r;
    r.player.SetAudioDriver(adDirectSound);
    EXPECT_FALSE(r.player.Open(Fixtures::Path("tone_48k_mono.wav"), &r.surface, false));
    EXPECT_EQ(r.player.LastErrMsg().rfind("Could not initialize SDL with ScreenHandle(", 0), 0u)
        << r.player.LastErrMsg();
    EXPECT_FALSE(r.player.Playing());
    // The environment is left as it was: the default driver works again.
    r.player.SetAudioDriver(adDefault);
    EXPECT_TRUE(r.player.Open(Fixtures::Path("tone_48k_mono.wav"), &r.surface, false)) << r.player.LastErrMsg();
    r.player.Stop(true);
}

TEST_F(PlayerTest, EventsOnThePlayersOwnThreadWhenAsked) {
    TPreviewPlayer player;
    TOffscreenSurface surface;
    player.SetTriggerEventInMainThread(false);
    std::atomic<int> onMain{0}, states{0}, ends{0}, stops{0};
    player.OnState = [&](TCustomPlayer*, TPlayState s) {
        onMain += MainThread::IsMainThread();
        ++states;
        ends += s == psEnd;
        stops += s == psStop;
    };
    player.OnPosition = [&](TCustomPlayer*, int64_t) { onMain += MainThread::IsMainThread(); };
    ASSERT_TRUE(player.Open(Fixtures::Path("video_only.mp4"), &surface, false)) << player.LastErrMsg();
    ASSERT_TRUE(MainThread::WaitFor([&] { return ends > 0; }, std::chrono::seconds(5)));
    player.Stop(true);
    ASSERT_TRUE(MainThread::WaitFor([&] { return stops > 0; }, std::chrono::seconds(2)));
    EXPECT_GE(states.load(), 3);
    EXPECT_EQ(onMain.load(), 0);
}

TEST_F(PlayerTest, SeekRelativeMovesFromTheMasterClock) {
    TRecordingPlayer r;
    ASSERT_TRUE(r.player.Open(Fixtures::Path("mp4_h264_aac.mp4"), &r.surface, true)) << r.player.LastErrMsg();
    ASSERT_TRUE(r.WaitState(psPause));
    const double before = r.player.MasterClock();
    QElapsedTimer timer;
    timer.start();
    r.player.SeekRelative(0, true, 1.0);
    r.player.Resume();
    ASSERT_TRUE(MainThread::WaitFor([&] { return r.player.Position() > 900000; }, std::chrono::seconds(3)));
    EXPECT_LT(before, 0.3);
    // Far sooner than playing could have brought it there.
    EXPECT_LT(timer.elapsed(), 600);
    r.player.Stop(true);
}

TEST_F(PlayerTest, HandlerThatOpensTheNextFileAtTheEnd) {
    // A host that chains files from its state handler: Open runs inside the delivery of psEnd.
    TPreviewPlayer player;
    TOffscreenSurface surface;
    std::vector<TPlayState> states;
    int opened = 0;
    player.OnState = [&](TCustomPlayer* p, TPlayState s) {
        states.push_back(s);
        if (s == psEnd && opened < 2) {
            ++opened;
            EXPECT_TRUE(p->Open(Fixtures::Path("odd_641x361.avi"), &surface, false)) << p->LastErrMsg();
        }
    };
    ASSERT_TRUE(player.Open(Fixtures::Path("odd_641x361.avi"), &surface, false)) << player.LastErrMsg();
    ASSERT_TRUE(MainThread::WaitFor(
        [&] { return opened == 2 && std::count(states.begin(), states.end(), psEnd) >= 3; },
        std::chrono::seconds(8)));
    player.Stop(true);
    EXPECT_EQ(states.back(), psStop);
    EXPECT_EQ(std::count(states.begin(), states.end(), psPlay), 3);
}

TEST_F(PlayerTest, FailedSeekIsLoggedAndStillCompletes) {
    TLogRecorder log;
    TRecordingPlayer r;
    const QString path = Fixtures::Path("mp4_h264_aac.mp4");
    ASSERT_TRUE(r.player.Open(path, &r.surface, true)) << r.player.LastErrMsg();
    ASSERT_TRUE(r.WaitState(psPause));
    // The MP4 demuxer cannot seek by bytes: all three attempts fail.
    QElapsedTimer timer;
    timer.start();
    r.player.Seek(AVSEEK_FLAG_BYTE, true, 1000);
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(log.CountStartingWith(path.toStdString() + ": error while seeking"), 1);
    EXPECT_TRUE(r.player.Paused());
    // The next seek is taken.
    r.player.Seek(0, true, 1000000);
    EXPECT_FALSE(TPlayerTestAccess::Context(r.player)->seekReq);
    r.player.Stop(true);
}

TEST_F(PlayerTest, PicturesFollowTheSoundClock) {
    // The sound device (the dummy driver consumes in real time) drives the master clock; the
    // picture on screen stays within a few frames of it.
    TRecordingPlayer r;
    ASSERT_TRUE(r.player.Open(Fixtures::Path("avi_mpeg4_mp3.avi"), &r.surface, false)) << r.player.LastErrMsg();
    ASSERT_TRUE(MainThread::WaitFor([&] { return r.player.Position() > 300000; }, std::chrono::seconds(3)));
    int samples = 0;
    double worst = 0;
    while (r.Count(psEnd) == 0 && r.player.Position() < 1700000 && samples < 40) {
        const double diff = TPlayerTestAccess::VideoClock(r.player) - TPlayerTestAccess::AudioClock(r.player);
        worst = std::max(worst, std::fabs(diff));
        ++samples;
        MainThread::Sleep(std::chrono::milliseconds(30));
    }
    r.player.Stop(true);
    EXPECT_GT(samples, 10);
    EXPECT_LT(worst, 0.12);
}

TEST_F(PlayerTest, NoStreamToPlayFails) {
    TRecordingPlayer r;
    r.player.SetDisableAudio(true);
    r.player.SetDisableVideo(true);
    const QString path = Fixtures::Path("mp4_h264_aac.mp4");
    EXPECT_FALSE(r.player.Open(path, &r.surface, false));
    EXPECT_EQ(r.player.LastErrMsg(), path.toStdString() + ": could not open codecs, no stream to play.");
    EXPECT_FALSE(r.player.Playing());
    EXPECT_TRUE(r.states.empty());
}

TEST_F(PlayerTest, UnreadableFileFails) {
    TRecordingPlayer r;
    const QString path = Fixtures::Path("random.bin");
    EXPECT_FALSE(r.player.Open(path, &r.surface, false));
    EXPECT_EQ(r.player.LastErrMsg().rfind(path.toStdString() + ": ", 0), 0u) << r.player.LastErrMsg();
    // The player is idle and can open the next file.
    EXPECT_TRUE(r.player.Open(Fixtures::Path("video_only.mp4"), &r.surface, false)) << r.player.LastErrMsg();
    r.player.Stop(true);
}

TEST_F(PlayerTest, SecondSeekBeforeTheFirstIsDoneIsIgnored) {
    TRecordingPlayer r;
    ASSERT_TRUE(r.player.Open(Fixtures::Path("mp4_h264_aac.mp4"), &r.surface, true)) << r.player.LastErrMsg();
    ASSERT_TRUE(r.WaitState(psPause));
    PlayContext* ctx = TPlayerTestAccess::Context(r.player);
    ASSERT_NE(ctx, nullptr);
    const int shown = r.surface.PresentCount();
    r.player.Seek(0, false, 1000000);
    r.player.Seek(0, false, 500000);
    EXPECT_EQ(ctx->seekPos, 1000000);
    // The picture that the seek brings is the one at 1 s.
    ASSERT_TRUE(MainThread::WaitFor([&] { return r.surface.PresentCount() > shown && !ctx->seekReq; },
                                    std::chrono::seconds(3)));
    MainThread::Sleep(std::chrono::milliseconds(200));
    int64_t pts = 0;
    r.player.CurrentFrame(pts);
    EXPECT_GT(pts, 800000);
    EXPECT_LT(pts, 1200000);
    r.player.Stop(true);
}

TEST_F(PlayerTest, SeekBeyondTheDurationLandsAtTheDuration) {
    TRecordingPlayer r;
    ASSERT_TRUE(r.player.Open(Fixtures::Path("mp4_h264_aac.mp4"), &r.surface, false)) << r.player.LastErrMsg();
    r.player.Seek(0, true, 60000000);
    ASSERT_TRUE(r.WaitState(psEnd, 1, 5000));
    // The clock runs on past the last picture until the position reaches the duration.
    EXPECT_TRUE(MainThread::WaitFor([&] { return !r.positions.empty() && r.positions.back() == 2002000; },
                                    std::chrono::seconds(2)));
    EXPECT_GE(r.player.Position(), 2002000);
    r.player.Stop(true);
}

TEST_F(PlayerTest, SeekWhilePausedShowsTheNewPictureAndStaysPaused) {
    TRecordingPlayer r;
    ASSERT_TRUE(r.player.Open(Fixtures::Path("mp4_h264_aac.mp4"), &r.surface, true)) << r.player.LastErrMsg();
    ASSERT_TRUE(r.WaitState(psPause));
    MainThread::Sleep(std::chrono::milliseconds(200));
    const QImage before = r.surface.LastPicture();
    const int shown = r.surface.PresentCount();
    r.player.Seek(0, true, 1000000);
    ASSERT_TRUE(MainThread::WaitFor([&] { return r.surface.PresentCount() > shown; }, std::chrono::seconds(3)));
    MainThread::Sleep(std::chrono::milliseconds(200));
    EXPECT_TRUE(r.player.Paused());
    EXPECT_EQ(r.player.State(), psPause);
    EXPECT_NE(r.surface.LastPicture(), before);
    int64_t pts = 0;
    const Bitmap24& frame = r.player.CurrentFrame(pts);
    EXPECT_EQ(frame.Width(), 320);
    EXPECT_GT(pts, 800000);
    EXPECT_LT(pts, 1200000);
    // Paused: no further pictures arrive.
    const int settled = r.surface.PresentCount();
    MainThread::Sleep(std::chrono::milliseconds(300));
    EXPECT_LE(r.surface.PresentCount(), settled + 1);
    r.player.Stop(true);
}

TEST_F(PlayerTest, StopWhilePausedUnpausesAndEnds) {
    TRecordingPlayer r;
    ASSERT_TRUE(r.player.Open(Fixtures::Path("avi_mpeg4_mp3.avi"), &r.surface, true)) << r.player.LastErrMsg();
    ASSERT_TRUE(r.WaitState(psPause));
    QElapsedTimer timer;
    timer.start();
    r.player.Stop(true);
    EXPECT_LT(timer.elapsed(), 2000);
    ASSERT_TRUE(r.WaitState(psStop, 1, 2000));
    EXPECT_FALSE(r.player.Playing());
}

TEST_F(PlayerTest, CurrentFrameBeforeTheFirstPictureIsBlackAtTheVideoSize) {
    TRecordingPlayer r;
    QSize size;
    bool black = false;
    r.player.OnFileOpen = [&](TCustomPlayer* p, int64_t, int, int, int&, int&) {
        // The decoder cannot queue a picture before the play thread runs.
        Bitmap24& b = p->CurrentFrame();
        size = QSize(b.Width(), b.Height());
        black = !b.Empty() && b.Image().pixel(0, 0) == qRgb(0, 0, 0) &&
                b.Image().pixel(b.Width() - 1, b.Height() - 1) == qRgb(0, 0, 0);
    };
    ASSERT_TRUE(r.player.Open(Fixtures::Path("odd_size.avi"), &r.surface, false)) << r.player.LastErrMsg();
    EXPECT_EQ(size, QSize(161, 97));
    EXPECT_TRUE(black);
    r.player.Stop(true);
}

int EntriesIn(const char* folder) { return int(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size()); }

TEST_F(PlayerTest, ManyOpenStopCycles) {
    TRecordingPlayer r;
    // One cycle first, so that lazily started library threads and handles exist before the
    // counts are taken.
    ASSERT_TRUE(r.player.Open(Fixtures::Path("mp4_h264_aac.mp4"), &r.surface, false)) << r.player.LastErrMsg();
    r.player.Stop(true);
    const int threads = EntriesIn("/proc/self/task");
    const int files = EntriesIn("/proc/self/fd");
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 12; ++i) {
        const char* file = i % 3 == 0 ? "audio_only.mp3" : (i % 3 == 1 ? "mp4_h264_aac.mp4" : "odd_size.avi");
        ASSERT_TRUE(r.player.Open(Fixtures::Path(file), &r.surface, i % 2 == 0)) << r.player.LastErrMsg();
        MainThread::Sleep(std::chrono::milliseconds(30));
        r.player.Stop(i % 4 != 3);
    }
    r.player.Stop(true);
    EXPECT_LT(timer.elapsed(), 15000);
    // Every cycle's play thread started and ended (records of one kind may merge when the
    // host is slow, so the counts are bounds).
    EXPECT_GE(r.Count(psPlay), 1);
    EXPECT_GE(r.Count(psStop), 1);
    EXPECT_EQ(r.states.back(), psStop);
    EXPECT_FALSE(r.player.Playing());
    // Every thread ended and every file and device was closed.
    EXPECT_EQ(EntriesIn("/proc/self/task"), threads);
    EXPECT_EQ(EntriesIn("/proc/self/fd"), files);
}

}  // namespace
