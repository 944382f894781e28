#include "engine/TranscodeSettings.h"

#include <QCoreApplication>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <locale.h>
#include <set>

#include "engine/FrameHook.h"
#include "engine/MediaLib.h"
#include "engine/MediaLogger.h"
#include "platform/Format.h"

// ---------------------------------------------------------------- helpers

namespace OptText {


std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

std::string LowerCase(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return r;
}

int64_t StrToInt64(const std::string& s) {
    const std::string t = Trim(s);
    const char* p = t.c_str();
    bool neg = false;
    if (*p == '+' || *p == '-') neg = (*p++ == '-');
    int base = 10;
    if (*p == '$') {
        base = 16;
        ++p;
    } else if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (*p == '\0' || *p == '+' || *p == '-' || static_cast<unsigned char>(*p) <= ' ')
        throw EConvertError(Format("'%s' is not a valid integer value", s.c_str()));
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(p, &end, base);
    if (*end != '\0' || errno == ERANGE || v > uint64_t(std::numeric_limits<int64_t>::max()) + (neg ? 1u : 0u))
        throw EConvertError(Format("'%s' is not a valid integer value", s.c_str()));
    return neg ? int64_t(0 - v) : int64_t(v);
}

int StrToInt(const std::string& s) {
    const int64_t v = StrToInt64(s);
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        throw EConvertError(Format("'%s' is not a valid integer value", s.c_str()));
    return int(v);
}

// Reads a decimal number at the start of text with "." as the decimal separator whatever the
// process locale says; returns the characters used (0: none).
size_t ReadDecimal(const char* text, size_t length, double& value) {
    const size_t start = length > 0 && text[0] == '+' ? 1 : 0;
    if (start == 1 && length > 1 && text[1] == '-') return 0;
    const auto r = std::from_chars(text + start, text + length, value, std::chars_format::general);
    if (r.ec != std::errc()) return 0;
    return size_t(r.ptr - text);
}

double StrToFloat(const std::string& s) {
    const std::string t = Trim(s);
    double v = 0;
    if (t.empty() || ReadDecimal(t.data(), t.size(), v) != t.size() || !std::isfinite(v))
        throw EConvertError(Format("'%s' is not a valid floating point value", s.c_str()));
    return v;
}

uint32_t FourCC(const std::string& tag) {
    return uint32_t(uint8_t(tag[0])) | uint32_t(uint8_t(tag[1])) << 8 | uint32_t(uint8_t(tag[2])) << 16 |
           uint32_t(uint8_t(tag[3])) << 24;
}

}  // namespace OptText

using namespace OptText;

namespace {

// While it lives, the calling thread reads and writes numbers the C way ("0.71"), whatever
// locale the process runs in: the media library parses and prints option values with the C
// library's locale-dependent number functions.
class TCNumericScope {
public:
    TCNumericScope() {
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        if (cLocale) old_ = uselocale(cLocale);
    }
    ~TCNumericScope() {
        if (old_) uselocale(old_);
    }
    TCNumericScope(const TCNumericScope&) = delete;
    TCNumericScope& operator=(const TCNumericScope&) = delete;

private:
    locale_t old_ = locale_t(nullptr);
};

bool StrToBool(const std::string& s) { return s != "0"; }

uint32_t TagOption(const std::string& value, int line) {
    if (value.size() != 4) throw EAssertionFailed(Format("Assertion failure (ConvertTask.cpp, line %d)", line));
    return FourCC(value);
}

void Info(const void* sender, const std::string& msg) { MediaLogger().Log(sender, llInfo, msg); }

std::vector<std::string> UniqueNames(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (const auto& n : names)
        if (seen.insert(n).second) out.push_back(n);
    return out;
}

// Copies the values of the named options from one AVOption object to another, skipping
// options either side lacks or refuses.
void CopyOptionValues(void* from, void* to, const std::vector<std::string>& names, int mask) {
    const TCNumericScope cNumbers;
    for (const std::string& name : UniqueNames(names)) {
        if (!gAVUtil.av_opt_find(from, name.c_str(), nullptr, mask, AV_OPT_SEARCH_CHILDREN)) continue;
        uint8_t* buf = nullptr;
        if (gAVUtil.av_opt_get(from, name.c_str(), AV_OPT_SEARCH_CHILDREN, &buf) >= 0 && buf) {
            gAVUtil.av_opt_set(to, name.c_str(), reinterpret_cast<const char*>(buf), AV_OPT_SEARCH_CHILDREN);
        }
        gAVUtil.av_free(buf);
    }
}

}  // namespace

