#include "engine/ConvertTask.h"

#include "engine/MediaLogger.h"
#include "media/AVProbe.h"
#include "platform/MainThread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <exception>
#include <system_error>

// ---- Thread priority ----

bool ApplyThreadPriority(TThreadPriority priority) {
    const pthread_t self = pthread_self();
    sched_param param{};
    param.sched_priority = 0;
    if (priority == tpIdle) return pthread_setschedparam(self, SCHED_IDLE, &param) == 0;
    // A thread created by an idle thread inherits its policy; leave it first.
    int policy = SCHED_OTHER;
    sched_param current{};
    if (pthread_getschedparam(self, &policy, &current) == 0 && policy == SCHED_IDLE)
        pthread_setschedparam(self, SCHED_OTHER, &param);
    int nice = 0;
    switch (priority) {
    case tpLowest: nice = 10; break;
    case tpLower: nice = 5; break;
    case tpHigher: nice = -5; break;
    case tpHighest: nice = -10; break;
    case tpTimeCritical: nice = -15; break;
    default: nice = 0; break;
    }
    // On Linux the nice value belongs to the thread (its kernel task id).
    return setpriority(PRIO_PROCESS, id_t(gettid()), nice) == 0;
}

// ---- TTaskEvent ----

void TTaskEvent::Set() {
    std::lock_guard<std::mutex> g(m_lock);
    m_set = true;
    m_changed.notify_all();
}

void TTaskEvent::Reset() {
    std::lock_guard<std::mutex> g(m_lock);
    m_set = false;
}

bool TTaskEvent::IsSet() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_set;
}

bool TTaskEvent::Wait(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> g(m_lock);
    if (timeout.count() < 0) {
        m_changed.wait(g, [this] { return m_set; });
        return true;
    }
    return m_changed.wait_for(g, timeout, [this] { return m_set; });
}

// ---- TPauseGate ----

void TPauseGate::Close() {
    std::lock_guard<std::mutex> g(m_lock);
    m_closed = true;
}

void TPauseGate::Open() {
    std::lock_guard<std::mutex> g(m_lock);
    m_closed = false;
    m_opened.notify_all();
}

bool TPauseGate::IsClosed() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_closed;
}

void TPauseGate::Pass() {
    std::unique_lock<std::mutex> g(m_lock);
    m_opened.wait(g, [this] { return !m_closed; });
}

// ---- TCustomConvertTask ----

namespace {

std::mutex& PreviewFlagsLock() {
    static std::mutex lock;
    return lock;
}

const char* const kNoOutput = "At least one output file must be specified";
const char* const kNoInput = "At least one input file must be specified";

}  // namespace

// Ends a task that was stopped before it ever started, on a thread of its own, and sets
// the task's terminator-done event. Frees itself.
class TCustomConvertTask::TDoTerminateThread {
public:
    static void Launch(TCustomConvertTask& task) {
        std::shared_ptr<TTaskEvent> done = task.m_terminatorDone;
        try {
            std::thread([&task, done] {
                Execute(task);
                done->Set();
            }).detach();
        } catch (const std::system_error&) {
            // No thread to be had: end the task here.
            Execute(task);
            done->Set();
        }
    }

private:
    static void Execute(TCustomConvertTask& task) {
        try {
            task.Finish();
        } catch (const std::exception& e) {
            MediaLogger().Log(&task, llQuiet, e.what());
        } catch (...) {
        }
    }
};

TCustomConvertTask::TCustomConvertTask() = default;

TCustomConvertTask::~TCustomConvertTask() { StopAndWait(); }

void TCustomConvertTask::Reset() {}

bool TCustomConvertTask::OpenInput(const TInputOptions&) {
    SetErrorText("opening input files is not available");
    return false;
}

bool TCustomConvertTask::OpenOutput(const TOutputOptions&) {
    SetErrorText("opening output files is not available");
    return false;
}

AVFormatContext* TCustomConvertTask::InputContext(int) const { return nullptr; }

bool TCustomConvertTask::AddInput(const TInputOptions& options) {
    if (m_inputCount >= kMaxTaskFiles) {
        SetErrorText("max input files reached");
        return false;
    }
    if (!OpenInput(options)) return false;
    ++m_inputCount;
    return true;
}

