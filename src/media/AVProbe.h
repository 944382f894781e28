#pragma once
// Media probe: opens a media file with the demuxer, reads the stream parameters and
// answers questions about the container and its streams (size, duration, start time, bit
// rate, tags, per-stream codec, picture and sound parameters). It also renders a
// multi-line description of the whole file. The probe never decodes.
//
// TCustomAVProbe carries all behaviour; TAVProbe is the concrete class that the engine
// and the player create.

#include <QString>

#include <cstdint>
#include <stdexcept>
#include <string>

struct AVCodecContext;
struct AVCodecParameters;
struct AVDictionary;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;

// Raised by LoadFile and AttachContext when a media library is not loaded.
class EAVProbeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Container-level facts. Without a file every integer is -1 and every string empty.
struct TFileStreamInfo {
    int64_t StartTime = -1;  // microseconds; -1 when the library has no value
    int64_t Duration = -1;   // microseconds; -1 when the library has no value
    int32_t BitRate = -1;    // bit/s as the demuxer reports it (0 or less = not known)
    int64_t TimeStamp = -1;  // creation time, seconds since 1970-01-01 UTC (0 = none)
    int32_t Year = -1;       // 0 = none
    int32_t Track = -1;      // 0 = none
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;
};

// The fields every stream record begins with. StartTime and Duration are in the stream's
// own time base and may hold the library's no-time-stamp marker (INT64_MIN); the ...Us
// fields then stay -1.
struct TStreamInfoCommon {
    std::string Language;
    std::string CodecName;
    int64_t StartTime = -1;
    int64_t StartTimeUs = -1;
    int64_t Duration = -1;
    int64_t DurationUs = -1;
    int32_t BitRate = -1;
};

// One video stream.
struct TVideoStreamInfo : TStreamInfoCommon {
    int32_t Height = -1;
    int32_t Width = -1;
    float AspectRatio = -1.0f;  // display aspect ratio; 0 when the sample aspect ratio is 0/1
    int32_t PixFmt = -1;
    int32_t FrameRateNum = -1;
    int32_t FrameRateDen = -1;
};

// One audio stream.
struct TAudioStreamInfo : TStreamInfoCommon {
    int32_t Channels = -1;
    int32_t SampleRate = -1;
    int32_t SampleFormat = -1;
};

class TCustomAVProbe {
public:
    TCustomAVProbe();
    virtual ~TCustomAVProbe();
    TCustomAVProbe(const TCustomAVProbe&) = delete;
    TCustomAVProbe& operator=(const TCustomAVProbe&) = delete;

    // Re-reads the numbers from the open context; all -1 when nothing is open.
    virtual void RefreshInfo();
    // Describes a context that somebody else opened; the probe will not close it. The
    // context must stay valid until the probe is closed or attached to something else.
    virtual void AttachContext(AVFormatContext* Context);
    // Forgets the file; closes the context only when the probe opened it.
    virtual void Close();

    // Opens a file; an empty FormatName lets the demuxer detect the container.
    bool LoadFile(const QString& FileName, const std::string& FormatName = std::string());

    // Index below 0 means the first stream of the kind. True when the record was filled;
    // otherwise it is left in its unknown state and LastErrMsg says why.
    bool GetFileStreamInfo(TFileStreamInfo& Info);
    bool GetVideoStreamInfo(int Index, TVideoStreamInfo& Info);
    bool GetAudioStreamInfo(int Index, TAudioStreamInfo& Info);
    bool IsAudioStream(int Index) const;
    bool IsVideoStream(int Index) const;

    // Description text; every line ends with "\r\n". Empty without a file.
    std::string GetFormatInfo();
    // The open file's name (empty without a file).
    QString GetFileName() const;
    // The demuxer's short name (empty without a file).
    std::string GetFormatName() const;

    AVFormatContext* FormatContext() const { return FormatContext_; }
    bool OwnsContext() const { return OwnsContext_; }
    const std::string& LastErrMsg() const { return LastErrMsg_; }
    // Demuxer name given to the last successful LoadFile (empty = detected).
    const std::string& ForceFormat() const { return ForceFormat_; }
    int64_t FileSize() const { return FileSize_; }
    int StreamCount() const { return StreamCount_; }
    int ProgramCount() const { return ProgramCount_; }
    int AudioStreamCount() const { return AudioStreamCount_; }
    int VideoStreamCount() const { return VideoStreamCount_; }
    int SubtitleStreamCount() const { return SubtitleStreamCount_; }
    int FirstAudioStream() const { return FirstAudioStream_; }
    int FirstVideoStream() const { return FirstVideoStream_; }
    int FirstSubtitleStream() const { return FirstSubtitleStream_; }

protected:
    // Throws EAVProbeError naming the first of avcodec, avformat, avutil, swscale that is
    // not loaded.
    static void CheckLibraries();
    void ReportError(const std::string& text);
    void ReportWarning(const std::string& text);

    AVFormatContext* FormatContext_ = nullptr;
    bool OwnsContext_ = false;
    std::string LastErrMsg_;
    std::string ForceFormat_;
    int64_t FileSize_ = -1;
    int StreamCount_ = -1;
    int ProgramCount_ = -1;
    int AudioStreamCount_ = -1;
    int VideoStreamCount_ = -1;
    int SubtitleStreamCount_ = -1;
    int FirstAudioStream_ = -1;
    int FirstVideoStream_ = -1;
    int FirstSubtitleStream_ = -1;

private:
    void ResetInfo();
    // The container record from the open context, without reporting.
    void ReadFileInfo(TFileStreamInfo& Info) const;
    // Resolves Index for a stream record of the given media type; -1 after reporting.
    int ResolveStreamIndex(int Index, int mediaType, const char* kindName);
    void FillCommon(AVStream* st, TStreamInfoCommon& Info);
    std::string StreamLine(int index) const;
};

class TAVProbe : public TCustomAVProbe {
public:
    TAVProbe() = default;
    ~TAVProbe() override;

    void RefreshInfo() override;
    void Close() override;

    // First video stream, else first audio stream, else -1; and its start time (in its
    // time base, the no-time-stamp marker when unknown).
    int PrimaryStream() const { return PrimaryStream_; }
    int64_t PrimaryStartTime() const { return PrimaryStartTime_; }

private:
    // Decoding state of the concrete probe. Nothing in this program decodes through the
    // probe, so these stay null; Close still releases whatever is there.
    AVCodecContext* CodecContext_ = nullptr;
    AVPacket* Packet_ = nullptr;
    AVFrame* Picture_ = nullptr;
    int PrimaryStream_ = -1;
    int64_t PrimaryStartTime_ = INT64_MIN;
};

// Name of the decoder for a stream's parameters: "name(long name)", "mpeg2ts" for a
// transport stream carried as a stream, the codec's own name, the printable tag
// "abcd / 0x64636261", or "0x%04x" of the tag.
std::string ProbeCodecName(const AVCodecParameters* par);

// The metadata block of the description: nothing when there are no tags or the only tag
// is "language"; else "<prefix>Metadata:" and one "%s  %-16s: %s" line per tag in stored
// order (the "language" tag left out, keys translated), each ended by "\r\n".
std::string ProbeMetadataBlock(const AVDictionary* metadata, const char* prefix);
