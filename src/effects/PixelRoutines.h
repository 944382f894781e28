#pragma once
// The pixel routines of the frame effects: colour adjustment, exposure and the image
// overlay, on 24-bit pictures (3 bytes per pixel: blue, green, red).
//
// The routines work on a row view: the address of the top row, the distance in bytes from
// one row to the next (negative for a picture stored from the bottom up), the width and the
// height. A Bitmap24 gives its view through RowsOf, which takes the row distance from the
// rows themselves (row 1 minus row 0), so the layout of the rows in memory never matters.
// Bytes past width * 3 in a row (padding) are never touched.

#include <cstddef>
#include <cstdint>

class Bitmap24;

struct TPixelRows {
    uint8_t* First = nullptr;  // row 0, the top row
    std::ptrdiff_t Stride = 0;  // bytes from row y to row y + 1
    int Width = 0;
    int Height = 0;

    uint8_t* Row(int y) const { return First + std::ptrdiff_t(y) * Stride; }
    bool Empty() const { return First == nullptr || Width <= 0 || Height <= 0; }
};

// The row view of a bitmap; empty for an empty bitmap. The view of a const bitmap may only
// be read (it is the source of OverlayBitmap).
TPixelRows RowsOf(Bitmap24& bitmap);
TPixelRows RowsOf(const Bitmap24& bitmap);

// Combined colour adjustment: saturation, then brightness, then contrast, through tables
// built once per call. brightness and saturation are factors in 1/256 units (256 keeps the
// picture as it is), contrast an angle from -100 to 100 (0 keeps it; 100 acts as 99).
void AdjustColours(const TPixelRows& picture, int32_t brightness, int32_t contrast, int32_t saturation);
void AdjustColours(Bitmap24& picture, int32_t brightness, int32_t contrast, int32_t saturation);

// Exposure curve: positive values lift dark and middle tones toward 255, negative values
// pull them toward 0; 0 and 255 keep their values for positive exposure.
void ApplyExposure(const TPixelRows& picture, float exposure);
void ApplyExposure(Bitmap24& picture, float exposure);

// Draws image onto picture with its top-left corner at (left, top). style 1 blends with
// weight alpha (0 to 255; 0 keeps the picture); any other style multiplies (white keeps the
// picture, black makes it black) and ignores alpha. The image is clipped at every edge of
// the picture.
void OverlayBitmap(const TPixelRows& picture, const TPixelRows& image, int left, int top, int style, int alpha);
void OverlayBitmap(Bitmap24& picture, const Bitmap24& image, int left, int top, int style, int alpha);

// The lookup tables of the routines. Each routine builds its tables anew for every call.
namespace PixelTables {

struct TColourTables {
    uint8_t Contrast[256];     // C: contrast around the pivot 170
    uint8_t Brightness[256];   // L: brightness followed by contrast
    uint16_t Saturation[256];  // S
    int32_t Grey[768];         // G, indexed by the channel sum
};
void BuildColourTables(TColourTables& tables, int32_t brightness, int32_t contrast, int32_t saturation);

// T of the exposure curve.
void BuildExposureTable(uint8_t table[256], float exposure);

}  // namespace PixelTables
