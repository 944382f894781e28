#pragma once
// One logger for the program's own components and the media libraries. Library output
// arrives in pieces from any thread; the pieces are joined into whole lines per thread and
// each line is delivered to OnLog, on the main thread by default.

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

enum TLogLevel : int {
    llQuiet = 0,
    llPanic,
    llFatal,
    llError,
    llWarning,
    llInfo,
    llVerbose,
    llDebug,
};

// (Sender, thread id, level, message)
using TLogEvent = std::function<void(const void*, uint32_t, TLogLevel, const std::string&)>;

struct TLogInfo {
    const void* Sender = nullptr;
    uint32_t ThreadID = 0;
    TLogLevel LogLevel = llQuiet;
    std::string LogMsg;
};

// Media-library scale (-8 quiet ... 48 debug) to TLogLevel and back.
TLogLevel MediaLevelToLogLevel(int mediaLevel);
int LogLevelToMediaLevel(TLogLevel level);

// The media log level of the process, in the library's scale (initially 32, info).
int MediaLogLevel();

class TMediaLogger {
public:
    // Only one logger may exist: a second one throws std::logic_error
    // "Allow creating only one instance of TMediaLogger.".
    TMediaLogger();
    ~TMediaLogger();
    TMediaLogger(const TMediaLogger&) = delete;
    TMediaLogger& operator=(const TMediaLogger&) = delete;

    TLogLevel LogLevel() const { return logLevel_.load(); }
    void SetLogLevel(TLogLevel level);
    // "quiet" ... "debug" (any case) or a number in the library's scale. A text that is
    // neither throws std::invalid_argument.
    void SetLogLevelByName(const std::string& name);

    bool TriggerEventInMainThread = true;
    // Assign before the logger is used from other threads.
    TLogEvent OnLog;

    // Installs the library log callback; requires av_log_set_callback and av_log_set_level.
    void HookLog();
    // Gives the library its own callback back (before libavutil is unloaded).
    void UnhookLog();
    void ApplyLogLevel();

    // Messages of the program's own components.
    void Log(const void* sender, TLogLevel level, const std::string& msg);
    void LogFmt(const void* sender, TLogLevel level, const char* fmt, ...)
        __attribute__((format(printf, 4, 5)));

    // Entry of the library's log callback (any thread). Public for tests.
    void LibraryLog(void* context, int level, const char* fmt, va_list args);

private:
    void DoLog(TLogInfo info);

    std::atomic<TLogLevel> logLevel_{llInfo};
    // Pending, not yet ended line of each thread. The lock guards the map; each entry's
    // text is touched only by its own thread (map nodes do not move).
    std::mutex listLock_;
    std::unordered_map<uint32_t, std::string> pending_;
};

// The one logger, created on first use.
TMediaLogger& MediaLogger();

// Id of the calling thread as the logger reports it.
uint32_t CurrentThreadID();
