#include "engine/MediaEngine.h"

#include "engine/MediaLibLoader.h"
#include "engine/MediaLogger.h"
#include "media/AVProbe.h"
#include "platform/Bitmap24.h"
#include "platform/Format.h"
#include "platform/MainThread.h"

#include <exception>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace {

// Deliveries running on this thread that a task waits for or that hold a lock a task needs
// (progress, preview, hook, and OnTerminate called directly). A handler that stops the
// engine from inside such a delivery must not wait for the tasks.
thread_local int tDeliveryDepth = 0;

struct TDeliveryScope {
    TDeliveryScope() { ++tDeliveryDepth; }
    ~TDeliveryScope() { --tDeliveryDepth; }
    TDeliveryScope(const TDeliveryScope&) = delete;
    TDeliveryScope& operator=(const TDeliveryScope&) = delete;
};

}  // namespace

// ---- TConvertTaskList ----

int TConvertTaskList::Add(std::unique_ptr<TConvertTask> task) {
    m_items.push_back(std::move(task));
    return int(m_items.size()) - 1;
}

void TConvertTaskList::Delete(int index) {
    std::unique_ptr<TConvertTask> task = std::move(m_items.at(size_t(index)));
    m_items.erase(m_items.begin() + index);
    Free(std::move(task));
}

void TConvertTaskList::Clear() {
    for (auto& task : TakeAll()) Free(std::move(task));
}

std::vector<std::unique_ptr<TConvertTask>> TConvertTaskList::TakeAll() {
    std::vector<std::unique_ptr<TConvertTask>> items;
    items.swap(m_items);
    return items;
}

void TConvertTaskList::Free(std::unique_ptr<TConvertTask> task) {
    if (!task) return;
    task->StopAndWait();
    task.reset();
}

// ---- OnTerminate delivery of threaded runs ----

// Calls the host's OnTerminate handler on a thread of its own with a copy of the record,
// so that the worker does not wait for the handler. Deliveries take turns in the order
// they were issued. Frees itself.
class TCustomMediaEngine::TDoTerminateThread {
public:
    static void Launch(TCustomMediaEngine& engine, const TTerminateInfo& info, uint64_t ticket, bool isFinal) {
        try {
            std::thread([&engine, info, ticket, isFinal] {
                // A thread started by a worker inherits its lowered priority; the host's
                // handler should not wait for an idle processor (a refused raise is ignored).
                ApplyThreadPriority(tpNormal);
                Execute(engine, info, ticket, isFinal);
            }).detach();
        } catch (const std::system_error&) {
            Execute(engine, info, ticket, isFinal);
        }
    }

private:
    static void Execute(TCustomMediaEngine& engine, const TTerminateInfo& info, uint64_t ticket, bool isFinal) {
        {
            std::unique_lock<std::mutex> g(engine.m_deliveryLock);
            engine.m_deliveryTurn.wait(g, [&] { return engine.m_deliveriesDone == ticket; });
        }
        try {
            if (engine.OnTerminate && !engine.m_destroying) engine.OnTerminate(&engine, info);
        } catch (const std::exception& e) {
            MediaLogger().LogFmt(&engine, llError, "Error occurs OnTerminate: %s", e.what());
        } catch (...) {
            MediaLogger().Log(&engine, llError, "Error occurs OnTerminate");
        }
        if (isFinal) engine.m_finalDelivered = true;
        // Last touch of the engine: its destructor waits for this count.
        std::lock_guard<std::mutex> g(engine.m_deliveryLock);
        ++engine.m_deliveriesDone;
        engine.m_deliveryTurn.notify_all();
    }
};

// ---- TCustomMediaEngine ----

TCustomMediaEngine::TCustomMediaEngine() : m_avProbe(std::make_unique<TAVProbe>()) {}

TCustomMediaEngine::~TCustomMediaEngine() {
    // No more events: the host may be half gone. Running tasks stop and are waited for;
    // tasks that never started are simply freed.
    m_destroying = true;
    std::vector<TConvertTask*> tasks;
    {
        std::lock_guard<std::mutex> g(m_runLock);
        m_remaining = 0;
        for (int i = 0; i < m_tasks.Count(); ++i) tasks.push_back(m_tasks[i]);
    }
    for (TConvertTask* task : tasks) task->StopAndWait();
    WaitForDeliveries();
    // A delivery still in progress ends before the records go.
    { std::lock_guard<std::mutex> g(m_hookLock); }
    { std::lock_guard<std::mutex> g(m_previewLock); }
    { std::lock_guard<std::mutex> g(m_progressLock); }
    { std::lock_guard<std::recursive_mutex> g(m_terminateLock); }
    m_tasks.Clear();
    for (auto& task : m_retired) TConvertTaskList::Free(std::move(task));
    m_retired.clear();
    m_avProbe.reset();
}

