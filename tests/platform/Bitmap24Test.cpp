// Bitmap24: row layout, resizing, BMP and JPEG files, text drawing and the canvas lock.

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/Bitmap24.h"

namespace {

// A pattern in which every byte of the picture differs from its neighbours.
void Pattern(Bitmap24& bitmap) {
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width() * 3; ++x) row[x] = uint8_t(x * 7 + y * 31 + 3);
    }
}

bool SameRows(const Bitmap24& a, const Bitmap24& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), size_t(a.Width()) * 3) != 0) return false;
    return true;
}

QColor PixelAt(const Bitmap24& bitmap, int x, int y) {
    const uint8_t* p = bitmap.ScanLine(y) + x * 3;
    return QColor(p[2], p[1], p[0]);
}

class Bitmap24Files : public ::testing::Test {
protected:
    QString PathOf(const QString& name) const { return m_dir.path() + "/" + name; }
    QTemporaryDir m_dir;
};

TEST(Bitmap24, RowsHoldBlueGreenRedAndArePaddedToFourBytes) {
    for (int width = 1; width <= 6; ++width) {
        Bitmap24 bitmap(width, 2);
        ASSERT_EQ(bitmap.Width(), width);
        ASSERT_EQ(bitmap.Height(), 2);
        EXPECT_EQ(bitmap.Image().format(), QImage::Format_BGR888);
        EXPECT_EQ(bitmap.BytesPerLine(), (width * 3 + 3) / 4 * 4) << "width " << width;
        EXPECT_EQ(bitmap.ScanLine(1) - bitmap.ScanLine(0), bitmap.BytesPerLine());
    }
    Bitmap24 bitmap(3, 2);
    bitmap.Fill(QColor(10, 20, 30));
    const uint8_t* row = bitmap.ScanLine(0);
    EXPECT_EQ(row[0], 30);  // blue
    EXPECT_EQ(row[1], 20);  // green
    EXPECT_EQ(row[2], 10);  // red
    uint8_t* second = bitmap.ScanLine(1);
    second[3] = 1;
    second[4] = 2;
    second[5] = 3;
    EXPECT_EQ(bitmap.Image().pixelColor(1, 1), QColor(3, 2, 1));
    EXPECT_EQ(bitmap.Image().pixelColor(0, 1), QColor(10, 20, 30));

    EXPECT_EQ(bitmap.ScanLine(-1), nullptr);
    EXPECT_EQ(bitmap.ScanLine(2), nullptr);
    const Bitmap24 empty;
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(empty.Width(), 0);
    EXPECT_EQ(empty.ScanLine(0), nullptr);
}

TEST(Bitmap24, SetSizeKeepsTheSharedPartAndBlackensTheRest) {
    Bitmap24 bitmap(4, 3);
    Pattern(bitmap);
    Bitmap24 before;
    before.Assign(bitmap);
    ASSERT_TRUE(bitmap.SetSize(6, 2));
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(std::memcmp(bitmap.ScanLine(y), before.ScanLine(y), 12), 0) << "row " << y;
        for (int x = 4; x < 6; ++x) EXPECT_EQ(PixelAt(bitmap, x, y), QColor(0, 0, 0));
    }
    ASSERT_TRUE(bitmap.SetSize(0, 5));
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_FALSE(bitmap.SetSize(-1, 5));
}

TEST(Bitmap24, FillRectIsClippedToThePicture) {
    Bitmap24 bitmap(5, 4);
    bitmap.Fill(Qt::white);
    bitmap.FillRect(QRect(3, -2, 10, 4), QColor(1, 2, 3));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(PixelAt(bitmap, x, y), (x >= 3 && y <= 1) ? QColor(1, 2, 3) : QColor(Qt::white))
                << x << "," << y;
}