// ---------------------------------------------------------------- life cycle

TTranscodeSettings::TTranscodeSettings() = default;

TTranscodeSettings::~TTranscodeSettings() { FreeOptionHolders(); }

void TTranscodeSettings::ResetValues() { static_cast<TTranscodeValues&>(*this) = TTranscodeValues(); }

void TTranscodeSettings::FreeOptionHolders() {
    for (auto& h : codecHolders_)
        if (h) gAVCodec.avcodec_free_context(&h);
    if (formatHolder_) {
        gAVFormat.avformat_free_context(formatHolder_);
        formatHolder_ = nullptr;
    }
    if (scalerHolder_) {
        gSwScale.sws_freeContext(scalerHolder_);
        scalerHolder_ = nullptr;
    }
}

void TTranscodeSettings::ResetOptionHolders() {
    FreeOptionHolders();
    for (auto& h : codecHolders_) h = gAVCodec.avcodec_alloc_context3(nullptr);
    formatHolder_ = gAVFormat.avformat_alloc_context();
    scalerHolder_ = gSwScale.sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P, SwsFlags,
                                            nullptr, nullptr, nullptr);
    if (!formatHolder_ || !scalerHolder_) throw ConvertException("Cannot allocate the option holders");
    for (auto* h : codecHolders_)
        if (!h) throw ConvertException("Cannot allocate the option holders");
}

void TTranscodeSettings::ResetSettings() {
    ResetValues();
    optionNames_.clear();
    videoBsf_.clear();
    audioBsf_.clear();
    subtitleBsf_.clear();
    ResetOptionHolders();
}

// The holder of a kind follows the codec named for that kind, so that the codec's private
// options (for example those of the libx264 wrapper) are accepted and checked. Options set
// so far move over to the new holder.
void TTranscodeSettings::RebuildCodecHolder(AVMediaType kind, const std::string& codecName) {
    AVCodecContext* old = codecHolders_[kind];
    if (!old) return;
    const AVCodec* codec = gAVCodec.avcodec_find_encoder_by_name(codecName.c_str());
    if (!codec) codec = gAVCodec.avcodec_find_decoder_by_name(codecName.c_str());
    if (!codec || codec->type != kind || old->codec == codec) return;
    AVCodecContext* fresh = gAVCodec.avcodec_alloc_context3(codec);
    if (!fresh) return;
    CopyOptionValues(old, fresh, optionNames_, 0);
    gAVCodec.avcodec_free_context(&old);
    codecHolders_[kind] = fresh;
}

void TTranscodeSettings::SetFileFormatName(const std::string& name) {
    std::string format = name;
    if (format == "pgmyuv") {
        format = "image2";
        PgmYuvHack = true;
        Info(this, "pgmyuv format is deprecated, use image2");
    }
    FileFormatName = format;
    // With a muxer of that name the container holder takes its private options too.
    if (!formatHolder_ || !gAVFormat.av_guess_format(format.c_str(), nullptr, nullptr)) return;
    if (formatHolder_->oformat && std::strcmp(formatHolder_->oformat->name, format.c_str()) == 0) return;
    AVFormatContext* fresh = nullptr;
    if (gAVFormat.avformat_alloc_output_context2(&fresh, nullptr, format.c_str(), nullptr) < 0 || !fresh) return;
    CopyOptionValues(formatHolder_, fresh, optionNames_, 0);
    gAVFormat.avformat_free_context(formatHolder_);
    formatHolder_ = fresh;
}

// ---------------------------------------------------------------- generic options

bool TTranscodeSettings::SetCodecOption(const std::string& name0, const std::string& value0) {
    return SetCodecOptionImpl(Trim(name0), Trim(value0));
}

