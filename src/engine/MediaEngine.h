#pragma once
// The conversion engine component: a list of conversion tasks, their start on worker
// threads (or in the caller), and four events for progress, preview pictures, a per-frame
// picture hook and the end of every task and of the whole run.
//
// Every method is called on the main thread. AddTask, SetOutputFile, RemoveTask and
// StartTask are refused from StartTask until ClearTasks ("Cannot %s while working.").
//
// Threads of the events:
// - OnProgress and OnPreviewBitmap: handed to the main thread synchronously when
//   TriggerEventInMainThread is set (the worker waits for the handler), else on the worker;
// - OnCustomHook: always on the worker, with the bitmap's canvas locked;
// - OnTerminate: threaded runs deliver it on a short-lived thread of its own (the worker
//   does not wait for the handler; the deliveries keep their order); runs without threads
//   call it directly. A handler that touches windows hands over to the main thread itself.
//
// Run states: idle -> StartTask -> working -> every task ended -> all done (the final
// OnTerminate with TaskIndex -1) -> ClearTasks -> idle.

#include "engine/ConvertTask.h"
#include "engine/EngineOptions.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

class Bitmap24;
class TAVProbe;

// A call the engine refuses in its current state ("Cannot %s while working.").
class EMediaEngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TTerminateInfo {
    int TaskIndex = -1;     // the task that ended; -1 in the final event
    bool Finished = false;  // ran to its end (True in the final event)
    bool Exception = false; // ended by an error
    std::string ExceptionMsg;
};

// The host may write Update and StopHook.
struct THookInfo {
    int TaskIndex = -1;
    Bitmap24* Bitmap = nullptr;  // the decoded frame (before cropping and scaling)
    int FrameNumber = 0;         // counted from 1
    int64_t PTS = 0;             // microseconds
    bool Update = true;          // copy the bitmap back into the frame
    bool StopHook = false;       // no more hook calls for this task
};
using PHookInfo = THookInfo*;

struct TPreviewInfo {
    int TaskIndex = -1;
    Bitmap24* Bitmap = nullptr;  // the picture at the output size
    int FrameNumber = 0;
    int64_t PTS = 0;  // microseconds
};

struct TProgressInfo {
    int TaskIndex = -1;
    int FileIndex = -1;
    int FrameNumber = -1;
    int FPS = -1;
    float Quality = -1.0f;
    float BitRate = 0.0f;
    int64_t TotalSize = 0;
    int64_t CurrentDuration = 0;
    int64_t TotalDuration = -1;
};
using PProgressInfo = TProgressInfo*;

class TCustomMediaEngine;
using TCustomHookEvent = std::function<void(TCustomMediaEngine* Sender, PHookInfo AHookInfo)>;
using TPreviewBitmapEvent = std::function<void(TCustomMediaEngine* Sender, const TPreviewInfo& APreviewInfo)>;
using TProgressEvent = std::function<void(TCustomMediaEngine* Sender, PProgressInfo AProgressInfo)>;
using TTerminateEvent = std::function<void(TCustomMediaEngine* Sender, const TTerminateInfo& ATerminateInfo)>;

// The tasks of one engine in index order; removing or clearing frees the tasks (each
// stops and waits for its worker first).
class TConvertTaskList {
public:
    TConvertTaskList() = default;
    ~TConvertTaskList() { Clear(); }
    TConvertTaskList(const TConvertTaskList&) = delete;
    TConvertTaskList& operator=(const TConvertTaskList&) = delete;

    int Count() const { return int(m_items.size()); }
    TConvertTask* operator[](int index) const { return m_items.at(size_t(index)).get(); }
    int Add(std::unique_ptr<TConvertTask> task);
    void Delete(int index);
    void Clear();
    // Hands every task over, leaving the list empty.
    std::vector<std::unique_ptr<TConvertTask>> TakeAll();
    static void Free(std::unique_ptr<TConvertTask> task);

private:
    std::vector<std::unique_ptr<TConvertTask>> m_items;
};

// A component base with nothing of its own.
class TBaseComponent {
public:
    virtual ~TBaseComponent() = default;
};

class TCustomMediaEngine : public TBaseComponent {
public:
    static constexpr int kMaxOutputs = kMaxTaskFiles;

    TCustomMediaEngine();
    ~TCustomMediaEngine() override;
    TCustomMediaEngine(const TCustomMediaEngine&) = delete;
    TCustomMediaEngine& operator=(const TCustomMediaEngine&) = delete;

    // Loads the engine's library set, looking in folder first. False with LastErrMsg.
    bool LoadAVLib(const QString& folder);
    // Adds a task with one input; its index, or -1 with LastErrMsg.
    int AddTask(const QString& fileName, const TInputOptions* options = nullptr);
    // Adds an output to a task; false with LastErrMsg.
    bool SetOutputFile(int taskIndex, const QString& fileName, const TOutputOptions* options = nullptr);
    void RemoveTask(int taskIndex);
    void ClearTasks();
    int TaskCount() const { return m_tasks.Count(); }
    TConvertTask* Task(int taskIndex) const;
    TAVProbe* InputProbe(int taskIndex, int inputIndex);
    // Thread count above 0: at most that many tasks at once on worker threads, returns at
    // once. 0 or below: every task runs in this call, which returns after the final event.
    void StartTask(int threadCount);
    // Makes every task of the run end (running ones stop; tasks not yet started end
    // unstarted). Does nothing when no run has been started.
    void StopConvert(bool wait);
    // Holds every running worker at its pause gate; ResumeConvert lets them go on.
    void PauseConvert();
    void ResumeConvert();