void TCustomMediaEngine::RefuseWhileWorking(const char* method) const {
    if (m_working) throw EMediaEngineError(Format("Cannot %s while working.", method));
}

bool TCustomMediaEngine::LoadAVLib(const QString& folder) {
    TMediaLibLoader& loader = MediaLibLoader();
    loader.SetLibraryPath(folder.toStdString());
    if (loader.LoadLibs(EngineLibs)) return true;
    m_lastErrMsg = loader.LastErrMsg();
    return false;
}

std::unique_ptr<TConvertTask> TCustomMediaEngine::CreateTask() { return std::make_unique<TConvertTask>(); }

void TCustomMediaEngine::BindTask(TConvertTask& task) {
    task.OnProgress = [this](TCustomConvertTask& t, const TProgressValues& values) { DoProgress(t, values); };
    task.OnEnd = [this](TCustomConvertTask* t) { DoTerminate(t); };
}

int TCustomMediaEngine::AddTask(const QString& fileName, const TInputOptions* options) {
    RefuseWhileWorking("AddTask");
    std::unique_ptr<TConvertTask> task;
    try {
        task = CreateTask();
        if (MediaLibLoader().LibsLoaded(EngineLibs)) task->Reset();
        task->Verbose = 1;
        task->CodecThreads = m_codecThreads;
        task->SetPreviewFlags(PreviewFlagBits());
        task->OnPreview = [this](TCustomConvertTask& t, Bitmap24& bitmap, int frameNumber, int64_t pts) {
            DoPreviewBitmap(t, bitmap, frameNumber, pts);
        };
        TInputOptions input = options ? *options : TInputOptions();
        if (input.FileName.isEmpty()) input.FileName = fileName;
        task->KeptInputOptions(0) = input;
        if (!task->AddInput(input)) {
            m_lastErrMsg = task->ErrorText();
            TConvertTaskList::Free(std::move(task));
            return -1;
        }
        if (AVFormatContext* context = task->InputContext(0)) task->InputProbe(0)->AttachContext(context);
        BindTask(*task);
    } catch (const std::exception& e) {
        m_lastErrMsg = e.what();
        TConvertTaskList::Free(std::move(task));
        return -1;
    }
    std::lock_guard<std::mutex> g(m_runLock);
    task->TaskIndex = m_tasks.Count();
    return m_tasks.Add(std::move(task));
}

bool TCustomMediaEngine::SetOutputFile(int taskIndex, const QString& fileName, const TOutputOptions* options) {
    RefuseWhileWorking("SetOutputFile");
    TConvertTask* task = Task(taskIndex);
    if (!task) {
        m_lastErrMsg = Format("invalid task index %d", taskIndex);
        return false;
    }
    if (task->OutputCount() >= kMaxOutputs) {
        m_lastErrMsg = Format("max output files %d reached", kMaxOutputs);
        return false;
    }
    const int slot = task->OutputCount();
    TOutputOptions output = options ? *options : TOutputOptions();
    if (output.FileName.isEmpty()) output.FileName = fileName;
    task->KeptOutputOptions(slot) = output;
    bool ok = false;
    try {
        ok = task->AddOutput(output);
        if (!ok) m_lastErrMsg = task->ErrorText();
    } catch (const std::exception& e) {
        m_lastErrMsg = e.what();
    }
    if (!ok) {
        task->KeptOutputOptions(slot).Init();
        return false;
    }
    if (output.CustomHook)
        task->SetHookCallback([this](TCustomConvertTask& t, Bitmap24& bitmap, bool& stopHook, bool& update,
                                     int64_t pts, int frameNumber) {
            DoCustomHook(t, bitmap, stopHook, update, pts, frameNumber);
        });
    return true;
}

void TCustomMediaEngine::RemoveTask(int taskIndex) {
    RefuseWhileWorking("RemoveTask");
    if (taskIndex < 0 || taskIndex >= m_tasks.Count())
        throw std::out_of_range(Format("task index %d out of range", taskIndex));
    m_tasks.Delete(taskIndex);
    for (int i = taskIndex; i < m_tasks.Count(); ++i) m_tasks[i]->TaskIndex = i;
}

void TCustomMediaEngine::ClearTasks() {
    if (m_working && !m_allDone) throw EMediaEngineError("Cannot ClearTasks while working.");
    std::vector<std::unique_ptr<TConvertTask>> tasks;
    bool defer = false;
    {
        std::lock_guard<std::mutex> g(m_runLock);
        tasks = m_tasks.TakeAll();
        m_finishedCount = 0;
        m_nextTask = -1;
        m_remaining = 0;
        m_allDone = false;
        m_threaded = false;
        m_working = false;
        // Called from the final event of a run without threads: the run is still on the
        // stack of one of these tasks, so they are freed when the run returns.
        defer = m_runDepth > 0;
        if (defer)
            for (auto& task : tasks) m_retired.push_back(std::move(task));
    }
    m_lastErrMsg.clear();
    if (!defer)
        for (auto& task : tasks) TConvertTaskList::Free(std::move(task));
}

