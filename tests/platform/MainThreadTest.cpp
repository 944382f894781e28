// MainThread: calls handed from workers to the main thread (the test main made this
// thread the main thread), waits that keep serving them, and the end of hand-over.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/MainThread.h"

namespace {

using namespace std::chrono_literals;

struct TCustomError {
    int code;
};

TEST(MainThread, KnowsWhichThreadIsTheMainThread) {
    ASSERT_TRUE(MainThread::IsInitialized());
    EXPECT_TRUE(MainThread::IsMainThread());
    bool onWorker = true;
    std::thread([&] { onWorker = MainThread::IsMainThread(); }).join();
    EXPECT_FALSE(onWorker);
}

TEST(MainThread, RunSyncFromSeveralWorkersRunsOnTheMainThreadInOrderAndBlocksTheCaller) {
    constexpr int kWorkers = 4, kCalls = 40;
    const std::thread::id mainId = std::this_thread::get_id();
    std::vector<std::vector<int>> seen(kWorkers);  // touched on the main thread only
    std::atomic<int> offMain{0}, returnedEarly{0}, finished{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&, w] {
            for (int i = 0; i < kCalls; ++i) {
                bool ran = false;
                MainThread::RunSync([&] {
                    if (std::this_thread::get_id() != mainId) ++offMain;
                    if (i == 0) std::this_thread::sleep_for(5ms);  // a slow call still blocks its caller
                    seen[w].push_back(i);
                    ran = true;
                });
                if (!ran) ++returnedEarly;
            }
            ++finished;
        });
    EXPECT_TRUE(MainThread::WaitFor([&] { return finished == kWorkers; }, 30s));
    for (std::thread& t : workers) t.join();
    EXPECT_EQ(offMain.load(), 0);
    EXPECT_EQ(returnedEarly.load(), 0);
    for (int w = 0; w < kWorkers; ++w) {
        std::vector<int> expected(kCalls);
        for (int i = 0; i < kCalls; ++i) expected[i] = i;
        EXPECT_EQ(seen[w], expected) << "worker " << w;
    }
}

TEST(MainThread, ExceptionsAreRethrownInTheCaller) {
    std::string message;
    int code = 0;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            MainThread::RunSync([] { throw std::runtime_error("no such codec"); });
        } catch (const std::runtime_error& e) {
            message = e.what();
        }
        try {
            MainThread::RunSync([] { throw TCustomError{42}; });
        } catch (const TCustomError& e) {
            code = e.code;
        }
        // The main thread goes on serving calls after a failed one.
        MainThread::RunSync([] {});
        done = true;
    });
    EXPECT_TRUE(MainThread::WaitFor([&] { return done.load(); }, 10s));
    worker.join();
    EXPECT_EQ(message, "no such codec");
    EXPECT_EQ(code, 42);

    // On the main thread the function runs at once and its exception passes straight on.
    EXPECT_THROW(MainThread::RunSync([] { throw TCustomError{1}; }), TCustomError);
}

