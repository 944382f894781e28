#pragma once
// One conversion task: the complete state of converting the inputs of one task into its
// outputs, and the frame that runs it.
//
// Life of a task: created (by the engine's AddTask, which opens its input), outputs added
// (SetOutputFile), started (Start: on a worker thread of its own or in the caller's thread),
// ended (Finish ran). A task ends exactly once and calls its end callback exactly once: after
// its conversion, after a failed Start, or through StopTask for a task that never started.
//
// The conversion itself is the transcoder's: it fills the virtual seams below (OpenInput,
// OpenOutput, Transcode and the clean-up steps) and uses the loop services (the pause gate
// with the stop request, rate-limited progress, the picture hook and the preview).
//
// Pause: there is no thread suspension on this platform. A paused task's worker stops at the
// pause gate, which the conversion loop passes once per packet (and inside frame
// duplication) through CheckPauseAndStop. The gate is passed outside every lock of the
// engine, so a paused task never holds one of them.

#include "engine/ConvertException.h"
#include "engine/EngineOptions.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class Bitmap24;
class TAVProbe;
struct AVFormatContext;

// Most inputs and outputs of one task, most streams per file.
constexpr int kMaxTaskFiles = 20;
constexpr int kMaxFileStreams = 20;

// Priority of a worker thread. Applied on Linux as: idle = the SCHED_IDLE policy, lowest =
// nice +10, lower = +5, normal = 0, higher = -5, highest = -10, time-critical = -15.
// Raising the priority needs a privilege; when it is refused the thread runs as it was.
enum TThreadPriority : int {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical,
};

// Gives the calling thread the priority; false when the system refused it.
bool ApplyThreadPriority(TThreadPriority priority);

// A manual-reset event: stays set until reset, wakes every waiter when set.
class TTaskEvent {
public:
    explicit TTaskEvent(bool signalled) : m_set(signalled) {}
    void Set();
    void Reset();
    bool IsSet() const;
    // Plain wait (no pumping); a negative timeout waits without limit. Returns IsSet().
    bool Wait(std::chrono::milliseconds timeout = std::chrono::milliseconds(-1)) const;

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    bool m_set;
};

// The gate a worker passes between packets: open lets it through at once, closed holds it
// until opened again.
class TPauseGate {
public:
    void Close();
    void Open();
    bool IsClosed() const;
    // Waits while the gate is closed.
    void Pass();

private:
    mutable std::mutex m_lock;
    std::condition_variable m_opened;
    bool m_closed = false;
};

// The values of one progress report, as the conversion loop computes them.
struct TProgressValues {
    int FileIndex = -1;          // input being read; -1 in the last report of a task
    int64_t TotalDuration = -1;  // expected output length, microseconds; -1 when unknown
    int64_t CurrentDuration = 0; // output time reached, microseconds
    int64_t TotalSize = 0;       // bytes written to the first output so far
    float BitRate = 0.0f;        // kbit/s
    float Quality = -1.0f;       // quantizer of the first video stream; -1 copied or none
    int FPS = -1;                // frames per second; -1 without video
    int FrameNumber = -1;        // frames encoded; -1 without video
};

class TConvertThread;

class TCustomConvertTask {
public:
    using TProgressCallback = std::function<void(TCustomConvertTask& task, const TProgressValues& values)>;
    // Called when the task has ended; with the task that ended.
    using TEndCallback = std::function<void(TCustomConvertTask* task)>;
    using THookCallback = std::function<void(TCustomConvertTask& task, Bitmap24& bitmap, bool& stopHook,
                                             bool& update, int64_t pts, int frameNumber)>;
    using TPreviewCallback = std::function<void(TCustomConvertTask& task, Bitmap24& bitmap, int frameNumber,
                                                int64_t pts)>;

    TCustomConvertTask();
    // Stops a running conversion and waits for it. A derived class whose Transcode uses its
    // own members must call StopAndWait in its own destructor (or its owner before freeing it).
    virtual ~TCustomConvertTask();
    TCustomConvertTask(const TCustomConvertTask&) = delete;
    TCustomConvertTask& operator=(const TCustomConvertTask&) = delete;

