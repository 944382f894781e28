#include "engine/FrameHook.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/MediaLib.h"

namespace {

struct TFrameHookEntry {
    FrameHookConfigureFn Configure;
    FrameHookProcessFn Process;
    FrameHookReleaseFn Release;
    void* ctx;
};

std::mutex gHookLock;
std::vector<TFrameHookEntry*> gHooks;      // entries allocated with av_mallocz
std::map<std::string, void*> gHookModules;  // file name -> module, loaded once

}  // namespace

int FrameHookAdd(int argc, char* argv[]) {
    if (argc < 1) return -2;
    std::lock_guard<std::mutex> g(gHookLock);
    const std::string file = argv[0];
    void* module = nullptr;
    auto found = gHookModules.find(file);
    if (found != gHookModules.end()) {
        module = found->second;
    } else {
        // A name with a folder part is loaded from there; a bare name goes through the
        // system's library search.
        module = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            const char* why = ::dlerror();
            gAVUtil.av_log(nullptr, AV_LOG_ERROR, "%s\n", why ? why : "cannot load plug-in");
            return -1;
        }
        gHookModules[file] = module;
    }
    auto* entry = static_cast<TFrameHookEntry*>(gAVUtil.av_mallocz(sizeof(TFrameHookEntry)));
    if (!entry) return -12;
    entry->Configure = reinterpret_cast<FrameHookConfigureFn>(::dlsym(module, "Configure"));
    entry->Process = reinterpret_cast<FrameHookProcessFn>(::dlsym(module, "Process"));
    entry->Release = reinterpret_cast<FrameHookReleaseFn>(::dlsym(module, "Release"));
    if (!entry->Process) {
        gAVUtil.av_log(nullptr, AV_LOG_ERROR, "Failed to find Process entrypoint in %s\n", argv[0]);
        gAVUtil.av_free(entry);
        return -2;
    }
    if (!entry->Configure && argc > 1) {
        gAVUtil.av_log(nullptr, AV_LOG_ERROR, "Failed to find Configure entrypoint in %s\n", argv[0]);
        gAVUtil.av_free(entry);
        return -2;
    }
    if (entry->Configure && entry->Configure(&entry->ctx, argc, argv) != 0) {
        gAVUtil.av_log(nullptr, AV_LOG_ERROR, "Failed to Configure %s\n", argv[0]);
        gAVUtil.av_free(entry);
        return -22;
    }
    gHooks.push_back(entry);
    return 0;
}

void FrameHookProcess(KeltoHookPicture* picture, int pixFmt, int width, int height, int64_t pts) {
    std::lock_guard<std::mutex> g(gHookLock);
    for (TFrameHookEntry* e : gHooks) e->Process(e->ctx, picture, pixFmt, width, height, pts);
}

void FrameHookRelease() {
    std::lock_guard<std::mutex> g(gHookLock);
    for (TFrameHookEntry* e : gHooks) {
        if (e->Release) e->Release(e->ctx);
        gAVUtil.av_free(e);
    }
    gHooks.clear();
}

int FrameHookCount() {
    std::lock_guard<std::mutex> g(gHookLock);
    return int(gHooks.size());
}
