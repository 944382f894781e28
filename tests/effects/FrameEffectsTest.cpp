// The per-frame sequence: which routines run, the four step orders, the text watermark, and
// the watermark image files (read once, a bad file leaves the picture untouched and is
// reported once).

#include <gtest/gtest.h>

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "effects/FrameEffects.h"
#include "effects/PixelRoutines.h"
#include "engine/MediaLogger.h"
#include "platform/Bitmap24.h"

namespace {

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

struct TBgr {
    int b, g, r;
    bool operator==(const TBgr&) const = default;
};

TBgr At(const Bitmap24& bitmap, int x, int y) {
    const uint8_t* p = bitmap.ScanLine(y) + x * 3;
    return {p[0], p[1], p[2]};
}

// The smallest rectangle holding every pixel that differs from colour; empty when none.
QRect ChangedArea(const Bitmap24& bitmap, TBgr colour) {
    QRect area;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            if (!(At(bitmap, x, y) == colour)) area |= QRect(x, y, 1, 1);
    return area;
}

class FrameEffectsTest : public ::testing::Test {
protected:
    QString PathOf(const QString& name) const { return m_dir.path() + "/" + name; }
    // Writes a BMP file of the given size in a colour, or a gradient when colour is invalid.
    QString WriteImage(const QString& name, int width, int height, const QColor& colour = QColor()) {
        Bitmap24 image(width, height);
        if (colour.isValid())
            image.Fill(colour);
        else
            Pattern(image);
        const QString path = PathOf(name);
        EXPECT_TRUE(image.SaveToBmp(path));
        return path;
    }
    static TFrameEffects Neutral() { return TFrameEffects{}; }

    QTemporaryDir m_dir;
    TWatermarkImageCache m_cache;
};

TEST_F(FrameEffectsTest, NeutralValuesCallNeitherRoutine) {
    // AdjustColours(255, 0, 255) itself would turn 255 into 254, so white shows whether it ran.
    Bitmap24 picture(16, 4), before(16, 4);
    Pattern(picture);
    picture.FillRect(QRect(0, 0, 4, 4), Qt::white);
    before.Assign(picture);
    EXPECT_TRUE(ApplyFrameEffects(picture, Neutral(), m_cache));
    EXPECT_TRUE(SameRows(picture, before));
    Bitmap24 probe(1, 1);
    probe.Fill(Qt::white);
    AdjustColours(probe, 255, 0, 255);
    EXPECT_EQ(At(probe, 0, 0), (TBgr{254, 254, 254}));
}

TEST_F(FrameEffectsTest, EachRoutineRunsOnlyForItsOwnValues) {
    Bitmap24 source(16, 4);
    Pattern(source);
    source.FillRect(QRect(0, 0, 4, 4), Qt::white);

    // Exposure alone: exactly ApplyExposure (white stays white, so AdjustColours did not run).
    TFrameEffects exposure = Neutral();
    exposure.Exposure = 100;
    Bitmap24 picture, expected;
    picture.Assign(source);
    expected.Assign(source);
    ApplyExposure(expected, 100.0f);
    ASSERT_TRUE(ApplyFrameEffects(picture, exposure, m_cache));
    EXPECT_TRUE(SameRows(picture, expected));
    EXPECT_EQ(At(picture, 0, 0), (TBgr{255, 255, 255}));

    // Any one of the three colour values away from neutral runs AdjustColours with all three.
    const int changes[][3] = {{254, 0, 255}, {255, 1, 255}, {255, 0, 256}};
    for (const auto& [v, a, s] : changes) {
        TFrameEffects colour = Neutral();
        colour.Brightness = v;
        colour.Contrast = a;
        colour.Saturation = s;
        picture.Assign(source);
        expected.Assign(source);
        AdjustColours(expected, v, a, s);
        ASSERT_TRUE(ApplyFrameEffects(picture, colour, m_cache));
        EXPECT_TRUE(SameRows(picture, expected)) << v << " " << a << " " << s;
        EXPECT_FALSE(SameRows(picture, source)) << v << " " << a << " " << s;
    }
}

TEST_F(FrameEffectsTest, ProcessTextWithSaturationZeroTurnsTheTextGreyAndKeepsTheImage) {
    // White picture, red text on the left, an image in the right half multiplied onto white
    // (so it shows exactly its own colour).
    const QString image = WriteImage("orange.bmp", 40, 30, QColor(250, 120, 10));
    TFrameEffects e = Neutral();
    e.Saturation = 0;
    e.Brightness = 256;
    e.ProcessText = true;
    e.WaterText = "WWW";
    e.WaterFont.Size = 20;
    e.WaterFont.Bold = true;
    e.WaterFont.Color = QColor(255, 0, 0);
    e.WaterImage = image;
    e.ImageLeft = 100;
    e.ImageTop = 5;
    e.TransparentStyle = 2;

    Bitmap24 picture(160, 50);
    picture.Fill(Qt::white);
    ASSERT_TRUE(ApplyFrameEffects(picture, e, m_cache));
    int dark = 0;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < 100; ++x) {
            const TBgr p = At(picture, x, y);
            ASSERT_TRUE(p.b == p.g && p.g == p.r) << x << "," << y;
            if (p.r < 200) ++dark;
        }
    EXPECT_GT(dark, 30) << "the text was drawn";
    for (int y = 5; y < 35; ++y)
        for (int x = 100; x < 140; ++x) ASSERT_EQ(At(picture, x, y), (TBgr{10, 120, 250})) << x << "," << y;