bool TCustomConvertTask::AddOutput(const TOutputOptions& options) {
    if (m_outputCount >= kMaxTaskFiles) {
        SetErrorText("max output files reached");
        return false;
    }
    if (!OpenOutput(options)) return false;
    ++m_outputCount;
    return true;
}

void TCustomConvertTask::Transcode() { throw ConvertException("conversion is not available"); }
void TCustomConvertTask::ReleaseStreams() {}
void TCustomConvertTask::CloseCodecs() {}
void TCustomConvertTask::CloseFiles() {}

int64_t TCustomConvertTask::NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TConvertThread* TCustomConvertTask::Start(bool threaded, TThreadPriority priority) {
    {
        std::lock_guard<std::mutex> g(m_stateLock);
        if (m_state != TState::Idle) return nullptr;
        m_state = TState::Running;
        m_stopRequest = false;
        m_finished = false;
    }
    // The output is checked first.
    if (m_outputCount < 1) {
        End(kNoOutput);
        return nullptr;
    }
    if (m_inputCount < 1) {
        End(kNoInput);
        return nullptr;
    }
    if (threaded) {
        auto* thread = new TConvertThread(*this, priority);
        std::lock_guard<std::mutex> g(m_stateLock);
        m_thread = thread;
        return thread;
    }
    {
        std::lock_guard<std::mutex> g(m_stateLock);
        m_workerId = std::this_thread::get_id();
    }
    Run();
    return nullptr;
}

void TCustomConvertTask::End(const std::string& msg) {
    RecordException(msg);
    Finish();
}

void TCustomConvertTask::RecordException(const std::string& msg) {
    {
        std::lock_guard<std::mutex> g(m_stateLock);
        // The first error is the cause; later steps usually fail because of it.
        if (!m_exception) m_exceptionMsg = msg;
        m_exception = true;
    }
    MediaLogger().Log(this, llQuiet, msg);
}

void TCustomConvertTask::Run() {
    m_timerStart = NowUs();
    m_lastReport = m_timerStart;
    auto guarded = [this](auto&& step) {
        try {
            step();
        } catch (const std::exception& e) {
            RecordException(e.what());
        } catch (...) {
            RecordException("unknown error");
        }
    };
    guarded([this] {
        Transcode();
        // The loop ran to its end unless it was stopped.
        m_finished = !m_stopRequest.load();
    });
    guarded([this] { ReleaseStreams(); });
    guarded([this] { CloseCodecs(); });
    guarded([this] { CloseFiles(); });
    guarded([this] { Finish(); });
}

void TCustomConvertTask::Finish() {
    {
        std::lock_guard<std::mutex> g(m_stateLock);
        m_state = TState::Ended;
        m_thread = nullptr;
        m_workerId = std::thread::id();
    }
    m_gate.Open();
    if (OnEnd) OnEnd(this);
}

void TCustomConvertTask::WaitEvent(std::shared_ptr<TTaskEvent> event) {
    // No pumping when there is nothing to wait for: pumping runs other pending calls.
    if (event->IsSet()) return;
    if (MainThread::IsMainThread())
        MainThread::WaitFor([&event] { return event->IsSet(); });
    else
        event->Wait();
}

void TCustomConvertTask::StopTask(bool wait) {
    std::unique_lock<std::mutex> g(m_stateLock);
    switch (m_state) {
    case TState::Running: {
        m_stopRequest = true;
        m_gate.Open();
        // A worker that stops its own task cannot wait for itself.
        const bool self = m_workerId == std::this_thread::get_id();
        g.unlock();
        if (wait && !self) WaitEvent(m_workerDone);
        break;
    }
    case TState::Idle:
        m_state = TState::Ending;
        m_terminatorDone->Reset();
        g.unlock();
        TDoTerminateThread::Launch(*this);
        if (wait) WaitEvent(m_terminatorDone);
        break;
    case TState::Ending:
        g.unlock();
        if (wait) WaitEvent(m_terminatorDone);
        break;
    case TState::Ended:
        break;
    }
}

void TCustomConvertTask::StopAndWait() {
    std::unique_lock<std::mutex> g(m_stateLock);
    if (m_state == TState::Running) {
        m_stopRequest = true;
        m_gate.Open();
    }
    const bool self = m_workerId == std::this_thread::get_id();
    g.unlock();
    if (!self) WaitEvent(m_workerDone);
    WaitEvent(m_terminatorDone);
}

