// The engine component and its task frame: the run state machine, the order and threads of
// the events, stop, pause and resume, the refusals while working and the task list rules.
// The tasks here are test tasks whose conversion is a loop of simulated packets that uses
// the same loop services as the transcoder (pause gate and stop request, progress, hook,
// preview).

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <ostream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/MediaEngine.h"
#include "engine/MediaLibLoader.h"
#include "engine/MediaLogger.h"
#include "platform/Bitmap24.h"
#include "platform/MainThread.h"

namespace {

using namespace std::chrono_literals;

// Set on the threads that ran a test task's conversion (thread ids are reused once a thread
// has ended, a thread-local mark is not).
thread_local bool tConverted = false;

// What the test tasks did, in order ("s0" task 0 started converting, "e0" it ended).
class TBoard {
public:
    void Add(const std::string& entry) {
        std::lock_guard<std::mutex> g(m_lock);
        m_log.push_back(entry);
        m_changed.notify_all();
    }
    // Worker side: waits up to the timeout for an entry.
    bool WaitFor(const std::string& entry, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> g(m_lock);
        return m_changed.wait_for(g, timeout, [&] { return Find(entry) >= 0; });
    }
    int Pos(const std::string& entry) {
        std::lock_guard<std::mutex> g(m_lock);
        return Find(entry);
    }
    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> g(m_lock);
        return m_log;
    }

private:
    int Find(const std::string& entry) const {
        auto it = std::find(m_log.begin(), m_log.end(), entry);
        return it == m_log.end() ? -1 : int(it - m_log.begin());
    }
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::string> m_log;
};

struct TPlan {
    int packets = 5;
    std::chrono::milliseconds packetTime{1};
    int throwAt = -1;     // packet whose processing raises
    std::string waitFor;  // board entry awaited (up to 2 s) before the task ends
};

// A task that opens nothing and converts by looping over simulated packets.
class TTestTask : public TConvertTask {
public:
    explicit TTestTask(TBoard& board) : m_board(board) {}
    ~TTestTask() override { StopAndWait(); }

    TPlan plan;
    QString inputName;
    std::atomic<int> packetsDone{0};
    std::atomic<bool> transcodeCalled{false};
    std::atomic<bool> closeFilesCalled{false};
    std::thread::id workerId;
    int niceSeen = 0;
    int policySeen = -1;
    // Flags the hook returned, per call: (update, stopHook).
    std::vector<std::pair<bool, bool>> hookResults;
    int resets = 0;

    void Reset() override { ++resets; }

protected:
    bool OpenInput(const TInputOptions& options) override {
        inputName = options.FileName;
        if (options.FileName == "missing.avi") {
            SetErrorText("cannot open missing.avi");
            return false;
        }
        return true;
    }
    bool OpenOutput(const TOutputOptions& options) override {
        if (options.FileName.startsWith("fail")) {
            SetErrorText("cannot create " + options.FileName.toStdString());
            return false;
        }
        return true;
    }
    void Transcode() override {
        transcodeCalled = true;
        tConverted = true;
        workerId = std::this_thread::get_id();
        niceSeen = getpriority(PRIO_PROCESS, id_t(gettid()));
        policySeen = sched_getscheduler(0);
        m_board.Add("s" + std::to_string(TaskIndex));
        Bitmap24 bitmap(8, 8);
        TProgressValues values;
        values.FileIndex = 0;
        values.TotalDuration = int64_t(plan.packets) * 40000;
        for (int i = 0; i < plan.packets; ++i) {
            if (CheckPauseAndStop()) break;
            std::this_thread::sleep_for(plan.packetTime);
            ++packetsDone;
            if (i == plan.throwAt) throw ConvertException("broken packet");
            const int64_t pts = int64_t(i) * 40000;
            if (HasHook()) {
                bool stopHook = false, update = true;
                CustomHook(bitmap, stopHook, update, pts, i + 1);
                hookResults.emplace_back(update, stopHook);
            }
            PreviewBitmap(bitmap, i + 1, pts);
            values.FrameNumber = i + 1;
            values.CurrentDuration = pts;
            ReportProgress(values);
        }
        if (!plan.waitFor.empty()) m_board.WaitFor(plan.waitFor, 2s);
        values.FileIndex = -1;
        DeliverProgress(values);
        m_board.Add("e" + std::to_string(TaskIndex));
    }
    void CloseFiles() override { closeFilesCalled = true; }

private:
    TBoard& m_board;
};

class TTestEngine : public TMediaEngine {
public:
    explicit TTestEngine(TBoard& board) : m_board(board) {}
    TPlan plan;  // given to every new task
    TTestTask* TestTask(int index) const { return static_cast<TTestTask*>(Task(index)); }

protected:
    std::unique_ptr<TConvertTask> CreateTask() override {
        auto task = std::make_unique<TTestTask>(m_board);
        task->plan = plan;
        return task;
    }

private:
    TBoard& m_board;
};

