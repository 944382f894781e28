#pragma once
// The transcoding settings of one conversion task and the option interpreter that fills them.
//
// Settings are pending values: opening an input consumes the input-side ones, creating an
// output stream consumes the stream-side ones. Options are given by name and text value
// (names of a command-line transcoder, without the dash) through ParseOption; names the
// interpreter does not know go to the generic option holders (SetCodecOption): one codec
// context per media kind, a container context and a scaler context that only receive
// AVOptions and later hand them on to the real contexts (CopyCodecOptions).
//
// Failures raise ConvertException (EConvertError for malformed numbers, EAssertionFailed
// for a codec tag that is not four characters long).

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "engine/ConvertException.h"
#include "engine/MediaLibHeaders.h"

inline constexpr int kMaxStreams = 20;   // streams per file, inputs and outputs per task
inline constexpr int kMaxFiles = 20;
inline constexpr int kMediaKindCount = 5;  // video, audio, data, subtitle, attachment

// AVOption flag bits that select the options of each media kind (index = AVMediaType).
inline constexpr std::array<int, kMediaKindCount> kOptionKindMask = {16, 8, 0, 32, 0};

// Masks for CopyCodecOptions.
inline constexpr int kOptMaskInputContainer = 2;
inline constexpr int kOptMaskVideoDecoder = 18;
inline constexpr int kOptMaskAudioDecoder = 10;
inline constexpr int kOptMaskOutputContainer = 1;
inline constexpr int kOptMaskVideoEncoder = 17;
inline constexpr int kOptMaskAudioEncoder = 9;
inline constexpr int kOptMaskSubtitleEncoder = 33;

// Indexes of MaxFrames.
enum TFrameLimitKind { flVideo = 0, flAudio = 1, flData = 2, flSubtitle = 3 };

struct TStreamMap {
    int FileIndex = 0;
    int StreamIndex = 0;
    int SyncFileIndex = 0;
    int SyncStreamIndex = 0;
};

struct TMetaDataMap {
    int OutFile = 0;
    int InFile = 0;
};

// Ordered name=value list of BuildStreamDefaults: the "def_..." defaults and the pending
// per-stream values of ExtOptions.
using TNameValueList = std::vector<std::pair<std::string, std::string>>;

// The setting values with their defaults (ResetSettings assigns a fresh copy).
struct TTranscodeValues {
    std::string FileFormatName;
    bool PgmYuvHack = false;
    int64_t StartTime = 0;
    int64_t RecordingTime = std::numeric_limits<int64_t>::max();
    int64_t RecordingTimestamp = 0;
    int64_t InputTsOffset = 0;
    double InputTsScale[kMaxFiles][kMaxStreams] = {};
    int64_t LimitFileSize = 0;
    TNameValueList Metadata;
    int ProgramId = 0;
    int MaxFrames[4] = {std::numeric_limits<int>::max(), std::numeric_limits<int>::max(),
                        std::numeric_limits<int>::max(), std::numeric_limits<int>::max()};
    bool LoopInput = false;
    int LoopOutput = -1;
    std::vector<TStreamMap> StreamMaps;
    std::vector<TMetaDataMap> MetaDataMaps;
    int StreamIdMap[kMaxStreams] = {};
    int Verbose = 1;
    // Index of the input that the next input-side settings ("itsscale") belong to; the task
    // keeps it at its number of opened inputs.
    int NextInputIndex = 0;

    int FrameWidth = 0;
    int FrameHeight = 0;
    float FrameAspectRatio = 0.0f;
    AVPixelFormat FramePixFmt = AV_PIX_FMT_NONE;
    int CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
    AVRational FrameRate = {0, 0};
    float VideoQScale = 0.0f;
    std::vector<uint16_t> IntraMatrix;  // 64 coefficients or empty
    std::vector<uint16_t> InterMatrix;
    std::string RcOverride;
    bool HasRcOverride = false;
    bool VideoDisable = false;
    int VideoDiscard = 0;
    std::string VideoCodecName;  // empty = none
    uint32_t VideoCodecTag = 0;
    std::string VideoLanguage;
    bool SameQuality = false;
    bool Deinterlace = false;
    int TopFieldFirst = -1;
    int MeThreshold = 0;
    int IntraDcPrecision = 8;
    bool QpHist = false;
    bool IntraOnly = false;
    bool ForceFps = false;
    std::string VideoFilters;
    int VideoGlobalHeader = 0;
    int Pass = 0;
    std::string PassLogFile;
    bool Psnr = false;
    std::string VStatsFile;  // empty = none
    bool VideoHooksActive = false;
    std::string VideoStandard;  // empty = none
    int VideoChannel = 0;

