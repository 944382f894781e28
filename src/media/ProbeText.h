#pragma once
// Pure text helpers of the probe's description (no media library involved).

#include <cstdint>
#include <string>

namespace ProbeText {

// "%d Byte" up to 1024 and for any negative size, "%.2f KB" up to 1048576, "%.2f MB" up
// to 1073741824, else "%.2f GB" (units of 1024; each bound belongs to the smaller unit).
std::string SizeText(int64_t size);
// Microseconds as "hh:mm:ss.mmm" (hours are not folded into days).
std::string TimeText(int64_t us);
// TimeText, or "N/A" for a negative value (the unknown -1 included).
std::string DurationText(int64_t us);
// Microseconds as seconds with six decimals: "%d.%.6d".
std::string StartTimeText(int64_t us);
// One rate of a stream line: ", 29.97 fps", ", 25 tbr", ", 90k tbn". With v = x * 100
// rounded: ", %3.2f" when v is not a multiple of 100, else ", %1.0f" when v is not a
// multiple of 100000, else ", %1.0fk" of x / 1000.
std::string RateText(double x, const char* unit);
// Seconds since 1970 (UTC) shifted by offsetSeconds and written "yyyy-mm-dd hh:nn:ss".
std::string TimeStampText(int64_t seconds, long offsetSeconds);
// The computer's basic time-zone offset in seconds east of UTC: the C library's local
// time offset of standard time (no daylight-saving adjustment), in whole minutes.
long LocalTimeOffset();
// The name under which a metadata key is shown (the ID3 frame names "TALB", "TPE1" ...
// become "album", "artist" ...); any other key is shown as it is. Case-sensitive.
const char* TranslateMetadataKey(const char* key);
// One metadata line: "%s  %-16s: %s" with the translated key.
std::string MetadataLine(const char* prefix, const char* key, const char* value);
// Leading decimal number of a tag value ("2009-05-01" gives 2009, "3/12" gives 3); 0 when
// the value does not start with a digit.
int LeadingNumber(const char* value);

}  // namespace ProbeText
