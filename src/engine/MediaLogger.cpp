#include "engine/MediaLogger.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cassert>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "engine/MediaLib.h"
#include "platform/Format.h"
#include "platform/MainThread.h"

namespace {

std::atomic<int> gMediaLogLevel{32};
std::atomic<TMediaLogger*> gLogger{nullptr};
std::mutex gLoggerCreation;

void LogCallback(void* context, int level, const char* fmt, va_list args) {
    // Filtered lines return before any formatting.
    if (level > gMediaLogLevel.load(std::memory_order_relaxed)) return;
    MediaLogger().LibraryLog(context, level, fmt, args);
}

}  // namespace

TLogLevel MediaLevelToLogLevel(int mediaLevel) {
    int v = mediaLevel;
    if (v < 0) v += 7;  // division rounding toward zero
    if (v < -8) return llQuiet;
    if (v < 48) return TLogLevel((v >> 3) + 1);
    return llDebug;
}

int LogLevelToMediaLevel(TLogLevel level) { return (int(level) - 1) * 8; }

int MediaLogLevel() { return gMediaLogLevel.load(); }

uint32_t CurrentThreadID() { return uint32_t(::syscall(SYS_gettid)); }

TMediaLogger::TMediaLogger() {
    TMediaLogger* expected = nullptr;
    if (!gLogger.compare_exchange_strong(expected, this))
        throw std::logic_error("Allow creating only one instance of TMediaLogger.");
}

TMediaLogger::~TMediaLogger() {
    TMediaLogger* self = this;
    gLogger.compare_exchange_strong(self, nullptr);
}

TMediaLogger& MediaLogger() {
    if (TMediaLogger* logger = gLogger.load()) return *logger;
    std::lock_guard<std::mutex> g(gLoggerCreation);
    if (TMediaLogger* logger = gLogger.load()) return *logger;
    // Lives until the program ends (or until somebody destroys it).
    return *new TMediaLogger();
}

void TMediaLogger::SetLogLevel(TLogLevel level) {
    if (logLevel_.exchange(level) != level) ApplyLogLevel();
}

void TMediaLogger::ApplyLogLevel() {
    if (!gAVUtil.av_log_set_level) return;
    gMediaLogLevel = LogLevelToMediaLevel(logLevel_.load());
    gAVUtil.av_log_set_level(gMediaLogLevel);
}

void TMediaLogger::SetLogLevelByName(const std::string& name) {
    static const struct {
        const char* name;
        int level;
    } kNames[] = {{"quiet", -8},   {"panic", 0}, {"fatal", 8},    {"error", 16},
                  {"warning", 24}, {"info", 32}, {"verbose", 40}, {"debug", 48}};
    for (const auto& n : kNames)
        if (strcasecmp(name.c_str(), n.name) == 0) {
            SetLogLevel(MediaLevelToLogLevel(n.level));
            return;
        }
    size_t used = 0;
    int value = 0;
    try {
        value = std::stoi(name, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != name.size())
        throw std::invalid_argument("'" + name + "' is not a valid integer value");
    SetLogLevel(MediaLevelToLogLevel(value));
}

void TMediaLogger::HookLog() {
    assert(gAVUtil.av_log_set_callback && gAVUtil.av_log_set_level);
    gAVUtil.av_log_set_callback(LogCallback);
    ApplyLogLevel();
}

void TMediaLogger::UnhookLog() {
    if (gAVUtil.av_log_set_callback && gAVUtil.av_log_default_callback)
        gAVUtil.av_log_set_callback(gAVUtil.av_log_default_callback);
}

void TMediaLogger::Log(const void* sender, TLogLevel level, const std::string& msg) {
    if (!OnLog) return;
    const TLogLevel current = logLevel_.load();
    if (level <= current || (level == llVerbose && current != llQuiet))
        DoLog(TLogInfo{sender, CurrentThreadID(), level, msg});
}

void TMediaLogger::LogFmt(const void* sender, TLogLevel level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string msg = FormatV(fmt, args);
    va_end(args);
    Log(sender, level, msg);
}

void TMediaLogger::LibraryLog(void* context, int level, const char* fmt, va_list args) {
    if (level > gMediaLogLevel.load(std::memory_order_relaxed)) return;
    std::string prefix;
    if (context) {
        const AVClass* avc = *static_cast<const AVClass**>(context);
        if (avc) {
            const char* item = avc->item_name ? avc->item_name(context) : avc->class_name;
            prefix = Format("[%s @ %p]", item ? item : "", context);
        }
    }
    char buffer[2048] = {};
    std::vsnprintf(buffer, sizeof buffer, fmt, args);  // longer text is cut to fit

    const uint32_t tid = CurrentThreadID();
    std::string* pending;
    {
        std::lock_guard<std::mutex> g(listLock_);
        pending = &pending_[tid];
    }
    if (pending->empty())
        *pending = prefix + buffer;
    else
        *pending += buffer;

    for (size_t lf = pending->find('\n'); lf != std::string::npos; lf = pending->find('\n')) {
        std::string line = pending->substr(0, lf);
        pending->erase(0, lf + 1);
        if (OnLog) DoLog(TLogInfo{this, tid, MediaLevelToLogLevel(level), std::move(line)});
    }
}

void TMediaLogger::DoLog(TLogInfo info) {
    if (TriggerEventInMainThread && !MainThread::IsMainThread())
        MainThread::RunSync([&] { OnLog(info.Sender, info.ThreadID, info.LogLevel, info.LogMsg); });
    else
        OnLog(info.Sender, info.ThreadID, info.LogLevel, info.LogMsg);
}
