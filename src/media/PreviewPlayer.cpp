// The player component: settings, Open/Stop/Pause/Resume/Seek, the play thread serving the
// player's event queue, and the event thread delivering position and state records.

#include "media/PreviewPlayer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "engine/MediaLib.h"
#include "engine/MediaLibLoader.h"
#include "engine/MediaLogger.h"
#include "media/PlayContext.h"
#include "media/VideoSurface.h"
#include "platform/Format.h"
#include "platform/MainThread.h"

const char* PlayStateName(TPlayState state) {
    switch (state) {
        case psPlay: return "psPlay";
        case psPause: return "psPause";
        case psResume: return "psResume";
        case psStep: return "psStep";
        case psStop: return "psStop";
        case psEnd: return "psEnd";
    }
    return "?";
}

// ---- event ring -------------------------------------------------------------------------

void TEventRing::Post(int kind, int state, int64_t timeStamp) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int newest = (writeIndex_ + kSize - 1) % kSize;
        if (readIndex_ != writeIndex_ && records_[newest].Kind == kind) {
            records_[newest] = TRecord{kind, state, timeStamp};
        } else {
            writeIndex_ = (writeIndex_ + 1) % kSize;
            if (writeIndex_ == readIndex_) readIndex_ = (readIndex_ + 1) % kSize;
            records_[(writeIndex_ + kSize - 1) % kSize] = TRecord{kind, state, timeStamp};
        }
        signalled_ = true;
    }
    cond_.notify_all();
}

bool TEventRing::Take(TRecord& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (readIndex_ == writeIndex_) {
        signalled_ = false;
        return false;
    }
    record = records_[readIndex_];
    readIndex_ = (readIndex_ + 1) % kSize;
    if (readIndex_ == writeIndex_) signalled_ = false;
    return true;
}

void TEventRing::Wait(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (timeoutMs < 0)
        cond_.wait(lock, [this] { return signalled_; });
    else
        cond_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; });
}

void TEventRing::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    readIndex_ = writeIndex_ = 0;
    signalled_ = false;
}

int TEventRing::Pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return (writeIndex_ - readIndex_ + kSize) % kSize;
}

// ---- component --------------------------------------------------------------------------

TCustomPlayer::TCustomPlayer() { ResetRunState(); }

TCustomPlayer::~TCustomPlayer() {
    OnPosition = nullptr;
    OnState = nullptr;
    OnHook = nullptr;
    Stop(true);
    JoinThreads(true);
    ResetConverters();
}

bool TCustomPlayer::AVLibLoaded() const { return MediaLibLoader().LibsLoaded(PlayerLibs); }

bool TCustomPlayer::LoadAVLib(const QString& folder) {
    TMediaLibLoader& loader = MediaLibLoader();
    if (loader.LibsLoaded(PlayerLibs)) return true;
    loader.SetLibraryPath(folder.toStdString());
    if (!loader.LoadLibs(PlayerLibs)) {
        lastErrMsg_ = loader.LastErrMsg();
        return false;
    }
    return true;
}

bool TCustomPlayer::Paused() const {
    PlayContext* ctx = ctx_.load();
    return ctx && ctx->paused.load();
}

void TCustomPlayer::ReportError(const std::string& text, bool keep) {
    MediaLogger().Log(this, llError, text);
    if (keep) lastErrMsg_ = text;
}

void TCustomPlayer::SetFlag(bool& flag, bool value) {
    {
        std::lock_guard<std::mutex> lock(eventsMutex_);
        flag = value;
    }
    eventsCond_.notify_all();
}

bool TCustomPlayer::WaitFlag(bool& flag, int timeoutMs) {
    std::unique_lock<std::mutex> lock(eventsMutex_);
    return eventsCond_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return flag; });
}

void TCustomPlayer::ResetRunState() {
    surfaceOpen_ = false;
    positionPosted_ = false;
    lastPostedPosition_ = -1;
    position_ = -1;
    stepFlag_ = false;
    SetFlag(seekDone_, true);
    seeking_ = false;
}

void TCustomPlayer::PostState(TPlayState state) {
    state_ = state;
    if (OnState)
        ring_.Post(TEventRing::ekState, state, 0);
    else if (state == psStop)
        ring_.Post(TEventRing::ekQuit, state, 0);
}

void TCustomPlayer::PushEvent(int type, int data) {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        queue_.emplace_back(type, data);
    }
    queueCond_.notify_one();
}

