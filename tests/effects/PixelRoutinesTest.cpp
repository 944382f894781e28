// The pixel routines: worked values computed by hand from the formulas, an independent
// per-pixel model of the colour formula, clipping of the overlay, and both row orders.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "effects/PixelRoutines.h"
#include "platform/Bitmap24.h"

namespace {

struct TBgr {
    int b, g, r;
    bool operator==(const TBgr&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TBgr& p) {
    return out << "(b " << p.b << ", g " << p.g << ", r " << p.r << ")";
}

TBgr At(Bitmap24& bitmap, int x, int y) {
    const uint8_t* p = bitmap.ScanLine(y) + x * 3;
    return {p[0], p[1], p[2]};
}

void Set(Bitmap24& bitmap, int x, int y, TBgr c) {
    uint8_t* p = bitmap.ScanLine(y) + x * 3;
    p[0] = uint8_t(c.b);
    p[1] = uint8_t(c.g);
    p[2] = uint8_t(c.r);
}

// A 256 x 1 picture of grey pixels 0 ... 255.
void GreyRamp(Bitmap24& bitmap) {
    bitmap.SetSize(256, 1);
    for (int i = 0; i < 256; ++i) Set(bitmap, i, 0, {i, i, i});
}

// Every byte differs from its neighbours; covers all byte values.
void Pattern(Bitmap24& bitmap, int seed = 0) {
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width() * 3; ++x) row[x] = uint8_t(x * 7 + y * 31 + seed * 13 + 3);
    }
}

bool SameRows(Bitmap24& a, Bitmap24& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), size_t(a.Width()) * 3) != 0) return false;
    return true;
}

TBgr AdjustOne(TBgr pixel, int brightness, int contrast, int saturation) {
    Bitmap24 bitmap(1, 1);
    Set(bitmap, 0, 0, pixel);
    AdjustColours(bitmap, brightness, contrast, saturation);
    return At(bitmap, 0, 0);
}

int ExposeOne(int value, float exposure) {
    Bitmap24 bitmap(1, 1);
    Set(bitmap, 0, 0, {value, value, value});
    ApplyExposure(bitmap, exposure);
    return At(bitmap, 0, 0).b;
}

// --- Worked values --------------------------------------------------------------------

TEST(AdjustColours, ContrastZeroWithFactors256ChangesNothing) {
    Bitmap24 picture(40, 7), original(40, 7);
    Pattern(picture);
    Pattern(original);
    AdjustColours(picture, 256, 0, 256);
    EXPECT_TRUE(SameRows(picture, original));
}

TEST(AdjustColours, ContrastHundredActsAsNinetyNine) {
    // f = 1 / cos(99 pi / 200) = 63.6646; 170 + (i - 170) f:
    //   167: -20.99 -> 0; 168: 42.67 -> 43; 169: 106.34 -> 106; 170: 170;
    //   171: 233.66 -> 234; 172: 297.3 -> 255.
    // (With a = 100 the cosine is nearly 0 and the factor would flip or explode.)
    Bitmap24 ramp;
    GreyRamp(ramp);
    AdjustColours(ramp, 256, 100, 256);
    const int expected[][2] = {{0, 0}, {167, 0}, {168, 43}, {169, 106}, {170, 170}, {171, 234}, {172, 255}, {255, 255}};
    for (const auto& [in, out] : expected) EXPECT_EQ(At(ramp, in, 0), (TBgr{out, out, out})) << "value " << in;

    Bitmap24 as99;
    GreyRamp(as99);
    AdjustColours(as99, 256, 99, 256);
    EXPECT_TRUE(SameRows(ramp, as99));
}

TEST(AdjustColours, ContrastMinusHundredMakesEveryChannel170) {
    // f = cos(-100 * 0.015708) = -3.67e-6: (i - 170) f rounds away for every i.
    Bitmap24 picture(64, 5);
    Pattern(picture);
    AdjustColours(picture, 300, -100, 100);
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) ASSERT_EQ(At(picture, x, y), (TBgr{170, 170, 170})) << x << "," << y;
}

TEST(AdjustColours, Brightness255Maps255To254) {
    // k = 256 + 255 * 254 = 65026; 65026 div 256 = 254.
    EXPECT_EQ(AdjustOne({255, 255, 255}, 255, 0, 256), (TBgr{254, 254, 254}));
    // Neutral saturation 255 is not the identity on its own either:
    // S[255] = 256 * 255 >> 8 = 255, G[765] = 255 - 255 = 0, L[255] with v = 256 is 255;
    // S[100] = 101 * 255 >> 8 = 100, G[300] = 100 - 100 = 0 -> 100 stays.
    EXPECT_EQ(AdjustOne({255, 255, 255}, 256, 0, 255), (TBgr{255, 255, 255}));
}

