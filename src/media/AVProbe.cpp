#include "media/AVProbe.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/MediaErrorText.h"
#include "engine/MediaLib.h"
#include "engine/MediaLibLoader.h"
#include "engine/MediaLogger.h"
#include "engine/UnicodeProtocol.h"
#include "media/ProbeText.h"
#include "platform/Format.h"

namespace {

constexpr AVRational kMicroseconds{1, 1000000};
constexpr const char kEOL[] = "\r\n";

std::string Trimmed(const char* text) {
    if (!text) return std::string();
    std::string s(text);
    const auto notSpace = [](unsigned char c) { return c > ' '; };
    const auto b = std::find_if(s.begin(), s.end(), notSpace);
    const auto e = std::find_if(s.rbegin(), s.rend(), notSpace).base();
    return b < e ? std::string(b, e) : std::string();
}

const char* MetadataValue(const AVDictionary* metadata, const char* key) {
    if (!metadata) return nullptr;
    // Exact key (no suffix matching); letter case is ignored as the library does by default.
    const AVDictionaryEntry* e = gAVUtil.av_dict_get(metadata, key, nullptr, 0);
    return e ? e->value : nullptr;
}

std::string MetadataText(const AVDictionary* metadata, const char* key) {
    const char* v = MetadataValue(metadata, key);
    return v ? std::string(v) : std::string();
}

int32_t ClampToInt32(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// The stream's time base with a zero denominator replaced by the numerator, or by 1 when
// that is zero too. The change is made in the stream itself, so later rescaling by anybody
// reading the same context works.
void RepairTimeBase(AVStream* st) {
    if (st->time_base.den == 0) st->time_base.den = st->time_base.num != 0 ? st->time_base.num : 1;
}

}  // namespace

std::string ProbeCodecName(const AVCodecParameters* par) {
    if (const AVCodec* dec = gAVCodec.avcodec_find_decoder(par->codec_id)) {
        const std::string longName = Trimmed(dec->long_name);
        if (!longName.empty()) return Format("%s(%s)", dec->name, longName.c_str());
        return dec->name;
    }
    if (par->codec_id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
    // The codec context of the earlier library generation carried a 32-character codec
    // name of its own; the parameters of this generation have none. The closest
    // counterpart is the name the library's codec descriptor gives the identifier.
    if (const AVCodecDescriptor* d = gAVCodec.avcodec_descriptor_get(par->codec_id)) {
        const std::string name = Trimmed(d->name);
        if (!name.empty()) return name;
    }
    const uint32_t tag = par->codec_tag;
    char c[4];
    bool printable = true;
    for (int i = 0; i < 4; ++i) {
        c[i] = char((tag >> (8 * i)) & 0xFF);
        if (c[i] < 32 || c[i] > 126) printable = false;
    }
    if (printable) return Format("%c%c%c%c / 0x%04X", c[0], c[1], c[2], c[3], tag);
    return Format("0x%04x", tag);
}

std::string ProbeMetadataBlock(const AVDictionary* metadata, const char* prefix) {
    std::string out;
    if (!metadata || gAVUtil.av_dict_count(metadata) == 0) return out;
    const AVDictionaryEntry* tag = nullptr;
    if (gAVUtil.av_dict_count(metadata) == 1) {
        tag = gAVUtil.av_dict_get(metadata, "", nullptr, AV_DICT_IGNORE_SUFFIX);
        if (tag && std::strcmp(tag->key, "language") == 0) return out;
    }
    out += Format("%sMetadata:", prefix);
    out += kEOL;
    tag = nullptr;
    while ((tag = gAVUtil.av_dict_get(metadata, "", tag, AV_DICT_IGNORE_SUFFIX))) {
        if (std::strcmp(tag->key, "language") == 0) continue;
        out += ProbeText::MetadataLine(prefix, tag->key, tag->value);
        out += kEOL;
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// TCustomAVProbe

TCustomAVProbe::TCustomAVProbe() = default;

TCustomAVProbe::~TCustomAVProbe() { TCustomAVProbe::Close(); }

void TCustomAVProbe::CheckLibraries() {
    TMediaLibLoader& loader = MediaLibLoader();
    if (!loader.LibLoaded(TLibraryKind::libAVCodec)) throw EAVProbeError("LibAVCodec not loaded.");
    if (!loader.LibLoaded(TLibraryKind::libAVFormat)) throw EAVProbeError("LibAVFormat not loaded.");
    if (!loader.LibLoaded(TLibraryKind::libAVUtil)) throw EAVProbeError("LibAVUtil not loaded.");
    if (!loader.LibLoaded(TLibraryKind::libSwScale)) throw EAVProbeError("LibSwScale not loaded.");
}

void TCustomAVProbe::ReportError(const std::string& text) {
    LastErrMsg_ = text;
    MediaLogger().Log(this, llError, text);
}

void TCustomAVProbe::ReportWarning(const std::string& text) {
    LastErrMsg_ = text;
    MediaLogger().Log(this, llWarning, text);
}

void TCustomAVProbe::ResetInfo() {
    FileSize_ = -1;
    StreamCount_ = -1;
    ProgramCount_ = -1;
    AudioStreamCount_ = -1;
    VideoStreamCount_ = -1;
    SubtitleStreamCount_ = -1;
    FirstAudioStream_ = -1;
    FirstVideoStream_ = -1;
    FirstSubtitleStream_ = -1;
}

void TCustomAVProbe::RefreshInfo() {
    ResetInfo();
    if (!FormatContext_) return;

    // The earlier generation kept the file size in the context; this one asks the I/O
    // context. A demuxer without file I/O, or a stream without a size, falls back to the
    // file system.
    int64_t demuxerSize = 0;
    if (FormatContext_->pb) demuxerSize = gAVFormat.avio_size(FormatContext_->pb);
    if (demuxerSize > 0) {
        FileSize_ = demuxerSize;
    } else {
        const QFileInfo file(GetFileName());
        if (!file.filePath().isEmpty() && file.exists() && !file.isDir())
            FileSize_ = file.size();
        else
            FileSize_ = demuxerSize;
    }

    StreamCount_ = int(FormatContext_->nb_streams);
    ProgramCount_ = int(FormatContext_->nb_programs);
    AudioStreamCount_ = 0;
    VideoStreamCount_ = 0;
    SubtitleStreamCount_ = 0;
    for (int i = 0; i < StreamCount_; ++i) {
        switch (FormatContext_->streams[i]->codecpar->codec_type) {
            case AVMEDIA_TYPE_VIDEO:
                ++VideoStreamCount_;
                if (FirstVideoStream_ == -1) FirstVideoStream_ = i;
                break;
            case AVMEDIA_TYPE_AUDIO:
                ++AudioStreamCount_;
                if (FirstAudioStream_ == -1) FirstAudioStream_ = i;
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                ++SubtitleStreamCount_;
                if (FirstSubtitleStream_ == -1) FirstSubtitleStream_ = i;
                break;
            default:  // data and attachment streams
                break;
        }
    }
}

bool TCustomAVProbe::LoadFile(const QString& FileName, const std::string& FormatName) {
    CheckLibraries();
    Close();

    const AVInputFormat* format = nullptr;
    if (!FormatName.empty()) {
        format = gAVFormat.av_find_input_format(FormatName.c_str());
        if (!format) {
            LastErrMsg_ = Format("Unknown input format: %s", FormatName.c_str());
            return false;
        }
    }

    AVFormatContext* ctx = gAVFormat.avformat_alloc_context();
    OwnsContext_ = true;
    const QByteArray ansiName = FileName.toLocal8Bit();
    if (!ctx) {
        ReportError(ansiName.toStdString() + ": " + MediaErrorText(AVERROR(ENOMEM)));
        return false;
    }
    ctx->flags |= AVFMT_FLAG_NONBLOCK;

    // On failure the library frees the context it was given.
    const int opened = OpenInputURL(&ctx, FileNameToURL(FileName), format, nullptr);
    if (opened < 0) {
        ReportError(ansiName.toStdString() + ": " + MediaErrorText(opened));
        Close();
        return false;
    }
    FormatContext_ = ctx;

    int found;
    {
        std::lock_guard<std::mutex> lock(CodecLock());
        found = gAVFormat.avformat_find_stream_info(ctx, nullptr);
    }
    if (found < 0) {
        LastErrMsg_ = Format("%s: could not find codec parameters", FileName.toUtf8().constData());
        Close();
        return false;
    }

    RefreshInfo();
    ForceFormat_ = FormatName;
    return true;
}

void TCustomAVProbe::AttachContext(AVFormatContext* Context) {
    CheckLibraries();
    Close();
    OwnsContext_ = false;
    FormatContext_ = Context;
    RefreshInfo();
}

void TCustomAVProbe::Close() {
    ForceFormat_.clear();
    if (FormatContext_) {
        // A context whose library has been unloaded in the meantime cannot be closed any
        // more; it is only dropped.
        if (OwnsContext_ && MediaLibLoader().LibLoaded(TLibraryKind::libAVFormat)) CloseInputURL(&FormatContext_);
        FormatContext_ = nullptr;
    }
    RefreshInfo();
}

void TCustomAVProbe::ReadFileInfo(TFileStreamInfo& Info) const {
    const AVFormatContext* ctx = FormatContext_;
    Info.StartTime = ctx->start_time == AV_NOPTS_VALUE ? -1 : ctx->start_time;
    Info.Duration = ctx->duration == AV_NOPTS_VALUE ? -1 : ctx->duration;
    Info.BitRate = ClampToInt32(ctx->bit_rate);

    // The earlier generation kept the creation time, year and track number as fields of
    // the context; this one keeps them only as tags: "creation_time" (ISO 8601 text,
    // UTC when it ends in "Z"), "date" (or "year") and "track" ("3/12" is track 3).
    Info.TimeStamp = 0;
    if (const char* created = MetadataValue(ctx->metadata, "creation_time")) {
        int64_t us = 0;
        if (gAVUtil.av_parse_time(&us, created, 0) >= 0 && us > 0) Info.TimeStamp = us / 1000000;
    }
    const char* year = MetadataValue(ctx->metadata, "date");
    if (!year) year = MetadataValue(ctx->metadata, "year");
    Info.Year = ProbeText::LeadingNumber(year);
    Info.Track = ProbeText::LeadingNumber(MetadataValue(ctx->metadata, "track"));

    Info.Title = MetadataText(ctx->metadata, "title");
    // This generation's demuxers rename the "author" of the earlier one to "artist" (ASF
    // content descriptions, ID3 and MP4 tags alike); a plain "author" tag still wins.
    Info.Author = MetadataText(ctx->metadata, "author");
    if (Info.Author.empty()) Info.Author = MetadataText(ctx->metadata, "artist");
    Info.Copyright = MetadataText(ctx->metadata, "copyright");
    Info.Comment = MetadataText(ctx->metadata, "comment");
    Info.Album = MetadataText(ctx->metadata, "album");
    Info.Genre = MetadataText(ctx->metadata, "genre");
}

bool TCustomAVProbe::GetFileStreamInfo(TFileStreamInfo& Info) {
    Info = TFileStreamInfo{};
    if (!FormatContext_) {
        ReportWarning("file not loaded.");
        return false;
    }
    ReadFileInfo(Info);
    return true;
}

int TCustomAVProbe::ResolveStreamIndex(int Index, int mediaType, const char* kindName) {
    if (!FormatContext_) {
        ReportWarning("file not loaded.");
        return -1;
    }
    if (Index < 0) {
        Index = mediaType == AVMEDIA_TYPE_VIDEO ? FirstVideoStream_ : FirstAudioStream_;
        if (Index < 0) {
            ReportError(Format("no %s stream.", kindName));
            return -1;
        }
    } else if (Index >= StreamCount_) {
        ReportError(Format("stream index #%d is invalid.", Index));
        return -1;
    }
    if (FormatContext_->streams[Index]->codecpar->codec_type != mediaType) {
        ReportError(Format("stream #%d is not %s stream.", Index, kindName));
        return -1;
    }
    return Index;
}

void TCustomAVProbe::FillCommon(AVStream* st, TStreamInfoCommon& Info) {
    Info.Language = MetadataText(st->metadata, "language");
    Info.CodecName = ProbeCodecName(st->codecpar);
    Info.StartTime = st->start_time;
    Info.Duration = st->duration;
    RepairTimeBase(st);
    if (Info.StartTime != AV_NOPTS_VALUE)
        Info.StartTimeUs = gAVUtil.av_rescale_q(Info.StartTime, st->time_base, kMicroseconds);
    if (Info.Duration != AV_NOPTS_VALUE)
        Info.DurationUs = gAVUtil.av_rescale_q(Info.Duration, st->time_base, kMicroseconds);
    // The decoder context's numbers of the earlier generation are the stream's codec
    // parameters in this one.
    Info.BitRate = ClampToInt32(st->codecpar->bit_rate);
}

bool TCustomAVProbe::GetVideoStreamInfo(int Index, TVideoStreamInfo& Info) {
    Info = TVideoStreamInfo{};
    const int index = ResolveStreamIndex(Index, AVMEDIA_TYPE_VIDEO, "video");
    if (index < 0) return false;
    AVStream* st = FormatContext_->streams[index];
    FillCommon(st, Info);
    const AVCodecParameters* par = st->codecpar;
    Info.Height = par->height;
    Info.Width = par->width;
    // Without a height or a sample-aspect denominator there is no display ratio: the
    // record keeps its unknown value.
    if (par->height != 0 && par->sample_aspect_ratio.den != 0)
        Info.AspectRatio = float(av_q2d(par->sample_aspect_ratio) * par->width / par->height);
    Info.PixFmt = par->format;
    Info.FrameRateNum = st->r_frame_rate.num;
    Info.FrameRateDen = st->r_frame_rate.den;
    return true;
}

bool TCustomAVProbe::GetAudioStreamInfo(int Index, TAudioStreamInfo& Info) {
    Info = TAudioStreamInfo{};
    const int index = ResolveStreamIndex(Index, AVMEDIA_TYPE_AUDIO, "audio");
    if (index < 0) return false;
    AVStream* st = FormatContext_->streams[index];
    FillCommon(st, Info);
    const AVCodecParameters* par = st->codecpar;
    Info.Channels = par->ch_layout.nb_channels;
    Info.SampleRate = par->sample_rate;
    Info.SampleFormat = par->format;
    return true;
}

bool TCustomAVProbe::IsAudioStream(int Index) const {
    return FormatContext_ && Index >= 0 && Index < StreamCount_ &&
           FormatContext_->streams[Index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

bool TCustomAVProbe::IsVideoStream(int Index) const {
    return FormatContext_ && Index >= 0 && Index < StreamCount_ &&
           FormatContext_->streams[Index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
}

QString TCustomAVProbe::GetFileName() const {
    if (!FormatContext_ || !FormatContext_->url) return QString();
    return URLToFileName(FormatContext_->url);
}

std::string TCustomAVProbe::GetFormatName() const {
    if (!FormatContext_ || !FormatContext_->iformat) return std::string();
    return FormatContext_->iformat->name;
}

std::string TCustomAVProbe::StreamLine(int index) const {
    const AVStream* st = FormatContext_->streams[index];
    const AVCodecParameters* par = st->codecpar;

    std::string s = Format("Stream #%d", index);
    if (FormatContext_->iformat && (FormatContext_->iformat->flags & AVFMT_SHOW_IDS)) s += Format("[0x%x]", st->id);
    if (const char* language = MetadataValue(st->metadata, "language")) s += Format("(%s)", language);

    int64_t g = gAVUtil.av_gcd(st->time_base.num, st->time_base.den);
    if (g == 0) g = 1;
    s += Format(", %d/%d", int(st->time_base.num / g), int(st->time_base.den / g));

    // The codec description needs a codec context; this generation keeps the stream's
    // parameters apart, so a temporary context is made from them. Its time base is the
    // only source of the decoder time base ("tbc"), which the parameters do not carry: it
    // is usually 0/1 and then left out like any other rate with a zero term.
    char description[256] = {};
    AVRational codecTimeBase{0, 1};
    if (AVCodecContext* avctx = gAVCodec.avcodec_alloc_context3(nullptr)) {
        if (gAVCodec.avcodec_parameters_to_context(avctx, par) >= 0) {
            gAVCodec.avcodec_string(description, sizeof description, avctx, 0);
            codecTimeBase = avctx->time_base;
        }
        gAVCodec.avcodec_free_context(&avctx);
    }
    s += ": ";
    s += description;

    const AVRational sar = st->sample_aspect_ratio;
    if (sar.num != 0 && av_cmp_q(sar, par->sample_aspect_ratio) != 0) {
        int dn = 0;
        int dd = 0;
        gAVUtil.av_reduce(&dn, &dd, int64_t(par->width) * sar.num, int64_t(par->height) * sar.den, 1024 * 1024);
        s = Format("%s, PAR %d:%d DAR %d:%d", s.c_str(), sar.num, sar.den, dn, dd);
    }

    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        const auto rate = [&s](AVRational r, const char* unit) {
            if (r.num != 0 && r.den != 0) s += ProbeText::RateText(av_q2d(r), unit);
        };
        rate(st->avg_frame_rate, "fps");
        rate(st->r_frame_rate, "tbr");
        rate(av_inv_q(st->time_base), "tbn");
        rate(av_inv_q(codecTimeBase), "tbc");
    }

    if (st->start_time != AV_NOPTS_VALUE)
        s += ", StartTime: " +
             ProbeText::StartTimeText(gAVUtil.av_rescale_q(st->start_time, st->time_base, kMicroseconds));
    if (st->duration != AV_NOPTS_VALUE)
        s += ", Duration: " +
             ProbeText::DurationText(gAVUtil.av_rescale_q(st->duration, st->time_base, kMicroseconds));
    else
        s += ", Duration: N/A";
    s += kEOL;

    s += ProbeMetadataBlock(st->metadata, "  ");
    return s;
}

std::string TCustomAVProbe::GetFormatInfo() {
    if (!FormatContext_) {
        ReportWarning("file not loaded.");
        return std::string();
    }
    const AVFormatContext* ctx = FormatContext_;
    std::string out;
    const auto line = [&out](const std::string& text) {
        out += text;
        out += kEOL;
    };

    line("File Name: " + GetFileName().toStdString());
    line(Format("Format Name: %s", ctx->iformat && ctx->iformat->name ? ctx->iformat->name : ""));
    line(Format("Format Long Name: %s", ctx->iformat && ctx->iformat->long_name ? ctx->iformat->long_name : ""));
    line("File Size: " + ProbeText::SizeText(FileSize_));

    TFileStreamInfo info;
    ReadFileInfo(info);
    line("Duration: " + ProbeText::DurationText(info.Duration));
    if (info.StartTime >= 0) line("StartTime: " + ProbeText::StartTimeText(info.StartTime));
    if (info.BitRate >= 1)
        line(Format("Bit Rate: %d kb/s", info.BitRate / 1000));
    else
        line("Bit Rate: N/A");
    if (info.TimeStamp > 0)
        line("Time Stamp: " + ProbeText::TimeStampText(info.TimeStamp, ProbeText::LocalTimeOffset()));

    out += ProbeMetadataBlock(ctx->metadata, "");

    std::vector<bool> listed(ctx->nb_streams, false);
    for (unsigned p = 0; p < ctx->nb_programs; ++p) {
        const AVProgram* program = ctx->programs[p];
        // The transport-stream demuxer of the earlier generation tagged programs with
        // "provider_name" and "name"; this one uses "service_provider" and "service_name".
        const char* provider = MetadataValue(program->metadata, "provider_name");
        if (!provider) provider = MetadataValue(program->metadata, "service_provider");
        const char* name = MetadataValue(program->metadata, "name");
        if (!name) name = MetadataValue(program->metadata, "service_name");
        line(Format("Program %d %s@%s", program->id, provider ? provider : "N/A", name ? name : "N/A"));
        out += ProbeMetadataBlock(program->metadata, "  ");
        for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
            const unsigned index = program->stream_index[k];
            if (index >= ctx->nb_streams) continue;
            out += StreamLine(int(index));
            listed[index] = true;
        }
    }
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        if (!listed[i]) out += StreamLine(int(i));
    return out;
}

// ---------------------------------------------------------------------------------------
// TAVProbe

TAVProbe::~TAVProbe() { TAVProbe::Close(); }

void TAVProbe::RefreshInfo() {
    TCustomAVProbe::RefreshInfo();
    PrimaryStream_ = FirstVideoStream_ >= 0 ? FirstVideoStream_ : FirstAudioStream_;
    PrimaryStartTime_ = PrimaryStream_ >= 0 ? FormatContext_->streams[PrimaryStream_]->start_time : AV_NOPTS_VALUE;
}

void TAVProbe::Close() {
    if (CodecContext_) {
        std::lock_guard<std::mutex> lock(CodecLock());
        gAVCodec.avcodec_free_context(&CodecContext_);
    }
    if (Packet_) gAVCodec.av_packet_free(&Packet_);
    if (Picture_) gAVUtil.av_frame_free(&Picture_);
    TCustomAVProbe::Close();
}
