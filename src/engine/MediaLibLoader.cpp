#include "engine/MediaLibLoader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cassert>

#include "engine/MediaLib.h"
#include "engine/MediaLogger.h"
#include "engine/UnicodeProtocol.h"
#include "platform/Format.h"

TAVCodecTable gAVCodec;
TAVDeviceTable gAVDevice;
TAVFilterTable gAVFilter;
TAVFormatTable gAVFormat;
TAVUtilTable gAVUtil;
TSwScaleTable gSwScale;
TSwResampleTable gSwResample;
TSDLTable gSDL;

namespace {

template <class Pointer>
void Resolve(void* handle, const std::string& file, const char* name, Pointer& slot) {
    slot = reinterpret_cast<Pointer>(ResolveEntryPoint(handle, file, name, false));
}

#define KELTO_FUNCTION(name) Resolve(handle, file, #name, table.name);
void LoadAVCodec(const std::string& file, void* handle) {
    TAVCodecTable table;
#include "engine/libfuncs/avcodec.inc"
    gAVCodec = table;
}
void LoadAVDevice(const std::string& file, void* handle) {
    TAVDeviceTable table;
#include "engine/libfuncs/avdevice.inc"
    gAVDevice = table;
    gAVDevice.avdevice_register_all();
}
void LoadAVFilter(const std::string& file, void* handle) {
    TAVFilterTable table;
#include "engine/libfuncs/avfilter.inc"
    gAVFilter = table;
}
void LoadAVFormat(const std::string& file, void* handle) {
    TAVFormatTable table;
#include "engine/libfuncs/avformat.inc"
    gAVFormat = table;
}
void LoadAVUtil(const std::string& file, void* handle) {
    TAVUtilTable table;
#include "engine/libfuncs/avutil.inc"
    gAVUtil = table;
}
void LoadSwScale(const std::string& file, void* handle) {
    TSwScaleTable table;
#include "engine/libfuncs/swscale.inc"
    gSwScale = table;
}
void LoadSwResample(const std::string& file, void* handle) {
    TSwResampleTable table;
#include "engine/libfuncs/swresample.inc"
    gSwResample = table;
}
void LoadSDL(const std::string& file, void* handle) {
    TSDLTable table;
#include "engine/libfuncs/sdl.inc"
    gSDL = table;
}
#undef KELTO_FUNCTION

struct TLibraryItem {
    TLibraryKind kind;
    const char* baseName;
    int version;  // major version of the shared object name
    void (*load)(const std::string& file, void* handle);
    void (*unload)();
};

const TLibraryItem kLibraries[kLibraryKindCount] = {
    {TLibraryKind::libAVCodec, "avcodec", LIBAVCODEC_VERSION_MAJOR, LoadAVCodec,
     [] { gAVCodec = {}; }},
    {TLibraryKind::libAVDevice, "avdevice", LIBAVDEVICE_VERSION_MAJOR, LoadAVDevice,
     [] { gAVDevice = {}; }},
    {TLibraryKind::libAVFilter, "avfilter", LIBAVFILTER_VERSION_MAJOR, LoadAVFilter,
     [] { gAVFilter = {}; }},
    {TLibraryKind::libAVFormat, "avformat", LIBAVFORMAT_VERSION_MAJOR, LoadAVFormat,
     [] { gAVFormat = {}; }},
    {TLibraryKind::libAVUtil, "avutil", LIBAVUTIL_VERSION_MAJOR, LoadAVUtil,
     [] { gAVUtil = {}; }},
    {TLibraryKind::libSwScale, "swscale", LIBSWSCALE_VERSION_MAJOR, LoadSwScale,
     [] { gSwScale = {}; }},
    {TLibraryKind::libSwResample, "swresample", LIBSWRESAMPLE_VERSION_MAJOR, LoadSwResample,
     [] { gSwResample = {}; }},
    {TLibraryKind::libSDL, "SDL2-2.0", 0, LoadSDL, [] { gSDL = {}; }},
};

// A library copied into the private folder finds its own dependencies only when they are
// already loaded, so a set is loaded from the bottom of the dependency tree upwards.
const TLibraryKind kDependencyOrder[kLibraryKindCount] = {
    TLibraryKind::libAVUtil,   TLibraryKind::libSwResample, TLibraryKind::libSwScale,
    TLibraryKind::libAVCodec,  TLibraryKind::libAVFormat,   TLibraryKind::libAVFilter,
    TLibraryKind::libAVDevice, TLibraryKind::libSDL,
};

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string DlError() {
    const char* e = ::dlerror();
    return e ? e : "unknown error";
}

}  // namespace

