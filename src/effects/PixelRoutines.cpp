#include "effects/PixelRoutines.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "platform/Bitmap24.h"

namespace {

// Rounds to the nearest integer, halves to even (the default rounding mode of the FPU).
long double RoundHalfEven(long double value) { return std::nearbyint(value); }

// Clamps a long double to 0 ... 255 before it becomes an integer; NaN gives fallback.
int ClampByte(long double value, int fallback) {
    if (std::isnan(value)) return fallback;
    if (value <= 0.0L) return 0;
    if (value >= 255.0L) return 255;
    return int(value);
}

int ClampInt(int64_t value, int low, int high) { return int(std::clamp<int64_t>(value, low, high)); }

}  // namespace

TPixelRows RowsOf(Bitmap24& bitmap) {
    TPixelRows rows;
    if (bitmap.Empty()) return rows;
    rows.First = bitmap.ScanLine(0);
    rows.Width = bitmap.Width();
    rows.Height = bitmap.Height();
    // The distance between rows comes from the rows themselves; a single row has none.
    rows.Stride = rows.Height > 1 ? bitmap.ScanLine(1) - bitmap.ScanLine(0) : bitmap.BytesPerLine();
    return rows;
}

TPixelRows RowsOf(const Bitmap24& bitmap) { return RowsOf(const_cast<Bitmap24&>(bitmap)); }

namespace PixelTables {

void BuildColourTables(TColourTables& t, int32_t brightness, int32_t contrast, int32_t saturation) {
    // Contrast factor. Above 0 it is 1 / cos(a * pi / 200), which grows without bound toward
    // 100, so 100 itself acts as 99; at 0 and below it is cos(a * 0.015708).
    const int32_t a = contrast == 100 ? 99 : contrast;
    long double factor;
    if (a > 0)
        factor = 1.0L / std::cos(static_cast<long double>(a) * (std::numbers::pi_v<long double> / 200.0L));
    else
        factor = std::cos(static_cast<long double>(a) * 0.015708L);

    // C: contrast around the pivot 170.
    for (int i = 0; i < 256; ++i)
        t.Contrast[i] = uint8_t(ClampByte(RoundHalfEven(static_cast<long double>(i - 170) * factor + 170.0L), 170));

    // L: brightness, (256 + v * (j - 1)) / 256 truncated toward zero, then contrast.
    for (int j = 0; j < 256; ++j) {
        const int64_t k = (256 + int64_t(brightness) * (j - 1)) / 256;
        t.Brightness[j] = t.Contrast[ClampInt(k, 0, 255)];
    }

    // S: ((i + 1) * s) >> 8, a logical shift of the 32-bit product, kept in 16 bits.
    for (int i = 0; i < 256; ++i) {
        const uint32_t product = uint32_t(int64_t(i + 1) * saturation);
        t.Saturation[i] = uint16_t(product >> 8);
    }
    // G: grey level of the channel sum minus its saturation share.
    for (int s = 0; s < 768; ++s) t.Grey[s] = int32_t(s / 3) - int32_t(t.Saturation[s / 3]);
}

void BuildExposureTable(uint8_t table[256], float exposure) {
    const long double x = exposure;
    for (int i = 0; i < 256; ++i) {
        long double r = RoundHalfEven(256.0L * (1.0L - std::exp(-(x / 128.0L) * (static_cast<long double>(i) / 128.0L))));
        // For x >= 0, r lies in 0 ... 256. For x < 0 it is 0 or negative and grows like an
        // exponential; once -r reaches 65536 every value below 255 ends at 0 anyway, so the
        // bound changes no result and keeps the 64-bit product finite.
        if (std::isnan(r)) r = 0.0L;
        r = std::clamp(r, -65536.0L, 256.0L);
        const int64_t R = int64_t(r);
        int64_t value;
        if (x >= 0.0L)
            value = i + ((R * (255 - i)) >> 8);
        else
            value = i - ((-R * (255 - i)) >> 8);
        table[i] = uint8_t(ClampInt(value, 0, 255));
    }
}

}  // namespace PixelTables

