// The library loader: file names, sets, private folders, failures and their texts.
// Every test runs in its own process (one test per process under ctest), so each starts
// with nothing loaded.

#include <dlfcn.h>
#include <link.h>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include "engine/MediaLib.h"
#include "engine/MediaLibLoader.h"
#include "fixtures/Fixtures.h"

namespace {

const TLibraryKind kAllKinds[] = {
    TLibraryKind::libAVCodec, TLibraryKind::libAVDevice, TLibraryKind::libAVFilter,
    TLibraryKind::libAVFormat, TLibraryKind::libAVUtil, TLibraryKind::libSwScale,
    TLibraryKind::libSwResample, TLibraryKind::libSDL};

const TLibraryKind kEngineKinds[] = {
    TLibraryKind::libAVCodec, TLibraryKind::libAVFilter, TLibraryKind::libAVFormat,
    TLibraryKind::libAVUtil, TLibraryKind::libSwScale, TLibraryKind::libSwResample};

// Path of the shared object behind a module handle.
std::string ModulePath(void* handle) {
    link_map* map = nullptr;
    if (!handle || ::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map) return {};
    return map->l_name;
}

// The system's copy of a library, as the dynamic loader finds it.
std::string SystemPath(const std::string& name) {
    void* h = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    std::string path = ModulePath(h);
    if (h) ::dlclose(h);
    return path;
}

}  // namespace

