// Speed of the frame effects' pixel routines on a 1280 x 720 picture, in megapixels per
// second (the counter "Mpixel", shown per second; for the overlay, pixels of the overlaid area).

#include <benchmark/benchmark.h>

#include <cstdint>

#include "effects/PixelRoutines.h"
#include "platform/Bitmap24.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

void Pattern(Bitmap24& bitmap, int seed) {
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width() * 3; ++x) row[x] = uint8_t(x * 7 + y * 31 + seed);
    }
}

void SetRate(benchmark::State& state, int64_t pixelsPerIteration) {
    state.counters["Mpixel"] = benchmark::Counter(double(pixelsPerIteration) * double(state.iterations()) / 1e6,
                                                benchmark::Counter::kIsRate);
}

void BM_AdjustColours(benchmark::State& state) {
    Bitmap24 picture(kWidth, kHeight);
    Pattern(picture, 1);
    // Every step active: brightness, contrast and saturation away from neutral.
    for (auto _ : state) {
        AdjustColours(picture, 300, 25, 180);
        benchmark::DoNotOptimize(picture.ScanLine(0)[0]);
        benchmark::ClobberMemory();
    }
    SetRate(state, int64_t(kWidth) * kHeight);
}
BENCHMARK(BM_AdjustColours)->Unit(benchmark::kMillisecond);

void BM_ApplyExposure(benchmark::State& state) {
    Bitmap24 picture(kWidth, kHeight);
    Pattern(picture, 2);
    float exposure = 120;
    for (auto _ : state) {
        ApplyExposure(picture, exposure);
        exposure = -exposure;  // keeps the picture from settling at the ends of the scale
        benchmark::DoNotOptimize(picture.ScanLine(0)[0]);
        benchmark::ClobberMemory();
    }
    SetRate(state, int64_t(kWidth) * kHeight);
}
BENCHMARK(BM_ApplyExposure)->Unit(benchmark::kMillisecond);

// Style 1 (blend) and style 2 (multiply) of an image covering the whole picture.
void BM_OverlayBitmap(benchmark::State& state) {
    const int style = int(state.range(0));
    Bitmap24 picture(kWidth, kHeight), image(kWidth, kHeight);
    Pattern(picture, 3);
    Pattern(image, 4);
    for (auto _ : state) {
        OverlayBitmap(picture, image, 0, 0, style, 168);
        benchmark::DoNotOptimize(picture.ScanLine(0)[0]);
        benchmark::ClobberMemory();
    }
    SetRate(state, int64_t(kWidth) * kHeight);
}
BENCHMARK(BM_OverlayBitmap)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// A watermark-sized image (320 x 180) placed so that it is cut at the right and bottom.
void BM_OverlayBitmapClipped(benchmark::State& state) {
    Bitmap24 picture(kWidth, kHeight), image(320, 180);
    Pattern(picture, 5);
    Pattern(image, 6);
    const int left = kWidth - 200, top = kHeight - 100;
    for (auto _ : state) {
        OverlayBitmap(picture, image, left, top, 1, 168);
        benchmark::DoNotOptimize(picture.ScanLine(top)[0]);
        benchmark::ClobberMemory();
    }
    SetRate(state, int64_t(200) * 100);
}
BENCHMARK(BM_OverlayBitmapClipped)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