bool TTranscodeSettings::SetCodecOptionImpl(const std::string& name, const std::string& value) {
    const TCNumericScope cNumbers;
    if (name.empty() || value.empty() || !formatHolder_) return false;
    bool found = false, rejected = false;
    std::string recorded = name;
    for (int kind = 0; kind < kMediaKindCount && !rejected; ++kind) {
        AVCodecContext* holder = codecHolders_[kind];
        if (!gAVUtil.av_opt_find(holder, name.c_str(), nullptr, kOptionKindMask[kind], AV_OPT_SEARCH_CHILDREN))
            continue;
        found = true;
        if (gAVUtil.av_opt_set(holder, name.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN) < 0) rejected = true;
    }
    if (!found) {
        for (void* holder : {static_cast<void*>(formatHolder_), static_cast<void*>(scalerHolder_)}) {
            if (!gAVUtil.av_opt_find(holder, name.c_str(), nullptr, 0, AV_OPT_SEARCH_CHILDREN)) continue;
            found = true;
            rejected = gAVUtil.av_opt_set(holder, name.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN) < 0;
            break;
        }
    }
    if (!found && name.size() > 1 && (name[0] == 'a' || name[0] == 'v' || name[0] == 's')) {
        const AVMediaType kind =
            name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : name[0] == 'v' ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_SUBTITLE;
        const std::string rest = name.substr(1);
        AVCodecContext* holder = codecHolders_[kind];
        if (gAVUtil.av_opt_find(holder, rest.c_str(), nullptr, 0, AV_OPT_SEARCH_CHILDREN)) {
            found = true;
            recorded = rest;
            rejected = gAVUtil.av_opt_set(holder, rest.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN) < 0;
        }
    }
    if (found && rejected) {
        gAVUtil.av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", value.c_str(), name.c_str());
        return false;
    }
    if (!found) return false;
    optionNames_.push_back(recorded);
    int64_t debug = 0, fdebug = 0;
    gAVUtil.av_opt_get_int(codecHolders_[AVMEDIA_TYPE_VIDEO], "debug", 0, &debug);
    gAVUtil.av_opt_get_int(formatHolder_, "fdebug", 0, &fdebug);
    if (debug != 0 || fdebug != 0) MediaLogger().SetLogLevel(llDebug);
    return true;
}

