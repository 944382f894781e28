#pragma once
// Run-time loading of the media libraries and SDL2 (dlopen/dlsym) into the entry-point
// tables of MediaLib.h.

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>

enum class TLibraryKind : int {
    libAVCodec = 0,
    libAVDevice = 1,
    libAVFilter = 2,
    libAVFormat = 3,
    libAVUtil = 4,
    libSwScale = 5,
    libSwResample = 6,  // takes the place of the old C run-time library
    libSDL = 7,
};
constexpr int kLibraryKindCount = 8;

// A set of library kinds in one byte, bit n standing for kind n.
class TLibrarySet {
public:
    constexpr TLibrarySet() = default;
    constexpr explicit TLibrarySet(uint8_t bits) : bits_(bits) {}
    constexpr TLibrarySet(std::initializer_list<TLibraryKind> kinds) {
        for (TLibraryKind k : kinds) bits_ |= uint8_t(1u << int(k));
    }
    constexpr bool Contains(TLibraryKind k) const { return bits_ & (1u << int(k)); }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr uint8_t Bits() const { return bits_; }
    constexpr TLibrarySet operator+(TLibrarySet o) const { return TLibrarySet(uint8_t(bits_ | o.bits_)); }
    constexpr bool operator==(const TLibrarySet&) const = default;

private:
    uint8_t bits_ = 0;
};

// Libraries of the conversion engine (0x7D) and of the preview player (0xFD).
constexpr TLibrarySet EngineLibs{TLibraryKind::libAVCodec, TLibraryKind::libAVFilter,
                                 TLibraryKind::libAVFormat, TLibraryKind::libAVUtil,
                                 TLibraryKind::libSwScale, TLibraryKind::libSwResample};
constexpr TLibrarySet PlayerLibs = EngineLibs + TLibrarySet{TLibraryKind::libSDL};
static_assert(EngineLibs.Bits() == 0x7D && PlayerLibs.Bits() == 0xFD);

class TMediaLibLoader {
public:
    TMediaLibLoader();
    ~TMediaLibLoader();
    TMediaLibLoader(const TMediaLibLoader&) = delete;
    TMediaLibLoader& operator=(const TMediaLibLoader&) = delete;

    // Folder in which the libraries are looked for first (private copies); when a library
    // is not there, the system's library search is used.
    void SetLibraryPath(const std::string& folder) { libraryPath_ = folder; }
    const std::string& LibraryPath() const { return libraryPath_; }
    // Message of the most recent failure; a later success does not clear it.
    const std::string& LastErrMsg() const { return lastErrMsg_; }

    bool HookLogger = true;

    bool LoadLibs(TLibrarySet set);
    void UnloadLibs(TLibrarySet set);
    bool LibsLoaded(TLibrarySet set) const;
    bool LibLoaded(TLibraryKind kind) const;
    // "lib" + base name + ".so." + major version, e.g. libavcodec.so.59.
    static std::string LibFileName(TLibraryKind kind);
    // Module handle of a loaded library (null when not loaded); for tests and diagnostics.
    void* ModuleHandle(TLibraryKind kind) const { return status_[int(kind)].handle; }

private:
    struct TLibraryStatus {
        void* handle = nullptr;
        bool resolved = false;
    };
    bool LoadLib(TLibraryKind kind);
    void UnloadLib(TLibraryKind kind);

    std::string libraryPath_;
    std::string lastErrMsg_;
    TLibraryStatus status_[kLibraryKindCount];
};

// The one loader of the process, created on first use.
TMediaLibLoader& MediaLibLoader();

// Serialises codec opening and closing and stream-information gathering across the
// engine, the probe and the player. Hold it only around the library call itself.
std::mutex& CodecLock();

// Thrown by a table's load procedure when an entry point is missing.
struct TLibraryLoadError {
    std::string message;
};

// Looks one entry point up; a missing one throws TLibraryLoadError with the text
// "Load function NAME@FILE error: WHY" (or "Load variable ..." for a data symbol).
void* ResolveEntryPoint(void* handle, const std::string& file, const char* name, bool variable);
