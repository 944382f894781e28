// Frame-hook plug-ins: loading, configuring, processing in list order, release, and the
// failure codes.

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/FrameHook.h"
#include "engine/MediaLibLoader.h"
#include "engine/MediaLogger.h"

namespace {

std::string Plugin(const char* variant) {
    return std::string(KELTO_TEST_LIBS_DIR "/hooks/hook_") + variant + ".so";
}

class FrameHookTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MediaLibLoader().LoadLibs(EngineLibs)) << MediaLibLoader().LastErrMsg();
        MediaLogger().TriggerEventInMainThread = false;
        MediaLogger().OnLog = [this](const void*, uint32_t, TLogLevel level, const std::string& msg) {
            if (level <= llError) errors.push_back(msg);
        };
    }
    void TearDown() override {
        FrameHookRelease();
        MediaLogger().OnLog = nullptr;
    }
    int Add(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        return FrameHookAdd(int(argv.size()), argv.data());
    }
    std::vector<std::string> errors;
};

}  // namespace

TEST_F(FrameHookTest, PluginsProcessInOrderAndReleaseReportsTheirWork) {
    int releasedA = -1, releasedB = -1;
    char addrA[32], addrB[32];
    std::snprintf(addrA, sizeof addrA, "%" PRIxPTR, reinterpret_cast<uintptr_t>(&releasedA));
    std::snprintf(addrB, sizeof addrB, "%" PRIxPTR, reinterpret_cast<uintptr_t>(&releasedB));
    // The same plug-in named twice is loaded once but configured twice.
    ASSERT_EQ(Add({Plugin("full"), "3", addrA}), 0);
    ASSERT_EQ(Add({Plugin("full"), "10", addrB}), 0);
    EXPECT_EQ(FrameHookCount(), 2);

    uint8_t plane[4] = {100, 0, 0, 0};
    KeltoHookPicture picture{{plane, nullptr, nullptr, nullptr}, {4, 0, 0, 0}};
    FrameHookProcess(&picture, 0, 2, 2, 0);
    FrameHookProcess(&picture, 0, 2, 2, 40000);
    EXPECT_EQ(plane[0], 100 + 2 * (3 + 10));

    FrameHookRelease();
    EXPECT_EQ(FrameHookCount(), 0);
    EXPECT_EQ(releasedA, 2);
    EXPECT_EQ(releasedB, 2);
    EXPECT_TRUE(errors.empty());
}

TEST_F(FrameHookTest, FailuresGiveTheirCodesAndMessages) {
    const std::string missing = "/nonexistent/hook.so";
    const struct {
        std::vector<std::string> args;
        int code;
        std::string message;  // start of the logged error line
    } cases[] = {
        {{missing}, -1, missing},
        {{Plugin("noprocess")}, -2, "Failed to find Process entrypoint in " + Plugin("noprocess")},
        {{Plugin("noconfigure"), "5"}, -2, "Failed to find Configure entrypoint in " + Plugin("noconfigure")},
        {{Plugin("badconfigure")}, -22, "Failed to Configure " + Plugin("badconfigure")},
    };
    for (const auto& c : cases) {
        errors.clear();
        EXPECT_EQ(Add(c.args), c.code) << c.args[0];
        ASSERT_EQ(errors.size(), 1u) << c.args[0];
        EXPECT_EQ(errors[0].rfind(c.message, 0), 0u) << errors[0];
    }
    EXPECT_EQ(FrameHookAdd(0, nullptr), -2);
    EXPECT_EQ(FrameHookCount(), 0);
    // Without further arguments, a plug-in without Configure is fine.
    EXPECT_EQ(Add({Plugin("noconfigure")}), 0);
    EXPECT_EQ(FrameHookCount(), 1);
}