TConvertTask* TCustomMediaEngine::Task(int taskIndex) const {
    if (taskIndex < 0 || taskIndex >= m_tasks.Count()) return nullptr;
    return m_tasks[taskIndex];
}

TAVProbe* TCustomMediaEngine::InputProbe(int taskIndex, int inputIndex) {
    TConvertTask* task = Task(taskIndex);
    return task ? task->InputProbe(inputIndex) : nullptr;
}

void TCustomMediaEngine::StartTask(int threadCount) {
    RefuseWhileWorking("StartTask");
    {
        std::lock_guard<std::mutex> g(m_runLock);
        m_finishedCount = 0;
        m_nextTask = 0;
        m_remaining = m_tasks.Count();
        m_allDone = false;
        m_finalDelivered = false;
        m_threaded = threadCount > 0;
        m_working = true;
    }
    if (m_tasks.Count() == 0) {
        // Nothing to run: the run is over at once.
        DoTerminate(nullptr);
        return;
    }
    if (m_threaded) {
        // Tasks that end at once wait with their end until every first task is started.
        std::lock_guard<std::recursive_mutex> g(m_terminateLock);
        for (int i = 0; i < threadCount; ++i) StartNext();
        return;
    }
    {
        std::lock_guard<std::mutex> g(m_runLock);
        ++m_runDepth;
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> g(m_runLock);
            if (m_remaining <= 0) break;
        }
        StartNext();
    }
    // Tasks stopped before they started end on threads of their own; the run is over
    // when the final event has been delivered.
    if (!m_finalDelivered) MainThread::WaitFor([this] { return m_finalDelivered.load(); });
    std::vector<std::unique_ptr<TConvertTask>> retired;
    {
        std::lock_guard<std::mutex> g(m_runLock);
        if (--m_runDepth == 0) retired.swap(m_retired);
    }
    for (auto& task : retired) TConvertTaskList::Free(std::move(task));
}

void TCustomMediaEngine::StartNext() {
    TConvertTask* task = nullptr;
    {
        std::lock_guard<std::mutex> g(m_runLock);
        if (m_remaining <= 0) return;
        --m_remaining;
        // Taken before the start: a task that ends inside Start starts the one after it.
        task = m_tasks[m_nextTask++];
    }
    task->ProgressIntervalUs = int64_t(m_progressInterval) * 1000;
    task->CodecThreads = m_codecThreads;
    if (m_threaded) {
        if (TConvertThread* thread = task->Start(true, m_threadPriority)) thread->Resume();
    } else {
        task->Start(false, m_threadPriority);
    }
}

void TCustomMediaEngine::StopConvert(bool wait) {
    // Without a run there is nothing to stop; ending the waiting tasks would leave a later
    // run with tasks that can no longer start.
    if (!m_working) return;
    std::vector<TConvertTask*> tasks;
    {
        std::lock_guard<std::mutex> g(m_runLock);
        m_remaining = 0;
        for (int i = 0; i < m_tasks.Count(); ++i) tasks.push_back(m_tasks[i]);
    }
    const bool waitForTasks = wait && tDeliveryDepth == 0;
    for (TConvertTask* task : tasks) task->StopTask(waitForTasks);
}

void TCustomMediaEngine::PauseConvert() {
    for (int i = 0; i < m_tasks.Count(); ++i) m_tasks[i]->Suspend();
}

void TCustomMediaEngine::ResumeConvert() {
    for (int i = 0; i < m_tasks.Count(); ++i) m_tasks[i]->ResumeWorker();
}

void TCustomMediaEngine::SetPreview(bool preview) {
    m_preview = preview;
    for (int i = 0; i < m_tasks.Count(); ++i) m_tasks[i]->SetPreviewFlags(PreviewFlagBits());
}

void TCustomMediaEngine::SetPreviewBitmap(bool previewBitmap) {
    m_previewBitmap = previewBitmap;
    for (int i = 0; i < m_tasks.Count(); ++i) m_tasks[i]->SetPreviewFlags(PreviewFlagBits());
}

void TCustomMediaEngine::DoCustomHook(TCustomConvertTask& task, Bitmap24& bitmap, bool& stopHook, bool& update,
                                      int64_t pts, int frameNumber) {
    if (!OnCustomHook || m_destroying) return;
    std::lock_guard<std::mutex> g(m_hookLock);
    m_hookInfo.TaskIndex = task.TaskIndex;
    m_hookInfo.Bitmap = &bitmap;
    m_hookInfo.FrameNumber = frameNumber;
    m_hookInfo.PTS = pts;
    m_hookInfo.Update = update;
    m_hookInfo.StopHook = stopHook;
    {
        Bitmap24::CanvasLock canvas(bitmap);
        TDeliveryScope scope;
        OnCustomHook(this, &m_hookInfo);
    }
    update = m_hookInfo.Update;
    stopHook = m_hookInfo.StopHook;
}

