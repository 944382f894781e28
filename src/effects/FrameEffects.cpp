#include "effects/FrameEffects.h"

#include <QImage>
#include <QImageReader>

#include <system_error>

#include "effects/PixelRoutines.h"
#include "engine/MediaLogger.h"
#include "platform/Bitmap24.h"

QFont TWaterFont::ToQFont() const {
    QFont font(Name);
    if (Size > 0)
        font.setPointSize(Size);
    else if (Size < 0)
        font.setPixelSize(-Size);
    font.setBold(Bold);
    font.setItalic(Italic);
    font.setUnderline(Underline);
    font.setStrikeOut(StrikeOut);
    return font;
}

bool NeedsColourAdjust(const TFrameEffects& e) {
    return e.Brightness != 255 || e.Contrast != 0 || e.Saturation != 255;
}

bool NeedsExposure(const TFrameEffects& e) { return e.Exposure != 0; }

// --- Watermark image files -------------------------------------------------------------

TWatermarkImageCache::TResult TWatermarkImageCache::Get(const QString& path) {
    TStamp stamp;
    {
        const std::filesystem::path file(path.toStdString());
        std::error_code ec;
        const auto time = std::filesystem::last_write_time(file, ec);
        if (!ec) {
            const auto size = std::filesystem::file_size(file, ec);
            if (!ec) {
                stamp.Exists = true;
                stamp.Time = time;
                stamp.Size = size;
            }
        }
    }

    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_files.find(path);
    if (found != m_files.end() && found->second.Stamp == stamp) return found->second.Result;

    // Read the file as a BMP only (as the watermark dialog offers it), converted to 24 bits.
    TResult result;
    ++m_loads;
    QImageReader reader(path, "bmp");
    reader.setAutoDetectImageFormat(false);
    QImage image = reader.read();
    if (!image.isNull()) {
        auto bitmap = std::make_shared<Bitmap24>();
        bitmap->Assign(image);
        if (!bitmap->Empty()) result.Image = std::move(bitmap);
    }
    if (!result.Image) {
        result.Error = QStringLiteral("Cannot load the watermark image %1 as a bitmap: %2")
                           .arg(path, reader.errorString());
        MediaLogger().Log(this, llError, result.Error.toStdString());
    }

    if (found == m_files.end() && m_files.size() >= kMaxFiles) m_files.erase(m_files.begin());
    m_files[path] = TEntry{stamp, result};
    return result;
}

void TWatermarkImageCache::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_files.clear();
}

int TWatermarkImageCache::Loads() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_loads;
}

TWatermarkImageCache& WatermarkImageCache() {
    static TWatermarkImageCache cache;
    return cache;
}

// --- The per-frame sequence -----------------------------------------------------------

namespace {

void ColourStep(Bitmap24& picture, const TFrameEffects& e) {
    if (NeedsColourAdjust(e)) AdjustColours(picture, e.Brightness, e.Contrast, e.Saturation);
    if (NeedsExposure(e)) ApplyExposure(picture, float(e.Exposure));
}

void TextStep(Bitmap24& picture, const TFrameEffects& e) {
    if (e.WaterText.isEmpty()) return;
    picture.DrawText(e.TextLeft, e.TextTop, e.WaterText, e.WaterFont.ToQFont(), e.WaterFont.Color);
}

void ImageStep(Bitmap24& picture, const TFrameEffects& e, const Bitmap24* image) {
    if (!image) return;
    OverlayBitmap(picture, *image, e.ImageLeft, e.ImageTop, e.TransparentStyle, e.ImageAlpha);
}

}  // namespace

bool ApplyFrameEffects(Bitmap24& picture, const TFrameEffects& e, TWatermarkImageCache& cache, QString* error) {
    // The image is fetched before anything is drawn: a file that is not a readable bitmap
    // leaves the whole picture as it was.
    std::shared_ptr<const Bitmap24> image;
    if (!e.WaterImage.isEmpty()) {
        TWatermarkImageCache::TResult loaded = cache.Get(e.WaterImage);
        if (!loaded.Image) {
            if (error) *error = loaded.Error;
            return false;
        }
        image = std::move(loaded.Image);
    }

    Bitmap24::CanvasLock lock(picture);
    if (picture.Empty()) return true;
    const Bitmap24* overlay = image.get();
    if (e.ProcessText && !e.ProcessImage) {
        TextStep(picture, e);
        ColourStep(picture, e);
        ImageStep(picture, e, overlay);
    } else if (!e.ProcessText && e.ProcessImage) {
        ImageStep(picture, e, overlay);
        ColourStep(picture, e);
        TextStep(picture, e);
    } else if (e.ProcessText && e.ProcessImage) {
        TextStep(picture, e);
        ImageStep(picture, e, overlay);
        ColourStep(picture, e);
    } else {
        ColourStep(picture, e);
        TextStep(picture, e);
        ImageStep(picture, e, overlay);
    }
    return true;
}

bool ApplyFrameEffects(Bitmap24& picture, const TFrameEffects& effects, QString* error) {
    return ApplyFrameEffects(picture, effects, WatermarkImageCache(), error);
}