struct TTerminateRecord {
    TTerminateInfo info;
    std::thread::id thread;
    bool onWorker;
};

class MediaEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine = std::make_unique<TTestEngine>(board);
        engine->OnTerminate = [this](TCustomMediaEngine*, const TTerminateInfo& info) {
            {
                std::lock_guard<std::mutex> g(lock);
                terminated.push_back({info, std::this_thread::get_id(), tConverted});
            }
            if (info.TaskIndex == -1) finalSeen = true;
            if (onTerminate) onTerminate(info);
        };
    }
    void TearDown() override {
        if (engine->Working() && !engine->AllDone()) {
            engine->ResumeConvert();
            engine->StopConvert(true);
        }
        // Deliveries in flight end before the records they touch go.
        MainThread::WaitFor([this] { return !engine->Working() || finalSeen.load(); }, 5s);
        engine.reset();
    }

    int AddTask(const TPlan& plan, int outputs = 1) {
        engine->plan = plan;
        const int index = engine->AddTask("in.avi");
        EXPECT_GE(index, 0) << engine->LastErrMsg();
        for (int i = 0; i < outputs; ++i) EXPECT_TRUE(engine->SetOutputFile(index, "out.avi"));
        return index;
    }
    bool WaitFinal(std::chrono::milliseconds timeout = 5s) {
        return MainThread::WaitFor([this] { return finalSeen.load(); }, timeout);
    }
    std::vector<TTerminateRecord> Terminated() {
        std::lock_guard<std::mutex> g(lock);
        return terminated;
    }
    std::vector<int> TerminatedIndexes() {
        std::vector<int> indexes;
        for (const auto& r : Terminated()) indexes.push_back(r.info.TaskIndex);
        return indexes;
    }

    TBoard board;
    std::unique_ptr<TTestEngine> engine;
    std::mutex lock;
    std::vector<TTerminateRecord> terminated;
    std::atomic<bool> finalSeen{false};
    std::function<void(const TTerminateInfo&)> onTerminate;
    const std::thread::id mainId = std::this_thread::get_id();
};

TEST_F(MediaEngineTest, PropertiesHaveTheirDefaultsAndProgressIntervalIsAtLeast100) {
    EXPECT_EQ(engine->Version(), "3.3");
    EXPECT_EQ(engine->ProgressInterval(), 500);
    EXPECT_EQ(engine->ThreadPriority(), tpNormal);
    EXPECT_TRUE(engine->TriggerEventInMainThread());
    EXPECT_FALSE(engine->Preview());
    EXPECT_FALSE(engine->PreviewBitmap());
    EXPECT_EQ(engine->CodecThreads(), 1);
    const struct {
        int set, expected;
    } cases[] = {{0, 100}, {50, 100}, {100, 100}, {-7, 100}, {101, 101}, {2500, 2500}};
    for (const auto& c : cases) {
        engine->SetProgressInterval(c.set);
        EXPECT_EQ(engine->ProgressInterval(), c.expected) << c.set;
    }
    // The interval reaches each started task in microseconds, and so does CodecThreads.
    engine->SetProgressInterval(250);
    engine->SetCodecThreads(0);
    AddTask(TPlan{});
    engine->StartTask(0);
    EXPECT_EQ(engine->TestTask(0)->ProgressIntervalUs, 250000);
    EXPECT_EQ(engine->TestTask(0)->CodecThreads, 0);
}

TEST_F(MediaEngineTest, OneThreadRunsTheTasksStrictlyOneAfterAnother) {
    for (int i = 0; i < 3; ++i) AddTask(TPlan{});
    engine->StartTask(1);
    ASSERT_TRUE(WaitFinal());
    EXPECT_EQ(board.Log(), (std::vector<std::string>{"s0", "e0", "s1", "e1", "s2", "e2"}));
    EXPECT_EQ(TerminatedIndexes(), (std::vector<int>{0, 1, 2, -1}));
    for (const auto& r : Terminated()) {
        EXPECT_TRUE(r.info.Finished) << r.info.TaskIndex;
        EXPECT_FALSE(r.info.Exception) << r.info.TaskIndex;
        EXPECT_EQ(r.info.ExceptionMsg, "");
        // Each end is delivered on a thread of its own, neither the main thread nor a worker.
        EXPECT_NE(r.thread, mainId);
        EXPECT_FALSE(r.onWorker);
    }
    for (int i = 0; i < 3; ++i) EXPECT_NE(engine->TestTask(i)->workerId, mainId);
}