    // ---- Set-up (main thread, before the start) ----

    // Puts every transcoder setting back to its default. Called by AddTask when the media
    // libraries are loaded. The task frame itself has no settings to reset.
    virtual void Reset();
    // Applies the options of input number InputCount() and opens it. On failure returns
    // false with ErrorText set (or throws). The transcoder overrides this; the task frame
    // alone cannot open files.
    virtual bool OpenInput(const TInputOptions& options);
    // Applies the options of output number OutputCount() and opens it; as OpenInput.
    virtual bool OpenOutput(const TOutputOptions& options);
    // The opened demuxer context of an input, for the input probe; null when none.
    virtual AVFormatContext* InputContext(int index) const;

    // OpenInput / OpenOutput, counting the file on success.
    bool AddInput(const TInputOptions& options);
    bool AddOutput(const TOutputOptions& options);
    int InputCount() const { return m_inputCount; }
    int OutputCount() const { return m_outputCount; }
    // Text of the last set-up failure.
    const std::string& ErrorText() const { return m_errorText; }

    // ---- The frame ----

    // Threaded: returns the worker, created but not yet running (TConvertThread::Resume
    // starts it). Not threaded: runs the task to its end in the calling thread and returns
    // null. Does nothing (returns null) when the task is running or has ended. A task without
    // output or without input ends at once with an exception text, before Start returns.
    TConvertThread* Start(bool threaded, TThreadPriority priority);
    // Converts, then releases the streams, closes the codecs and the files, then Finish.
    // Each step runs under its own guard: an exception is recorded and the next step runs.
    void Run();
    // Marks the task ended, forgets its worker and calls the end callback.
    void Finish();
    // Running: requests the stop and opens the pause gate; with wait, waits for the worker
    // (pumping when on the main thread). Never started: ends it on a short-lived thread of
    // its own; with wait, waits for that. An ended task is left alone.
    void StopTask(bool wait);
    // Stops a running conversion and waits for it; used before freeing the task.
    void StopAndWait();
    // Closes the pause gate of a task that runs on a worker and was not asked to stop.
    // Returns true when the gate was closed now.
    bool Suspend();
    // Opens the pause gate. Returns true when it was closed.
    bool ResumeWorker();
    bool Suspended() const { return m_gate.IsClosed(); }

    // ---- Services of the conversion loop (worker thread) ----

    // Passes the pause gate (waiting while the task is paused) and returns whether a stop
    // has been requested. Called once per packet and inside frame duplication.
    bool CheckPauseAndStop();
    bool StopRequested() const { return m_stopRequest.load(); }
    // True when more than the progress interval passed since the start of the conversion
    // or the last due report; marks the report as made.
    bool ProgressDue();
    // Delivers the values when a report is due (ProgressDue).
    void ReportProgress(const TProgressValues& values);
    // Delivers the values at once (the last report of a task, or after ProgressDue).
    void DeliverProgress(const TProgressValues& values);
    // Hands a decoded picture to the hook callback; without one the flags stay as they are.
    void CustomHook(Bitmap24& bitmap, bool& stopHook, bool& update, int64_t pts, int frameNumber);
    // Hands a preview picture to the preview callback when preview bit 1 is set.
    void PreviewBitmap(Bitmap24& bitmap, int frameNumber, int64_t pts);
    // Wall clock at the start of the conversion, microseconds of a steady clock.
    int64_t TimerStart() const { return m_timerStart; }
    bool HasHook() const { return bool(m_onHook); }

    // Preview flags: bit 0 paint previews in a floating window, bit 1 raise preview events.
    // Read and written under one process-wide lock.
    int PreviewFlags() const;
    void SetPreviewFlags(int flags);

    // ---- State ----
    bool Running() const;
    bool Ended() const;
    bool Finished() const { return m_finished.load(); }
    bool Exception() const { return m_exception.load(); }
    std::string ExceptionMsg() const;
    bool HasWorker() const;

