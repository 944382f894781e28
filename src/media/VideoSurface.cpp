#include "media/VideoSurface.h"

#include <cmath>

QRect DisplayRect(float aspectRatio, double sar, int pictureWidth, int pictureHeight, int areaLeft, int areaTop,
                  int areaWidth, int areaHeight) {
    double aspect;
    const bool areaKnown = areaWidth > 0 && areaHeight > 0;
    if (aspectRatio >= 0 || !areaKnown) {
        if (aspectRatio > 0) {
            aspect = aspectRatio;
        } else {
            const double s = sar > 0 ? sar : 1.0;
            aspect = pictureHeight > 0 ? s * pictureWidth / pictureHeight : 1.0;
        }
    } else {
        aspect = double(areaWidth) / areaHeight;
    }
    if (aspect <= 0) aspect = 1.0;
    int height = areaHeight;
    int width = int(std::lround(height * aspect)) & ~1;
    if (width > areaWidth) {
        width = areaWidth;
        height = int(std::lround(width / aspect)) & ~1;
    }
    const int x = (areaWidth - width) / 2;
    const int y = (areaHeight - height) / 2;
    return QRect(areaLeft + x, areaTop + y, width, height);
}

QSize TOffscreenSurface::ClientSize() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return size_;
}

void TOffscreenSurface::Present(const QImage& picture, const QRect& target) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++count_;
    last_ = picture.copy();
    target_ = target;
}

void TOffscreenSurface::SetClientSize(QSize size) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_ = size;
}

int TOffscreenSurface::PresentCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

QImage TOffscreenSurface::LastPicture() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
}

QRect TOffscreenSurface::LastTarget() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return target_;
}