TEST(AdjustColours, SaturationZeroGivesTheChannelAverage) {
    // (10 + 20 + 40) div 3 = 23; (255 + 0 + 1) div 3 = 85; (2 + 2 + 1) div 3 = 1.
    EXPECT_EQ(AdjustOne({10, 20, 40}, 256, 0, 0), (TBgr{23, 23, 23}));
    EXPECT_EQ(AdjustOne({255, 0, 1}, 256, 0, 0), (TBgr{85, 85, 85}));
    EXPECT_EQ(AdjustOne({2, 2, 1}, 256, 0, 0), (TBgr{1, 1, 1}));
}

struct TColourCase {
    const char* what;
    int brightness, contrast, saturation;
    TBgr in, out;
};

// Each expected value is worked out by hand from the formulas in the comment.
const TColourCase kColourCases[] = {
    // t = 300, t div 3 = 100, S[100] = 101*128 >> 8 = 50, G = 100 - 50 = 50;
    // S[200] = 201*128 >> 8 = 100 -> 150; S[100] = 50 -> 100; S[0] = 128 >> 8 = 0 -> 50.
    {"saturation half", 256, 0, 128, {200, 100, 0}, {150, 100, 50}},
    // S[100] = 101*512 >> 8 = 202, G = -102; S[200] = 402 -> 300 -> 255;
    // S[100] -> 100; S[0] = 512 >> 8 = 2 -> -100 -> 0.
    {"saturation double, clamped", 256, 0, 512, {200, 100, 0}, {255, 100, 0}},
    // k = 256 + 128*99 = 12928, div 256 = 50 (50.5 truncated); k(0) = 128 div 256 = 0.
    {"brightness half", 128, 0, 256, {100, 0, 100}, {50, 0, 50}},
    // v = 0: k = 256 for every j, div 256 = 1.
    {"brightness zero gives 1", 0, 0, 256, {0, 77, 255}, {1, 1, 1}},
    // v = 512: k(0) = -256 -> -1 -> 0; k(1) = 256 -> 1; k(100) = 256 + 512*99 = 50944 -> 199;
    // k(128) = 256 + 512*127 = 65280 -> 255.
    {"brightness double", 512, 0, 256, {0, 1, 100}, {0, 1, 199}},
    {"brightness double, top", 512, 0, 256, {128, 128, 128}, {255, 255, 255}},
    // a = 50: f = 1/cos(pi/4) = 1.41421; 100: 170 - 70f = 71.005 -> 71; 200: 170 + 30f =
    // 212.43 -> 212; 0: -70.4 -> 0.
    {"contrast 50", 256, 50, 256, {100, 200, 0}, {71, 212, 0}},
    // The pivot is 170: 170 stays, 128: 170 - 42f = 110.6 -> 111.
    {"contrast 50 pivot", 256, 50, 256, {170, 128, 170}, {170, 111, 170}},
    // a = -50: f = cos(-50 * 0.015708) = 0.707105; 100: 170 - 70f = 120.503 -> 121;
    // 0: 170 - 170f = 49.79 -> 50; 255: 170 + 85f = 230.10 -> 230.
    {"contrast -50", 256, -50, 256, {100, 0, 255}, {121, 50, 230}},
    // Order saturation, brightness, contrast: s = 0 -> grey (90+150+255) div 3 = 165;
    // v = 128: k = 256 + 128*164 = 21248 -> 83; a = 50: 170 - 87f = 46.96 -> 47.
    {"all three in order", 128, 50, 0, {90, 150, 255}, {47, 47, 47}},
};

TEST(AdjustColours, HandComputedCases) {
    for (const TColourCase& c : kColourCases)
        EXPECT_EQ(AdjustOne(c.in, c.brightness, c.contrast, c.saturation), c.out) << c.what;
}

// The colour formula written out per pixel, straight from its description, in long double.
TBgr ModelAdjust(TBgr p, int v, int a, int s) {
    if (a == 100) a = 99;
    const long double f = a > 0 ? 1.0L / std::cos(a * (std::numbers::pi_v<long double> / 200))
                                : std::cos(a * 0.015708L);
    auto C = [&](int i) {
        const long double x = std::nearbyint((i - 170) * f + 170);
        return x < 0 ? 0 : x > 255 ? 255 : int(x);
    };
    auto L = [&](int j) {
        long long k = (256 + (long long)v * (j - 1)) / 256;
        if (k < 0) k = 0;
        if (k > 255) k = 255;
        return C(int(k));
    };
    auto S = [&](int i) { return int(uint16_t(uint32_t((long long)(i + 1) * s) >> 8)); };
    const int t = p.b + p.g + p.r;
    const int base = t / 3 - S(t / 3);
    auto channel = [&](int c) {
        int x = base + S(c);
        if (x < 0) x = 0;
        if (x > 255) x = 255;
        return L(x);
    };
    return {channel(p.b), channel(p.g), channel(p.r)};
}