void TTranscodeSettings::SetBitrateOption(const std::string& name, const std::string& value) {
    if (!SetCodecOption(name, value)) return;
    AVCodecContext* holder = codecHolders_[!name.empty() && name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO];
    int64_t b = 0;
    if (gAVUtil.av_opt_get_int(holder, "b", 0, &b) >= 0 && b < 1000)
        MediaLogger().Log(this, llWarning,
                          "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void TTranscodeSettings::CopyCodecOptions(void* target, void* holder, int mask) const {
    if (!target || !holder) return;
    CopyOptionValues(holder, target, optionNames_, mask);
}

int TTranscodeSettings::HolderStrictness(AVMediaType kind) const {
    int64_t v = 0;
    if (kind >= 0 && kind < kMediaKindCount && codecHolders_[kind])
        gAVUtil.av_opt_get_int(codecHolders_[kind], "strict", 0, &v);
    return int(v);
}

int TTranscodeSettings::HolderSwsFlags() const {
    int64_t v = SwsFlags;
    if (scalerHolder_) gAVUtil.av_opt_get_int(scalerHolder_, "sws_flags", 0, &v);
    return int(v);
}

// ---------------------------------------------------------------- codecs

void TTranscodeSettings::SetAudioCodec(const std::string& name) {
    if (name.empty()) return;
    if (name == "copy") {
        AudioStreamCopy = true;
        return;
    }
    AudioCodecName = name;
    RebuildCodecHolder(AVMEDIA_TYPE_AUDIO, name);
}

void TTranscodeSettings::SetVideoCodec(const std::string& name) {
    if (name.empty()) return;
    if (name == "copy") {
        VideoStreamCopy = true;
        return;
    }
    VideoCodecName = name;
    RebuildCodecHolder(AVMEDIA_TYPE_VIDEO, name);
}

void TTranscodeSettings::SetSubtitleCodec(const std::string& name) {
    if (name.empty()) return;
    if (name == "copy") {
        SubtitleStreamCopy = true;
        return;
    }
    SubtitleCodecName = name;
    RebuildCodecHolder(AVMEDIA_TYPE_SUBTITLE, name);
}

bool TTranscodeSettings::FindCodec(const std::string& name, AVMediaType kind, int strictness, bool encoder,
                                   AVCodecID& codecId, std::string& errorText) const {
    codecId = AV_CODEC_ID_NONE;
    if (name.empty()) return true;
    const char* what = encoder ? "encoder" : "decoder";
    const AVCodec* codec = encoder ? gAVCodec.avcodec_find_encoder_by_name(name.c_str())
                                   : gAVCodec.avcodec_find_decoder_by_name(name.c_str());
    if (!codec) {
        errorText = Format("Unknown %s '%s'", what, name.c_str());
        return false;
    }
    if (codec->type != kind) {
        errorText = Format("Invalid %s type '%s'", what, name.c_str());
        return false;
    }
    if ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && strictness > FF_COMPLIANCE_EXPERIMENTAL) {
        errorText = Format(
            "%s '%s' is experimental and might produce bad results.\r\n"
            "Add '-strict experimental' if you want to use it.",
            what, codec->name);
        const AVCodec* def = encoder ? gAVCodec.avcodec_find_encoder(codec->id) : gAVCodec.avcodec_find_decoder(codec->id);
        if (def && !(def->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
            errorText += Format("\r\nOr use the non experimental %s '%s'.", what, def->name);
        return false;
    }
    codecId = codec->id;
    return true;
}

// ---------------------------------------------------------------- bitstream filters, hooks

const std::vector<std::string>& TTranscodeSettings::BitstreamFilters(char kind) const {
    return kind == 'v' ? videoBsf_ : kind == 'a' ? audioBsf_ : subtitleBsf_;
}

AVBSFContext* TTranscodeSettings::TakeBitstreamFilterChain(char kind) {
    std::vector<std::string>& chain = kind == 'v' ? videoBsf_ : kind == 'a' ? audioBsf_ : subtitleBsf_;
    if (chain.empty()) return nullptr;
    std::string text;
    for (const auto& f : chain) text += (text.empty() ? "" : ",") + f;
    chain.clear();
    AVBSFContext* bsf = nullptr;
    if (gAVCodec.av_bsf_list_parse_str(text.c_str(), &bsf) < 0 || !bsf)
        throw ConvertException(Format("Unknown bitstream filter %s", text.c_str()));
    return bsf;
}

void TTranscodeSettings::AddBitstreamFilter(const std::string& name, const std::string& value) {
    if (value.empty() || value[0] == '=') return;
    const size_t eq = value.find('=');
    const std::string filter = Trim(eq != std::string::npos && eq >= 1 ? value.substr(0, eq) : value);
    // The whole text must also read as a filter with its options ("name=key=value:..."),
    // so that the chain can be built when the stream is created.
    AVBSFContext* probe = nullptr;
    if (!gAVCodec.av_bsf_get_by_name(filter.c_str()) ||
        gAVCodec.av_bsf_list_parse_str(Trim(value).c_str(), &probe) < 0)
        throw ConvertException(Format("Unknown bitstream filter %s", Trim(value).c_str()));
    gAVCodec.av_bsf_free(&probe);
    std::vector<std::string>& chain = name[0] == 'v' ? videoBsf_ : name[0] == 'a' ? audioBsf_ : subtitleBsf_;
    chain.push_back(Trim(value));
}

void TTranscodeSettings::AddFrameHook(const std::string& value) {
    std::vector<std::string> words;
    const bool bars = value.find('|') != std::string::npos;
    std::string word;
    auto flush = [&] {
        if (!word.empty() && words.size() < 254) words.push_back(word);
        word.clear();
    };
    for (char c : value) {
        if (bars ? c == '|' : c == ' ')
            flush();
        else
            word += c;
    }
    flush();
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    if (words.empty() || FrameHookAdd(int(words.size()), argv.data()) != 0)
        throw ConvertException("Failed to add video hook function: " + value);
    VideoHooksActive = true;
}

// ---------------------------------------------------------------- value parsers

int64_t TTranscodeSettings::ParseTime(const std::string& name, const std::string& value, bool duration) const {
    int64_t us = 0;
    if (gAVUtil.av_parse_time(&us, value.c_str(), duration ? 1 : 0) < 0 || us == AV_NOPTS_VALUE)
        throw ConvertException(Format("Invalid %s specification for %s: %s", duration ? "duration" : "date",
                                      name.c_str(), value.c_str()));
    return us;
}

void TTranscodeSettings::SetFrameRate(const std::string& value) {
    AVRational r{0, 0};
    if (gAVUtil.av_parse_video_rate(&r, value.c_str()) < 0) throw ConvertException("Incorrect frame rate");
    FrameRate = r;
}

void TTranscodeSettings::SetFrameSize(const std::string& value) {
    int w = 0, h = 0;
    if (gAVUtil.av_parse_video_size(&w, &h, value.c_str()) < 0) throw ConvertException("Incorrect frame size");
    FrameWidth = w;
    FrameHeight = h;
}

void TTranscodeSettings::SetAspect(const std::string& value) {
    double ar = 0;
    const size_t colon = value.find(':');
    if (colon != std::string::npos) {
        const long x = std::strtol(value.c_str(), nullptr, 10);
        const long y = std::strtol(value.c_str() + colon + 1, nullptr, 10);
        ar = y > 0 ? double(x) / double(y) : 0.0;
    } else {
        const std::string t = Trim(value);
        if (t.empty() || ReadDecimal(t.data(), t.size(), ar) != t.size() || !std::isfinite(ar)) ar = 0;
    }
    if (ar == 0) throw ConvertException("Incorrect aspect ratio specification.");
    FrameAspectRatio = float(ar);
}

void TTranscodeSettings::SetPixelFormat(const std::string& value) {
    if (value == "list") {
        char buf[128];
        for (int i = -1; i <= 66; ++i) {
            buf[0] = '\0';
            gAVUtil.av_get_pix_fmt_string(buf, sizeof buf, AVPixelFormat(i));
            Info(this, Trim(buf));
        }
        return;
    }
    const AVPixelFormat f = gAVUtil.av_get_pix_fmt(value.c_str());
    if (f == AV_PIX_FMT_NONE) throw ConvertException(Format("Unknown pixel format requested: %s", value.c_str()));
    FramePixFmt = f;
}

void TTranscodeSettings::SetSampleFormat(const std::string& value) {
    if (value == "list") {
        char buf[128];
        for (int i = -1; i <= 4; ++i) {
            buf[0] = '\0';
            gAVUtil.av_get_sample_fmt_string(buf, sizeof buf, AVSampleFormat(i));
            Info(this, Trim(buf));
        }
        return;
    }
    AudioSampleFmt = gAVUtil.av_get_sample_fmt(value.c_str());
}

void TTranscodeSettings::SetCrop(const std::string& name, const std::string& value) {
    const int v = StrToInt(value);
    if (v <= 0) return;
    const bool vertical = name == "croptop" || name == "cropbottom";
    if (vertical ? v >= FrameHeight : v >= FrameWidth)
        throw ConvertException(Format(
            "%s crop dimensions are outside the range of the original image.\nRemember to crop first and scale second.",
            vertical ? "Vertical" : "Horizontal"));
    MediaLogger().Log(this, llWarning, "CropXXX is deprecated in favor of the crop avfilter");
    if (name == "croptop") CropTop = v;
    else if (name == "cropbottom") CropBottom = v;
    else if (name == "cropleft") CropLeft = v;
    else CropRight = v;
    if (vertical) FrameHeight -= v;
    else FrameWidth -= v;
}

void TTranscodeSettings::SetMatrix(std::vector<uint16_t>& matrix, const std::string& value) {
    std::vector<uint16_t> m(64);
    const char* p = value.c_str();
    for (int i = 0; i < 64; ++i) {
        m[i] = uint16_t(std::atoi(p));
        p = std::strchr(p, ',');
        if (!p && i < 63) throw ConvertException(Format("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), i));
        if (p) ++p;
    }
    matrix = m;
}

// ---------------------------------------------------------------- the interpreter

void TTranscodeSettings::ParseOption(const std::string& name, const std::string& value) {
    const TCNumericScope cNumbers;
    const std::string& n = name;
    auto is = [&n](std::initializer_list<const char*> names) {
        for (const char* s : names)
            if (n == s) return true;
        return false;
    };
    auto integer = [&value] { return StrToInt(value); };
    auto boolean = [&value] { return StrToBool(value); };
    auto single = [&value] { return float(StrToFloat(value)); };

    if (is({"L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters", "i", "y", "benchmark"})) {
        Info(this, "Do nothing: option - " + n);
    } else if (n == "loglevel") {
        MediaLogger().SetLogLevelByName(value);
    } else if (n == "f") {
        SetFileFormatName(value);
    } else if (n == "map") {
        TStreamMap m;
        const char* p = value.c_str();
        char* e = nullptr;
        m.FileIndex = int(std::strtol(p, &e, 0));
        p = *e ? e + 1 : e;
        m.StreamIndex = int(std::strtol(p, &e, 0));
        p = e;
        if (*p) {
            ++p;
            m.SyncFileIndex = int(std::strtol(p, &e, 0));
            p = *e ? e + 1 : e;
            m.SyncStreamIndex = int(std::strtol(p, &e, 0));
        } else {
            m.SyncFileIndex = m.FileIndex;
            m.SyncStreamIndex = m.StreamIndex;
        }
        StreamMaps.push_back(m);
    } else if (n == "map_meta_data") {
        TMetaDataMap m;
        char* e = nullptr;
        m.OutFile = int(std::strtol(value.c_str(), &e, 0));
        if (*e) ++e;
        m.InFile = int(std::strtol(e, nullptr, 0));
        MetaDataMaps.push_back(m);
    } else if (n == "t") {
        RecordingTime = ParseTime(n, value, true);
        if (OnRecordingTime) OnRecordingTime(RecordingTime);
    } else if (n == "fs") {
        LimitFileSize = StrToInt64(value);
    } else if (n == "ss") {
        StartTime = ParseTime(n, value, true);
    } else if (n == "itsoffset") {
        InputTsOffset = ParseTime(n, value, true);
    } else if (n == "itsscale") {
        char* e = nullptr;
        const long index = std::strtol(value.c_str(), &e, 0);
        if (*e) ++e;
        double scale = 0;
        ReadDecimal(e, std::strlen(e), scale);
        if (index < 0 || index >= kMaxStreams)
            throw ConvertException(Format("stream index over MAX_STREAMS(%d)", kMaxStreams));
        if (NextInputIndex >= 0 && NextInputIndex < kMaxFiles) InputTsScale[NextInputIndex][index] = scale;
    } else if (n == "timestamp") {
        RecordingTimestamp = int64_t(std::llround(double(ParseTime(n, value, false)) / 1000000.0));
    } else if (n == "metadata") {
        const size_t eq = value.find('=');
        if (eq == std::string::npos) throw ConvertException("Missing =");
        Metadata.emplace_back(value.substr(0, eq), value.substr(eq + 1));
    } else if (n == "dframes") {
        MaxFrames[flData] = integer();
    } else if (n == "timelimit") {
        MediaLogger().Log(this, llWarning, "Warning: -timelimit not implemented on Windows");
    } else if (n == "dump") {
        PacketDump = boolean();
    } else if (n == "hex") {
        HexDump = boolean();
    } else if (n == "re") {
        RateEmulation = boolean();
    } else if (n == "loop_input") {
        LoopInput = boolean();
    } else if (n == "loop_output") {
        LoopOutput = integer();
    } else if (n == "v") {
        Verbose = integer();
    } else if (n == "target") {
        ParseTarget(value);
    } else if (n == "threads") {
        throw ConvertException("TODO: option - " + n);
    } else if (n == "vsync") {
        VideoSyncMethod = integer();
    } else if (n == "async") {
        AudioSyncMethod = integer();
    } else if (n == "adrift_threshold") {
        AudioDriftThreshold = single();
    } else if (n == "vglobal") {
        VideoGlobalHeader = integer();
    } else if (n == "copyts") {
        CopyTs = true;
    } else if (n == "shortest") {
        Shortest = boolean();
    } else if (n == "dts_delta_threshold") {
        DtsDeltaThreshold = single();
    } else if (n == "programid") {
        ProgramId = integer();
    } else if (n == "xerror") {
        ExitOnError = true;
    } else if (n == "copyinkf") {
        CopyInitialNonKeyframes = integer();
    } else if (is({"b", "vb"})) {
        SetBitrateOption(n, value);
    } else if (n == "vframes") {
        MaxFrames[flVideo] = integer();
    } else if (n == "r") {
        SetFrameRate(value);
    } else if (n == "s") {
        SetFrameSize(value);
    } else if (n == "aspect") {
        SetAspect(value);
    } else if (n == "pix_fmt") {
        SetPixelFormat(value);
    } else if (is({"croptop", "cropbottom", "cropleft", "cropright"})) {
        SetCrop(n, value);
    } else if (is({"padtop", "padbottom", "padleft", "padright", "padcolor"})) {
        throw ConvertException("Please use vfilters=pad");
    } else if (n == "intra") {
        IntraOnly = boolean();
    } else if (n == "vn") {
        VideoDisable = boolean();
    } else if (n == "vdt") {
        VideoDiscard = integer();
    } else if (n == "qscale") {
        const float q = single();
        if (!(q > 0.0f && q <= 255.0f)) throw ConvertException("qscale must be > 0.0 and <= 255");
        VideoQScale = q;
    } else if (n == "rc_override") {
        RcOverride = value;
        HasRcOverride = true;
    } else if (n == "vcodec") {
        SetVideoCodec(value);
    } else if (n == "me_threshold") {
        MeThreshold = integer();
    } else if (n == "sameq") {
        SameQuality = boolean();
    } else if (n == "pass") {
        const int p = integer();
        if (p != 1 && p != 2) throw ConvertException("pass number can be only 1 or 2");
        Pass = p;
    } else if (n == "passlogfile") {
        PassLogFile = value;
    } else if (n == "deinterlace") {
        Deinterlace = boolean();
    } else if (n == "psnr") {
        Psnr = boolean();
    } else if (n == "vstats") {
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        char hms[16];
        std::strftime(hms, sizeof hms, "%H%M%S", &tm);
        const std::string dir = QCoreApplication::applicationDirPath().toStdString() + "/";
        VStatsFile = Format("%svstats_%s.log", dir.c_str(), hms);
    } else if (n == "vstats_file") {
        VStatsFile = value;
    } else if (n == "vhook") {
        AddFrameHook(value);
    } else if (is({"vfilters", "vf"})) {
        if (!value.empty()) VideoFilters = value;
    } else if (n == "intra_matrix") {
        SetMatrix(IntraMatrix, value);
    } else if (n == "inter_matrix") {
        SetMatrix(InterMatrix, value);
    } else if (n == "top") {
        TopFieldFirst = integer();
    } else if (n == "dc") {
        IntraDcPrecision = integer();
    } else if (n == "vtag") {
        VideoCodecTag = TagOption(value, __LINE__);
    } else if (is({"newvideo", "newaudio", "newsubtitle"})) {
        if (!OnNewStream) throw ConvertException("At least one output file must be specified");
        OnNewStream(n);
    } else if (n == "vlang") {
        VideoLanguage = value;
    } else if (n == "qphist") {
        QpHist = boolean();
    } else if (n == "force_fps") {
        ForceFps = boolean();
    } else if (n == "streamid") {
        const size_t colon = value.find(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 >= value.size())
            throw ConvertException(Format("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
                                          value.c_str(), n.c_str()));
        const int index = StrToInt(value.substr(0, colon));
        const int id = StrToInt(value.substr(colon + 1));
        if (index < 0 || index >= kMaxStreams)
            throw ConvertException(Format("stream index over MAX_STREAMS(%d)", kMaxStreams));
        StreamIdMap[index] = id;
    } else if (n == "ab") {
        SetBitrateOption(n, value);
    } else if (n == "aframes") {
        MaxFrames[flAudio] = integer();
    } else if (n == "aq") {
        AudioQScale = single();
    } else if (n == "ar") {
        const int v = integer();
        if (v > 0) AudioSampleRate = v;
    } else if (n == "ac") {
        const int v = integer();
        if (v > 0) AudioChannels = v;
    } else if (n == "an") {
        AudioDisable = boolean();
    } else if (n == "acodec") {
        SetAudioCodec(value);
    } else if (n == "atag") {
        AudioCodecTag = TagOption(value, __LINE__);
    } else if (n == "vol") {
        AudioVolume = integer();
    } else if (n == "alang") {
        AudioLanguage = value;
    } else if (n == "sample_fmt") {
        SetSampleFormat(value);
    } else if (n == "sn") {
        SubtitleDisable = boolean();
    } else if (n == "scodec") {
        SetSubtitleCodec(value);
    } else if (n == "slang") {
        SubtitleLanguage = value;
    } else if (n == "stag") {
        SubtitleCodecTag = TagOption(value, __LINE__);
    } else if (n == "vc") {
        VideoChannel = integer();
    } else if (n == "tvstd") {
        VideoStandard = value;
    } else if (n == "isync") {
        InputSync = boolean();
    } else if (n == "muxdelay") {
        MuxMaxDelay = single();
    } else if (n == "muxpreload") {
        MuxPreload = single();
    } else if (is({"absf", "vbsf", "sbsf"})) {
        AddBitstreamFilter(n, value);
    } else if (is({"apre", "vpre", "spre", "fpre"})) {
        ApplyPreset(n, value);
    } else {
        SetCodecOption(n, value);
    }
}