TEST(MediaLibLoader, FileNamesFollowTheHeadersMajorVersions) {
    const struct {
        TLibraryKind kind;
        std::string name;
    } cases[] = {
        {TLibraryKind::libAVCodec, "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR)},
        {TLibraryKind::libAVDevice, "libavdevice.so." + std::to_string(LIBAVDEVICE_VERSION_MAJOR)},
        {TLibraryKind::libAVFilter, "libavfilter.so." + std::to_string(LIBAVFILTER_VERSION_MAJOR)},
        {TLibraryKind::libAVFormat, "libavformat.so." + std::to_string(LIBAVFORMAT_VERSION_MAJOR)},
        {TLibraryKind::libAVUtil, "libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR)},
        {TLibraryKind::libSwScale, "libswscale.so." + std::to_string(LIBSWSCALE_VERSION_MAJOR)},
        {TLibraryKind::libSwResample, "libswresample.so." + std::to_string(LIBSWRESAMPLE_VERSION_MAJOR)},
        {TLibraryKind::libSDL, "libSDL2-2.0.so.0"},
    };
    for (const auto& c : cases) EXPECT_EQ(TMediaLibLoader::LibFileName(c.kind), c.name);
    EXPECT_EQ(TMediaLibLoader::LibFileName(TLibraryKind::libAVCodec), "libavcodec.so.59");
}

TEST(MediaLibLoader, SetsHoldTheirKindsInOneByte) {
    EXPECT_EQ(EngineLibs.Bits(), 0x7D);
    EXPECT_EQ(PlayerLibs.Bits(), 0xFD);
    EXPECT_FALSE(EngineLibs.Contains(TLibraryKind::libAVDevice));
    EXPECT_FALSE(EngineLibs.Contains(TLibraryKind::libSDL));
    EXPECT_TRUE(PlayerLibs.Contains(TLibraryKind::libSDL));
}

TEST(MediaLibLoader, LoadsThePlayerSetFromTheSystemAndFillsEveryTable) {
    TMediaLibLoader& loader = MediaLibLoader();
    loader.SetLibraryPath("");
    ASSERT_TRUE(loader.LoadLibs(PlayerLibs)) << loader.LastErrMsg();
    EXPECT_TRUE(loader.LibsLoaded(PlayerLibs));
    EXPECT_FALSE(loader.LibLoaded(TLibraryKind::libAVDevice));
    // A sample of each table, and a real call through it.
    EXPECT_NE(gAVCodec.avcodec_find_decoder, nullptr);
    EXPECT_NE(gAVFormat.avformat_open_input, nullptr);
    EXPECT_NE(gAVFilter.avfilter_graph_alloc, nullptr);
    EXPECT_NE(gSwScale.sws_scale, nullptr);
    EXPECT_NE(gSwResample.swr_convert, nullptr);
    EXPECT_NE(gSDL.SDL_OpenAudio, nullptr);
    EXPECT_EQ(gAVUtil.av_gcd(12, 18), 6);
    EXPECT_EQ(AV_VERSION_MAJOR(gAVCodec.avcodec_version()), LIBAVCODEC_VERSION_MAJOR);
}

TEST(MediaLibLoader, LoadingTwiceTouchesNothing) {
    TMediaLibLoader& loader = MediaLibLoader();
    ASSERT_TRUE(loader.LoadLibs(EngineLibs)) << loader.LastErrMsg();
    void* handles[kLibraryKindCount];
    for (TLibraryKind k : kAllKinds) handles[int(k)] = loader.ModuleHandle(k);
    const auto openInput = gAVFormat.avformat_open_input;
    ASSERT_TRUE(loader.LoadLibs(EngineLibs));
    for (TLibraryKind k : kAllKinds) EXPECT_EQ(loader.ModuleHandle(k), handles[int(k)]);
    EXPECT_EQ(gAVFormat.avformat_open_input, openInput);
}

TEST(MediaLibLoader, UnloadClearsHandlesAndEntryPoints) {
    TMediaLibLoader& loader = MediaLibLoader();
    ASSERT_TRUE(loader.LoadLibs(PlayerLibs)) << loader.LastErrMsg();
    loader.UnloadLibs(PlayerLibs);
    for (TLibraryKind k : kAllKinds) {
        EXPECT_FALSE(loader.LibLoaded(k));
        EXPECT_EQ(loader.ModuleHandle(k), nullptr);
    }
    EXPECT_EQ(gAVCodec.avcodec_find_decoder, nullptr);
    EXPECT_EQ(gAVUtil.av_log, nullptr);
    EXPECT_EQ(gSDL.SDL_Init, nullptr);
    ASSERT_TRUE(loader.LoadLibs(EngineLibs)) << loader.LastErrMsg();
    EXPECT_NE(gAVCodec.avcodec_find_decoder, nullptr);
}

TEST(MediaLibLoader, PrefersPrivateCopiesAndLoadsTheirDependenciesFirst) {
    // A private folder with its own copies of avutil and swresample (which needs avutil):
    // both come from the folder, the rest from the system.
    const QString folder = Fixtures::ScratchDir("loader_private");
    for (TLibraryKind k : {TLibraryKind::libAVUtil, TLibraryKind::libSwResample}) {
        const std::string name = TMediaLibLoader::LibFileName(k);
        ASSERT_TRUE(QFile::copy(QString::fromStdString(SystemPath(name)),
                                folder + "/" + QString::fromStdString(name)));
    }
    TMediaLibLoader& loader = MediaLibLoader();
    loader.SetLibraryPath(folder.toStdString());
    ASSERT_TRUE(loader.LoadLibs(EngineLibs)) << loader.LastErrMsg();
    const std::string privateUtil = folder.toStdString() + "/" + TMediaLibLoader::LibFileName(TLibraryKind::libAVUtil);
    EXPECT_EQ(ModulePath(loader.ModuleHandle(TLibraryKind::libAVUtil)), privateUtil);
    EXPECT_EQ(ModulePath(loader.ModuleHandle(TLibraryKind::libSwResample)),
              folder.toStdString() + "/" + TMediaLibLoader::LibFileName(TLibraryKind::libSwResample));
    EXPECT_NE(ModulePath(loader.ModuleHandle(TLibraryKind::libAVCodec)).rfind(folder.toStdString(), 0), 0u);
    // swresample was linked against the private avutil already in memory.
    Dl_info info{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(gAVUtil.av_log), &info), 0);
    EXPECT_EQ(std::string(info.dli_fname), privateUtil);
}

TEST(MediaLibLoader, BrokenSoundLibraryFailsThePlayerSetAndUnloadsTheEngineLibraries) {
    TMediaLibLoader& loader = MediaLibLoader();
    // The engine set was loaded earlier by somebody else.
    ASSERT_TRUE(loader.LoadLibs(EngineLibs)) << loader.LastErrMsg();

    const QString folder = Fixtures::ScratchDir("loader_no_sdl");
    const QString sdl = folder + "/" + QString::fromStdString(TMediaLibLoader::LibFileName(TLibraryKind::libSDL));
    QFile broken(sdl);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a shared object");
    broken.close();

    loader.SetLibraryPath(folder.toStdString() + "/");
    EXPECT_FALSE(loader.LoadLibs(PlayerLibs));
    const std::string expected = "Load library " + sdl.toStdString() + " error: ";
    EXPECT_EQ(loader.LastErrMsg().substr(0, expected.size()), expected) << loader.LastErrMsg();
    EXPECT_GT(loader.LastErrMsg().size(), expected.size());  // dlerror()'s text follows
    for (TLibraryKind k : kEngineKinds) EXPECT_FALSE(loader.LibLoaded(k)) << int(k);
    EXPECT_EQ(gAVCodec.avcodec_open2, nullptr);

    // The message stays after a later success, and the engine set loads again.
    const std::string message = loader.LastErrMsg();
    EXPECT_TRUE(loader.LoadLibs(EngineLibs)) << loader.LastErrMsg();
    EXPECT_EQ(loader.LastErrMsg(), message);
}

TEST(MediaLibLoader, MissingExportNamesTheFunctionAndTheFile) {
    TMediaLibLoader& loader = MediaLibLoader();
    loader.SetLibraryPath(KELTO_TEST_LIBS_DIR "/missing-export");
    EXPECT_FALSE(loader.LoadLibs(EngineLibs));
    const std::string expected = std::string("Load function ") + KELTO_STUB_MISSING_EXPORT + "@" +
                                 TMediaLibLoader::LibFileName(TLibraryKind::libAVCodec) + " error: ";
    EXPECT_EQ(loader.LastErrMsg().substr(0, expected.size()), expected) << loader.LastErrMsg();
    EXPECT_NE(loader.LastErrMsg().find("undefined symbol"), std::string::npos) << loader.LastErrMsg();
    EXPECT_FALSE(loader.LibLoaded(TLibraryKind::libAVCodec));
    EXPECT_EQ(loader.ModuleHandle(TLibraryKind::libAVCodec), nullptr);
    EXPECT_EQ(gAVCodec.avcodec_find_decoder, nullptr);  // nothing of the stub is kept
    for (TLibraryKind k : kEngineKinds) EXPECT_FALSE(loader.LibLoaded(k)) << int(k);
}

TEST(MediaLibLoader, EntryPointErrorsNameTheSymbolAndTheFile) {
    void* self = ::dlopen(nullptr, RTLD_NOW);
    try {
        ResolveEntryPoint(self, "libkelto.so", "kelto_no_such_variable", true);
        FAIL() << "no error";
    } catch (const TLibraryLoadError& e) {
        EXPECT_EQ(e.message.rfind("Load variable kelto_no_such_variable@libkelto.so error: ", 0), 0u)
            << e.message;
    }
    try {
        ResolveEntryPoint(self, "libkelto.so", "kelto_no_such_function", false);
        FAIL() << "no error";
    } catch (const TLibraryLoadError& e) {
        EXPECT_EQ(e.message.rfind("Load function kelto_no_such_function@libkelto.so error: ", 0), 0u)
            << e.message;
    }
}
