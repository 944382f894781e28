#pragma once
// The state of one file open in the preview player: demuxer, reader, decoders, queues,
// clocks and the position bookkeeping. Created by TCustomPlayer::Open and closed by the
// player; the threads that share it are the reader, the refresh thread, the video decoder,
// the sound callback and the player's play thread.

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "media/PacketQueue.h"

struct AVCodecContext;
struct AVFilterContext;
struct AVFilterGraph;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct RDFTContext;
struct AVSubtitle;
struct SwrContext;
struct SwsContext;
class TCustomPlayer;

inline constexpr int kPictureQueueSize = 2;
inline constexpr int kSubpictureQueueSize = 4;
inline constexpr int kSampleArraySize = 131072;
inline constexpr int64_t kMaxQueueSize = 15728640;
inline constexpr int64_t kMinAudioQueueSize = 327680;
inline constexpr int kMinFrames = 5;
inline constexpr double kNoSyncThreshold = 10.0;
inline constexpr double kSyncThreshold = 0.01;
inline constexpr int kAudioDiffAvgNb = 20;
inline constexpr int kSampleCorrectionPercentMax = 10;
inline constexpr int kAudioBufferSize = 288000;

enum TSyncType { stAudioMaster = 0, stVideoMaster = 1, stExternalMaster = 2 };

struct TPictureEntry {
    double pts = 0;
    double target = 0;
    int64_t pos = -1;
    AVFrame* overlay = nullptr;  // planar YUV 4:2:0 at width x height (both even)
    int width = 0;
    int height = 0;
    bool allocated = false;
    int pixFmt = -1;
    double sar = 0;
    std::mutex lock;  // held while the overlay is written or read
};

struct PlayContext {
    // threads
    std::thread reader, video, refresh;
    // control
    std::atomic<bool> abortRequest{false};
    std::atomic<bool> paused{false};
    bool lastPaused = false;
    std::atomic<bool> seekReq{false};
    int seekFlags = 0;
    int64_t seekPos = 0;
    int64_t seekRel = 0;
    int readPauseReturn = 0;

    AVFormatContext* ic = nullptr;
    int audioStream = -1, videoStream = -1, subtitleStream = -1;
    AVStream* audioSt = nullptr;
    AVStream* videoSt = nullptr;
    AVCodecContext* audioDec = nullptr;
    AVCodecContext* videoDec = nullptr;

    int avSyncType = stAudioMaster;
    double externalClock = 0;
    int64_t externalClockTime = 0;

    // sound
    std::atomic<double> audioClock{0};
    double audioDiffCum = 0, audioDiffAvgCoef = 0, audioDiffThreshold = 0;
    int audioDiffAvgCount = 0;
    TPacketQueue audioq;
    int audioHwBufSize = 0;
    std::vector<uint8_t> audioBuf;  // the chunk in use (converted 16-bit samples)
    std::atomic<unsigned> audioBufSize{0}, audioBufIndex{0};
    AVPacket* audioPkt = nullptr;
    AVFrame* audioFrame = nullptr;
    bool audioPktSent = false;  // a packet went to the decoder; its frames are being read
    SwrContext* swr = nullptr;
    int swrFormat = -1, swrRate = 0, swrChannels = 0;
    uint64_t swrLayout = 0;
    uint32_t audioDev = 0;
    int audioRate = 0, audioChannels = 0;

    // visualization
    std::atomic<int> showAudio{0};
    std::vector<int16_t> sampleArray;
    int sampleArrayIndex = 0;
    int lastIStart = 0;
    RDFTContext* rdft = nullptr;  // spectrum transform (play thread only)
    int rdftBits = 0;
    float* rdftData = nullptr;  // av_malloc'd: the transform needs aligned memory
    int xpos = 0;  // current spectrum column
    std::mutex sampleMutex;

    // subtitles
    AVStream* subtitleSt = nullptr;
    AVCodecContext* subtitleDec = nullptr;
    TPacketQueue subtitleq;
    struct TSubPicture {
        double pts = 0;
        AVSubtitle* sub = nullptr;  // decoded subtitle (allocated with the queue)
    } subpq[kSubpictureQueueSize];
    int subpqSize = 0, subpqRindex = 0, subpqWindex = 0;
    std::mutex subpqMutex;
    std::condition_variable subpqCond;
    std::atomic<bool> subtitleStreamChanged{false};
    std::thread subtitle;

    // video
    double frameTimer = 0, frameLastPts = 0, frameLastDelay = 0;
    double videoClock = 0;
    TPacketQueue videoq;
    std::atomic<double> videoCurrentPts{0}, videoCurrentPtsDrift{0};
    int64_t videoCurrentPos = -1;
    TPictureEntry pictq[kPictureQueueSize];
    int pictqSize = 0, pictqRindex = 0, pictqWindex = 0;
    std::mutex pictqMutex;
    std::condition_variable pictqCond;
    double frameDuration = 0.04;  // from the stream's frame rate

    QString fileName;
    int width = 0, height = 0, xleft = 0, ytop = 0;
    int faultyPts = 0, faultyDts = 0;
    int64_t lastPtsForFault = 0, lastDtsForFault = 0;
    AVFilterGraph* graph = nullptr;
    AVFilterContext* filterIn = nullptr;
    AVFilterContext* filterOut = nullptr;
    int graphWidth = 0, graphHeight = 0, graphFormat = -1;
    float skipFrames = 1;
    float skipFramesIndex = 0;
    std::atomic<bool> refreshPending{false};

    // bookkeeping of the player
    std::atomic<int> openState{0};  // 0 pending, 1 opened, -1 failed, -2 failed and released
    int64_t startTime = 0;
    int64_t duration = -1;
    int64_t audioDuration = -1;
    bool stillImage = false;
    bool capture = false;
    std::atomic<bool> eofReported{false}, endNotified{false}, drained{false}, insideRead{false};
    std::atomic<bool> videoFinished{false};  // the decoder gave its last picture at the end
    std::atomic<int> openPausedCounter{0};
    std::atomic<bool> seekPaused{false}, afterSeek{false}, flushSeen{false};
    std::atomic<bool> readerFailed{false};
    std::atomic<int64_t> lastCallbackTime{0};
    std::atomic<int> lastShownIndex{-1};  // picture entry last shown
    TCustomPlayer* player = nullptr;
};
