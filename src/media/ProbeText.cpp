#include "media/ProbeText.h"

#include <cinttypes>
#include <cmath>
#include <cstring>
#include <ctime>

#include "platform/Format.h"

namespace ProbeText {

std::string SizeText(int64_t size) {
    if (size <= 1024) return Format("%" PRId64 " Byte", size);
    if (size <= 1048576) return Format("%.2f KB", double(size) / 1024.0);
    if (size <= 1073741824) return Format("%.2f MB", double(size) / 1048576.0);
    return Format("%.2f GB", double(size) / 1073741824.0);
}

std::string TimeText(int64_t us) {
    const int64_t ms = us / 1000;
    return Format("%.2" PRId64 ":%.2d:%.2d.%.3d", ms / 3600000, int(ms / 60000 % 60), int(ms / 1000 % 60),
                  int(ms % 1000));
}

std::string DurationText(int64_t us) { return us < 0 ? std::string("N/A") : TimeText(us); }

std::string StartTimeText(int64_t us) {
    // A negative time keeps its sign on the whole number (-0.5 s is "-0.500000").
    const char* sign = us < 0 ? "-" : "";
    const uint64_t a = us < 0 ? uint64_t(0) - uint64_t(us) : uint64_t(us);
    return Format("%s%" PRIu64 ".%.6d", sign, a / 1000000, int(a % 1000000));
}

std::string RateText(double x, const char* unit) {
    const long long v = std::llround(x * 100);
    if (v % 100) return Format(", %3.2f %s", x, unit);
    if (v % 100000) return Format(", %1.0f %s", x, unit);
    return Format(", %1.0fk %s", x / 1000, unit);
}

std::string TimeStampText(int64_t seconds, long offsetSeconds) {
    const time_t t = time_t(seconds + offsetSeconds);
    struct tm parts {};
    if (!gmtime_r(&t, &parts)) return std::string();
    return Format("%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                  parts.tm_hour, parts.tm_min, parts.tm_sec);
}

long LocalTimeOffset() {
    tzset();
    // timezone: seconds west of UTC of the zone's standard time. The bias is kept in
    // whole minutes, as the zone tables give it.
    const long biasMinutes = long(timezone / 60);
    return -biasMinutes * 60;
}

namespace {

struct TKeyName {
    const char* key;
    const char* name;
};

constexpr TKeyName kKeyNames[] = {
    {"TALB", "album"},     {"TAL", "album"},      {"TCOM", "composer"},  {"TCON", "genre"},
    {"TCO", "genre"},      {"TCOP", "copyright"}, {"TDRL", "date"},      {"TENC", "encoder"},
    {"TEN", "encoder"},    {"TIT2", "title"},     {"TT2", "title"},      {"TPE1", "artist"},
    {"TP1", "artist"},     {"TPOS", "disc"},      {"TPUB", "publisher"}, {"TRCK", "track"},
    {"TRK", "track"},      {"TSOA", "albumsort"}, {"TSOP", "authorsort"}, {"TSOT", "titlesort"},
    {"TYER", "year"},      {"TLAN", "language"},
};
static_assert(sizeof kKeyNames / sizeof kKeyNames[0] == 22);

}  // namespace

const char* TranslateMetadataKey(const char* key) {
    for (const TKeyName& k : kKeyNames)
        if (std::strcmp(key, k.key) == 0) return k.name;
    return key;
}

std::string MetadataLine(const char* prefix, const char* key, const char* value) {
    return Format("%s  %-16s: %s", prefix, TranslateMetadataKey(key), value);
}

int LeadingNumber(const char* value) {
    if (!value) return 0;
    while (*value == ' ') ++value;
    long long n = 0;
    bool any = false;
    for (; *value >= '0' && *value <= '9'; ++value) {
        any = true;
        n = n * 10 + (*value - '0');
        if (n > 2147483647) return 0;
    }
    return any ? int(n) : 0;
}

}  // namespace ProbeText