TEST(MainThread, RunSyncOnTheMainThreadRunsAtOnce) {
    bool ran = false;
    MainThread::RunSync([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(MainThread::ProcessPending(), 0);
}

TEST(MainThread, WaitForOnTheMainThreadServesCallsOfTheWorkerItWaitsFor) {
    // The worker needs the main thread twice before it finishes; the main thread only
    // waits. A nested wait inside a served call keeps serving too.
    std::atomic<bool> done{false}, second{false};
    std::thread helper;
    std::thread worker([&] {
        MainThread::RunSync([&] {
            helper = std::thread([&] {
                MainThread::RunSync([&] { second = true; });
            });
            EXPECT_TRUE(MainThread::WaitFor([&] { return second.load(); }, 10s));
        });
        MainThread::RunSync([] {});
        done = true;
    });
    EXPECT_TRUE(MainThread::WaitFor([&] { return done.load(); }, 10s));
    worker.join();
    helper.join();
    EXPECT_TRUE(second);
}

TEST(MainThread, RunAsyncIsServedLaterInTheOrderQueued) {
    std::vector<int> order;  // main thread only
    std::atomic<bool> done{false};
    std::thread worker([&] {
        MainThread::RunAsync([&] { order.push_back(1); });
        MainThread::RunAsync([&] { order.push_back(2); });
        MainThread::RunSync([&] { order.push_back(3); });
        done = true;
    });
    EXPECT_TRUE(MainThread::WaitFor([&] { return done.load(); }, 10s));
    worker.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

    // A call queued from the main thread waits for the next pump.
    bool ran = false;
    MainThread::RunAsync([&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_EQ(MainThread::ProcessPending(), 1);
    EXPECT_TRUE(ran);
    // Only the main thread serves the queue.
    MainThread::RunAsync([&] { ran = false; });
    int servedByWorker = -1;
    std::thread([&] { servedByWorker = MainThread::ProcessPending(); }).join();
    EXPECT_EQ(servedByWorker, 0);
    EXPECT_TRUE(ran);
    MainThread::Pump();
    EXPECT_FALSE(ran);
}

TEST(MainThread, WaitForTimesOutAndHandlesEdgeTimeouts) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MainThread::WaitFor([] { return false; }, 50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    EXPECT_TRUE(MainThread::WaitFor([] { return true; }, 0ms));
    EXPECT_FALSE(MainThread::WaitFor([] { return false; }, 0ms));

    // The longest timeout there is still waits for the condition (and does not overflow
    // into "already passed").
    std::atomic<bool> flag{false};
    std::thread setter([&] {
        std::this_thread::sleep_for(30ms);
        flag = true;
    });
    EXPECT_TRUE(MainThread::WaitFor([&] { return flag.load(); }, std::chrono::milliseconds::max()));
    setter.join();

    // On a worker WaitFor polls, and a negative sleep returns at once.
    std::atomic<bool> workerDone{false};
    bool workerWaited = false;
    std::thread worker([&] {
        auto later = std::make_shared<std::atomic<bool>>(false);
        std::thread([later] {
            std::this_thread::sleep_for(20ms);
            *later = true;
        }).detach();
        workerWaited = MainThread::WaitFor([&] { return later->load(); }, 5s);
        MainThread::Sleep(-5ms);
        workerDone = true;
    });
    const bool finished = MainThread::WaitFor([&] { return workerDone.load(); }, 10s);
    EXPECT_TRUE(finished);
    if (finished) worker.join();
    else worker.detach();
    EXPECT_TRUE(workerWaited);

    start = std::chrono::steady_clock::now();
    MainThread::Sleep(-1ms);
    MainThread::Sleep(0ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(MainThread, AfterShutdownRunSyncRunsInlineAndWaitingWorkersAreReleased) {
    // A worker that is waiting in RunSync when hand-over ends is not left hanging: its call
    // runs once, on whichever side takes it, without the main thread pumping again.
    std::atomic<bool> about{false}, returned{false};
    std::atomic<int> runs{0};
    std::thread waiting([&] {
        about = true;
        MainThread::RunSync([&] { ++runs; });
        returned = true;
    });
    while (!about) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(30ms);
    MainThread::Shutdown();
    for (int i = 0; i < 500 && !returned; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(returned);
    if (returned) waiting.join();
    else waiting.detach();
    EXPECT_EQ(runs.load(), 1);

    // After Shutdown calls run on the caller's thread.
    std::thread::id ranOn, workerId;
    std::thread worker([&] {
        workerId = std::this_thread::get_id();
        MainThread::RunSync([&] { ranOn = std::this_thread::get_id(); });
    });
    worker.join();
    EXPECT_EQ(ranOn, workerId);

    MainThread::Init();  // the other tests need the hand-over again
    EXPECT_TRUE(MainThread::IsMainThread());
}

}  // namespace