TEST_F(MediaEngineTest, TwoThreadsRunTwoTasksAtOnceAndTheThirdStartsWhenTheFirstEnds) {
    TPlan first, second;
    first.waitFor = "s1";   // the first does not end before the second started
    second.waitFor = "s2";  // the second does not end before the third started
    AddTask(first);
    AddTask(second);
    AddTask(TPlan{});
    engine->StartTask(2);
    ASSERT_TRUE(WaitFinal());
    EXPECT_LT(board.Pos("s1"), board.Pos("e0")) << "the first two tasks did not run at once";
    EXPECT_LT(board.Pos("e0"), board.Pos("s2")) << "the third task started before the first ended";
    EXPECT_LT(board.Pos("s2"), board.Pos("e1")) << "the third task waited for the second";
    EXPECT_EQ(TerminatedIndexes(), (std::vector<int>{0, 1, 2, -1}));
}

TEST_F(MediaEngineTest, WithoutThreadsStartTaskRunsEverythingAndReturnsAfterTheFinalEvent) {
    std::vector<std::thread::id> progressThreads;
    engine->OnProgress = [&](TCustomMediaEngine*, PProgressInfo) { progressThreads.push_back(std::this_thread::get_id()); };
    for (int i = 0; i < 3; ++i) AddTask(TPlan{});
    engine->StartTask(0);
    EXPECT_TRUE(finalSeen);
    EXPECT_EQ(TerminatedIndexes(), (std::vector<int>{0, 1, 2, -1}));
    for (const auto& r : Terminated()) EXPECT_EQ(r.thread, mainId);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(engine->TestTask(i)->workerId, mainId);
    ASSERT_EQ(progressThreads.size(), 3u);  // the last report of each task
    for (const auto& t : progressThreads) EXPECT_EQ(t, mainId);
}

struct TStopCase {
    int threads;
    bool fromProgressHandler;  // else from the test, once the running tasks converted a little
    std::vector<bool> ran;
};

void PrintTo(const TStopCase& c, std::ostream* os) {
    *os << c.threads << " threads, stop " << (c.fromProgressHandler ? "from the progress handler" : "from the test");
}

class MediaEngineStopTest : public MediaEngineTest, public ::testing::WithParamInterface<TStopCase> {};

TEST_P(MediaEngineStopTest, StopEndsEveryTaskUnfinishedAndThenTheFinalEventArrives) {
    const TStopCase& c = GetParam();
    TPlan longPlan;
    longPlan.packets = 100000;
    for (int i = 0; i < 3; ++i) AddTask(longPlan);
    if (c.fromProgressHandler) {
        engine->SetProgressInterval(100);
        engine->OnProgress = [&](TCustomMediaEngine* sender, PProgressInfo) { sender->StopConvert(true); };
    }
    engine->StartTask(c.threads);
    if (!c.fromProgressHandler) {
        ASSERT_TRUE(MainThread::WaitFor([&] {
            for (int i = 0; i < 3; ++i)
                if (c.ran[size_t(i)] && engine->TestTask(i)->packetsDone < 3) return false;
            return true;
        }, 5s));
        engine->StopConvert(true);
        // The running tasks have ended when StopConvert returns.
        for (int i = 0; i < 3; ++i)
            if (c.ran[size_t(i)]) {
                EXPECT_TRUE(engine->TestTask(i)->Ended()) << i;
            }
    }
    ASSERT_TRUE(WaitFinal());
    auto records = Terminated();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records.back().info.TaskIndex, -1);
    EXPECT_TRUE(records.back().info.Finished);
    std::vector<int> seen;
    for (size_t i = 0; i + 1 < records.size(); ++i) {
        const TTerminateInfo& info = records[i].info;
        seen.push_back(info.TaskIndex);
        EXPECT_FALSE(info.Finished) << info.TaskIndex;
        EXPECT_FALSE(info.Exception) << info.TaskIndex << " " << info.ExceptionMsg;
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(engine->TestTask(i)->transcodeCalled.load(), c.ran[size_t(i)]) << i;
}

INSTANTIATE_TEST_SUITE_P(Runs, MediaEngineStopTest,
                         ::testing::Values(TStopCase{1, false, {true, false, false}},
                                           TStopCase{2, false, {true, true, false}},
                                           TStopCase{1, true, {true, false, false}},
                                           TStopCase{0, true, {true, false, false}}));