TEST(AdjustColours, AgreesWithThePerPixelFormula) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    const int settings[][3] = {{255, 0, 255}, {0, -100, 0}, {512, 100, 512}, {300, 37, 170},
                               {90, -63, 401}, {256, 1, 256}, {255, -1, 254}, {700, 140, -3}};
    for (const auto& [v, a, s] : settings) {
        Bitmap24 picture(97, 13);
        std::vector<TBgr> before;
        for (int y = 0; y < picture.Height(); ++y)
            for (int x = 0; x < picture.Width(); ++x) {
                const TBgr p{byte(random), byte(random), byte(random)};
                Set(picture, x, y, p);
                before.push_back(p);
            }
        AdjustColours(picture, v, a, s);
        size_t n = 0;
        for (int y = 0; y < picture.Height(); ++y)
            for (int x = 0; x < picture.Width(); ++x, ++n)
                ASSERT_EQ(At(picture, x, y), ModelAdjust(before[n], v, a, s))
                    << "v " << v << " a " << a << " s " << s << " pixel " << before[n];
    }
}

TEST(ApplyExposure, WorkedValuesAndHandComputedCases) {
    // x = 512: R(128) = Round(256 (1 - e^-4)) = 251, 128 + (251*127 >> 8) = 128 + 124 = 252.
    EXPECT_EQ(ExposeOne(0, 512), 0);
    EXPECT_EQ(ExposeOne(255, 512), 255);
    EXPECT_EQ(ExposeOne(128, 512), 252);
    struct {
        int in;
        float x;
        int out;
    } const cases[] = {
        // R = Round(256 (1 - e^(-(100/128)(50/128)))) = Round(67.33) = 67;
        // 50 + (67*205 >> 8) = 50 + (13735 >> 8) = 50 + 53 = 103.
        {50, 100, 103},
        // R = Round(256 (1 - e^(0.5*0.5))) = Round(-72.71) = -73; 64 - (73*191 >> 8) = 64 - 54 = 10.
        {64, -64, 10},
        // R = Round(233.72) = 234; 200 + (234*55 >> 8) = 200 + 50 = 250.
        {200, 200, 250},
        // R = Round(-611.73) = -612; 200 - (612*55 >> 8) = 200 - 131 = 69.
        {200, -100, 69},
        // R(255) = Round(256 (1 - e^(255*255/16384))) = -13285, 255 - 0 = 255 for any x < 0.
        {255, -255, 255},
        // R(128) = Round(256 (1 - e^1.99)) = -1621: 128 - (1621*127 >> 8) < 0 -> 0.
        {128, -255, 0},
        // x = 0: R = 0 everywhere, the identity.
        {77, 0, 77},
    };
    for (const auto& c : cases) EXPECT_EQ(ExposeOne(c.in, c.x), c.out) << "value " << c.in << " exposure " << c.x;
}

TEST(ApplyExposure, ExtremeValuesStayInRange) {
    // Far outside the dialog's range the exponential overflows; values still end at the
    // ends of the scale instead of wrapping.
    EXPECT_EQ(ExposeOne(100, -1e30f), 0);
    EXPECT_EQ(ExposeOne(254, -1e30f), 0);
    EXPECT_EQ(ExposeOne(255, -1e30f), 255);
    EXPECT_EQ(ExposeOne(1, 1e30f), 255);
}

// --- Overlay ----------------------------------------------------------------------------

class OverlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        picture.SetSize(4, 3);
        picture.Fill(QColor(30, 20, 10));  // r 30, g 20, b 10
        image.SetSize(3, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) Set(image, x, y, {100 + x, 150 + y, 200});
    }
    // Which pixels of the picture differ from the fill colour.
    std::vector<std::pair<int, int>> Changed() {
        std::vector<std::pair<int, int>> changed;
        for (int y = 0; y < picture.Height(); ++y)
            for (int x = 0; x < picture.Width(); ++x)
                if (!(At(picture, x, y) == TBgr{10, 20, 30})) changed.push_back({x, y});
        return changed;
    }
    Bitmap24 picture, image;
};

