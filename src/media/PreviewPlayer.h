#pragma once
// The preview player: plays one media file with picture and sound on a host's video
// surface, with pause, seek, position and state reports and a per-picture hook.
//
// TCustomPlayer carries the behaviour and the events; TPreviewPlayer publishes the
// settings. Every method is called on the main thread. OnFileOpen, OnPosition and OnState
// arrive on the main thread (TriggerEventInMainThread), OnHook on the video decoding
// thread. Sound goes through an SDL audio device of the player's own (no process-wide
// device or window is involved, so several players may exist; the windows still keep one
// file open at a time).

#include <QImage>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "media/AVProbe.h"
#include "platform/Bitmap24.h"

struct PlayContext;
struct TPictureEntry;
struct AVFrame;
struct SwsContext;
class TVideoSurface;

enum TPlayState : int { psPlay = 0, psPause = 1, psResume = 2, psStep = 3, psStop = 4, psEnd = 5 };
enum TAudioDriver : int { adDefault, adDirectSound, adWaveOut };
enum TVideoDriver : int { vdDefault, vdDirectDraw, vdGDI };
using TAudioVolume = uint8_t;  // 0 to 128

const char* PlayStateName(TPlayState state);

class TCustomPlayer;
using TFileOpenEvent = std::function<void(TCustomPlayer* Sender, int64_t ADuration, int AFrameWidth,
                                          int AFrameHeight, int& AScreenWidth, int& AScreenHeight)>;
using THookEvent = std::function<void(TCustomPlayer* Sender, Bitmap24& ABitmap, int64_t APTS)>;
using TPositionEvent = std::function<void(TCustomPlayer* Sender, int64_t APTS)>;
using TPlayStateEvent = std::function<void(TCustomPlayer* Sender, TPlayState AState)>;

// Events of the play thread's queue (the numbers of the old event loop).
enum TPlayEventType : int {
    peQuitSystem = 12,
    peResize = 16,
    peExpose = 17,
    peAllocate = 24,
    peRefresh = 25,
    peQuit = 26,
    peAspect = 27,
};

// Ring of position, state and quit records handed from the player's threads to the event
// thread. A record of the same kind as the newest one not yet taken replaces it.
class TEventRing {
public:
    enum TKind : int { ekPosition = 1, ekState = 2, ekQuit = 3 };
    struct TRecord {
        int Kind = 0;
        int State = 0;
        int64_t TimeStamp = 0;
    };
    static constexpr int kSize = 10;

    void Post(int kind, int state, int64_t timeStamp);
    // Takes the oldest record; false when the ring is empty.
    bool Take(TRecord& record);
    // Waits until a record is pending (or the timeout passes).
    void Wait(int timeoutMs = -1);
    void Clear();
    int Pending() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cond_;
    bool signalled_ = false;
    int readIndex_ = 0;
    int writeIndex_ = 0;
    TRecord records_[kSize];
};

class TCustomPlayer {
public:
    TCustomPlayer();
    virtual ~TCustomPlayer();
    TCustomPlayer(const TCustomPlayer&) = delete;
    TCustomPlayer& operator=(const TCustomPlayer&) = delete;

    std::string About;
    static constexpr const char* Version = "2.3";

    TFileOpenEvent OnFileOpen;
    THookEvent OnHook;
    TPositionEvent OnPosition;
    TPlayStateEvent OnState;

    // Run-time members.
    const std::string& LastErrMsg() const { return lastErrMsg_; }
    int64_t Position() const { return position_.load(); }
    TPlayState State() const { return state_.load(); }
    TAVProbe& Probe() { return probe_; }
    const QString& FileName() const { return fileName_; }

    bool AVLibLoaded() const;
    bool LoadAVLib(const QString& folder);

