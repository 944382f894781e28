// The pure text helpers of the probe's description, and the probe's library check. This
// program never loads the full library set on its own: the library check needs a process
// in which the libraries start out unloaded.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "engine/MediaLibLoader.h"
#include "media/AVProbe.h"
#include "media/ProbeText.h"

namespace {

using namespace ProbeText;

TEST(ProbeTextTest, SizeUnitsAndTheirBounds) {
    const struct {
        int64_t size;
        const char* text;
    } cases[] = {
        {-1, "-1 Byte"},
        {-5000, "-5000 Byte"},
        {0, "0 Byte"},
        {1024, "1024 Byte"},
        {1025, "1.00 KB"},
        {1536, "1.50 KB"},
        {1048576, "1024.00 KB"},
        {1048577, "1.00 MB"},
        {1073741824, "1024.00 MB"},
        {1073741825, "1.00 GB"},
        {int64_t(5) * 1073741824 + 536870912, "5.50 GB"},
        {int64_t(3000) * 1073741824, "3000.00 GB"},
    };
    for (const auto& c : cases) EXPECT_EQ(SizeText(c.size), c.text) << c.size;
}

TEST(ProbeTextTest, TimesAreHoursMinutesSecondsMilliseconds) {
    const struct {
        int64_t us;
        const char* text;
    } cases[] = {
        {0, "00:00:00.000"},
        {999, "00:00:00.000"},          // truncated, not rounded
        {2040000, "00:00:02.040"},
        {59999999, "00:00:59.999"},
        {3723004000LL, "01:02:03.004"},
        {int64_t(100) * 3600000000LL + 1000, "100:00:00.001"},  // no folding into days
    };
    for (const auto& c : cases) EXPECT_EQ(TimeText(c.us), c.text) << c.us;
    EXPECT_EQ(DurationText(2040000), "00:00:02.040");
    EXPECT_EQ(DurationText(-1), "N/A");
    EXPECT_EQ(DurationText(-2000000), "N/A");
}

TEST(ProbeTextTest, StartTimesHaveSixDecimals) {
    EXPECT_EQ(StartTimeText(0), "0.000000");
    EXPECT_EQ(StartTimeText(1), "0.000001");
    EXPECT_EQ(StartTimeText(11400000), "11.400000");
    EXPECT_EQ(StartTimeText(1234567890), "1234.567890");
    EXPECT_EQ(StartTimeText(-500000), "-0.500000");
}

TEST(ProbeTextTest, RatesUseTwoDecimalsWholeNumbersOrThousands) {
    const struct {
        double x;
        const char* unit;
        const char* text;
    } cases[] = {
        {30000.0 / 1001.0, "fps", ", 29.97 fps"},
        {24000.0 / 1001.0, "fps", ", 23.98 fps"},
        {12.5, "fps", ", 12.50 fps"},
        {25.0, "tbr", ", 25 tbr"},
        {25.001, "tbr", ", 25 tbr"},  // rounds to a multiple of 100 hundredths
        {1200.0, "tbn", ", 1200 tbn"},
        {90000.0, "tbn", ", 90k tbn"},
        {1000.0, "tbn", ", 1k tbn"},
        {30000.0, "tbn", ", 30k tbn"},
        {1000000.0, "tbc", ", 1000k tbc"},
        {1500.5, "tbn", ", 1500.50 tbn"},
    };
    for (const auto& c : cases) EXPECT_EQ(RateText(c.x, c.unit), c.text) << c.x;
}

TEST(ProbeTextTest, TimeStampIsShiftedByTheOffsetAndWrittenAsDateAndTime) {
    EXPECT_EQ(TimeStampText(0, 0), "1970-01-01 00:00:00");
    EXPECT_EQ(TimeStampText(1614834367, 0), "2021-03-04 05:06:07");
    EXPECT_EQ(TimeStampText(1614834367, 3 * 3600), "2021-03-04 08:06:07");
    EXPECT_EQ(TimeStampText(1614834367, -6 * 3600), "2021-03-03 23:06:07");
}

class TimeZoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        hadTZ_ = tz != nullptr;
        if (tz) oldTZ_ = tz;
    }
    void TearDown() override {
        if (hadTZ_)
            setenv("TZ", oldTZ_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool hadTZ_ = false;
    std::string oldTZ_;
};

TEST_F(TimeZoneTest, LocalOffsetIsTheStandardTimeBiasWithoutDaylightSaving) {
    const struct {
        const char* tz;
        long offset;
    } cases[] = {
        {"UTC0", 0},
        {"KLT-3", 3 * 3600},
        {"EST5EDT,M3.2.0,M11.1.0", -5 * 3600},  // summer time is never applied
        {"IST-5:30", 5 * 3600 + 1800},
    };
    for (const auto& c : cases) {
        setenv("TZ", c.tz, 1);
        EXPECT_EQ(LocalTimeOffset(), c.offset) << c.tz;
    }
    // 2021-07-04 05:06:07 UTC lies in New York's summer time, and still shows 5 hours back.
    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    EXPECT_EQ(TimeStampText(1625375167, LocalTimeOffset()), "2021-07-04 00:06:07");
}

TEST(ProbeTextTest, MetadataKeysAreTranslatedCaseSensitively) {
    const struct {
        const char* key;
        const char* name;
    } rows[] = {
        {"TALB", "album"},      {"TAL", "album"},      {"TCOM", "composer"},    {"TCON", "genre"},
        {"TCO", "genre"},       {"TCOP", "copyright"}, {"TDRL", "date"},        {"TENC", "encoder"},
        {"TEN", "encoder"},     {"TIT2", "title"},     {"TT2", "title"},        {"TPE1", "artist"},
        {"TP1", "artist"},      {"TPOS", "disc"},      {"TPUB", "publisher"},   {"TRCK", "track"},
        {"TRK", "track"},       {"TSOA", "albumsort"}, {"TSOP", "authorsort"},  {"TSOT", "titlesort"},
        {"TYER", "year"},       {"TLAN", "language"},
        // Not in the table: shown as they are.
        {"talb", "talb"},       {"TALBX", "TALBX"},    {"title", "title"},      {"", ""},
    };
    for (const auto& r : rows) EXPECT_STREQ(TranslateMetadataKey(r.key), r.name) << r.key;
}

TEST(ProbeTextTest, MetadataLinesPadTheKeyToSixteenColumns) {
    EXPECT_EQ(MetadataLine("", "TIT2", "Song"), "  title           : Song");
    EXPECT_EQ(MetadataLine("  ", "encoder", "Lavf59"), "    encoder         : Lavf59");
    EXPECT_EQ(MetadataLine("", "a_very_long_key_name", "v"), "  a_very_long_key_name: v");
}

TEST(ProbeTextTest, LeadingNumbersOfTagValues) {
    EXPECT_EQ(LeadingNumber("2024"), 2024);
    EXPECT_EQ(LeadingNumber("2009-05-01T10:00:00Z"), 2009);
    EXPECT_EQ(LeadingNumber("7/12"), 7);
    EXPECT_EQ(LeadingNumber(" 3"), 3);
    EXPECT_EQ(LeadingNumber("abc"), 0);
    EXPECT_EQ(LeadingNumber(""), 0);
    EXPECT_EQ(LeadingNumber(nullptr), 0);
}

// The probe refuses to work while one of avcodec, avformat, avutil and swscale is missing,
// naming the first missing one in that order.
TEST(ProbeLibraryCheckTest, NamesTheFirstMissingLibrary) {
    TMediaLibLoader& loader = MediaLibLoader();
    ASSERT_FALSE(loader.LibLoaded(TLibraryKind::libAVCodec)) << "this test needs a process without libraries";
    ASSERT_FALSE(loader.LibLoaded(TLibraryKind::libAVFormat));
    ASSERT_FALSE(loader.LibLoaded(TLibraryKind::libAVUtil));
    ASSERT_FALSE(loader.LibLoaded(TLibraryKind::libSwScale));

    using K = TLibraryKind;
    const struct {
        TLibrarySet loaded;
        const char* message;
    } cases[] = {
        {TLibrarySet{}, "LibAVCodec not loaded."},
        {TLibrarySet{K::libAVUtil, K::libSwScale}, "LibAVCodec not loaded."},
        {TLibrarySet{K::libAVCodec, K::libAVUtil, K::libSwScale}, "LibAVFormat not loaded."},
        {TLibrarySet{K::libAVCodec, K::libAVFormat, K::libSwScale}, "LibAVUtil not loaded."},
        {TLibrarySet{K::libAVCodec, K::libAVFormat, K::libAVUtil}, "LibSwScale not loaded."},
    };
    for (const auto& c : cases) {
        if (!c.loaded.Empty()) {
            ASSERT_TRUE(loader.LoadLibs(c.loaded)) << loader.LastErrMsg();
        }
        TAVProbe probe;
        try {
            probe.LoadFile("/nonexistent/file.avi");
            ADD_FAILURE() << "LoadFile did not raise; expected " << c.message;
        } catch (const EAVProbeError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        try {
            probe.AttachContext(nullptr);
            ADD_FAILURE() << "AttachContext did not raise; expected " << c.message;
        } catch (const EAVProbeError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        // The other operations never raise; without a file they answer "unknown".
        EXPECT_EQ(probe.StreamCount(), -1);
        EXPECT_EQ(probe.GetFormatInfo(), "");
        EXPECT_FALSE(probe.IsVideoStream(0));
        if (!c.loaded.Empty()) loader.UnloadLibs(c.loaded);
    }

    // With all four the check passes and LoadFile reports an ordinary failure.
    const TLibrarySet four{K::libAVCodec, K::libAVFormat, K::libAVUtil, K::libSwScale};
    ASSERT_TRUE(loader.LoadLibs(four)) << loader.LastErrMsg();
    {
        TAVProbe probe;
        EXPECT_NO_THROW(EXPECT_FALSE(probe.LoadFile("/nonexistent/file.avi")));
        EXPECT_EQ(probe.LastErrMsg(), "/nonexistent/file.avi: No such file or directory");
    }
    loader.UnloadLibs(four);
}

}  // namespace