TEST_F(OverlayTest, StyleOneBlendsWithAlpha) {
    // a = 168: ((88 d + 168 s) >> 8). b: (880 + 16800) >> 8 = 69; g: (1760 + 25200) >> 8 =
    // 105; r: (2640 + 33600) >> 8 = 141.
    OverlayBitmap(picture, image, 0, 0, 1, 168);
    EXPECT_EQ(At(picture, 0, 0), (TBgr{69, 105, 141}));
    // Image pixel (2, 1) = (102, 151, 200): b (880 + 17136) >> 8 = 70; g (1760 + 25368) >> 8
    // = 105; r (2640 + 33600) >> 8 = 141.
    EXPECT_EQ(At(picture, 2, 1), (TBgr{70, 105, 141}));
    EXPECT_EQ(At(picture, 3, 0), (TBgr{10, 20, 30}));  // outside the image
}

TEST_F(OverlayTest, StyleOneAlphaEnds) {
    Bitmap24 before(4, 3);
    before.Assign(picture);
    OverlayBitmap(picture, image, 0, 0, 1, 0);
    EXPECT_TRUE(SameRows(picture, before));
    // a = 255: (d + 255 s) >> 8: b (10 + 25500) >> 8 = 99, g (20 + 38250) >> 8 = 149,
    // r (30 + 51000) >> 8 = 199: nearly the source (100, 150, 200).
    OverlayBitmap(picture, image, 0, 0, 1, 255);
    EXPECT_EQ(At(picture, 0, 0), (TBgr{99, 149, 199}));
}

TEST_F(OverlayTest, OtherStylesMultiply) {
    // s * d div 255: b 100*10/255 = 3 (3.92), g 150*20/255 = 11 (11.76), r 200*30/255 = 23
    // (23.53). Alpha is not used; style 3 is the same as style 2.
    OverlayBitmap(picture, image, 1, 1, 2, 0);
    EXPECT_EQ(At(picture, 1, 1), (TBgr{3, 11, 23}));
    SetUp();
    OverlayBitmap(picture, image, 1, 1, 3, 200);
    EXPECT_EQ(At(picture, 1, 1), (TBgr{3, 11, 23}));
}

TEST_F(OverlayTest, MultiplyWithWhiteChangesNothing) {
    Bitmap24 before(4, 3);
    Pattern(picture);
    before.Assign(picture);
    image.Fill(Qt::white);
    OverlayBitmap(picture, image, 1, 0, 2, 168);
    EXPECT_TRUE(SameRows(picture, before));
    // And black makes the covered part black.
    image.Fill(Qt::black);
    OverlayBitmap(picture, image, 1, 0, 2, 168);
    EXPECT_EQ(At(picture, 1, 0), (TBgr{0, 0, 0}));
    EXPECT_EQ(At(picture, 3, 1), (TBgr{0, 0, 0}));
    EXPECT_FALSE(At(picture, 0, 0) == (TBgr{0, 0, 0}));
}

TEST_F(OverlayTest, ClippedAtTheRightAndBottomEdges) {
    // Rows: 2 + 2 < 3 is false -> 3 - 2 = 1; columns: 2 + 3 < 4 is false -> 4 - 2 = 2.
    OverlayBitmap(picture, image, 2, 2, 1, 255);
    EXPECT_EQ(Changed(), (std::vector<std::pair<int, int>>{{2, 2}, {3, 2}}));
    EXPECT_EQ(At(picture, 3, 2), (TBgr{(10 + 255 * 101) >> 8, (20 + 255 * 150) >> 8, (30 + 255 * 200) >> 8}));
}

TEST_F(OverlayTest, ImageLargerThanThePicture) {
    Bitmap24 big(9, 8);
    big.Fill(Qt::black);
    OverlayBitmap(picture, big, 0, 0, 2, 0);
    EXPECT_EQ(Changed().size(), 12u);
}

TEST_F(OverlayTest, PlacedBeyondTheEdgesDrawsNothing) {
    const std::pair<int, int> positions[] = {{4, 0}, {10, 0}, {0, 3}, {0, 50}, {-3, 0}, {0, -2}, {-100, -100}};
    for (const auto& [left, top] : positions) {
        SetUp();
        OverlayBitmap(picture, image, left, top, 1, 255);
        EXPECT_TRUE(Changed().empty()) << left << "," << top;
    }
}