TEST_F(MediaEngineTest, TaskWithoutOutputAndFailingTaskEndWithTheirErrorAndTheRunGoesOn) {
    for (int threads : {0, 1}) {
        SCOPED_TRACE(threads);
        TPlan failing;
        failing.throwAt = 2;
        AddTask(TPlan{}, 0);  // no output
        AddTask(failing);
        AddTask(TPlan{});
        engine->StartTask(threads);
        ASSERT_TRUE(WaitFinal());
        auto records = Terminated();
        ASSERT_EQ(records.size(), 4u);
        EXPECT_EQ(records[0].info.TaskIndex, 0);
        EXPECT_TRUE(records[0].info.Exception);
        EXPECT_FALSE(records[0].info.Finished);
        EXPECT_EQ(records[0].info.ExceptionMsg, "At least one output file must be specified");
        EXPECT_FALSE(engine->TestTask(0)->transcodeCalled);
        EXPECT_EQ(records[1].info.TaskIndex, 1);
        EXPECT_TRUE(records[1].info.Exception);
        EXPECT_FALSE(records[1].info.Finished);
        EXPECT_EQ(records[1].info.ExceptionMsg, "broken packet");
        // The clean-up steps still ran after the failed conversion.
        EXPECT_TRUE(engine->TestTask(1)->closeFilesCalled);
        EXPECT_EQ(records[2].info.TaskIndex, 2);
        EXPECT_TRUE(records[2].info.Finished);
        EXPECT_FALSE(records[2].info.Exception);
        EXPECT_EQ(records[3].info.TaskIndex, -1);
        engine->ClearTasks();
        terminated.clear();
        finalSeen = false;
    }
}

TEST_F(MediaEngineTest, OutputsAreLimitedTo20AndFailuresLeaveTheTaskAsItWas) {
    const int index = AddTask(TPlan{}, 0);
    TConvertTask* task = engine->Task(index);
    EXPECT_FALSE(engine->SetOutputFile(index, "fail.avi"));
    EXPECT_EQ(engine->LastErrMsg(), "cannot create fail.avi");
    EXPECT_EQ(task->OutputCount(), 0);
    EXPECT_TRUE(task->KeptOutputOptions(0).FileName.isEmpty());

    TOutputOptions options;
    options.VideoBitrate = 300000;
    ASSERT_TRUE(engine->SetOutputFile(index, "first.avi", &options));
    EXPECT_EQ(task->KeptOutputOptions(0).FileName, "first.avi");
    EXPECT_EQ(task->KeptOutputOptions(0).VideoBitrate, 300000);
    for (int i = 1; i < 20; ++i) ASSERT_TRUE(engine->SetOutputFile(index, "more.avi")) << i;
    EXPECT_EQ(task->OutputCount(), 20);
    EXPECT_FALSE(engine->SetOutputFile(index, "21st.avi"));
    EXPECT_EQ(engine->LastErrMsg(), "max output files 20 reached");
    EXPECT_EQ(task->OutputCount(), 20);

    EXPECT_FALSE(engine->SetOutputFile(5, "x.avi"));
    EXPECT_EQ(engine->AddTask("missing.avi"), -1);
    EXPECT_EQ(engine->LastErrMsg(), "cannot open missing.avi");
    EXPECT_EQ(engine->TaskCount(), 1);

    // An input named in the options wins over the argument.
    TInputOptions input;
    input.FileName = "named.avi";
    const int second = engine->AddTask("argument.avi", &input);
    EXPECT_EQ(engine->TestTask(second)->inputName, "named.avi");
    EXPECT_EQ(engine->TestTask(second)->KeptInputOptions(0).FileName, "named.avi");
    TAVProbe* probe = engine->InputProbe(second, 0);
    EXPECT_NE(probe, nullptr);
    EXPECT_EQ(engine->InputProbe(second, 0), probe);
    EXPECT_EQ(engine->InputProbe(second, 20), nullptr);
    EXPECT_EQ(engine->InputProbe(7, 0), nullptr);
}

TEST_F(MediaEngineTest, WithoutTheTranscoderTheEngineFailsClearly) {
    TMediaEngine plain;
    EXPECT_EQ(plain.AddTask("clip.avi"), -1);
    EXPECT_EQ(plain.LastErrMsg(), "opening input files is not available");
    EXPECT_EQ(plain.TaskCount(), 0);

    // A task that can open its files but has no conversion of its own.
    class TOpeningTask : public TConvertTask {
    protected:
        bool OpenInput(const TInputOptions&) override { return true; }
        bool OpenOutput(const TOutputOptions&) override { return true; }
    };
    class TOpeningEngine : public TMediaEngine {
    protected:
        std::unique_ptr<TConvertTask> CreateTask() override { return std::make_unique<TOpeningTask>(); }
    };
    TOpeningEngine opening;
    std::vector<TTerminateInfo> ends;
    opening.OnTerminate = [&](TCustomMediaEngine*, const TTerminateInfo& info) { ends.push_back(info); };
    ASSERT_EQ(opening.AddTask("clip.avi"), 0);
    ASSERT_TRUE(opening.SetOutputFile(0, "out.avi"));
    opening.StartTask(0);
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_TRUE(ends[0].Exception);
    EXPECT_FALSE(ends[0].Finished);
    EXPECT_EQ(ends[0].ExceptionMsg, "conversion is not available");
}

