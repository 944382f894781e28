#pragma once
// Bitmap subtitles on the player's pictures: the palette conversion from RGBA to YUVA and
// the blending of one subtitle rectangle into a planar YUV 4:2:0 picture.

#include <cstdint>

struct AVSubtitleRect;

// One palette colour 0xAARRGGBB to 0xAAYYUUVV (CCIR 601, 10-bit fixed point).
uint32_t RgbaToYuva(uint32_t rgba);
// Converts every palette colour of a bitmap rectangle in place.
void ConvertSubtitlePalette(AVSubtitleRect* rect);

// Blends rect (palette already in YUVA) into the planes of a width x height YUV 4:2:0
// picture. The rectangle is clipped to the picture. Luma takes each pixel's colour; each
// chroma sample takes the pixels of the rectangle that it covers (4, 2 or 1), with the sum
// of their alphas divided by four.
void BlendSubtitleRect(uint8_t* const planes[3], const int strides[3], int width, int height,
                       const AVSubtitleRect* rect);