    // Opens the file and shows it on surface (may be null: no display); starts playing, or
    // shows the first pictures and pauses when Paused.
    bool Open(const QString& FileName, TVideoSurface* surface, bool Paused);
    void Stop(bool Wait);
    void Pause();
    void Resume();
    void Seek(int Flags, bool Wait, int64_t Position);
    void SeekRelative(int Flags, bool Wait, double Seconds);
    // The picture on screen as a 24-bit bitmap owned by the player (reused by the next call).
    Bitmap24& CurrentFrame();
    Bitmap24& CurrentFrame(int64_t& PTS);

    // The host's surface changed size, or needs repainting.
    void SurfaceResized(int width, int height);
    void SurfaceExposed();

    // The master clock in seconds (0 without an open file).
    double MasterClock();
    bool Playing() const { return ctx_.load() != nullptr; }
    bool Paused() const;

protected:
    // Settings; TPreviewPlayer publishes them.
    float aspectRatio_ = 0;
    TAudioDriver audioDriver_ = adDefault;
    std::atomic<int> audioVolume_{128};
    bool disableAudio_ = false;
    bool disableVideo_ = false;
    bool disableDisplay_ = false;
    std::atomic<bool> mute_{false};
    int frameWidth_ = 0, frameHeight_ = 0;
    std::atomic<bool> hook_{false};
    int screenWidth_ = 0, screenHeight_ = 0;
    bool triggerEventInMainThread_ = true;
    TVideoDriver videoDriver_ = vdDefault;

    void PushEvent(int type, int data = 0);

private:
    friend class TPlayerTestAccess;
    // component
    void ReportError(const std::string& text, bool keep);
    void PostState(TPlayState state);
    void ResetRunState();
    bool StartSDL();
    void QuitSDL();
    void PlayThreadRun();
    void EventThreadRun(std::shared_ptr<std::atomic<bool>> stop);
    void DeliverRecord(const TEventRing::TRecord& record);
    void JoinThreads(bool waitForEventThread);
    void SeekRequest(int64_t pos, int64_t rel, int flags, bool wait);

    // play context (reader, clocks, refresh)
    bool ContextOpen(const QString& fileName, bool paused);
    void ContextClose(PlayContext* ctx);
    void ReaderRun(PlayContext* ctx);
    void RefreshRun(PlayContext* ctx);
    bool StreamOpen(PlayContext* ctx, int index);
    void StreamClose(PlayContext* ctx, int index);
    void TogglePause(PlayContext* ctx);
    void Refresh(PlayContext* ctx, bool advance);
    void UpdatePosition(PlayContext* ctx);
    double AudioClock(PlayContext* ctx);
    double VideoClock(PlayContext* ctx);
    double ExternalClock(PlayContext* ctx);
    double MasterClockOf(PlayContext* ctx);
    double ComputeTargetTime(PlayContext* ctx, double pts);
    int SynchronizeAudio(PlayContext* ctx, int size);

    // output
    bool OpenDisplay(PlayContext* ctx, bool force);
    void AllocatePicture(PlayContext* ctx, int index);
    void VideoRun(PlayContext* ctx);
    void SubtitleRun(PlayContext* ctx);
    int GetVideoFrame(PlayContext* ctx, AVFrame* frame, AVPacket* pkt);
    bool ConfigureGraph(PlayContext* ctx, const AVFrame* frame);
    int QueuePicture(PlayContext* ctx, AVFrame* frame, double pts, int64_t pos);
    void RunHook(PlayContext* ctx, TPictureEntry& entry, double pts);
    // Shows the picture at the read index, or with redraw the one shown last.
    void Display(PlayContext* ctx, bool redraw = false);
    void ShowVisualization(PlayContext* ctx);
    bool AudioOpen(PlayContext* ctx, int channels);
    void AudioClose(PlayContext* ctx);
    static void AudioCallback(void* opaque, uint8_t* stream, int len);
    void FillAudio(PlayContext* ctx, uint8_t* stream, int len);
    int DecodeAudioChunk(PlayContext* ctx, double* pts);
    void ResetConverters();