    // Index of the task in its engine's list.
    int TaskIndex = -1;
    int Verbose = 1;
    // Least time between two progress reports, microseconds.
    int64_t ProgressIntervalUs = 500000;
    // Codec threads for encoders and decoders; 0 = one per processor core.
    int CodecThreads = 1;

    TProgressCallback OnProgress;
    TEndCallback OnEnd;
    TPreviewCallback OnPreview;
    void SetHookCallback(THookCallback hook) { m_onHook = std::move(hook); }

    // Microseconds of the steady clock.
    static int64_t NowUs();

protected:
    // The conversion (set-up and transcode loop). Throws ConvertException on errors; Run
    // records the message and sets Finished to "not stopped" when Transcode returns. The
    // loop calls CheckPauseAndStop once per packet and inside frame duplication (leaving
    // when it returns true), ReportProgress after each processed packet with TimerStart as
    // its wall-clock reference, DeliverProgress for the last report (FileIndex -1),
    // CustomHook for each decoded picture while HasHook() and the host did not stop the
    // hook, and PreviewBitmap for at most one picture per 100 ms. None of these may be
    // called while the loop holds a lock of its own that the host's handlers could need.
    // The task frame alone has no transcoder and fails.
    virtual void Transcode();
    // Clean-up steps after the conversion; the frame alone holds nothing to release.
    virtual void ReleaseStreams();
    virtual void CloseCodecs();
    virtual void CloseFiles();

    void SetErrorText(const std::string& text) { m_errorText = text; }
    void SetFinished(bool finished) { m_finished = finished; }
    // Records an error of a step: Exception set, the first message kept, logged.
    void RecordException(const std::string& msg);

private:
    friend class TConvertThread;
    class TDoTerminateThread;

    enum class TState { Idle, Running, Ending, Ended };
    // Waits for an event: pumping on the main thread, plain elsewhere. Takes its own
    // reference: the task may be freed by another thread once the event is set.
    static void WaitEvent(std::shared_ptr<TTaskEvent> event);
    void End(const std::string& msg);

    mutable std::mutex m_stateLock;
    TState m_state = TState::Idle;
    TConvertThread* m_thread = nullptr;
    std::thread::id m_workerId;
    std::atomic<bool> m_stopRequest{false};
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_exception{false};
    std::string m_exceptionMsg;  // under m_stateLock
    std::string m_errorText;
    int m_inputCount = 0;
    int m_outputCount = 0;
    int m_previewFlags = 0;  // under the process-wide preview lock
    int64_t m_timerStart = 0;
    int64_t m_lastReport = 0;
    THookCallback m_onHook;
    TPauseGate m_gate;
    // Shared with the threads that set them, so that setting never touches a freed task.
    std::shared_ptr<TTaskEvent> m_workerDone = std::make_shared<TTaskEvent>(true);
    std::shared_ptr<TTaskEvent> m_terminatorDone = std::make_shared<TTaskEvent>(true);
};

// The task the engine creates: adds per input a media probe (created on demand) and kept
// copies of the option records of each input and output.
class TConvertTask : public TCustomConvertTask {
public:
    TConvertTask();
    ~TConvertTask() override;

    // Probe of an input, created on first use; null for an index outside 0..19.
    TAVProbe* InputProbe(int index);
    TInputOptions& KeptInputOptions(int index) { return m_inputOptions.at(size_t(index)); }
    TOutputOptions& KeptOutputOptions(int index) { return m_outputOptions.at(size_t(index)); }

private:
    std::array<std::unique_ptr<TAVProbe>, kMaxTaskFiles> m_probes;
    std::array<TInputOptions, kMaxTaskFiles> m_inputOptions;
    std::array<TOutputOptions, kMaxTaskFiles> m_outputOptions;
};

// The worker of one task. Created by Start before the thread runs; Resume starts the
// thread, which applies the priority, runs the task and sets the task's worker-done event
// in every case. The object frees itself when the thread ends.
class TConvertThread {
public:
    TConvertThread(TCustomConvertTask& task, TThreadPriority priority);
    void Resume();

private:
    void Execute();

    TCustomConvertTask& m_task;
    TThreadPriority m_priority;
    std::shared_ptr<TTaskEvent> m_done;
};
