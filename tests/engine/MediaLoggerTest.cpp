// The logger: level conversion and filtering, line assembly per thread, the prefix of
// library messages, and delivery on the main thread.

#include <atomic>
#include <barrier>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/MediaLib.h"
#include "engine/MediaLibLoader.h"
#include "engine/MediaLogger.h"
#include "platform/MainThread.h"

namespace {

struct TLine {
    const void* sender;
    uint32_t thread;
    TLogLevel level;
    std::string text;
    bool onMainThread;
};

// Collects what the logger delivers.
class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MediaLibLoader().LoadLibs(EngineLibs)) << MediaLibLoader().LastErrMsg();
        logger().SetLogLevel(llInfo);
        logger().TriggerEventInMainThread = true;
        logger().OnLog = [this](const void* sender, uint32_t tid, TLogLevel level, const std::string& msg) {
            std::lock_guard<std::mutex> g(lock);
            lines.push_back({sender, tid, level, msg, MainThread::IsMainThread()});
        };
    }
    void TearDown() override { logger().OnLog = nullptr; }
    static TMediaLogger& logger() { return MediaLogger(); }
    std::vector<TLine> Lines() {
        std::lock_guard<std::mutex> g(lock);
        return lines;
    }
    std::mutex lock;
    std::vector<TLine> lines;
};

}  // namespace

TEST(MediaLogLevels, ConvertBothWays) {
    const struct {
        int media;
        TLogLevel level;
    } cases[] = {{-8, llQuiet}, {0, llPanic},    {8, llFatal},    {12, llFatal},
                 {16, llError}, {24, llWarning}, {32, llInfo},    {40, llVerbose},
                 {47, llVerbose}, {48, llDebug}, {56, llDebug},   {-16, llQuiet}};
    for (const auto& c : cases) EXPECT_EQ(MediaLevelToLogLevel(c.media), c.level) << c.media;
    for (int l = llQuiet; l <= llDebug; ++l)
        EXPECT_EQ(MediaLevelToLogLevel(LogLevelToMediaLevel(TLogLevel(l))), l);
    EXPECT_EQ(LogLevelToMediaLevel(llQuiet), -8);
    EXPECT_EQ(LogLevelToMediaLevel(llDebug), 48);
}

TEST_F(LoggerTest, SetLogLevelByNameTakesNamesAndNumbers) {
    logger().SetLogLevelByName("warning");
    EXPECT_EQ(logger().LogLevel(), llWarning);
    EXPECT_EQ(MediaLogLevel(), 24);
    EXPECT_EQ(gAVUtil.av_log_get_level(), 24);
    logger().SetLogLevelByName("DEBUG");
    EXPECT_EQ(logger().LogLevel(), llDebug);
    logger().SetLogLevelByName("12");
    EXPECT_EQ(logger().LogLevel(), llFatal);
    EXPECT_EQ(MediaLogLevel(), 8);
    EXPECT_THROW(logger().SetLogLevelByName("loud"), std::invalid_argument);
    EXPECT_THROW(logger().SetLogLevelByName("12x"), std::invalid_argument);
    EXPECT_EQ(logger().LogLevel(), llFatal);
}

TEST_F(LoggerTest, LibraryPiecesFormOneLineWithThePrefixOfTheFirstPiece) {
    AVFormatContext* ctx = gAVFormat.avformat_alloc_context();
    ASSERT_NE(ctx, nullptr);
    gAVUtil.av_log(ctx, AV_LOG_INFO, "abc");
    gAVUtil.av_log(ctx, AV_LOG_INFO, "def%d\n", 7);
    gAVUtil.av_log(nullptr, AV_LOG_WARNING, "one\ntwo\n");
    auto got = Lines();
    ASSERT_EQ(got.size(), 3u);
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "[%s @ %p]", ctx->av_class->item_name(ctx), static_cast<void*>(ctx));
    EXPECT_EQ(got[0].text, std::string(prefix) + "abcdef7");
    EXPECT_EQ(got[0].level, llInfo);
    EXPECT_EQ(got[0].sender, &logger());
    EXPECT_EQ(got[0].thread, CurrentThreadID());
    EXPECT_EQ(got[1].text, "one");
    EXPECT_EQ(got[2].text, "two");
    EXPECT_EQ(got[2].level, llWarning);
    gAVFormat.avformat_free_context(ctx);
}