TEST_F(MediaEngineTest, CallsWhileWorkingAreRefusedUntilClearTasks) {
    EXPECT_EQ(engine->AddTask("missing.avi"), -1);  // leaves a LastErrMsg for ClearTasks to clear
    TPlan longPlan;
    longPlan.packets = 100000;
    AddTask(longPlan);
    AddTask(TPlan{});
    engine->StartTask(1);
    const struct {
        const char* text;
        std::function<void()> call;
    } refused[] = {
        {"Cannot AddTask while working.", [&] { engine->AddTask("in.avi"); }},
        {"Cannot SetOutputFile while working.", [&] { engine->SetOutputFile(0, "out.avi"); }},
        {"Cannot RemoveTask while working.", [&] { engine->RemoveTask(1); }},
        {"Cannot StartTask while working.", [&] { engine->StartTask(1); }},
        {"Cannot ClearTasks while working.", [&] { engine->ClearTasks(); }},
    };
    for (const auto& r : refused) {
        try {
            r.call();
            ADD_FAILURE() << "not refused: " << r.text;
        } catch (const EMediaEngineError& e) {
            EXPECT_STREQ(e.what(), r.text);
        }
    }
    engine->StopConvert(true);
    ASSERT_TRUE(WaitFinal());
    // After the run the list is still in use until it is cleared.
    EXPECT_THROW(engine->AddTask("in.avi"), EMediaEngineError);
    engine->ClearTasks();
    EXPECT_FALSE(engine->Working());
    EXPECT_EQ(engine->TaskCount(), 0);
    EXPECT_EQ(engine->LastErrMsg(), "");
    EXPECT_EQ(AddTask(TPlan{}), 0);
}

TEST_F(MediaEngineTest, RemoveTaskMovesLaterTasksDown) {
    for (const char* name : {"a.avi", "b.avi", "c.avi"}) {
        const int index = engine->AddTask(name);
        ASSERT_TRUE(engine->SetOutputFile(index, "out.avi"));
    }
    engine->RemoveTask(1);
    ASSERT_EQ(engine->TaskCount(), 2);
    EXPECT_EQ(engine->TestTask(1)->inputName, "c.avi");
    engine->StartTask(0);
    EXPECT_EQ(TerminatedIndexes(), (std::vector<int>{0, 1, -1}));
}

TEST_F(MediaEngineTest, ClearTasksFromTheFinalEventIsSafeWithAndWithoutThreads) {
    // Without threads the final event comes while the run is still on the stack.
    onTerminate = [&](const TTerminateInfo& info) {
        if (info.TaskIndex == -1) engine->ClearTasks();
    };
    AddTask(TPlan{});
    AddTask(TPlan{});
    engine->StartTask(0);
    EXPECT_EQ(engine->TaskCount(), 0);
    EXPECT_FALSE(engine->Working());

    // Threaded, the host hands the final event over to the main thread.
    finalSeen = false;
    std::atomic<bool> cleared{false};
    onTerminate = [&](const TTerminateInfo& info) {
        if (info.TaskIndex == -1)
            MainThread::RunAsync([&] {
                engine->ClearTasks();
                cleared = true;
            });
    };
    AddTask(TPlan{});
    AddTask(TPlan{});
    engine->StartTask(1);
    ASSERT_TRUE(MainThread::WaitFor([&] { return cleared.load(); }, 5s));
    EXPECT_EQ(engine->TaskCount(), 0);
    EXPECT_FALSE(engine->Working());
}

TEST_F(MediaEngineTest, StartingAnEmptyListDeliversTheFinalEventAtOnce) {
    for (int threads : {0, 1}) {
        SCOPED_TRACE(threads);
        finalSeen = false;
        terminated.clear();
        engine->StartTask(threads);
        if (threads == 0) {
            EXPECT_TRUE(finalSeen);
        }
        ASSERT_TRUE(WaitFinal());
        EXPECT_EQ(TerminatedIndexes(), (std::vector<int>{-1}));
        EXPECT_TRUE(Terminated()[0].info.Finished);
        EXPECT_TRUE(engine->Working());
        EXPECT_THROW(engine->AddTask("in.avi"), EMediaEngineError);
        engine->ClearTasks();
        EXPECT_FALSE(engine->Working());
    }
}