TEST(Bitmap24, AssignMakesAnIndependentCopy) {
    Bitmap24 source(7, 5);
    Pattern(source);
    Bitmap24 copy;
    copy.Assign(source);
    EXPECT_TRUE(SameRows(copy, source));
    copy.ScanLine(2)[4] ^= 0xFF;
    EXPECT_FALSE(SameRows(copy, source));
    EXPECT_NE(copy.Image().constBits(), source.Image().constBits());
}

TEST_F(Bitmap24Files, BmpRoundTripKeepsEveryByte) {
    for (const int width : {1, 2, 3, 4, 5, 17}) {
        Bitmap24 bitmap(width, 6);
        Pattern(bitmap);
        const QString path = PathOf(QString("round%1.bmp").arg(width));
        ASSERT_TRUE(bitmap.SaveToBmp(path));
        Bitmap24 loaded;
        ASSERT_TRUE(loaded.LoadFromFile(path));
        EXPECT_EQ(loaded.Image().format(), QImage::Format_BGR888);
        EXPECT_TRUE(SameRows(loaded, bitmap)) << "width " << width;
    }
}

TEST_F(Bitmap24Files, BmpHeaderDescribesUncompressedBottomUp24BitRows) {
    Bitmap24 bitmap(5, 3);  // 15 bytes a row, padded to 16
    Pattern(bitmap);
    const QString path = PathOf("header.bmp");
    ASSERT_TRUE(bitmap.SaveToBmp(path));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    const auto i32 = [&](int at) { return qFromLittleEndian<qint32>(bytes.constData() + at); };
    ASSERT_EQ(bytes.size(), 54 + 16 * 3);
    EXPECT_EQ(bytes.left(2), "BM");
    EXPECT_EQ(u32(2), quint32(bytes.size()));
    EXPECT_EQ(u32(10), 54u);  // pixel data offset
    EXPECT_EQ(u32(14), 40u);  // BITMAPINFOHEADER
    EXPECT_EQ(i32(18), 5);
    EXPECT_EQ(i32(22), 3);    // positive: bottom-up
    EXPECT_EQ(u16(26), 1);    // planes
    EXPECT_EQ(u16(28), 24);   // bits per pixel
    EXPECT_EQ(u32(30), 0u);   // BI_RGB
    EXPECT_EQ(u32(34), 48u);
    EXPECT_EQ(i32(38), 3780); // 96 dots per inch
    EXPECT_EQ(u32(46), 0u);   // colours used
    // The first row in the file is the bottom row of the picture, then zero padding.
    EXPECT_EQ(std::memcmp(bytes.constData() + 54, bitmap.ScanLine(2), 15), 0);
    EXPECT_EQ(bytes[54 + 15], '\0');
    EXPECT_EQ(std::memcmp(bytes.constData() + 54 + 32, bitmap.ScanLine(0), 15), 0);

    const Bitmap24 empty;
    EXPECT_FALSE(empty.SaveToBmp(PathOf("empty.bmp")));
    EXPECT_FALSE(bitmap.SaveToBmp(PathOf("no/such/folder/x.bmp")));
}

TEST_F(Bitmap24Files, LoadConvertsOtherPicturesTo24BitsAndFailsWithoutHarm) {
    QImage argb(3, 2, QImage::Format_ARGB32);
    argb.fill(QColor(200, 100, 50));
    argb.setPixelColor(2, 1, QColor(1, 2, 3));
    const QString png = PathOf("picture.png");
    ASSERT_TRUE(argb.save(png, "PNG"));
    Bitmap24 bitmap;
    ASSERT_TRUE(bitmap.LoadFromFile(png));
    EXPECT_EQ(bitmap.Image().format(), QImage::Format_BGR888);
    EXPECT_EQ(PixelAt(bitmap, 0, 0), QColor(200, 100, 50));
    EXPECT_EQ(PixelAt(bitmap, 2, 1), QColor(1, 2, 3));

    QFile garbage(PathOf("garbage.bmp"));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("BM this is not a picture");
    garbage.close();
    EXPECT_FALSE(bitmap.LoadFromFile(garbage.fileName()));
    EXPECT_FALSE(bitmap.LoadFromFile(PathOf("missing.bmp")));
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(PixelAt(bitmap, 2, 1), QColor(1, 2, 3));
}

