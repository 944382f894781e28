#pragma once
// Shared helpers of the player tests: a player with recorded events, waits that keep the
// main thread serving the player's hand-overs, and a log recorder.

#include <QString>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "engine/MediaLogger.h"
#include "fixtures/Fixtures.h"
#include "media/PlayContext.h"
#include "media/PreviewPlayer.h"
#include "media/VideoSurface.h"
#include "platform/MainThread.h"

// Reaches into the player for what a host cannot see (pending seek target).
class TPlayerTestAccess {
public:
    static PlayContext* Context(TCustomPlayer& p) { return p.ctx_.load(); }
    static double VideoClock(TCustomPlayer& p) { return p.VideoClock(p.ctx_.load()); }
    static double AudioClock(TCustomPlayer& p) { return p.AudioClock(p.ctx_.load()); }
    static int Synchronize(TCustomPlayer& p, PlayContext* ctx, int size) { return p.SynchronizeAudio(ctx, size); }
};

struct TRecordingPlayer {
    TPreviewPlayer player;
    TOffscreenSurface surface{QSize(320, 240)};
    std::vector<TPlayState> states;
    std::vector<int64_t> positions;
    struct TOpenInfo {
        int64_t duration = 0;
        int width = 0, height = 0;
    } open;

    TRecordingPlayer() {
        player.OnState = [this](TCustomPlayer*, TPlayState s) { states.push_back(s); };
        player.OnPosition = [this](TCustomPlayer*, int64_t pts) { positions.push_back(pts); };
        player.OnFileOpen = [this](TCustomPlayer*, int64_t d, int w, int h, int&, int&) {
            open.duration = d;
            open.width = w;
            open.height = h;
        };
    }
    int Count(TPlayState s) const {
        int n = 0;
        for (TPlayState x : states) n += x == s;
        return n;
    }
    bool WaitState(TPlayState s, int count = 1, int ms = 8000) {
        return MainThread::WaitFor([&] { return Count(s) >= count; }, std::chrono::milliseconds(ms));
    }
};

// Records log lines of every thread.
class TLogRecorder {
public:
    TLogRecorder() {
        TMediaLogger& logger = MediaLogger();
        logger.TriggerEventInMainThread = false;
        logger.OnLog = [this](const void*, uint32_t, TLogLevel level, const std::string& msg) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back({level, msg});
        };
    }
    ~TLogRecorder() { MediaLogger().OnLog = nullptr; }
    int CountStartingWith(const std::string& prefix) const {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const auto& l : lines_) n += l.second.rfind(prefix, 0) == 0;
        return n;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<TLogLevel, std::string>> lines_;
};
