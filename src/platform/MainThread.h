#pragma once
// Hand-over of work to the main thread. A worker thread calls RunSync and waits until the
// main thread has run the function; the main thread runs pending calls from its Qt event
// loop, or while it waits in WaitFor (a wait that keeps serving pending calls and events).
//
// Rule: the main thread never blocks on a worker without WaitFor, or the worker's RunSync
// would wait for ever.

#include <chrono>
#include <functional>

namespace MainThread {

// Makes the calling thread the main thread. Called once at program start.
void Init();
// Ends hand-over: from now on RunSync runs the function on the calling thread.
void Shutdown();
bool IsInitialized();
// True on the main thread; also true everywhere when Init was never called.
bool IsMainThread();

// Runs fn on the main thread and waits for it; on the main thread fn runs at once.
// An exception thrown by fn is rethrown to the caller.
void RunSync(const std::function<void()>& fn);
// Queues fn for the main thread and returns at once.
void RunAsync(std::function<void()> fn);

// Main thread only: runs every call queued so far; returns how many ran.
int ProcessPending();
// Main thread only: runs pending calls and the Qt events queued so far.
void Pump();
// Main thread: waits until done() is true or the timeout passes, pumping in slices of at
// most 10 ms. Other threads: plain polling wait. Returns done().
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(-1));
// Main thread: sleeps for the given time while pumping.
void Sleep(std::chrono::milliseconds time);

}  // namespace MainThread