    // Without the flag the text is drawn after the colour step and stays red.
    e.ProcessText = false;
    picture.Fill(Qt::white);
    ASSERT_TRUE(ApplyFrameEffects(picture, e, m_cache));
    int red = 0;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < 100; ++x) {
            const TBgr p = At(picture, x, y);
            if (p.r > p.g + 100) ++red;
        }
    EXPECT_GT(red, 30);
}

TEST_F(FrameEffectsTest, TheFourStepOrders) {
    // The text and the image overlap, and the colour step (saturation 0, contrast) changes
    // whatever was drawn before it; so each order gives its own picture.
    const QString image = WriteImage("gradient.bmp", 50, 30);
    TFrameEffects e = Neutral();
    e.Saturation = 0;
    e.Contrast = 30;
    e.WaterText = "Kelto";
    e.WaterFont.Size = 18;
    e.WaterFont.Color = QColor(0, 200, 40);
    e.TextLeft = 4;
    e.TextTop = 3;
    e.WaterImage = image;
    e.ImageLeft = 20;
    e.ImageTop = 8;
    e.ImageAlpha = 150;

    Bitmap24 source(90, 45), loaded;
    Pattern(source);
    ASSERT_TRUE(loaded.LoadFromFile(image));

    auto colour = [&](Bitmap24& p) { AdjustColours(p, e.Brightness, e.Contrast, e.Saturation); };
    auto text = [&](Bitmap24& p) { p.DrawText(4, 3, "Kelto", e.WaterFont.ToQFont(), QColor(0, 200, 40)); };
    auto overlay = [&](Bitmap24& p) { OverlayBitmap(p, loaded, 20, 8, 1, 150); };
    struct TOrder {
        bool processText, processImage;
        std::vector<std::function<void(Bitmap24&)>> steps;
    };
    const TOrder orders[] = {
        {true, false, {text, colour, overlay}},
        {false, true, {overlay, colour, text}},
        {true, true, {text, overlay, colour}},
        {false, false, {colour, text, overlay}},
    };
    std::vector<std::unique_ptr<Bitmap24>> results;
    for (const TOrder& order : orders) {
        Bitmap24 expected;
        expected.Assign(source);
        for (const auto& step : order.steps) step(expected);
        e.ProcessText = order.processText;
        e.ProcessImage = order.processImage;
        auto picture = std::make_unique<Bitmap24>();
        picture->Assign(source);
        ASSERT_TRUE(ApplyFrameEffects(*picture, e, m_cache));
        EXPECT_TRUE(SameRows(*picture, expected)) << order.processText << order.processImage;
        results.push_back(std::move(picture));
    }
    for (size_t i = 0; i < results.size(); ++i)
        for (size_t j = i + 1; j < results.size(); ++j)
            EXPECT_FALSE(SameRows(*results[i], *results[j])) << "orders " << i << " and " << j;
}