    int AudioSampleRate = 44100;
    int AudioChannels = 2;
    int64_t ChannelLayout = 0;
    AVSampleFormat AudioSampleFmt = AV_SAMPLE_FMT_NONE;
    float AudioQScale = -99999.0f;
    bool AudioDisable = false;
    std::string AudioCodecName;
    uint32_t AudioCodecTag = 0;
    std::string AudioLanguage;
    int AudioVolume = 256;

    bool SubtitleDisable = false;
    std::string SubtitleCodecName;
    uint32_t SubtitleCodecTag = 0;
    std::string SubtitleLanguage;

    bool VideoStreamCopy = false;
    bool AudioStreamCopy = false;
    bool SubtitleStreamCopy = false;

    float MuxPreload = 0.5f;
    float MuxMaxDelay = 0.7f;
    int VideoSyncMethod = -1;
    int AudioSyncMethod = 0;
    float AudioDriftThreshold = 0.1f;
    bool CopyTs = false;
    bool Shortest = false;
    float DtsDeltaThreshold = 10.0f;
    bool InputSync = false;
    bool ExitOnError = false;
    int CopyInitialNonKeyframes = 0;
    bool RateEmulation = false;
    bool PacketDump = false;
    bool HexDump = false;
    int ThreadCount = 1;
    int SwsFlags = 4;  // bicubic

};

class TTranscodeSettings : public TTranscodeValues {
public:
    TTranscodeSettings();
    ~TTranscodeSettings();
    TTranscodeSettings(const TTranscodeSettings&) = delete;
    TTranscodeSettings& operator=(const TTranscodeSettings&) = delete;

    // All settings to their defaults; option holders recreated; the list of generic options
    // emptied. Needs the engine's libraries to be loaded.
    void ResetSettings();
    // Frees the option holders (ResetSettings creates them again).
    void FreeOptionHolders();

    // ---- the option interpreter ----
    // One option by name (without dash) and text value. Throws on a bad value.
    void ParseOption(const std::string& name, const std::string& value);
    // A generic AVOption on the holders: the codec holders whose kind the option serves, else
    // the container holder, else the scaler holder, else (for names beginning with a, v or s)
    // the name without its first letter on that kind's holder. False when unknown or refused
    // (a refused value is logged); never throws.
    bool SetCodecOption(const std::string& name, const std::string& value);
    // SetCodecOption, then a warning when the resulting bit rate is below 1000.
    void SetBitrateOption(const std::string& name, const std::string& value);
    // Copies the value of every generic option set so far whose flags contain all bits of
    // mask from the holder to the target (an AVCodecContext or AVFormatContext, private
    // options included). Call it before setting the target's own fields and flags, which it
    // would otherwise overwrite.
    void CopyCodecOptions(void* target, void* holder, int mask) const;
    // kind "apre", "vpre", "spre" or "fpre"; name of a built-in preset (also as codec-name),
    // or a preset file.
    void ApplyPreset(const std::string& kind, const std::string& name);
    // "[pal-|ntsc-|film-]target".
    void ParseTarget(const std::string& text);
    // norm "pal", "ntsc", "film" or anything else for a guess; defaultNorm when undecidable.
    void ApplyTarget(const std::string& target, const std::string& norm, const std::string& defaultNorm);
    // "copy" sets the kind's stream-copy flag; another name becomes the kind's codec name and
    // the kind's holder takes that codec's private options; empty does nothing.
    void SetAudioCodec(const std::string& name);
    void SetVideoCodec(const std::string& name);
    void SetSubtitleCodec(const std::string& name);
    // Looks the named encoder or decoder up. No name: True and id none. On failure the
    // message is in errorText.
    bool FindCodec(const std::string& name, AVMediaType kind, int strictness, bool encoder,
                   AVCodecID& codecId, std::string& errorText) const;