bool TCustomPlayer::WaitEvent(std::pair<int, int>& event) {
    std::unique_lock<std::mutex> lock(queueMutex_);
    queueCond_.wait(lock, [this] { return !queue_.empty(); });
    event = queue_.front();
    queue_.pop_front();
    return true;
}

bool TCustomPlayer::StartSDL() {
    if (sdlStarted_) return true;
    if (gSDL.SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    sdlStarted_ = true;
    MediaLogger().LogFmt(this, llDebug, "using audio driver: %s\n",
                         gSDL.SDL_GetCurrentAudioDriver() ? gSDL.SDL_GetCurrentAudioDriver() : "");
    return true;
}

void TCustomPlayer::QuitSDL() {
    if (!sdlStarted_) return;
    sdlStarted_ = false;
    gSDL.SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void TCustomPlayer::ResetConverters() {
    if (!AVLibLoaded()) return;
    for (SwsContext** s : {&hookToRGB_, &hookFromRGB_, &grabSws_, &displaySws_}) {
        if (*s) gSwScale.sws_freeContext(*s);
        *s = nullptr;
    }
    hookBitmap_.SetSize(0, 0);
}

bool TCustomPlayer::Open(const QString& FileName, TVideoSurface* surface, bool Paused) {
    if (!AVLibLoaded()) {
        lastErrMsg_ = "libav or libsdl not loaded.";
        MediaLogger().Log(this, llError, lastErrMsg_);
        return false;
    }
    Stop(true);
    JoinThreads(true);
    // The default driver leaves SDL its own choice (SDL_AUDIODRIVER as the environment has
    // it); a named driver is put into the environment only while SDL starts.
    const char* driver = audioDriver_ == adDirectSound ? "dsound" : (audioDriver_ == adWaveOut ? "waveout" : nullptr);
    const char* previous = driver ? getenv("SDL_AUDIODRIVER") : nullptr;
    const std::string saved = previous ? previous : "";
    if (driver) setenv("SDL_AUDIODRIVER", driver, 1);
    const bool started = StartSDL();
    if (driver) {
        if (previous)
            setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
        else
            unsetenv("SDL_AUDIODRIVER");
    }
    if (!started) {
        ReportError(Format("Could not initialize SDL with ScreenHandle(%u): %s",
                           unsigned(reinterpret_cast<uintptr_t>(surface)), gSDL.SDL_GetError()),
                    true);
        return false;
    }
    if (disableDisplay_) disableVideo_ = true;
    surface_ = disableDisplay_ ? nullptr : surface;
    flushReady_ = true;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        queue_.clear();
    }
    ring_.Clear();
    if (!ContextOpen(FileName, Paused)) {
        QuitSDL();
        return false;
    }
    PlayContext* ctx = ctx_.load();
    fileName_ = FileName;
    probe_.AttachContext(ctx->ic);
    ResetConverters();

    const int64_t duration = ctx->duration;
    int fw = -1, fh = -1;
    if (ctx->videoDec && ctx->videoDec->width > 0) {
        fw = ctx->videoDec->width;
        fh = ctx->videoDec->height;
    }
    if (OnFileOpen) {
        int sw = screenWidth_, sh = screenHeight_;
        if (triggerEventInMainThread_)
            MainThread::RunSync([&] { OnFileOpen(this, duration, fw, fh, sw, sh); });
        else
            OnFileOpen(this, duration, fw, fh, sw, sh);
        screenWidth_ = sw;
        screenHeight_ = sh;
    }
    if (surface_ && (screenWidth_ == 0 || screenHeight_ == 0)) {
        const QSize size = surface_->ClientSize();
        screenWidth_ = size.width();
        screenHeight_ = size.height();
    }
    eventTerminated_ = false;
    eventThreadEnded_ = false;
    playThreadEnded_ = false;
    eventStop_ = std::make_shared<std::atomic<bool>>(false);
    eventThread_ = std::thread([this, stop = eventStop_] { EventThreadRun(stop); });
    playThread_ = std::thread([this] { PlayThreadRun(); });
    return true;
}

void TCustomPlayer::PlayThreadRun() {
    playThreadEnded_ = false;
    PostState(psPlay);
    try {
        for (;;) {
            std::pair<int, int> event;
            WaitEvent(event);
            std::unique_lock<std::timed_mutex> lock(playerMutex_);
            PlayContext* ctx = ctx_.load();
            if (!ctx) break;
            bool leave = false;
            switch (event.first) {
                case peQuitSystem:
                case peQuit:
                    ContextClose(ctx);
                    leave = true;
                    break;
                case peResize:
                    screenWidth_ = event.second >> 16;
                    screenHeight_ = event.second & 0xFFFF;
                    OpenDisplay(ctx, true);
                    if (ctx->paused) Refresh(ctx, false);
                    break;
                case peExpose:
                    if (ctx->paused)
                        Refresh(ctx, false);
                    else
                        Display(ctx, true);
                    break;
                case peAllocate:
                    OpenDisplay(ctx, false);
                    AllocatePicture(ctx, event.second);
                    break;
                case peRefresh:
                    Refresh(ctx, true);
                    ctx->refreshPending = false;
                    break;
                case peAspect:
                    OpenDisplay(ctx, true);
                    Display(ctx, true);
                    break;
                default:
                    break;
            }
            if (leave) break;
        }
    } catch (const std::exception& e) {
        MediaLogger().Log(this, llFatal, std::string("PlayThread Exception: ") + e.what());
        std::unique_lock<std::timed_mutex> lock(playerMutex_);
        if (PlayContext* ctx = ctx_.load()) ContextClose(ctx);
    }
    PostState(psStop);
    playThreadEnded_ = true;
}

void TCustomPlayer::DeliverRecord(const TEventRing::TRecord& record) {
    if (record.Kind == TEventRing::ekPosition) {
        if (OnPosition) OnPosition(this, record.TimeStamp);
    } else if (record.Kind == TEventRing::ekState) {
        if (OnState) OnState(this, TPlayState(record.State));
    }
}

void TCustomPlayer::EventThreadRun(std::shared_ptr<std::atomic<bool>> stop) {
    while (!eventTerminated_ && !*stop) {
        TEventRing::TRecord record;
        bool ended = false;
        while (ring_.Take(record)) {
            if (record.Kind != TEventRing::ekQuit) {
                try {
                    if (triggerEventInMainThread_)
                        MainThread::RunSync([&] {
                            ++deliveringEvent_;
                            try {
                                DeliverRecord(record);
                            } catch (...) {
                                --deliveringEvent_;
                                throw;
                            }
                            --deliveringEvent_;
                        });
                    else
                        DeliverRecord(record);
                } catch (const std::exception& e) {
                    if (*stop) return;
                    MediaLogger().Log(this, llError, std::string("Exception in a player event handler: ") + e.what());
                }
                // Let go during the delivery (the handler opened or stopped): touch nothing.
                if (*stop) return;
            }
            if (record.Kind == TEventRing::ekQuit ||
                (record.Kind == TEventRing::ekState && record.State == psStop)) {
                ended = true;
                break;
            }
        }
        if (ended) break;
        ring_.Wait(100);
    }
    if (!*stop) eventThreadEnded_ = true;
}

void TCustomPlayer::JoinThreads(bool waitForEventThread) {
    if (playThread_.joinable()) {
        if (!playThreadEnded_) return;
        playThread_.join();
    }
    if (eventThread_.joinable()) {
        if (deliveringEvent_ > 0) {
            // Called from one of its own handlers: it cannot end before the handler returns.
            // Before a new file opens, let it go; it stops once the handler has returned.
            if (waitForEventThread) {
                *eventStop_ = true;
                eventThread_.detach();
                eventThreadEnded_ = true;
            }
            return;
        }
        if (!waitForEventThread && !eventThreadEnded_) return;
        if (!MainThread::WaitFor([this] { return eventThreadEnded_.load(); }, std::chrono::milliseconds(3000))) {
            // A record that never arrives (no psStop posted) must not keep the thread.
            eventTerminated_ = true;
            ring_.Post(TEventRing::ekQuit, 0, 0);
            MainThread::WaitFor([this] { return eventThreadEnded_.load(); });
        }
        eventThread_.join();
    }
}

void TCustomPlayer::Stop(bool Wait) {
    if (PlayContext* ctx = ctx_.load()) {
        if (ctx->paused) {
            TogglePause(ctx);
            stepFlag_ = false;
        }
        PushEvent(peQuit);
    }
    if (Wait) {
        int counter = 1;
        for (;;) {
            if (playThreadEnded_ && !ctx_.load()) break;
            if (MainThread::IsMainThread()) MainThread::Pump();
            if (playThreadEnded_) {
                // No play thread (it failed to start or already ended): close directly.
                std::unique_lock<std::timed_mutex> lock(playerMutex_);
                if (PlayContext* ctx = ctx_.load()) ContextClose(ctx);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!ctx_.load()) continue;
            std::unique_lock<std::timed_mutex> lock(playerMutex_, std::defer_lock);
            if (!lock.try_lock_for(std::chrono::milliseconds(100))) continue;
            PlayContext* ctx = ctx_.load();
            if (!ctx) continue;
            ++counter;
            if (counter <= 10 || (counter <= 20 && !ctx->insideRead))
                PushEvent(peQuit);
            else
                ContextClose(ctx);
        }
        MainThread::WaitFor([this] { return playThreadEnded_.load(); });
        // The event thread ends once psStop (or the quit record) is delivered.
        JoinThreads(deliveringEvent_ == 0);
        QuitSDL();
    }
}

void TCustomPlayer::Pause() {
    PlayContext* ctx = ctx_.load();
    if (!ctx || ctx->paused) return;
    TogglePause(ctx);
    stepFlag_ = false;
    PostState(psPause);
}

void TCustomPlayer::Resume() {
    PlayContext* ctx = ctx_.load();
    if (!ctx || !ctx->paused) return;
    TogglePause(ctx);
    stepFlag_ = false;
    PostState(psResume);
}

void TCustomPlayer::SeekRequest(int64_t pos, int64_t rel, int flags, bool wait) {
    PlayContext* ctx = ctx_.load();
    if (!ctx || ctx->seekReq) return;
    seeking_ = true;
    ctx->seekPaused = ctx->paused.load();
    ctx->seekPos = pos;
    ctx->seekRel = rel;
    ctx->seekFlags = flags & 0xF;
    SetFlag(seekDone_, false);
    ctx->seekReq = true;
    if (!wait) return;
    const bool main = MainThread::IsMainThread();
    auto waitFor = [&](bool& flag) {
        while (ctx_.load() == ctx && !WaitFlag(flag, main ? 10 : 100)) {
            if (main) MainThread::Pump();
        }
    };
    waitFor(seekDone_);
    if (ctx_.load() == ctx && ctx->videoStream >= 0) waitFor(pictureOut_);
}

void TCustomPlayer::Seek(int Flags, bool Wait, int64_t Position) {
    PlayContext* ctx = ctx_.load();
    if (!ctx) return;
    if (Flags & AVSEEK_FLAG_BYTE) {
        SeekRequest(Position, 0, Flags, Wait);
        return;
    }
    int64_t target = Position;
    if (ctx->duration >= 0 && target > ctx->duration) target = ctx->duration;
    target += ctx->startTime;
    SeekRequest(target, Position <= 0 ? 1 : 0, Flags, Wait);
}

void TCustomPlayer::SeekRelative(int Flags, bool Wait, double Seconds) {
    PlayContext* ctx = ctx_.load();
    if (!ctx) return;
    if (Flags & AVSEEK_FLAG_BYTE) {
        const int64_t pos = ctx->ic->pb ? gAVFormat.avio_seek(ctx->ic->pb, 0, SEEK_CUR) : 0;
        const double rate = ctx->ic->bit_rate > 0 ? ctx->ic->bit_rate / 8.0 : 180000.0;
        const int64_t amount = int64_t(Seconds * rate);
        SeekRequest(std::max<int64_t>(pos, 0) + amount, amount, Flags, Wait);
        return;
    }
    const double clock = MasterClockOf(ctx);
    SeekRequest(std::llround((clock + Seconds) * 1000000.0), std::llround(Seconds * 1000000.0), Flags, Wait);
}

double TCustomPlayer::MasterClock() {
    PlayContext* ctx = ctx_.load();
    return ctx ? MasterClockOf(ctx) : 0;
}

void TCustomPlayer::SurfaceResized(int width, int height) {
    if (ctx_.load()) PushEvent(peResize, (width & 0xFFFF) << 16 | (height & 0xFFFF));
}

void TCustomPlayer::SurfaceExposed() {
    if (ctx_.load()) PushEvent(peExpose);
}

void TPreviewPlayer::SetAspectRatio(float value) {
    if (value == aspectRatio_) return;
    aspectRatio_ = value;
    if (Playing()) PushEvent(peAspect);
}