TEST_F(FrameEffectsTest, EmptyPictureIsProcessedAsEmpty) {
    TFrameEffects e = Neutral();
    e.Saturation = 0;
    e.WaterText = "x";
    e.WaterImage = WriteImage("small.bmp", 2, 2);
    Bitmap24 empty;
    EXPECT_TRUE(ApplyFrameEffects(empty, e, m_cache));
    EXPECT_TRUE(empty.Empty());
}

TEST_F(FrameEffectsTest, WaitsForTheCanvasLock) {
    // A thread that copies or paints the picture holds its canvas lock; the sequence draws
    // only once that thread lets go.
    TFrameEffects e = Neutral();
    e.Saturation = 0;
    Bitmap24 picture(8, 8), before(8, 8);
    Pattern(picture);
    before.Assign(picture);
    std::atomic<bool> done{false};
    picture.Lock();
    std::thread worker([&] {
        ApplyFrameEffects(picture, e, m_cache);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done.load());
    EXPECT_TRUE(SameRows(picture, before));
    picture.Unlock();
    worker.join();
    EXPECT_TRUE(done.load());
    EXPECT_FALSE(SameRows(picture, before));
}

// --- Text -------------------------------------------------------------------------------

TEST(WaterFont, MapsNameSizeAndStyleOntoTheFont) {
    TWaterFont font;
    EXPECT_EQ(font.Name, "MS Sans Serif");
    EXPECT_EQ(font.Size, 8);
    EXPECT_EQ(font.Color, QColor(0, 0, 0));
    font.Name = "DejaVu Serif";
    font.Size = 14;
    font.Bold = font.Underline = true;
    QFont q = font.ToQFont();
    EXPECT_EQ(q.family(), "DejaVu Serif");
    EXPECT_EQ(q.pointSize(), 14);
    EXPECT_TRUE(q.bold());
    EXPECT_FALSE(q.italic());
    EXPECT_TRUE(q.underline());
    EXPECT_FALSE(q.strikeOut());
    font.Bold = font.Underline = false;
    font.Italic = font.StrikeOut = true;
    font.Size = -20;  // a height in pixels
    q = font.ToQFont();
    EXPECT_EQ(q.pixelSize(), 20);
    EXPECT_FALSE(q.bold());
    EXPECT_TRUE(q.italic());
    EXPECT_TRUE(q.strikeOut());
}

class TextStepTest : public ::testing::Test {
protected:
    // Draws the text through the per-frame sequence on a black picture.
    std::unique_ptr<Bitmap24> Draw(const TWaterFont& font, int left = 20, int top = 10, const QString& text = "Hxg") {
        TFrameEffects e;
        e.WaterText = text;
        e.WaterFont = font;
        e.TextLeft = left;
        e.TextTop = top;
        auto picture = std::make_unique<Bitmap24>(200, 80);
        picture->Fill(Qt::black);
        EXPECT_TRUE(ApplyFrameEffects(*picture, e, m_cache));
        return picture;
    }
    static TWaterFont Font(int size, QColor colour = Qt::white) {
        TWaterFont font;
        font.Name = "DejaVu Sans";
        font.Size = size;
        font.Color = colour;
        return font;
    }
    TWatermarkImageCache m_cache;
};

TEST_F(TextStepTest, DrawnFromTheTopLeftPixelWithoutBackground) {
    const TWaterFont font = Font(16);
    const auto picture = Draw(font, 20, 10);
    const QRect area = ChangedArea(*picture, {0, 0, 0});
    ASSERT_FALSE(area.isEmpty());
    const QSize extent = Bitmap24::TextExtent("Hxg", font.ToQFont());
    EXPECT_TRUE(QRect(20, 10, extent.width(), extent.height()).contains(area)) << area.x() << "," << area.y();
    // The cap of the H starts within a few pixels of the given corner.
    EXPECT_LE(area.left() - 20, 3);
    EXPECT_LE(area.top() - 10, 6);
    // No background box: pixels inside the extent but between the letters stay black.
    int black = 0;
    for (int y = 10; y < 10 + extent.height(); ++y)
        for (int x = 20; x < 20 + extent.width(); ++x)
            if (At(*picture, x, y) == TBgr{0, 0, 0}) ++black;
    EXPECT_GT(black, extent.width() * extent.height() / 3);

    // Moving the corner moves the drawing by the same amount.
    const auto moved = Draw(font, 57, 33);
    EXPECT_EQ(ChangedArea(*moved, {0, 0, 0}), area.translated(37, 23));
}

TEST_F(TextStepTest, ColourSizeAndStyleOfTheFont) {
    const auto plain = Draw(Font(16, QColor(10, 200, 30)));
    // The colour: every drawn pixel is a shade of it, the solid strokes exactly it.
    bool solid = false;
    for (int y = 0; y < plain->Height(); ++y)
        for (int x = 0; x < plain->Width(); ++x)
            if (At(*plain, x, y) == TBgr{30, 200, 10}) solid = true;
    EXPECT_TRUE(solid);

    const QRect plainArea = ChangedArea(*plain, {0, 0, 0});
    const auto big = Draw(Font(28, QColor(10, 200, 30)));
    EXPECT_GT(ChangedArea(*big, {0, 0, 0}).height(), plainArea.height() * 3 / 2);

    // Each style gives its own picture.
    std::vector<std::unique_ptr<Bitmap24>> styled;
    for (int style = 0; style < 4; ++style) {
        TWaterFont font = Font(16, QColor(10, 200, 30));
        font.Bold = style == 0;
        font.Italic = style == 1;
        font.Underline = style == 2;
        font.StrikeOut = style == 3;
        styled.push_back(Draw(font));
        EXPECT_FALSE(SameRows(*styled.back(), *plain)) << "style " << style;
    }
    for (size_t i = 0; i < styled.size(); ++i)
        for (size_t j = i + 1; j < styled.size(); ++j) EXPECT_FALSE(SameRows(*styled[i], *styled[j]));
    // Underline adds a line below the letters' base line (under the H, left of the g).
    const QRect underlined = ChangedArea(*styled[2], {0, 0, 0});
    EXPECT_GE(underlined.width(), plainArea.width() - 2);
}

TEST_F(TextStepTest, MissingFamilyFallsBackToTheSystemSansSerifOfThatSize) {
    ASSERT_FALSE(QFontDatabase::hasFamily("MS Sans Serif"));
    TWaterFont missing;  // "MS Sans Serif", 8
    missing.Size = 14;
    missing.Color = Qt::white;
    TWaterFont system = missing;
    system.Name = QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).family();
    const auto a = Draw(missing);
    const auto b = Draw(system);
    EXPECT_FALSE(ChangedArea(*a, {0, 0, 0}).isEmpty());
    EXPECT_TRUE(SameRows(*a, *b));
}