TEST_F(Bitmap24Files, JpegIsWrittenWithTheQualityAsked) {
    ASSERT_TRUE(QImageWriter::supportedImageFormats().contains("jpeg")) << "Qt's JPEG plug-in is missing";
    Bitmap24 solid(32, 24);
    solid.Fill(QColor(40, 120, 200));
    const QString path = PathOf("snap.jpg");
    ASSERT_TRUE(solid.SaveToJpeg(path, 90));
    QImageReader reader(path);
    EXPECT_EQ(reader.format(), "jpeg");
    const QImage read = reader.read();
    ASSERT_EQ(read.size(), QSize(32, 24));
    const QColor c = read.pixelColor(16, 12);
    EXPECT_NEAR(c.red(), 40, 6);
    EXPECT_NEAR(c.green(), 120, 6);
    EXPECT_NEAR(c.blue(), 200, 6);

    // Quality shows in the size of a detailed picture.
    Bitmap24 detailed(64, 64);
    Pattern(detailed);
    ASSERT_TRUE(detailed.SaveToJpeg(PathOf("low.jpg"), 5));
    ASSERT_TRUE(detailed.SaveToJpeg(PathOf("high.jpg"), 100));
    EXPECT_LT(QFileInfo(PathOf("low.jpg")).size() * 2, QFileInfo(PathOf("high.jpg")).size());
}

struct TChanged {
    int count = 0;
    QRect box;
    bool exactColor = false;  // some pixel has exactly the text colour
};

TChanged Compare(const Bitmap24& before, const Bitmap24& after, const QColor& color) {
    TChanged changed;
    for (int y = 0; y < after.Height(); ++y)
        for (int x = 0; x < after.Width(); ++x) {
            const QColor a = PixelAt(after, x, y);
            if (a == PixelAt(before, x, y)) continue;
            ++changed.count;
            changed.box |= QRect(x, y, 1, 1);
            if (a == color) changed.exactColor = true;
        }
    return changed;
}

TEST(Bitmap24Text, DrawsOnlyNearItsTopLeftOriginInTheGivenColour) {
    QFont font("DejaVu Sans");
    font.setPixelSize(20);
    font.setBold(true);
    const QColor color(250, 240, 10);
    const QSize extent = Bitmap24::TextExtent("Hello", font);
    ASSERT_GT(extent.width(), 30);
    ASSERT_GE(extent.height(), 20);
    for (const QPoint origin : {QPoint(10, 5), QPoint(120, 60)}) {
        Bitmap24 bitmap(240, 100);
        bitmap.Fill(QColor(0, 0, 128));
        Pattern(bitmap);  // no plain background: only the glyphs may change pixels
        Bitmap24 before;
        before.Assign(bitmap);
        bitmap.DrawText(origin.x(), origin.y(), "Hello", font, color);
        const TChanged changed = Compare(before, bitmap, color);
        EXPECT_GT(changed.count, 60) << "at " << origin.x() << "," << origin.y();
        EXPECT_TRUE(changed.exactColor);
        // Glyphs start at the origin (the capital's top is below the line's top) and stay
        // inside the text's extent.
        const QRect allowed(origin - QPoint(1, 1), extent + QSize(2, 2));
        EXPECT_TRUE(allowed.contains(changed.box)) << "changed " << changed.box.x() << "," << changed.box.y()
                                                   << " " << changed.box.width() << "x" << changed.box.height();
        EXPECT_LE(changed.box.left(), origin.x() + 3);
        EXPECT_LE(changed.box.top(), origin.y() + extent.height() / 3);
    }
}

