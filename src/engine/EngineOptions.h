#pragma once
// Option records the host fills for one input and one output of a conversion task.
// Every field starts at its "not set" value; the task applies a field only when it is set
// (see TranscodeSettings.h, ApplyInputOptions / ApplyOutputOptions).

#include <QString>
#include <cstdint>
#include <limits>
#include <string>

// The media library's "no time stamp" value: the 64-bit integer with only the top bit set.
inline constexpr int64_t kNoTimestamp = std::numeric_limits<int64_t>::min();

// Container tags and recording time stamp of one output.
struct TStreamInfo {
  // Recording time stamp as a date-time (days since 30 Dec 1899, local time):
  // negative = not set, 0 = the moment the output is set, above 0 = that date-time.
  double Timestamp = -1.0;
  int32_t Year = -1;   // tag "year", written when above 0
  int32_t Track = -1;  // tag "track", written when above 0
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;

  void Init() { *this = TStreamInfo(); }
};

// One input file.
struct TInputOptions {
  QString FileName;             // when empty, AddTask puts its file-name argument here
  std::string FileFormat;       // container format forced instead of detection ("f")
  int64_t StartTime = kNoTimestamp;  // microseconds; seek here before reading
  int32_t ProgramID = -1;       // program of a multi-program input; negative = not set
  std::string ExtOptions;       // extra options, one "name=value" per line

  void Init() { *this = TInputOptions(); }
};

// One output file. Integers are -1 when not set unless stated otherwise.
struct TOutputOptions {
  QString FileName;             // when empty, SetOutputFile puts its file-name argument here
  std::string FileFormat;       // output container format to force ("f")
  int32_t PacketSize = -1;      // "packetsize", used when above 0
  int32_t MuxRate = -1;         // "muxrate", used when above 0
  float MuxDelay = -1.0f;       // seconds, used when above 0
  float MuxPreload = -1.0f;     // seconds, used when above 0

  std::string AudioCodec;       // encoder name or "copy"
  std::string AudioPreset;
  bool DisableAudio = false;
  int32_t AudioVolume = -1;     // 256 = unchanged; used when 0 or above
  int32_t AudioChannels = -1;   // used when above 0
  int32_t AudioSampleRate = -1; // Hz, used when above 0
  int32_t AudioBitrate = -1;    // bits/s, "ab"
  int32_t AudioBitrateTolerance = -1;  // bits, "abt"
  std::string AudioLanguage;
  int32_t AudioSyncMethod = 0;
  std::string AudioTag;         // four-character code

  std::string VideoCodec;       // encoder name or "copy"
  std::string VideoPreset;
  bool DisableVideo = false;
  std::string FrameRate;        // "num/den", a number or an abbreviation
  std::string FrameSize;        // "WxH" or an abbreviation
  std::string FrameAspectRatio; // "w:h" or a decimal number
  int32_t CropTop = -1;
  int32_t CropBottom = -1;
  int32_t CropLeft = -1;
  int32_t CropRight = -1;
  int32_t GroupPictureSize = -1;       // "g"
  int32_t VideoBitrate = -1;           // "vb"
  int32_t VideoMaxRate = -1;           // "maxrate"
  int32_t VideoMinRate = -1;           // "minrate"
  int32_t VideoBitrateTolerance = -1;  // "bt"
  int32_t VideoBufSize = -1;           // "bufsize"
  int32_t VideoSyncMethod = -1;        // -1 automatic, 0 pass through, 1 constant rate, 2 drop only
  std::string VideoTag;                // four-character code
  std::string VideoFilters;            // filter graph text
  std::string VideoLanguage;

  std::string SubtitleCodec;    // encoder name or "copy"
  std::string SubtitlePreset;
  bool DisableSubtitle = false;
  std::string SubtitleLanguage;

  bool InputSync = false;       // "isync"
  bool CopyTimestamps = false;  // "copyts"
  int64_t StartTime = kNoTimestamp;  // microseconds, like "ss"
  int64_t Duration = kNoTimestamp;   // microseconds, like "t"
  TStreamInfo Info;
  int32_t Target = 0;           // 0 none, 1 "vcd", 2 "svcd", 3 "dvd"
  int32_t TVStandard = 0;       // 0 "auto", 1 "pal", 2 "ntsc"; other values are "auto"
  int32_t DefaultTVStandard = 1;  // when auto cannot decide: 1 "pal", other values "ntsc"
  bool CustomHook = false;      // raise the custom hook for every video frame
  bool Join = false;            // concatenate all inputs into this output
  std::string ExtOptions;       // extra options, one "name=value" per line

  void Init() { *this = TOutputOptions(); }
};