TEST_F(MediaEngineTest, ProgressAndPreviewGoToTheMainThreadAndTheHookRunsOnTheWorker) {
    for (bool inMain : {true, false}) {
        SCOPED_TRACE(inMain);
        engine->SetTriggerEventInMainThread(inMain);
        engine->SetProgressInterval(100);
        std::mutex seenLock;
        std::vector<std::thread::id> progressThreads, previewThreads, hookThreads;
        std::vector<int> previewFrames;
        std::atomic<int> canvasFree{0};
        engine->OnProgress = [&](TCustomMediaEngine*, PProgressInfo info) {
            std::lock_guard<std::mutex> g(seenLock);
            EXPECT_EQ(info->TaskIndex, 0);
            progressThreads.push_back(std::this_thread::get_id());
        };
        engine->OnPreviewBitmap = [&](TCustomMediaEngine*, const TPreviewInfo& info) {
            std::lock_guard<std::mutex> g(seenLock);
            previewThreads.push_back(std::this_thread::get_id());
            previewFrames.push_back(info.FrameNumber);
        };
        engine->OnCustomHook = [&](TCustomMediaEngine*, PHookInfo info) {
            {
                std::lock_guard<std::mutex> g(seenLock);
                hookThreads.push_back(std::this_thread::get_id());
            }
            // The canvas is locked for the handler: another thread cannot take it.
            std::thread([&] {
                if (info->Bitmap->TryLock()) {
                    ++canvasFree;
                    info->Bitmap->Unlock();
                }
            }).join();
            EXPECT_TRUE(info->Update);
            EXPECT_FALSE(info->StopHook);
            if (info->FrameNumber == 2) info->Update = false;
            if (info->FrameNumber == 3) info->StopHook = true;
        };
        TPlan plan;
        plan.packets = 150;  // long enough for a progress report within the loop
        AddTask(plan, 0);
        TOutputOptions hooked;
        hooked.CustomHook = true;
        ASSERT_TRUE(engine->SetOutputFile(0, "out.avi", &hooked));
        // Setting the flag reaches tasks that exist already.
        engine->SetPreviewBitmap(true);
        engine->StartTask(1);
        ASSERT_TRUE(WaitFinal());
        TTestTask* task = engine->TestTask(0);
        ASSERT_GE(progressThreads.size(), 2u);
        for (const auto& t : progressThreads) EXPECT_EQ(t, inMain ? mainId : task->workerId);
        ASSERT_EQ(previewThreads.size(), 150u);
        for (const auto& t : previewThreads) EXPECT_EQ(t, inMain ? mainId : task->workerId);
        EXPECT_EQ(previewFrames.front(), 1);
        ASSERT_EQ(hookThreads.size(), 150u);
        for (const auto& t : hookThreads) EXPECT_EQ(t, task->workerId);
        EXPECT_EQ(canvasFree, 0);
        EXPECT_EQ(task->hookResults[0], std::make_pair(true, false));
        EXPECT_EQ(task->hookResults[1], std::make_pair(false, false));
        EXPECT_EQ(task->hookResults[2], std::make_pair(true, true));
        engine->ClearTasks();
        engine->SetPreviewBitmap(false);
        finalSeen = false;
    }
}

TEST_F(MediaEngineTest, NoHookWithoutCustomHookAndNoPreviewWithoutPreviewBitmap) {
    std::atomic<int> hooks{0}, previews{0};
    engine->OnCustomHook = [&](TCustomMediaEngine*, PHookInfo) { ++hooks; };
    engine->OnPreviewBitmap = [&](TCustomMediaEngine*, const TPreviewInfo&) { ++previews; };
    AddTask(TPlan{});
    engine->StartTask(1);
    ASSERT_TRUE(WaitFinal());
    EXPECT_EQ(hooks, 0);
    EXPECT_EQ(previews, 0);
    EXPECT_TRUE(engine->TestTask(0)->hookResults.empty());
}