TEST(Bitmap24Text, TextOverTheEdgeIsCutByThePictureOnly) {
    QFont font("DejaVu Sans");
    font.setPixelSize(16);
    Bitmap24 bitmap(40, 20);
    bitmap.Fill(Qt::black);
    bitmap.DrawText(25, 8, "WWWW", font, Qt::white);
    int lit = 0;
    for (int y = 8; y < 20; ++y)
        for (int x = 25; x < 40; ++x) lit += PixelAt(bitmap, x, y) != QColor(Qt::black);
    EXPECT_GT(lit, 10);
    EXPECT_EQ(bitmap.Width(), 40);
}

TEST(Bitmap24Text, MissingFamilyFallsBackToTheSystemSansSerifOfTheSameSize) {
    QFont missing("No Such Family Kelto");
    missing.setPointSize(14);
    const QFont resolved = Bitmap24::ResolveFont(missing);
    EXPECT_TRUE(QFontDatabase::hasFamily(resolved.family())) << resolved.family().toStdString();
    EXPECT_EQ(resolved.pointSize(), 14);
    // An installed family is left alone.
    QFont dejavu("DejaVu Serif", 11);
    EXPECT_EQ(Bitmap24::ResolveFont(dejavu).family(), "DejaVu Serif");

    // Drawing with the missing family paints what the fallback font paints.
    Bitmap24 a(120, 40), b(120, 40);
    a.Fill(Qt::white);
    b.Fill(Qt::white);
    a.DrawText(4, 4, "Fallback", missing, Qt::black);
    b.DrawText(4, 4, "Fallback", resolved, Qt::black);
    EXPECT_TRUE(SameRows(a, b));
    Bitmap24 blank(120, 40);
    blank.Fill(Qt::white);
    EXPECT_FALSE(SameRows(a, blank));
    // 14 pt at 96 dots per inch is about 19 pixels of line height.
    EXPECT_NEAR(Bitmap24::TextExtent("X", missing).height(), 22, 4);
}

TEST(Bitmap24Lock, CanvasLockIsRecursiveAndExcludesOtherThreads) {
    Bitmap24 bitmap(4, 4);
    {
        Bitmap24::CanvasLock outer(bitmap);
        Bitmap24::CanvasLock inner(bitmap);  // the same thread may lock again
        bool otherGotIt = true;
        std::thread([&] { otherGotIt = bitmap.TryLock(); if (otherGotIt) bitmap.Unlock(); }).join();
        EXPECT_FALSE(otherGotIt);
    }
    bool otherGotIt = false;
    std::thread([&] { otherGotIt = bitmap.TryLock(); if (otherGotIt) bitmap.Unlock(); }).join();
    EXPECT_TRUE(otherGotIt);
}

TEST(Bitmap24Lock, ReaderHoldingTheLockNeverSeesAHalfDrawnPicture) {
    Bitmap24 bitmap(320, 240);
    bitmap.Fill(QColor(0, 0, 0));
    std::atomic<bool> stop{false};
    std::atomic<int> drawn{0};
    // The drawing thread fills the picture row by row with one grey level after another,
    // holding the lock for each whole picture.
    std::thread drawer([&] {
        for (int level = 1; !stop; level = level % 250 + 1) {
            {
                Bitmap24::CanvasLock lock(bitmap);
                for (int y = 0; y < bitmap.Height(); ++y) {
                    std::memset(bitmap.ScanLine(y), level, size_t(bitmap.Width()) * 3);
                    if (y % 60 == 0) std::this_thread::yield();
                }
            }
            ++drawn;
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    while (drawn == 0) std::this_thread::yield();
    int torn = 0, copies = 0;
    for (; copies < 100 || drawn < 100; ++copies) {
        Bitmap24 copy;
        copy.Assign(bitmap);  // Assign holds the source's lock
        const uint8_t first = copy.ScanLine(0)[0];
        for (int y = 0; y < copy.Height(); ++y)
            if (copy.ScanLine(y)[0] != first || copy.ScanLine(y)[copy.Width() * 3 - 1] != first) {
                ++torn;
                break;
            }
    }
    stop = true;
    drawer.join();
    EXPECT_EQ(torn, 0) << "of " << copies << " copies";
}

}  // namespace
