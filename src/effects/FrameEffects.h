#pragma once
// The per-frame sequence of the frame effects: colour adjustment and exposure, a text
// watermark and an image watermark, applied to one 24-bit picture in the order the job's two
// "process" flags give. The conversion hook, the editors' previews and kelto-cli frame all
// run this one sequence.

#include <QColor>
#include <QFont>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

class Bitmap24;

// Font of the text watermark: family name, size in points, colour and style.
struct TWaterFont {
    QString Name = QStringLiteral("MS Sans Serif");
    // Points when positive (the picture has 96 dots per inch, so 12 points are 16 pixels);
    // a negative value is a height in pixels; 0 keeps the platform's default size.
    int Size = 8;
    QColor Color = QColor(0, 0, 0);
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;

    QFont ToQFont() const;
    bool operator==(const TWaterFont&) const = default;
};

// The effect and watermark values of one job. The defaults are those of a freshly added
// job: no effect at all.
struct TFrameEffects {
    int32_t Brightness = 255;  // 0 ... 512, neutral 255; factor in 1/256 units
    int32_t Contrast = 0;      // -100 ... 100, neutral 0
    int32_t Saturation = 255;  // 0 ... 512, neutral 255; factor in 1/256 units
    int32_t Exposure = 0;      // -255 ... 512, neutral 0
    bool ProcessText = false;   // the colour step also acts on the drawn text
    bool ProcessImage = false;  // the colour step also acts on the drawn image
    QString WaterText;          // empty: no text
    TWaterFont WaterFont;
    int32_t TextLeft = 0;
    int32_t TextTop = 0;
    QString WaterImage;  // bitmap file; empty: no image
    int32_t ImageLeft = 0;
    int32_t ImageTop = 0;
    int32_t ImageAlpha = 168;       // 0 ... 255, weight of the image in style 1
    int32_t TransparentStyle = 1;  // 1 weighted blend, anything else multiply

    bool operator==(const TFrameEffects&) const = default;
};

// True when the colour step changes pixels: AdjustColours runs when brightness, contrast or
// saturation differ from 255, 0, 255; ApplyExposure when exposure differs from 0.
bool NeedsColourAdjust(const TFrameEffects& effects);
bool NeedsExposure(const TFrameEffects& effects);

// Watermark image files, each read once and kept while its modification time and size stay
// the same. A file that cannot be read as a bitmap is remembered as such and reported
// through the logger once per path and modification time. Safe to use from several threads.
class TWatermarkImageCache {
public:
    struct TResult {
        std::shared_ptr<const Bitmap24> Image;  // null when the file is not a readable bitmap
        QString Error;                          // why, when Image is null
    };
    TResult Get(const QString& path);
    // Forgets every file (the next Get reads from disk and reports failures again).
    void Clear();
    // How many times a file was read from disk; for tests.
    int Loads() const;

private:
    struct TStamp {
        bool Exists = false;
        std::filesystem::file_time_type Time{};
        uintmax_t Size = 0;
        bool operator==(const TStamp&) const = default;
    };
    struct TEntry {
        TStamp Stamp;
        TResult Result;
    };
    static constexpr size_t kMaxFiles = 16;

    mutable std::mutex m_lock;
    std::map<QString, TEntry> m_files;
    int m_loads = 0;
};

// The cache the process shares (conversion tasks and previews).
TWatermarkImageCache& WatermarkImageCache();

// Runs the per-frame sequence on picture, under the picture's canvas lock:
//   colour step: AdjustColours and ApplyExposure, each only when its values are not neutral;
//   text step:   WaterText drawn with WaterFont at (TextLeft, TextTop), when not empty;
//   image step:  WaterImage overlaid at (ImageLeft, ImageTop) with TransparentStyle and
//                ImageAlpha, when not empty;
// in the order text, colour, image (ProcessText only); image, colour, text (ProcessImage
// only); text, image, colour (both); colour, text, image (neither).
// When the image file cannot be read as a bitmap nothing is changed, so no effect of the job
// shows in the picture; the result is then false and error (when given) says why.
bool ApplyFrameEffects(Bitmap24& picture, const TFrameEffects& effects, TWatermarkImageCache& cache,
                       QString* error = nullptr);
bool ApplyFrameEffects(Bitmap24& picture, const TFrameEffects& effects, QString* error = nullptr);