TEST_F(MediaEngineTest, PauseHoldsTheWorkersAndResumeLetsThemGoOn) {
    std::atomic<int> progress{0};
    engine->SetProgressInterval(100);
    engine->OnProgress = [&](TCustomMediaEngine*, PProgressInfo) { ++progress; };
    TPlan longPlan;
    longPlan.packets = 100000;
    AddTask(longPlan);
    AddTask(longPlan);
    AddTask(longPlan);
    engine->StartTask(2);
    TTestTask* a = engine->TestTask(0);
    TTestTask* b = engine->TestTask(1);
    ASSERT_TRUE(MainThread::WaitFor([&] { return a->packetsDone >= 5 && b->packetsDone >= 5 && progress >= 1; }, 5s));
    engine->PauseConvert();
    EXPECT_TRUE(a->Suspended());
    EXPECT_TRUE(b->Suspended());
    EXPECT_FALSE(engine->TestTask(2)->Suspended());  // not started: nothing to hold
    // A packet or a report in progress comes to its end; then nothing moves any more.
    for (int tries = 0; tries < 40; ++tries) {
        const int a0 = a->packetsDone, b0 = b->packetsDone, p0 = progress;
        MainThread::Sleep(50ms);
        if (a->packetsDone == a0 && b->packetsDone == b0 && progress == p0) break;
    }
    const int pa = a->packetsDone, pb = b->packetsDone, pp = progress;
    MainThread::Sleep(350ms);
    EXPECT_EQ(a->packetsDone, pa);
    EXPECT_EQ(b->packetsDone, pb);
    EXPECT_EQ(progress, pp);
    engine->ResumeConvert();
    EXPECT_FALSE(a->Suspended());
    ASSERT_TRUE(MainThread::WaitFor([&] { return a->packetsDone > pa + 5 && b->packetsDone > pb + 5; }, 5s));
    ASSERT_TRUE(MainThread::WaitFor([&] { return progress > pp; }, 5s));
    // A stop while paused lets the paused workers end.
    engine->PauseConvert();
    engine->StopConvert(true);
    EXPECT_TRUE(a->Ended());
    EXPECT_TRUE(b->Ended());
    ASSERT_TRUE(WaitFinal());
    for (const auto& r : Terminated())
        if (r.info.TaskIndex >= 0) {
            EXPECT_FALSE(r.info.Finished);
        }
}

TEST_F(MediaEngineTest, StopPauseAndResumeAtRandomMomentsNeverHang) {
    std::mt19937 random(20261211);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    std::atomic<int> progress{0};
    engine->OnProgress = [&](TCustomMediaEngine*, PProgressInfo) { ++progress; };
    for (int cycle = 0; cycle < 40; ++cycle) {
        SCOPED_TRACE(cycle);
        finalSeen = false;
        terminated.clear();
        engine->SetTriggerEventInMainThread(pick(0, 1) == 1);
        engine->SetProgressInterval(100);
        const int tasks = pick(1, 4);
        for (int i = 0; i < tasks; ++i) {
            TPlan plan;
            plan.packets = pick(1, 60);
            plan.packetTime = std::chrono::milliseconds(pick(0, 2));
            AddTask(plan, pick(0, 5) == 0 ? 0 : 1);
        }
        engine->StartTask(pick(1, 3));
        bool paused = false;
        for (int step = pick(0, 5); step > 0; --step) {
            MainThread::Sleep(std::chrono::milliseconds(pick(0, 15)));
            if (paused)
                engine->ResumeConvert();
            else
                engine->PauseConvert();
            paused = !paused;
        }
        switch (pick(0, 2)) {
        case 0:  // stop, waiting
            engine->StopConvert(true);
            break;
        case 1:  // stop without waiting, maybe while paused
            engine->StopConvert(false);
            break;
        default:  // let the run end
            engine->ResumeConvert();
            break;
        }
        ASSERT_TRUE(WaitFinal()) << "the run did not end";
        auto indexes = TerminatedIndexes();
        ASSERT_EQ(indexes.size(), size_t(tasks) + 1);
        EXPECT_EQ(indexes.back(), -1);
        std::sort(indexes.begin(), indexes.end() - 1);
        for (int i = 0; i < tasks; ++i) EXPECT_EQ(indexes[size_t(i)], i);
        engine->ClearTasks();
    }
}

struct TPriorityCase {
    TThreadPriority priority;
    int nice;
    int policy;
};

TEST_F(MediaEngineTest, WorkersRunWithTheEnginesPriority) {
    if (getpriority(PRIO_PROCESS, id_t(gettid())) > 0) GTEST_SKIP() << "the tests already run with a lowered priority";
    const TPriorityCase cases[] = {
        {tpLowest, 10, SCHED_OTHER}, {tpLower, 5, SCHED_OTHER}, {tpNormal, 0, SCHED_OTHER}, {tpIdle, 0, SCHED_IDLE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.priority));
        finalSeen = false;
        engine->SetThreadPriority(c.priority);
        AddTask(TPlan{});
        engine->StartTask(1);
        ASSERT_TRUE(WaitFinal());
        EXPECT_EQ(engine->TestTask(0)->policySeen, c.policy);
        if (c.policy == SCHED_OTHER) {
            EXPECT_EQ(engine->TestTask(0)->niceSeen, c.nice);
        }
        engine->ClearTasks();
    }
    EXPECT_EQ(getpriority(PRIO_PROCESS, id_t(gettid())), 0);  // the main thread kept its own
}

TEST_F(MediaEngineTest, TheFailedStartIsLoggedAtTheLevelThatIsAlwaysDelivered) {
    std::vector<std::pair<TLogLevel, std::string>> lines;
    MediaLogger().OnLog = [&](const void*, uint32_t, TLogLevel level, const std::string& msg) {
        lines.emplace_back(level, msg);
    };
    AddTask(TPlan{}, 0);
    engine->StartTask(1);
    const bool ended = WaitFinal();
    MainThread::Sleep(20ms);
    MediaLogger().OnLog = nullptr;
    ASSERT_TRUE(ended);
    const auto expected = std::make_pair(llQuiet, std::string("At least one output file must be specified"));
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end());
}