TEST_F(LoggerTest, LibraryLinesAboveTheLevelAreDropped) {
    logger().SetLogLevel(llWarning);
    gAVUtil.av_log(nullptr, AV_LOG_INFO, "info\n");
    gAVUtil.av_log(nullptr, AV_LOG_ERROR, "error\n");
    auto got = Lines();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].text, "error");
    EXPECT_EQ(got[0].level, llError);
}

TEST_F(LoggerTest, ThreadsKeepTheirOwnPendingText) {
    // Two threads write the halves of their lines in turn; each line stays whole.
    std::barrier step(2);
    auto writer = [&](const char* first, const char* second) {
        gAVUtil.av_log(nullptr, AV_LOG_INFO, "%s", first);
        step.arrive_and_wait();
        step.arrive_and_wait();
        gAVUtil.av_log(nullptr, AV_LOG_INFO, "%s\n", second);
    };
    logger().TriggerEventInMainThread = false;
    std::thread a(writer, "a1-", "a2");
    std::thread b(writer, "b1-", "b2");
    a.join();
    b.join();
    auto got = Lines();
    ASSERT_EQ(got.size(), 2u);
    std::vector<std::string> texts{got[0].text, got[1].text};
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts[0], "a1-a2");
    EXPECT_EQ(texts[1], "b1-b2");
    EXPECT_NE(got[0].thread, got[1].thread);
}

TEST_F(LoggerTest, WorkerLinesAreDeliveredOnTheMainThread) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        gAVUtil.av_log(nullptr, AV_LOG_ERROR, "from worker\n");
        logger().Log(nullptr, llError, "own message");
        done = true;
    });
    ASSERT_TRUE(MainThread::WaitFor([&] { return done.load(); }, std::chrono::seconds(10)));
    worker.join();
    auto got = Lines();
    ASSERT_EQ(got.size(), 2u);
    for (const TLine& l : got) EXPECT_TRUE(l.onMainThread) << l.text;
    EXPECT_NE(got[0].thread, CurrentThreadID());  // the id is the logging thread's
    EXPECT_EQ(got[1].text, "own message");
}

TEST_F(LoggerTest, OwnMessagesFollowTheLevelWithVerboseAlwaysShownUnlessQuiet) {
    const int sender = 0;
    const struct {
        TLogLevel current;
        TLogLevel message;
        bool delivered;
    } cases[] = {{llInfo, llInfo, true},       {llInfo, llError, true},   {llInfo, llVerbose, true},
                 {llInfo, llDebug, false},     {llError, llWarning, false}, {llError, llVerbose, true},
                 {llQuiet, llVerbose, false},  {llDebug, llDebug, true}};
    for (const auto& c : cases) {
        lines.clear();
        logger().SetLogLevel(c.current);
        logger().LogFmt(&sender, c.message, "message %d", int(c.message));
        auto got = Lines();
        EXPECT_EQ(got.size(), c.delivered ? 1u : 0u) << int(c.current) << " " << int(c.message);
        if (!got.empty()) {
            EXPECT_EQ(got[0].sender, &sender);
            EXPECT_EQ(got[0].text, "message " + std::to_string(int(c.message)));
        }
    }
}

TEST(MediaLoggerInstance, OnlyOneMayExist) {
    TMediaLogger& first = MediaLogger();
    try {
        TMediaLogger second;
        FAIL() << "a second logger was created";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Allow creating only one instance of TMediaLogger.");
    }
    EXPECT_EQ(&MediaLogger(), &first);
}