TEST_F(OverlayTest, PartsAboveAndLeftOfThePictureAreNotDrawn) {
    // At (-1, -1) image pixel (1, 1) lands on (0, 0) and (2, 1) on (1, 0); nothing else.
    OverlayBitmap(picture, image, -1, -1, 1, 255);
    EXPECT_EQ(Changed(), (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}}));
    EXPECT_EQ(At(picture, 0, 0), (TBgr{(10 + 255 * 101) >> 8, (20 + 255 * 151) >> 8, (30 + 255 * 200) >> 8}));
    EXPECT_EQ(At(picture, 1, 0), (TBgr{(10 + 255 * 102) >> 8, (20 + 255 * 151) >> 8, (30 + 255 * 200) >> 8}));
}

TEST(PixelRoutines, EmptyPicturesAreLeftAlone) {
    Bitmap24 empty, image(2, 2);
    AdjustColours(empty, 0, 50, 0);
    ApplyExposure(empty, 300);
    OverlayBitmap(empty, image, 0, 0, 1, 100);
    Bitmap24 picture(2, 2), before(2, 2);
    Pattern(picture);
    before.Assign(picture);
    OverlayBitmap(picture, empty, 0, 0, 1, 100);
    EXPECT_TRUE(SameRows(picture, before));
    EXPECT_TRUE(empty.Empty());
}

// --- Row order --------------------------------------------------------------------------

// A picture kept in a plain buffer with its rows stored from the bottom up (the last row
// first in memory), as a device-independent bitmap usually is, and padded to 4 bytes.
class BottomUpPicture {
public:
    BottomUpPicture(int width, int height)
        : m_width(width), m_height(height), m_stride((width * 3 + 3) / 4 * 4), m_bytes(size_t(m_stride) * height, 0xEE) {}
    uint8_t* Row(int y) { return m_bytes.data() + size_t(m_stride) * (m_height - 1 - y); }
    TPixelRows Rows() { return TPixelRows{Row(0), Row(1) - Row(0), m_width, m_height}; }
    void CopyFrom(Bitmap24& source) {
        for (int y = 0; y < m_height; ++y) std::memcpy(Row(y), source.ScanLine(y), size_t(m_width) * 3);
    }
    bool Matches(Bitmap24& other) {
        for (int y = 0; y < m_height; ++y)
            if (std::memcmp(Row(y), other.ScanLine(y), size_t(m_width) * 3) != 0) return false;
        return true;
    }
    // Padding bytes keep the fill value.
    bool PaddingUntouched() const {
        for (int y = 0; y < m_height; ++y)
            for (int k = m_width * 3; k < m_stride; ++k)
                if (m_bytes[size_t(m_stride) * y + size_t(k)] != 0xEE) return false;
        return true;
    }

private:
    int m_width, m_height, m_stride;
    std::vector<uint8_t> m_bytes;
};

TEST(PixelRoutines, BitmapRowViewTakesTheDistanceFromTheRows) {
    Bitmap24 bitmap(5, 3);
    const TPixelRows rows = RowsOf(bitmap);
    EXPECT_EQ(rows.First, bitmap.ScanLine(0));
    EXPECT_EQ(rows.Stride, bitmap.ScanLine(1) - bitmap.ScanLine(0));
    EXPECT_EQ(rows.Row(2), bitmap.ScanLine(2));
    EXPECT_EQ(rows.Width, 5);
    EXPECT_EQ(rows.Height, 3);
    EXPECT_TRUE(RowsOf(*std::make_unique<Bitmap24>()).Empty());
}

TEST(PixelRoutines, TopDownAndBottomUpRowsGiveTheSameResult) {
    const int width = 7, height = 5;
    Bitmap24 top(width, height), image(4, 3);
    Pattern(top);
    Pattern(image, 5);
    BottomUpPicture bottom(width, height), bottomImage(4, 3);
    bottom.CopyFrom(top);
    bottomImage.CopyFrom(image);
    ASSERT_LT(bottom.Rows().Stride, 0);

    AdjustColours(top, 300, 40, 180);
    AdjustColours(bottom.Rows(), 300, 40, 180);
    EXPECT_TRUE(bottom.Matches(top));
    ApplyExposure(top, -90);
    ApplyExposure(bottom.Rows(), -90);
    EXPECT_TRUE(bottom.Matches(top));
    // The image placed so that it is cut at the bottom and right, in both orders for the
    // picture and for the image.
    OverlayBitmap(top, image, 5, 3, 1, 140);
    OverlayBitmap(bottom.Rows(), bottomImage.Rows(), 5, 3, 1, 140);
    EXPECT_TRUE(bottom.Matches(top));
    OverlayBitmap(top, image, -1, 1, 2, 0);
    OverlayBitmap(bottom.Rows(), RowsOf(image), -1, 1, 2, 0);
    EXPECT_TRUE(bottom.Matches(top));
    EXPECT_TRUE(bottom.PaddingUntouched());
}

}  // namespace
