#pragma once
// A 24-bit picture with row access and a lockable canvas.
//
// The pixels are a QImage of Format_BGR888: each row holds width * 3 bytes, blue, green, red
// for each pixel from the left, and rows start BytesPerLine() bytes apart (a multiple of 4,
// the row layout of a 24-bit Windows bitmap). The image's resolution is 96 dots per inch, so
// a font's point size maps to pixels as on the desktop (12 pt = 16 px).
//
// The canvas lock is a recursive mutex that every thread drawing on or copying the picture
// holds (a frame-hook thread while it draws, the main thread while it copies or paints). The
// methods of this class do not take it themselves except Assign, which holds the source's
// lock while copying, and the file loader, which holds this picture's lock.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <mutex>

class Bitmap24 {
public:
    Bitmap24();
    Bitmap24(int width, int height);
    Bitmap24(const Bitmap24&) = delete;
    Bitmap24& operator=(const Bitmap24&) = delete;

    // Resizes the picture; the part that both sizes share keeps its pixels, new pixels are
    // black. A size of 0 in either direction makes the picture empty. Returns false when the
    // memory could not be had (the picture is then empty).
    bool SetSize(int width, int height);
    int Width() const { return m_image.width(); }
    int Height() const { return m_image.height(); }
    bool Empty() const { return m_image.isNull(); }
    // The bytes of row y (0 = top), or nullptr when y lies outside the picture.
    uint8_t* ScanLine(int y);
    const uint8_t* ScanLine(int y) const;
    int BytesPerLine() const { return int(m_image.bytesPerLine()); }
    QImage& Image() { return m_image; }
    const QImage& Image() const { return m_image; }

    // The canvas lock.
    void Lock() { m_canvas.lock(); }
    void Unlock() { m_canvas.unlock(); }
    bool TryLock() { return m_canvas.try_lock(); }
    class CanvasLock {
    public:
        explicit CanvasLock(Bitmap24& bitmap) : m_bitmap(bitmap) { m_bitmap.Lock(); }
        ~CanvasLock() { m_bitmap.Unlock(); }
        CanvasLock(const CanvasLock&) = delete;
        CanvasLock& operator=(const CanvasLock&) = delete;

    private:
        Bitmap24& m_bitmap;
    };

    // Makes this picture a copy of source (size and pixels).
    void Assign(const Bitmap24& source);
    // Replaces the pixels by a copy of image, converted to 24 bits.
    void Assign(const QImage& image);

    void Fill(const QColor& color);
    // Fills the part of rect that lies inside the picture.
    void FillRect(const QRect& rect, const QColor& color);
    // Draws one line of text whose top-left corner is at (x, y): no background, no wrapping,
    // no clipping other than the picture's edges.
    void DrawText(int x, int y, const QString& text, const QFont& font, const QColor& color);
    // Width and height in pixels that DrawText covers for this text.
    static QSize TextExtent(const QString& text, const QFont& font);
    // The font DrawText uses: a family this machine does not have is replaced by the
    // system's sans-serif font of the same size and style.
    static QFont ResolveFont(const QFont& font);

    // Reads a BMP file (or any other picture Qt reads), converted to 24 bits.
    bool LoadFromFile(const QString& path);
    // Writes an uncompressed 24-bit Windows BMP (bottom-up rows padded to 4 bytes).
    bool SaveToBmp(const QString& path) const;
    // Writes a JPEG file of the given quality (1..100).
    bool SaveToJpeg(const QString& path, int quality) const;

private:
    QImage m_image;
    mutable std::recursive_mutex m_canvas;
};