void AdjustColours(const TPixelRows& picture, int32_t brightness, int32_t contrast, int32_t saturation) {
    if (picture.Empty()) return;
    PixelTables::TColourTables t;
    PixelTables::BuildColourTables(t, brightness, contrast, saturation);

    // Each channel becomes L[clamp(G[r + g + b] + S[c], 0, 255)]. The clamp is folded into
    // one table that covers every sum G[...] + S[...] can take: X[k - low] = L[clamp(k)].
    const auto [minS, maxS] = std::minmax_element(t.Saturation, t.Saturation + 256);
    const auto [minG, maxG] = std::minmax_element(t.Grey, t.Grey + 768);
    const int32_t low = *minG + int32_t(*minS);
    const int32_t high = *maxG + int32_t(*maxS);
    std::vector<uint8_t> clamped(size_t(high - low + 1));
    for (int32_t k = low; k <= high; ++k) clamped[size_t(k - low)] = t.Brightness[std::clamp(k, 0, 255)];
    // Grey levels shifted so that G + S indexes the clamped table directly.
    int32_t grey[768];
    for (int s = 0; s < 768; ++s) grey[s] = t.Grey[s] - low;
    const uint8_t* X = clamped.data();
    const uint16_t* S = t.Saturation;

    for (int y = 0; y < picture.Height; ++y) {
        uint8_t* p = picture.Row(y);
        uint8_t* const end = p + std::ptrdiff_t(picture.Width) * 3;
        for (; p != end; p += 3) {
            const unsigned b = p[0], g = p[1], r = p[2];
            const int32_t base = grey[b + g + r];
            p[0] = X[base + S[b]];
            p[1] = X[base + S[g]];
            p[2] = X[base + S[r]];
        }
    }
}

void AdjustColours(Bitmap24& picture, int32_t brightness, int32_t contrast, int32_t saturation) {
    AdjustColours(RowsOf(picture), brightness, contrast, saturation);
}

void ApplyExposure(const TPixelRows& picture, float exposure) {
    if (picture.Empty()) return;
    uint8_t T[256];
    PixelTables::BuildExposureTable(T, exposure);
    const std::ptrdiff_t bytes = std::ptrdiff_t(picture.Width) * 3;
    for (int y = 0; y < picture.Height; ++y) {
        uint8_t* p = picture.Row(y);
        for (std::ptrdiff_t k = 0; k < bytes; ++k) p[k] = T[p[k]];
    }
}

void ApplyExposure(Bitmap24& picture, float exposure) { ApplyExposure(RowsOf(picture), exposure); }

void OverlayBitmap(const TPixelRows& picture, const TPixelRows& image, int left, int top, int style, int alpha) {
    if (picture.Empty() || image.Empty()) return;
    // Counts of rows and columns: the image's size, cut at the bottom and right edges.
    const int64_t rows = int64_t(top) + image.Height < picture.Height ? image.Height : int64_t(picture.Height) - top;
    const int64_t cols = int64_t(left) + image.Width < picture.Width ? image.Width : int64_t(picture.Width) - left;
    if (rows <= 0 || cols <= 0) return;
    // A negative position puts part of the image above or left of the picture; that part
    // is not drawn (the picture has no pixels there).
    const int64_t firstRow = top < 0 ? -int64_t(top) : 0;
    const int64_t firstCol = left < 0 ? -int64_t(left) : 0;
    if (firstRow >= rows || firstCol >= cols) return;
    const std::ptrdiff_t bytes = std::ptrdiff_t(cols - firstCol) * 3;

    if (style == 1) {
        // ((256 - a) * destination + a * source) >> 8 per channel; a outside 0 ... 255 is
        // held at the nearer end so that the result stays a byte.
        const uint32_t a = uint32_t(std::clamp(alpha, 0, 255));
        const uint32_t keep = 256 - a;
        for (int64_t r = firstRow; r < rows; ++r) {
            const uint8_t* src = image.Row(int(r)) + firstCol * 3;
            uint8_t* dst = picture.Row(int(top + r)) + (left + firstCol) * 3;
            for (std::ptrdiff_t k = 0; k < bytes; ++k) dst[k] = uint8_t((keep * dst[k] + a * src[k]) >> 8);
        }
    } else {
        // source * destination div 255 per channel.
        for (int64_t r = firstRow; r < rows; ++r) {
            const uint8_t* src = image.Row(int(r)) + firstCol * 3;
            uint8_t* dst = picture.Row(int(top + r)) + (left + firstCol) * 3;
            for (std::ptrdiff_t k = 0; k < bytes; ++k) dst[k] = uint8_t(uint32_t(src[k]) * dst[k] / 255u);
        }
    }
}

void OverlayBitmap(Bitmap24& picture, const Bitmap24& image, int left, int top, int style, int alpha) {
    OverlayBitmap(RowsOf(picture), RowsOf(image), left, top, style, alpha);
}