void* ResolveEntryPoint(void* handle, const std::string& file, const char* name,
                        bool variable) {
    ::dlerror();
    void* p = ::dlsym(handle, name);
    if (!p) {
        std::string why = DlError();
        throw TLibraryLoadError{Format(variable ? "Load variable %s@%s error: %s"
                                                : "Load function %s@%s error: %s",
                                       name, file.c_str(), why.c_str())};
    }
    return p;
}

TMediaLibLoader::TMediaLibLoader() = default;
TMediaLibLoader::~TMediaLibLoader() = default;

std::string TMediaLibLoader::LibFileName(TLibraryKind kind) {
    const TLibraryItem& item = kLibraries[int(kind)];
    std::string name = std::string("lib") + item.baseName + ".so";
    if (item.version >= 0) name += "." + std::to_string(item.version);
    return name;
}

bool TMediaLibLoader::LibLoaded(TLibraryKind kind) const {
    const TLibraryStatus& s = status_[int(kind)];
    return s.handle != nullptr && s.resolved;
}

bool TMediaLibLoader::LibsLoaded(TLibrarySet set) const {
    assert(!set.Empty());
    for (int k = 0; k < kLibraryKindCount; ++k)
        if (set.Contains(TLibraryKind(k)) && !LibLoaded(TLibraryKind(k))) return false;
    return true;
}

bool TMediaLibLoader::LoadLib(TLibraryKind kind) {
    TLibraryStatus& s = status_[int(kind)];
    const std::string file = LibFileName(kind);
    if (!s.handle) {
        std::string folder;
        if (!libraryPath_.empty()) {
            folder = libraryPath_;
            if (folder.back() != '/') folder += '/';
        }
        // RTLD_NODELETE: the libraries keep thread-local data and callbacks that must
        // outlive an unload, so an unloaded library stays mapped and a reload is cheap.
        const int flags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;
        if (!folder.empty() && IsRegularFile(folder + file))
            s.handle = ::dlopen((folder + file).c_str(), flags);
        else
            s.handle = ::dlopen(file.c_str(), flags);
        if (!s.handle) {
            std::string why = DlError();
            lastErrMsg_ = Format("Load library %s error: %s", (folder + file).c_str(), why.c_str());
            return false;
        }
    }
    if (!s.resolved) {
        try {
            kLibraries[int(kind)].load(file, s.handle);
            s.resolved = true;
        } catch (const TLibraryLoadError& e) {
            lastErrMsg_ = e.message;
        }
    }
    if (!s.resolved) {
        UnloadLib(kind);
        return false;
    }
    if (kind == TLibraryKind::libAVUtil && HookLogger) MediaLogger().HookLog();
    if (kind == TLibraryKind::libAVFormat) RegisterUnicodeProtocol();
    return true;
}

void TMediaLibLoader::UnloadLib(TLibraryKind kind) {
    TLibraryStatus& s = status_[int(kind)];
    if (s.resolved) {
        if (kind == TLibraryKind::libAVUtil) MediaLogger().UnhookLog();
        kLibraries[int(kind)].unload();
        s.resolved = false;
    }
    if (s.handle) {
        ::dlclose(s.handle);
        s.handle = nullptr;
    }
}

bool TMediaLibLoader::LoadLibs(TLibrarySet set) {
    assert(!set.Empty());
    for (TLibraryKind kind : kDependencyOrder) {
        if (!set.Contains(kind)) continue;
        if (!LoadLib(kind)) {
            UnloadLibs(set);
            return false;
        }
    }
    return true;
}

void TMediaLibLoader::UnloadLibs(TLibrarySet set) {
    assert(!set.Empty());
    for (int k = kLibraryKindCount - 1; k >= 0; --k)
        if (set.Contains(TLibraryKind(k))) UnloadLib(TLibraryKind(k));
}

TMediaLibLoader& MediaLibLoader() {
    static TMediaLibLoader loader;
    return loader;
}

std::mutex& CodecLock() {
    static std::mutex lock;
    return lock;
}