void TCustomMediaEngine::DoPreviewBitmap(TCustomConvertTask& task, Bitmap24& bitmap, int frameNumber, int64_t pts) {
    if (!OnPreviewBitmap || m_destroying) return;
    std::lock_guard<std::mutex> g(m_previewLock);
    m_previewInfo.TaskIndex = task.TaskIndex;
    m_previewInfo.Bitmap = &bitmap;
    m_previewInfo.FrameNumber = frameNumber;
    m_previewInfo.PTS = pts;
    auto deliver = [this] {
        TDeliveryScope scope;
        OnPreviewBitmap(this, m_previewInfo);
    };
    if (m_triggerEventInMainThread)
        MainThread::RunSync(deliver);
    else
        deliver();
}

void TCustomMediaEngine::DoProgress(TCustomConvertTask& task, const TProgressValues& values) {
    if (!OnProgress || m_destroying) return;
    std::lock_guard<std::mutex> g(m_progressLock);
    m_progressInfo.TaskIndex = task.TaskIndex;
    m_progressInfo.FileIndex = values.FileIndex;
    m_progressInfo.FrameNumber = values.FrameNumber;
    m_progressInfo.FPS = values.FPS;
    m_progressInfo.Quality = values.Quality;
    m_progressInfo.BitRate = values.BitRate;
    m_progressInfo.TotalSize = values.TotalSize;
    m_progressInfo.CurrentDuration = values.CurrentDuration;
    m_progressInfo.TotalDuration = values.TotalDuration;
    auto deliver = [this] {
        TDeliveryScope scope;
        OnProgress(this, &m_progressInfo);
    };
    if (m_triggerEventInMainThread)
        MainThread::RunSync(deliver);
    else
        deliver();
}

void TCustomMediaEngine::DoTerminate(TCustomConvertTask* task) {
    std::lock_guard<std::recursive_mutex> g(m_terminateLock);
    if (task) {
        if (OnTerminate && !m_destroying) {
            m_terminateInfo.TaskIndex = task->TaskIndex;
            m_terminateInfo.Finished = task->Finished();
            m_terminateInfo.Exception = task->Exception();
            m_terminateInfo.ExceptionMsg = task->ExceptionMsg();
            DeliverTerminate(m_terminateInfo, false);
        }
        bool final = false, next = false;
        {
            std::lock_guard<std::mutex> r(m_runLock);
            ++m_finishedCount;
            if (m_remaining < 1)
                final = m_finishedCount >= m_tasks.Count();
            else
                next = m_threaded;
        }
        if (next) StartNext();
        if (!final) return;
    }
    m_allDone = true;
    if (OnTerminate && !m_destroying) {
        m_terminateInfo.TaskIndex = -1;
        m_terminateInfo.Finished = true;
        m_terminateInfo.Exception = false;
        m_terminateInfo.ExceptionMsg.clear();
        DeliverTerminate(m_terminateInfo, true);
    } else {
        m_finalDelivered = true;
    }
}

void TCustomMediaEngine::DeliverTerminate(const TTerminateInfo& info, bool isFinal) {
    if (!m_threaded) {
        try {
            // Called under the terminate lock, which tasks ended by a stop from this handler
            // need: such a stop must not wait for them.
            TDeliveryScope scope;
            OnTerminate(this, info);
        } catch (const std::exception& e) {
            MediaLogger().LogFmt(this, llError, "Error occurs OnTerminate: %s", e.what());
        } catch (...) {
            MediaLogger().Log(this, llError, "Error occurs OnTerminate");
        }
        if (isFinal) m_finalDelivered = true;
        return;
    }
    uint64_t ticket = 0;
    {
        std::lock_guard<std::mutex> g(m_deliveryLock);
        ticket = m_deliveriesIssued++;
    }
    TDoTerminateThread::Launch(*this, info, ticket, isFinal);
}

void TCustomMediaEngine::WaitForDeliveries() {
    auto done = [this] {
        std::lock_guard<std::mutex> g(m_deliveryLock);
        return m_deliveriesDone == m_deliveriesIssued;
    };
    if (MainThread::IsMainThread()) {
        MainThread::WaitFor(done);
    } else {
        std::unique_lock<std::mutex> g(m_deliveryLock);
        m_deliveryTurn.wait(g, [this] { return m_deliveriesDone == m_deliveriesIssued; });
    }
}
