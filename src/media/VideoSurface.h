#pragma once
// The host's picture surface. The player hands it every picture to show (a 24-bit BGR
// image at the picture's own size) together with the rectangle of the display area that
// the picture covers; the host paints the picture scaled into that rectangle. Calls come
// from the player's play thread.

#include <QImage>
#include <QRect>
#include <QSize>

#include <mutex>

class TVideoSurface {
public:
    virtual ~TVideoSurface() = default;
    // Size of the area the host offers (its client size); used when the player is not given
    // a display size.
    virtual QSize ClientSize() const = 0;
    // A picture, or the sound visualization (then target covers the whole display area).
    virtual void Present(const QImage& picture, const QRect& target) = 0;
};

// Rectangle of the display area (areaLeft, areaTop, areaWidth x areaHeight) that a picture
// of pictureWidth x pictureHeight with the sample aspect ratio sar (0 or less: square)
// covers. aspectRatio above 0 forces that display aspect, 0 uses the picture's own, below 0
// fills the area. Height and width are even; the rectangle is centred.
QRect DisplayRect(float aspectRatio, double sar, int pictureWidth, int pictureHeight, int areaLeft, int areaTop,
                  int areaWidth, int areaHeight);

// A surface without a window: it records what it was given.
class TOffscreenSurface : public TVideoSurface {
public:
    explicit TOffscreenSurface(QSize size = QSize(640, 480)) : size_(size) {}

    QSize ClientSize() const override;
    void Present(const QImage& picture, const QRect& target) override;

    void SetClientSize(QSize size);
    int PresentCount() const;
    QImage LastPicture() const;
    QRect LastTarget() const;

private:
    mutable std::mutex mutex_;
    QSize size_;
    int count_ = 0;
    QImage last_;
    QRect target_;
};
