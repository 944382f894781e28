#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace MainThread {
namespace {

struct TCall {
    std::function<void()> fn;
    bool sync = false;
    bool done = false;
    std::exception_ptr error;
};

struct TState {
    std::mutex lock;
    std::condition_variable changed;  // a call finished, or a new call was queued
    std::deque<std::shared_ptr<TCall>> queue;
    std::thread::id mainId;
    std::atomic<bool> initialized{false};
    std::atomic<bool> shutdown{false};
};

TState& State() {
    static TState state;
    return state;
}

void Wake() {
    // Let a running Qt event loop serve the queue as well.
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [] { ProcessPending(); }, Qt::QueuedConnection);
}

}  // namespace

void Init() {
    TState& s = State();
    s.mainId = std::this_thread::get_id();
    s.shutdown = false;
    s.initialized = true;
}

void Shutdown() {
    TState& s = State();
    {
        // Under the lock, so that a worker between its check and its wait sees the change.
        std::lock_guard<std::mutex> g(s.lock);
        s.shutdown = true;
    }
    s.changed.notify_all();
    if (IsMainThread()) ProcessPending();
}

bool IsInitialized() { return State().initialized; }

bool IsMainThread() {
    TState& s = State();
    return !s.initialized || s.mainId == std::this_thread::get_id();
}

void RunSync(const std::function<void()>& fn) {
    TState& s = State();
    if (IsMainThread() || s.shutdown) {
        fn();
        return;
    }
    auto call = std::make_shared<TCall>();
    call->fn = fn;
    call->sync = true;
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.queue.push_back(call);
    }
    s.changed.notify_all();
    Wake();
    std::unique_lock<std::mutex> g(s.lock);
    while (!call->done) {
        if (s.shutdown) {
            // The main thread no longer serves calls; take ours back and run it here.
            for (auto it = s.queue.begin(); it != s.queue.end(); ++it)
                if (*it == call) {
                    s.queue.erase(it);
                    g.unlock();
                    fn();
                    return;
                }
        }
        s.changed.wait_for(g, std::chrono::milliseconds(50));
    }
    if (call->error) std::rethrow_exception(call->error);
}

void RunAsync(std::function<void()> fn) {
    TState& s = State();
    auto call = std::make_shared<TCall>();
    call->fn = std::move(fn);
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.queue.push_back(call);
    }
    s.changed.notify_all();
    Wake();
}

int ProcessPending() {
    TState& s = State();
    if (!IsMainThread()) return 0;
    int count = 0;
    for (;;) {
        std::shared_ptr<TCall> call;
        {
            std::lock_guard<std::mutex> g(s.lock);
            if (s.queue.empty()) break;
            call = s.queue.front();
            s.queue.pop_front();
        }
        try {
            call->fn();
        } catch (const std::exception& e) {
            if (call->sync) call->error = std::current_exception();
            else qWarning("A call handed to the main thread failed: %s", e.what());
        } catch (...) {
            if (call->sync) call->error = std::current_exception();
            else qWarning("A call handed to the main thread failed");
        }
        {
            std::lock_guard<std::mutex> g(s.lock);
            call->done = true;
        }
        s.changed.notify_all();
        ++count;
    }
    return count;
}

void Pump() {
    ProcessPending();
    if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    // A timeout so long that the deadline would overflow the clock counts as no timeout.
    const bool unbounded = timeout.count() < 0 || timeout > std::chrono::hours(24 * 365 * 100);
    const auto deadline = unbounded ? Clock::time_point::max() : Clock::now() + timeout;
    const bool onMain = IsMainThread();
    TState& s = State();
    for (;;) {
        if (onMain) Pump();
        if (done()) return true;
        if (!unbounded && Clock::now() >= deadline) return done();
        // Sleep at most one slice, waking early when a call is queued.
        std::unique_lock<std::mutex> g(s.lock);
        auto slice = std::chrono::milliseconds(10);
        if (!unbounded) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left < slice) slice = left.count() > 0 ? left : std::chrono::milliseconds(1);
        }
        if (onMain)
            s.changed.wait_for(g, slice, [&] { return !s.queue.empty(); });
        else
            s.changed.wait_for(g, slice);
    }
}

void Sleep(std::chrono::milliseconds time) {
    // A negative time would mean "wait for ever" to WaitFor.
    if (time.count() < 0) time = std::chrono::milliseconds(0);
    WaitFor([] { return false; }, time);
}

}  // namespace MainThread