    std::string lastErrMsg_;
    std::atomic<int64_t> position_{-1};
    std::atomic<TPlayState> state_{psStop};
    TAVProbe probe_;
    QString fileName_;
    TVideoSurface* surface_ = nullptr;

    std::atomic<PlayContext*> ctx_{nullptr};
    std::timed_mutex playerMutex_;
    bool sdlStarted_ = false;
    bool flushReady_ = false;

    // run-time state
    bool surfaceOpen_ = false;
    std::mutex positionMutex_;  // UpdatePosition runs on the play and the video thread
    int64_t lastPostedPosition_ = -1;
    bool positionPosted_ = false;
    std::atomic<bool> stepFlag_{false};
    std::atomic<bool> seeking_{false};

    // synchronisation
    std::mutex eventsMutex_;  // guards the three events below
    std::condition_variable eventsCond_;
    bool seekDone_ = true;
    bool pictureOut_ = true;
    std::atomic<bool> playThreadEnded_{true};
    std::atomic<bool> eventThreadEnded_{true};
    void SetFlag(bool& flag, bool value);
    bool WaitFlag(bool& flag, int timeoutMs);

    // play thread queue
    std::mutex queueMutex_;
    std::condition_variable queueCond_;
    std::deque<std::pair<int, int>> queue_;
    bool WaitEvent(std::pair<int, int>& event);

    TEventRing ring_;
    std::thread playThread_;
    std::thread eventThread_;
    std::atomic<bool> eventTerminated_{false};
    // Set when an event thread is let go while it delivers (Open or Stop from a handler).
    std::shared_ptr<std::atomic<bool>> eventStop_;
    int deliveringEvent_ = 0;

    // picture converters (hook: video decoding thread; grabber: caller's thread; display:
    // play thread)
    Bitmap24 hookBitmap_;
    SwsContext* hookToRGB_ = nullptr;
    SwsContext* hookFromRGB_ = nullptr;
    Bitmap24 grabBitmap_;
    SwsContext* grabSws_ = nullptr;
    SwsContext* displaySws_ = nullptr;
    QImage displayImage_;
    QImage visImage_;
};

class TPreviewPlayer : public TCustomPlayer {
public:
    float AspectRatio() const { return aspectRatio_; }
    void SetAspectRatio(float value);
    TAudioDriver AudioDriver() const { return audioDriver_; }
    void SetAudioDriver(TAudioDriver value) { audioDriver_ = value; }
    int AudioVolume() const { return audioVolume_.load(); }
    void SetAudioVolume(int value) { audioVolume_ = value < 0 ? 0 : (value > 128 ? 128 : value); }
    bool DisableAudio() const { return disableAudio_; }
    void SetDisableAudio(bool value) { disableAudio_ = value; }
    bool DisableVideo() const { return disableVideo_; }
    void SetDisableVideo(bool value) { disableVideo_ = value; }
    bool DisableDisplay() const { return disableDisplay_; }
    void SetDisableDisplay(bool value) { disableDisplay_ = value; }
    bool Mute() const { return mute_.load(); }
    void SetMute(bool value) { mute_ = value; }
    int FrameWidth() const { return frameWidth_; }
    void SetFrameWidth(int value) { frameWidth_ = value; }
    int FrameHeight() const { return frameHeight_; }
    void SetFrameHeight(int value) { frameHeight_ = value; }
    bool Hook() const { return hook_.load(); }
    void SetHook(bool value) { hook_ = value; }
    int ScreenWidth() const { return screenWidth_; }
    void SetScreenWidth(int value) { screenWidth_ = value; }
    int ScreenHeight() const { return screenHeight_; }
    void SetScreenHeight(int value) { screenHeight_ = value; }
    bool TriggerEventInMainThread() const { return triggerEventInMainThread_; }
    void SetTriggerEventInMainThread(bool value) { triggerEventInMainThread_ = value; }
    TVideoDriver VideoDriver() const { return videoDriver_; }
    void SetVideoDriver(TVideoDriver value) { videoDriver_ = value; }
};