    const std::string& LastErrMsg() const { return m_lastErrMsg; }
    TAVProbe& AVProbe() { return *m_avProbe; }
    bool Working() const { return m_working.load(); }
    bool AllDone() const { return m_allDone.load(); }

protected:
    // Entry points through which a running task calls back into the component.
    virtual void DoCustomHook(TCustomConvertTask& task, Bitmap24& bitmap, bool& stopHook, bool& update,
                              int64_t pts, int frameNumber);
    virtual void DoPreviewBitmap(TCustomConvertTask& task, Bitmap24& bitmap, int frameNumber, int64_t pts);
    virtual void DoProgress(TCustomConvertTask& task, const TProgressValues& values);
    // A task ended (task) or, with null, every task ended.
    virtual void DoTerminate(TCustomConvertTask* task);
    // Makes a new task for AddTask.
    virtual std::unique_ptr<TConvertTask> CreateTask();

    // Properties; TMediaEngine publishes them.
    const std::string& About() const { return m_about; }
    void SetAbout(const std::string& about) { m_about = about; }
    std::string Version() const { return "3.3"; }
    bool Preview() const { return m_preview; }
    void SetPreview(bool preview);
    bool PreviewBitmap() const { return m_previewBitmap; }
    void SetPreviewBitmap(bool previewBitmap);
    // Milliseconds; values up to 100 are stored as 100.
    int ProgressInterval() const { return m_progressInterval; }
    void SetProgressInterval(int ms) { m_progressInterval = ms <= 100 ? 100 : ms; }
    TThreadPriority ThreadPriority() const { return m_threadPriority; }
    void SetThreadPriority(TThreadPriority priority) { m_threadPriority = priority; }
    bool TriggerEventInMainThread() const { return m_triggerEventInMainThread; }
    void SetTriggerEventInMainThread(bool value) { m_triggerEventInMainThread = value; }
    // Codec threads per encoder and decoder of a task; 0 = one per processor core.
    int CodecThreads() const { return m_codecThreads; }
    void SetCodecThreads(int count) { m_codecThreads = count < 0 ? 0 : count; }

    TCustomHookEvent OnCustomHook;
    TPreviewBitmapEvent OnPreviewBitmap;
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;

private:
    class TDoTerminateThread;

    void RefuseWhileWorking(const char* method) const;
    void StartNext();
    int PreviewFlagBits() const { return (m_preview ? 1 : 0) | (m_previewBitmap ? 2 : 0); }
    void DeliverTerminate(const TTerminateInfo& info, bool isFinal);
    void WaitForDeliveries();
    void BindTask(TConvertTask& task);

    std::string m_about;
    bool m_preview = false;
    bool m_previewBitmap = false;
    int m_progressInterval = 500;
    TThreadPriority m_threadPriority = tpNormal;
    bool m_triggerEventInMainThread = true;
    int m_codecThreads = 1;

    std::string m_lastErrMsg;
    std::unique_ptr<TAVProbe> m_avProbe;
    TConvertTaskList m_tasks;

    // Event records, reused for every event, each under its delivery lock.
    TProgressInfo m_progressInfo;
    THookInfo m_hookInfo;
    TPreviewInfo m_previewInfo;
    TTerminateInfo m_terminateInfo;
    std::mutex m_hookLock;
    std::mutex m_previewLock;
    std::mutex m_progressLock;
    // Recursive: a task that fails in Start ends inside the delivery of an earlier end.
    std::recursive_mutex m_terminateLock;

    // Run state, under m_runLock.
    mutable std::mutex m_runLock;
    int m_finishedCount = 0;
    int m_nextTask = -1;
    int m_remaining = 0;
    std::atomic<bool> m_allDone{false};
    std::atomic<bool> m_threaded{false};
    std::atomic<bool> m_working{false};
    std::atomic<bool> m_destroying{false};
    // The final OnTerminate has returned (or there was no handler to call).
    std::atomic<bool> m_finalDelivered{false};
    // Depth of runs without threads inside StartTask, and the tasks that ClearTasks took
    // away during such a run; freed when the run returns. Under m_runLock.
    int m_runDepth = 0;
    std::vector<std::unique_ptr<TConvertTask>> m_retired;

    // Ordered OnTerminate deliveries of threaded runs.
    std::mutex m_deliveryLock;
    std::condition_variable m_deliveryTurn;
    uint64_t m_deliveriesIssued = 0;
    uint64_t m_deliveriesDone = 0;
};

// The engine as the host uses it: publishes the properties and events.
class TMediaEngine : public TCustomMediaEngine {
public:
    using TCustomMediaEngine::About;
    using TCustomMediaEngine::SetAbout;
    using TCustomMediaEngine::Version;
    using TCustomMediaEngine::Preview;
    using TCustomMediaEngine::SetPreview;
    using TCustomMediaEngine::PreviewBitmap;
    using TCustomMediaEngine::SetPreviewBitmap;
    using TCustomMediaEngine::ProgressInterval;
    using TCustomMediaEngine::SetProgressInterval;
    using TCustomMediaEngine::ThreadPriority;
    using TCustomMediaEngine::SetThreadPriority;
    using TCustomMediaEngine::TriggerEventInMainThread;
    using TCustomMediaEngine::SetTriggerEventInMainThread;
    using TCustomMediaEngine::CodecThreads;
    using TCustomMediaEngine::SetCodecThreads;
    using TCustomMediaEngine::OnCustomHook;
    using TCustomMediaEngine::OnPreviewBitmap;
    using TCustomMediaEngine::OnProgress;
    using TCustomMediaEngine::OnTerminate;
};