// --- Watermark image files --------------------------------------------------------------

class LogRecorder {
public:
    explicit LogRecorder(const void* sender) {
        MediaLogger().OnLog = [this, sender](const void* from, uint32_t, TLogLevel level, const std::string& msg) {
            if (from == sender && level == llError) lines.push_back(msg);
        };
    }
    ~LogRecorder() { MediaLogger().OnLog = nullptr; }
    std::vector<std::string> lines;
};

void SetModified(const QString& path, int secondsLater) {
    const std::filesystem::path file(path.toStdString());
    std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) + std::chrono::seconds(secondsLater));
}

TEST_F(FrameEffectsTest, ImageFileIsReadOnceAndAgainWhenItChanges) {
    const QString path = WriteImage("mark.bmp", 10, 6, QColor(0, 0, 0));
    TFrameEffects e = Neutral();
    e.WaterImage = path;
    e.TransparentStyle = 2;
    Bitmap24 picture(20, 10);
    for (int frame = 0; frame < 5; ++frame) {
        picture.Fill(Qt::white);
        ASSERT_TRUE(ApplyFrameEffects(picture, e, m_cache));
        EXPECT_EQ(At(picture, 0, 0), (TBgr{0, 0, 0}));
    }
    EXPECT_EQ(m_cache.Loads(), 1);

    // A new file under the same name, with a later modification time, is read again.
    WriteImage("mark.bmp", 10, 6, QColor(255, 255, 255));
    SetModified(path, 5);
    picture.Fill(Qt::white);
    ASSERT_TRUE(ApplyFrameEffects(picture, e, m_cache));
    EXPECT_EQ(At(picture, 0, 0), (TBgr{255, 255, 255}));
    EXPECT_EQ(m_cache.Loads(), 2);
}

