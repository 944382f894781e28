#include "platform/Bitmap24.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

// 96 dots per inch, in dots per metre as a BMP header and QImage keep it.
constexpr int kDotsPerMeter = 3780;

void SetResolution(QImage& image) {
    if (image.isNull()) return;
    image.setDotsPerMeterX(kDotsPerMeter);
    image.setDotsPerMeterY(kDotsPerMeter);
}

QImage ToBgr(const QImage& image) {
    QImage converted = image.format() == QImage::Format_BGR888 ? image.copy()
                                                                : image.convertToFormat(QImage::Format_BGR888);
    SetResolution(converted);
    return converted;
}

template <typename T>
void Put(QByteArray& out, qsizetype at, T value) {
    qToLittleEndian(value, out.data() + at);
}

}  // namespace

Bitmap24::Bitmap24() = default;

Bitmap24::Bitmap24(int width, int height) { SetSize(width, height); }

bool Bitmap24::SetSize(int width, int height) {
    if (width <= 0 || height <= 0) {
        m_image = QImage();
        return width >= 0 && height >= 0;
    }
    if (width == Width() && height == Height()) return true;
    QImage resized(width, height, QImage::Format_BGR888);
    if (resized.isNull()) {
        m_image = QImage();
        return false;
    }
    resized.fill(Qt::black);
    const int rows = std::min(height, Height());
    const size_t bytes = size_t(std::min(width, Width())) * 3;
    for (int y = 0; y < rows; ++y) std::memcpy(resized.scanLine(y), m_image.constScanLine(y), bytes);
    SetResolution(resized);
    m_image = std::move(resized);
    return true;
}

uint8_t* Bitmap24::ScanLine(int y) {
    if (y < 0 || y >= Height()) return nullptr;
    return m_image.scanLine(y);
}

const uint8_t* Bitmap24::ScanLine(int y) const {
    if (y < 0 || y >= Height()) return nullptr;
    return m_image.constScanLine(y);
}

void Bitmap24::Assign(const Bitmap24& source) {
    if (&source == this) return;
    std::scoped_lock guard(m_canvas, source.m_canvas);
    m_image = source.m_image.copy();
    SetResolution(m_image);
}

void Bitmap24::Assign(const QImage& image) {
    QImage converted = image.isNull() ? QImage() : ToBgr(image);
    std::lock_guard<std::recursive_mutex> guard(m_canvas);
    m_image = std::move(converted);
}

void Bitmap24::Fill(const QColor& color) {
    if (!m_image.isNull()) m_image.fill(color);
}

void Bitmap24::FillRect(const QRect& rect, const QColor& color) {
    const QRect area = rect.normalized() & m_image.rect();
    if (area.isEmpty()) return;
    const uint8_t b = uint8_t(color.blue()), g = uint8_t(color.green()), r = uint8_t(color.red());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        uint8_t* p = m_image.scanLine(y) + area.left() * 3;
        for (int x = 0; x < area.width(); ++x, p += 3) {
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    }
}

QFont Bitmap24::ResolveFont(const QFont& font) {
    QFont resolved = font;
    const QString family = font.family();
    if (family.isEmpty() || !QFontDatabase::hasFamily(family)) {
        // The system font's family may be an alias ("Sans Serif"); take the installed
        // family it resolves to.
        const QFont system = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        resolved.setFamilies({QFontInfo(system).family()});
        resolved.setStyleHint(QFont::SansSerif);
    }
    return resolved;
}

QSize Bitmap24::TextExtent(const QString& text, const QFont& font) {
    QImage device(1, 1, QImage::Format_BGR888);
    SetResolution(device);
    const QFontMetrics metrics(ResolveFont(font), &device);
    return QSize(metrics.horizontalAdvance(text), metrics.height());
}

void Bitmap24::DrawText(int x, int y, const QString& text, const QFont& font, const QColor& color) {
    if (m_image.isNull() || text.isEmpty()) return;
    const QFont resolved = ResolveFont(font);
    auto paint = [&](QImage& target) {
        QPainter painter(&target);
        if (!painter.isActive()) return false;
        painter.setFont(resolved);
        painter.setPen(color);
        painter.setBackgroundMode(Qt::TransparentMode);
        // QPainter places text on its base line; the caller gives the top-left corner.
        painter.drawText(QPointF(x, y + painter.fontMetrics().ascent()), text);
        return true;
    };
    if (paint(m_image)) return;
    // A raster engine that cannot paint on 24-bit pixels paints on a 32-bit copy; the
    // conversion is exact both ways, so pixels away from the text keep their values.
    QImage wide = m_image.convertToFormat(QImage::Format_RGB32);
    if (paint(wide)) m_image = ToBgr(wide);
}

bool Bitmap24::LoadFromFile(const QString& path) {
    QImageReader reader(path);
    QImage image = reader.read();
    if (image.isNull()) return false;
    Assign(image);
    return true;
}

bool Bitmap24::SaveToBmp(const QString& path) const {
    std::lock_guard<std::recursive_mutex> guard(m_canvas);
    if (m_image.isNull()) return false;
    const int width = Width(), height = Height();
    const qsizetype rowBytes = qsizetype(width) * 3;
    const qsizetype stride = (rowBytes + 3) & ~qsizetype(3);
    const qsizetype headerSize = 14 + 40;
    const qsizetype imageSize = stride * height;
    if (headerSize + imageSize > qsizetype(0xFFFFFFFFu)) return false;

    QByteArray out(headerSize + imageSize, '\0');
    // BITMAPFILEHEADER
    out[0] = 'B';
    out[1] = 'M';
    Put<quint32>(out, 2, quint32(headerSize + imageSize));
    Put<quint32>(out, 10, quint32(headerSize));
    // BITMAPINFOHEADER; a positive height means rows from the bottom up.
    Put<quint32>(out, 14, 40);
    Put<qint32>(out, 18, width);
    Put<qint32>(out, 22, height);
    Put<quint16>(out, 26, 1);   // planes
    Put<quint16>(out, 28, 24);  // bits per pixel
    Put<quint32>(out, 30, 0);   // BI_RGB, uncompressed
    Put<quint32>(out, 34, quint32(imageSize));
    Put<qint32>(out, 38, m_image.dotsPerMeterX() > 0 ? m_image.dotsPerMeterX() : kDotsPerMeter);
    Put<qint32>(out, 42, m_image.dotsPerMeterY() > 0 ? m_image.dotsPerMeterY() : kDotsPerMeter);
    // Colours used and important stay 0. The pixel bytes are already blue, green, red.
    for (int y = 0; y < height; ++y)
        std::memcpy(out.data() + headerSize + qsizetype(height - 1 - y) * stride, m_image.constScanLine(y),
                    size_t(rowBytes));

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(out) != out.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool Bitmap24::SaveToJpeg(const QString& path, int quality) const {
    std::lock_guard<std::recursive_mutex> guard(m_canvas);
    if (m_image.isNull()) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    QImageWriter writer(&file, "jpeg");
    writer.setQuality(std::clamp(quality, 1, 100));
    if (!writer.write(m_image)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
