#include <cerrno>

#include <gtest/gtest.h>

#include "engine/MediaErrorText.h"
#include "engine/MediaLibHeaders.h"

TEST(MediaErrorText, KnownCodesOfBothGenerationsAndOthers) {
    const struct {
        int code;
        const char* text;
    } cases[] = {
        {-2, "No such file or directory"},
        {-5, "I/O error"},
        {-12, "Not enough memory"},
        {-22, "Invalid data found when processing input"},
        {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
        {-32, "End of file"},
        {AVERROR_EOF, "End of file"},
        {-33, "Number syntax expected in filename"},
        {-42, "Unknown format"},
        {AVERROR_DEMUXER_NOT_FOUND, "Unknown format"},
        {-10043, "Unsupported network protocol"},
        {AVERROR_PROTOCOL_NOT_FOUND, "Unsupported network protocol"},
        {-1163346256, "Not yet implemented in FFmpeg"},
        {-7, "Error number -7 occurred"},
        {123, "Error number 123 occurred"},
    };
    for (const auto& c : cases) EXPECT_EQ(MediaErrorText(c.code), c.text) << c.code;
}