TEST_F(FrameEffectsTest, ImageThatIsNotABitmapLeavesThePictureUntouchedAndIsReportedOnce) {
    const QString text = PathOf("notes.bmp");
    {
        QFile f(text);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("this is not a picture\n");
    }
    // A picture file of another format is not a bitmap either.
    Bitmap24 png(4, 4);
    png.Fill(Qt::red);
    const QString other = PathOf("photo.bmp");
    ASSERT_TRUE(png.Image().save(other, "PNG"));
    const QString missing = PathOf("missing.bmp");

    for (const QString& path : {text, other, missing}) {
        LogRecorder log(&m_cache);
        TFrameEffects e = Neutral();
        e.Saturation = 0;
        e.Exposure = 200;
        e.WaterText = "text";
        e.WaterFont.Color = Qt::red;
        e.WaterImage = path;
        for (int frame = 0; frame < 4; ++frame) {
            Bitmap24 picture(64, 32), before(64, 32);
            Pattern(picture);
            before.Assign(picture);
            QString error;
            EXPECT_FALSE(ApplyFrameEffects(picture, e, m_cache, &error));
            EXPECT_TRUE(error.contains(path)) << error.toStdString();
            EXPECT_TRUE(SameRows(picture, before)) << path.toStdString();
        }
        ASSERT_EQ(log.lines.size(), 1u) << path.toStdString();
        EXPECT_NE(log.lines[0].find(path.toStdString()), std::string::npos);
    }

    // The same bad file with a new modification time is reported again, once.
    LogRecorder log(&m_cache);
    TFrameEffects e = Neutral();
    e.WaterImage = text;
    Bitmap24 picture(8, 8);
    SetModified(text, 3);
    for (int frame = 0; frame < 3; ++frame) EXPECT_FALSE(ApplyFrameEffects(picture, e, m_cache));
    EXPECT_EQ(log.lines.size(), 1u);

    // Once the file becomes a bitmap it is used.
    WriteImage("notes.bmp", 3, 3, QColor(0, 0, 0));
    SetModified(text, 6);
    picture.Fill(Qt::white);
    e.TransparentStyle = 2;
    EXPECT_TRUE(ApplyFrameEffects(picture, e, m_cache));
    EXPECT_EQ(At(picture, 2, 2), (TBgr{0, 0, 0}));
    EXPECT_EQ(At(picture, 3, 3), (TBgr{255, 255, 255}));
    EXPECT_EQ(log.lines.size(), 1u);
}

TEST_F(FrameEffectsTest, SeveralThreadsShareOneCache) {
    // Conversion tasks run their hooks on worker threads at the same time.
    TFrameEffects e = Neutral();
    e.Saturation = 100;
    e.Exposure = 60;
    e.WaterText = "shared";
    e.WaterFont.Color = Qt::yellow;
    e.WaterImage = WriteImage("shared.bmp", 30, 20);
    e.ImageLeft = 40;
    e.ImageTop = 10;
    e.ImageAlpha = 90;
    e.ProcessImage = true;

    Bitmap24 expected(120, 60);
    Pattern(expected);
    ASSERT_TRUE(ApplyFrameEffects(expected, e, m_cache));

    std::vector<std::unique_ptr<Bitmap24>> pictures;
    for (int i = 0; i < 4; ++i) {
        pictures.push_back(std::make_unique<Bitmap24>(120, 60));
        Pattern(*pictures.back());
    }
    TWatermarkImageCache cache;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (auto& picture : pictures)
        threads.emplace_back([&, p = picture.get()] {
            for (int frame = 0; frame < 10; ++frame) {
                Bitmap24 work;
                work.Assign(*p);
                if (!ApplyFrameEffects(work, e, cache)) ++failures;
                if (frame == 9) p->Assign(work);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(cache.Loads(), 1);
    for (auto& picture : pictures) EXPECT_TRUE(SameRows(*picture, expected));
}

}  // namespace