bool TCustomConvertTask::Suspend() {
    std::lock_guard<std::mutex> g(m_stateLock);
    if (m_state != TState::Running || !m_thread || m_stopRequest || m_gate.IsClosed()) return false;
    m_gate.Close();
    return true;
}

bool TCustomConvertTask::ResumeWorker() {
    std::lock_guard<std::mutex> g(m_stateLock);
    if (!m_gate.IsClosed()) return false;
    m_gate.Open();
    return true;
}

bool TCustomConvertTask::CheckPauseAndStop() {
    if (!m_stopRequest) m_gate.Pass();
    return m_stopRequest;
}

bool TCustomConvertTask::ProgressDue() {
    const int64_t now = NowUs();
    if (now - m_lastReport <= ProgressIntervalUs) return false;
    m_lastReport = now;
    return true;
}

void TCustomConvertTask::ReportProgress(const TProgressValues& values) {
    if (ProgressDue()) DeliverProgress(values);
}

void TCustomConvertTask::DeliverProgress(const TProgressValues& values) {
    if (OnProgress) OnProgress(*this, values);
}

void TCustomConvertTask::CustomHook(Bitmap24& bitmap, bool& stopHook, bool& update, int64_t pts,
                                    int frameNumber) {
    if (m_onHook) m_onHook(*this, bitmap, stopHook, update, pts, frameNumber);
}

void TCustomConvertTask::PreviewBitmap(Bitmap24& bitmap, int frameNumber, int64_t pts) {
    if ((PreviewFlags() & 2) && OnPreview) OnPreview(*this, bitmap, frameNumber, pts);
}

int TCustomConvertTask::PreviewFlags() const {
    std::lock_guard<std::mutex> g(PreviewFlagsLock());
    return m_previewFlags;
}

void TCustomConvertTask::SetPreviewFlags(int flags) {
    std::lock_guard<std::mutex> g(PreviewFlagsLock());
    m_previewFlags = flags & 3;
}

bool TCustomConvertTask::Running() const {
    std::lock_guard<std::mutex> g(m_stateLock);
    return m_state == TState::Running;
}

bool TCustomConvertTask::Ended() const {
    std::lock_guard<std::mutex> g(m_stateLock);
    return m_state == TState::Ended;
}

bool TCustomConvertTask::HasWorker() const {
    std::lock_guard<std::mutex> g(m_stateLock);
    return m_thread != nullptr;
}

std::string TCustomConvertTask::ExceptionMsg() const {
    std::lock_guard<std::mutex> g(m_stateLock);
    return m_exceptionMsg;
}

// ---- TConvertTask ----

TConvertTask::TConvertTask() = default;

TConvertTask::~TConvertTask() {
    // The probes describe contexts the task owns; stop using them before anything closes.
    StopAndWait();
    for (auto& probe : m_probes) probe.reset();
}

TAVProbe* TConvertTask::InputProbe(int index) {
    if (index < 0 || index >= kMaxTaskFiles) return nullptr;
    auto& probe = m_probes[size_t(index)];
    if (!probe) probe = std::make_unique<TAVProbe>();
    return probe.get();
}

// ---- TConvertThread ----

TConvertThread::TConvertThread(TCustomConvertTask& task, TThreadPriority priority)
    : m_task(task), m_priority(priority), m_done(task.m_workerDone) {
    // Reset here rather than when the thread begins, so that a stop right after the start
    // already waits for the worker.
    m_done->Reset();
}

void TConvertThread::Resume() {
    try {
        std::thread([this] { Execute(); }).detach();
    } catch (const std::system_error& e) {
        // No thread to be had: the task ends with the reason.
        std::shared_ptr<TTaskEvent> done = m_done;
        TCustomConvertTask& task = m_task;
        delete this;
        task.End(std::string("Cannot create a worker thread: ") + e.what());
        done->Set();
    }
}

void TConvertThread::Execute() {
    std::shared_ptr<TTaskEvent> done = m_done;
    {
        std::lock_guard<std::mutex> g(m_task.m_stateLock);
        m_task.m_workerId = std::this_thread::get_id();
    }
    ApplyThreadPriority(m_priority);  // a refused raise leaves the thread as it was
    try {
        m_task.Run();
    } catch (...) {
        // Run guards each of its steps; nothing is left to record here.
    }
    delete this;
    done->Set();
}
