#include "media/SubtitleBlend.h"

#include <algorithm>

#include "engine/MediaLibHeaders.h"

namespace {

inline int Blend(int a, int oldValue, int newValue, int s) {
    return ((oldValue << s) * (255 - a) + newValue * a) / (255 << s);
}

}  // namespace

uint32_t RgbaToYuva(uint32_t rgba) {
    const int a = int(rgba >> 24) & 0xFF;
    const int r = int(rgba >> 16) & 0xFF;
    const int g = int(rgba >> 8) & 0xFF;
    const int b = int(rgba) & 0xFF;
    const int y = (263 * r + 517 * g + 101 * b + 16896) >> 10;
    const int u = ((-152 * r - 298 * g + 450 * b + 511) >> 10) + 128;
    const int v = ((450 * r - 377 * g - 74 * b + 511) >> 10) + 128;
    auto c = [](int x) { return uint32_t(std::clamp(x, 0, 255)); };
    return c(a) << 24 | c(y) << 16 | c(u) << 8 | c(v);
}

void ConvertSubtitlePalette(AVSubtitleRect* rect) {
    if (!rect || rect->type != SUBTITLE_BITMAP || !rect->data[1]) return;
    auto* palette = reinterpret_cast<uint32_t*>(rect->data[1]);
    for (int i = 0; i < rect->nb_colors; ++i) palette[i] = RgbaToYuva(palette[i]);
}

void BlendSubtitleRect(uint8_t* const planes[3], const int strides[3], int width, int height,
                       const AVSubtitleRect* rect) {
    if (!rect || !rect->data[0] || !rect->data[1]) return;
    const int x0 = std::clamp(rect->x, 0, width);
    const int y0 = std::clamp(rect->y, 0, height);
    const int x1 = std::min(x0 + std::max(rect->w, 0), width);
    const int y1 = std::min(y0 + std::max(rect->h, 0), height);
    if (x1 <= x0 || y1 <= y0) return;
    const auto* palette = reinterpret_cast<const uint32_t*>(rect->data[1]);
    // Pixel (x, y) of the picture inside the clipped rectangle, as YUVA.
    auto colour = [&](int x, int y) {
        const int index = rect->data[0][(y - y0) * rect->linesize[0] + (x - x0)];
        return palette[index];
    };
    for (int y = y0; y < y1; ++y) {
        uint8_t* luma = planes[0] + y * strides[0];
        for (int x = x0; x < x1; ++x) {
            const uint32_t c = colour(x, y);
            luma[x] = uint8_t(Blend(int(c >> 24), luma[x], int(c >> 16) & 0xFF, 0));
        }
    }
    // Chroma samples: each covers a 2x2 block of pixels; the odd first and last rows and
    // columns give blocks of 1 or 2 pixels inside the rectangle.
    for (int cy = y0 >> 1; cy <= (y1 - 1) >> 1; ++cy) {
        const int py0 = std::max(2 * cy, y0), py1 = std::min(2 * cy + 2, y1);
        uint8_t* uRow = planes[1] + cy * strides[1];
        uint8_t* vRow = planes[2] + cy * strides[2];
        for (int cx = x0 >> 1; cx <= (x1 - 1) >> 1; ++cx) {
            const int px0 = std::max(2 * cx, x0), px1 = std::min(2 * cx + 2, x1);
            int n = 0, alpha = 0, u = 0, v = 0;
            for (int y = py0; y < py1; ++y)
                for (int x = px0; x < px1; ++x) {
                    const uint32_t c = colour(x, y);
                    ++n;
                    alpha += int(c >> 24);
                    u += int(c >> 8) & 0xFF;
                    v += int(c) & 0xFF;
                }
            const int s = n == 4 ? 2 : (n == 2 ? 1 : 0);
            const int a = alpha >> 2;
            uRow[cx] = uint8_t(Blend(a, uRow[cx], u, s));
            vRow[cx] = uint8_t(Blend(a, vRow[cx], v, s));
        }
    }
}