TEST_F(MediaEngineTest, StopFromTheHookOfOneOfTwoWorkersDoesNotWaitForItself) {
    // The hook runs on a worker under the hook lock; the other worker may be waiting for
    // that lock, so a stop from the handler must not wait for the workers.
    engine->OnCustomHook = [&](TCustomMediaEngine* sender, PHookInfo info) {
        if (info->TaskIndex == 0 && info->FrameNumber == 5) sender->StopConvert(true);
    };
    TPlan longPlan;
    longPlan.packets = 100000;
    TOutputOptions hooked;
    hooked.CustomHook = true;
    for (int i = 0; i < 2; ++i) {
        AddTask(longPlan, 0);
        ASSERT_TRUE(engine->SetOutputFile(i, "out.avi", &hooked));
    }
    engine->StartTask(2);
    ASSERT_TRUE(WaitFinal());
    EXPECT_EQ(Terminated().size(), 3u);
}

TEST_F(MediaEngineTest, FreeingTheEngineDuringARunStopsTheWorkersWithoutEvents) {
    std::atomic<int> progress{0};
    engine->SetProgressInterval(100);
    engine->OnProgress = [&](TCustomMediaEngine*, PProgressInfo) { ++progress; };
    TPlan longPlan;
    longPlan.packets = 100000;
    for (int i = 0; i < 3; ++i) AddTask(longPlan);
    engine->StartTask(2);
    ASSERT_TRUE(MainThread::WaitFor([&] { return progress >= 2; }, 5s));
    engine->PauseConvert();
    TTestTask* first = engine->TestTask(0);
    EXPECT_TRUE(first->Suspended());
    engine.reset();
    MainThread::Sleep(30ms);  // a late delivery would show here
    EXPECT_TRUE(Terminated().empty());
    engine = std::make_unique<TTestEngine>(board);  // for TearDown
}

TEST_F(MediaEngineTest, LoadAVLibGivesTheLoadersMessageAndTasksAreResetOnlyWithTheLibraries) {
    TMediaLibLoader& loader = MediaLibLoader();
    if (!loader.LibsLoaded(EngineLibs)) {
        AddTask(TPlan{});
        EXPECT_EQ(engine->TestTask(0)->resets, 0);
        engine->RemoveTask(0);
    }
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString broken = folder.path() + "/" + QString::fromStdString(TMediaLibLoader::LibFileName(TLibraryKind::libAVUtil));
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a shared object");
    file.close();
    loader.UnloadLibs(EngineLibs);
    EXPECT_FALSE(engine->LoadAVLib(folder.path() + "/"));
    const std::string expected = "Load library " + broken.toStdString() + " error: ";
    EXPECT_EQ(engine->LastErrMsg().substr(0, expected.size()), expected) << engine->LastErrMsg();

    // From the system's library search.
    ASSERT_TRUE(engine->LoadAVLib(QString())) << engine->LastErrMsg();
    AddTask(TPlan{});
    EXPECT_EQ(engine->TestTask(0)->resets, 1);
}

TEST_F(MediaEngineTest, StopFromTheEndOfTheFirstTaskEndsAnUnthreadedRun) {
    onTerminate = [&](const TTerminateInfo& info) {
        if (info.TaskIndex == 0) engine->StopConvert(true);
    };
    for (int i = 0; i < 3; ++i) AddTask(TPlan{});
    engine->StartTask(0);
    EXPECT_TRUE(finalSeen);
    auto records = Terminated();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_TRUE(records[0].info.Finished);
    EXPECT_FALSE(records[1].info.Finished);
    EXPECT_FALSE(records[2].info.Finished);
    EXPECT_FALSE(engine->TestTask(1)->transcodeCalled);
    EXPECT_FALSE(engine->TestTask(2)->transcodeCalled);
    EXPECT_EQ(records[3].info.TaskIndex, -1);
}

TEST_F(MediaEngineTest, StopWithoutARunLeavesTheTasksReadyToRun) {
    AddTask(TPlan{});
    AddTask(TPlan{});
    engine->StopConvert(true);
    EXPECT_TRUE(Terminated().empty());
    engine->StartTask(1);
    ASSERT_TRUE(WaitFinal());
    for (const auto& r : Terminated()) EXPECT_TRUE(r.info.Finished) << r.info.TaskIndex;
    EXPECT_EQ(TerminatedIndexes(), (std::vector<int>{0, 1, -1}));
}

}  // namespace