    // Option holders: index AVMediaType (video 0 ... attachment 4).
    AVCodecContext* CodecHolder(AVMediaType kind) const { return codecHolders_[kind]; }
    AVFormatContext* FormatHolder() const { return formatHolder_; }
    SwsContext* ScalerHolder() const { return scalerHolder_; }
    // Strictness ("strict") of a kind's codec holder, for FindCodec.
    int HolderStrictness(AVMediaType kind) const;
    // Scaler flags currently held by the scaler holder ("sws_flags").
    int HolderSwsFlags() const;
    // Names of the generic options set so far, in the order they were set.
    const std::vector<std::string>& SetOptionNames() const { return optionNames_; }

    // Bitstream filters of the next stream of a kind ('v', 'a' or 's'): the names in chain order.
    const std::vector<std::string>& BitstreamFilters(char kind) const;
    // Builds the chain of the kind as one filter context (nullptr when the chain is empty)
    // and empties the chain. The caller sets par_in/time_base_in and runs av_bsf_init.
    // Throws ConvertException when the chain cannot be built.
    AVBSFContext* TakeBitstreamFilterChain(char kind);

    // ---- hooks into the task that holds the settings ----
    // "newvideo", "newaudio", "newsubtitle": adds a stream of that kind to the last opened
    // output. Unset: the options fail with "At least one output file must be specified".
    std::function<void(const std::string& name)> OnNewStream;
    // Codec time bases of the video streams of the task's inputs, in order (target norm guess).
    std::function<std::vector<AVRational>()> OnInputVideoTimeBases;
    // "t" / Duration: the task's expected duration follows RecordingTime.
    std::function<void(int64_t recordingTime)> OnRecordingTime;

private:
    void ResetValues();
    void ResetOptionHolders();
    void SetFileFormatName(const std::string& name);
    void RebuildCodecHolder(AVMediaType kind, const std::string& codecName);
    void SetTarget(const char* name, const std::string& value);
    bool SetCodecOptionImpl(const std::string& name, const std::string& value);
    void AddBitstreamFilter(const std::string& name, const std::string& value);
    void AddFrameHook(const std::string& value);
    void SetFrameRate(const std::string& value);
    void SetFrameSize(const std::string& value);
    void SetAspect(const std::string& value);
    void SetPixelFormat(const std::string& value);
    void SetSampleFormat(const std::string& value);
    void SetCrop(const std::string& name, const std::string& value);
    void SetMatrix(std::vector<uint16_t>& matrix, const std::string& value);
    int64_t ParseTime(const std::string& name, const std::string& value, bool duration) const;

    std::array<AVCodecContext*, kMediaKindCount> codecHolders_{};
    AVFormatContext* formatHolder_ = nullptr;
    SwsContext* scalerHolder_ = nullptr;
    std::vector<std::string> optionNames_;
    std::vector<std::string> videoBsf_, audioBsf_, subtitleBsf_;
};

// ---- number and text helpers shared by the option code ----
namespace OptText {
// Integer in decimal (or "$"/"0x" hexadecimal); a malformed text raises EConvertError
// "'%s' is not a valid integer value".
int StrToInt(const std::string& s);
int64_t StrToInt64(const std::string& s);
// Decimal number ("." separates the decimals in every locale); a malformed text raises
// EConvertError "'%s' is not a valid floating point value".
double StrToFloat(const std::string& s);
// The decimal number at the start of text; returns the characters read (0: none).
size_t ReadDecimal(const char* text, size_t length, double& value);
std::string Trim(const std::string& s);
std::string LowerCase(const std::string& s);
// Four-character code of a tag (first character in the lowest byte).
uint32_t FourCC(const std::string& tag);

}  // namespace OptText
