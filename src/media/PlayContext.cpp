// The play context of the preview player: opening, the reader thread with its flow control,
// seeking and end-of-file handling, stream choice and decoder opening, the clocks, the
// refresh that decides when a picture is shown, the position bookkeeping and closing.

#include "media/PlayContext.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include "engine/MediaErrorText.h"
#include "engine/MediaLib.h"
#include "engine/MediaLibLoader.h"
#include "engine/MediaLogger.h"
#include "engine/UnicodeProtocol.h"
#include "media/PreviewPlayer.h"
#include "platform/Format.h"
#include "platform/MainThread.h"

namespace {

double Now() { return gAVUtil.av_gettime_relative() / 1000000.0; }

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int InterruptCallback(void* opaque) {
    auto* ctx = static_cast<PlayContext*>(opaque);
    return ctx && ctx->abortRequest.load() ? 1 : 0;
}

std::string NarrowName(const QString& name) { return name.toLocal8Bit().toStdString(); }

}  // namespace

// ---- open and close ---------------------------------------------------------------------

bool TCustomPlayer::ContextOpen(const QString& fileName, bool paused) {
    auto* ctx = new (std::nothrow) PlayContext;
    if (!ctx) {
        ReportError("av_mallocz() failed.", true);
        return false;
    }
    if (paused) {
        ctx->paused = true;
        ctx->openPausedCounter = 1;
        stepFlag_ = false;
    }
    ctx->player = this;
    ctx->fileName = fileName.left(1023);
    ctx->xleft = 0;
    ctx->ytop = 0;
    ctx->avSyncType = stAudioMaster;
    ctx->sampleArray.assign(kSampleArraySize, 0);
    try {
        ctx->reader = std::thread([this, ctx] { ReaderRun(ctx); });
    } catch (const std::exception&) {
        ReportError("SDL_CreateThread() failed.", true);
        delete ctx;
        return false;
    }
    const bool main = MainThread::IsMainThread();
    while (ctx->openState == 0) {
        if (main) MainThread::Pump();
        SleepMs(10);
    }
    if (ctx->openState == 1) {
        ctx_ = ctx;
        if (ctx->videoStream < 0 && !disableDisplay_) ctx->showAudio = 1;
        ctx->refresh = std::thread([this, ctx] { RefreshRun(ctx); });
        return true;
    }
    while (ctx->openState != -2) {
        if (main) MainThread::Pump();
        SleepMs(10);
    }
    ctx->abortRequest = true;
    if (ctx->reader.joinable()) ctx->reader.join();
    delete ctx;
    ResetRunState();
    return false;
}

void TCustomPlayer::ContextClose(PlayContext* ctx) {
    ctx->abortRequest = true;
    {
        std::lock_guard<std::mutex> lock(ctx->pictqMutex);
        ctx->pictqCond.notify_all();
    }
    if (ctx->reader.joinable()) ctx->reader.join();
    if (ctx->refresh.joinable()) ctx->refresh.join();
    for (TPictureEntry& entry : ctx->pictq)
        if (entry.overlay) gAVUtil.av_frame_free(&entry.overlay);
    if (ctx->rdft) gAVCodec.av_rdft_end(ctx->rdft);
    if (ctx->rdftData) gAVUtil.av_freep(&ctx->rdftData);
    ctx_ = nullptr;
    delete ctx;
    ResetRunState();
}

// ---- streams ----------------------------------------------------------------------------

bool TCustomPlayer::StreamOpen(PlayContext* ctx, int index) {
    AVFormatContext* ic = ctx->ic;
    if (index < 0 || index >= int(ic->nb_streams)) return false;
    AVStream* st = ic->streams[index];
    AVCodecParameters* par = st->codecpar;
    const AVCodec* codec = gAVCodec.avcodec_find_decoder(par->codec_id);
    AVCodecContext* dec = codec ? gAVCodec.avcodec_alloc_context3(codec) : nullptr;
    int ret = -1;
    if (dec && gAVCodec.avcodec_parameters_to_context(dec, par) >= 0) {
        dec->pkt_timebase = st->time_base;
        dec->workaround_bugs = 1;
        dec->err_recognition = AV_EF_CAREFUL;
        dec->error_concealment = 3;
        dec->thread_count = 1;
        dec->lowres = 0;
        dec->idct_algo = 0;
        dec->skip_frame = AVDISCARD_DEFAULT;
        dec->skip_idct = AVDISCARD_DEFAULT;
        dec->skip_loop_filter = AVDISCARD_DEFAULT;
        std::lock_guard<std::mutex> lock(CodecLock());
        ret = gAVCodec.avcodec_open2(dec, codec, nullptr);
    }
    if (ret < 0) {
        ReportError("avcodec_open() failed.", false);
        if (dec) gAVCodec.avcodec_free_context(&dec);
        return false;
    }
    if (dec->codec_type == AVMEDIA_TYPE_AUDIO) {
        const int channels = par->ch_layout.nb_channels;
        const int wanted = (channels == 1 || channels == 2) ? channels : 2;
        ctx->audioDec = dec;
        if (!AudioOpen(ctx, wanted)) {
            ctx->audioDec = nullptr;
            std::lock_guard<std::mutex> lock(CodecLock());
            gAVCodec.avcodec_free_context(&dec);
            return false;
        }
    }
    st->discard = AVDISCARD_DEFAULT;
    switch (dec->codec_type) {
        case AVMEDIA_TYPE_VIDEO: {
            ctx->videoStream = index;
            ctx->videoSt = st;
            ctx->videoDec = dec;
            const AVRational rate = gAVFormat.av_guess_frame_rate(ic, st, nullptr);
            ctx->frameDuration = (rate.num > 0 && rate.den > 0) ? double(rate.den) / rate.num : 0.04;
            ctx->frameTimer = Now();
            ctx->videoq.Start();
            ctx->video = std::thread([this, ctx] { VideoRun(ctx); });
            break;
        }
        case AVMEDIA_TYPE_AUDIO:
            ctx->audioStream = index;
            ctx->audioSt = st;
            ctx->audioDuration = st->duration != AV_NOPTS_VALUE
                                     ? gAVUtil.av_rescale_q(st->duration, st->time_base, AVRational{1, AV_TIME_BASE})
                                     : -1;
            ctx->audioBufSize = 0;
            ctx->audioBufIndex = 0;
            ctx->audioDiffAvgCoef = std::exp(std::log(0.01) / kAudioDiffAvgNb);
            ctx->audioDiffAvgCount = 0;
            ctx->audioDiffThreshold = 2.0 * 1024 / ctx->audioRate;
            ctx->audioPktSent = false;
            ctx->audioq.Start();
            gSDL.SDL_PauseAudioDevice(ctx->audioDev, 0);
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            ctx->subtitleStream = index;
            ctx->subtitleSt = st;
            ctx->subtitleDec = dec;
            for (auto& entry : ctx->subpq)
                if (!entry.sub) entry.sub = static_cast<AVSubtitle*>(gAVUtil.av_mallocz(sizeof(AVSubtitle)));
            ctx->subtitleq.Start();
            ctx->subtitle = std::thread([this, ctx] { SubtitleRun(ctx); });
            break;
        default: {
            // A stream this player does not play.
            std::lock_guard<std::mutex> lock(CodecLock());
            gAVCodec.avcodec_free_context(&dec);
            st->discard = AVDISCARD_ALL;
            return false;
        }
    }
    return true;
}

void TCustomPlayer::StreamClose(PlayContext* ctx, int index) {
    AVFormatContext* ic = ctx->ic;
    if (index < 0 || index >= int(ic->nb_streams)) return;
    AVCodecContext* dec = nullptr;
    if (index == ctx->videoStream) {
        ctx->videoq.Abort();
        {
            std::lock_guard<std::mutex> lock(ctx->pictqMutex);
            ctx->pictqCond.notify_all();
        }
        if (ctx->video.joinable()) ctx->video.join();
        ctx->videoq.Flush();
        dec = ctx->videoDec;
        ctx->videoDec = nullptr;
        ctx->videoStream = -1;
        ctx->videoSt = nullptr;
    } else if (index == ctx->audioStream) {
        ctx->audioq.Abort();
        AudioClose(ctx);
        ctx->audioq.Flush();
        if (ctx->swr) gSwResample.swr_free(&ctx->swr);
        if (ctx->audioPkt) gAVCodec.av_packet_free(&ctx->audioPkt);
        if (ctx->audioFrame) gAVUtil.av_frame_free(&ctx->audioFrame);
        dec = ctx->audioDec;
        ctx->audioDec = nullptr;
        ctx->audioStream = -1;
        ctx->audioSt = nullptr;
        ctx->audioDuration = -1;
    } else if (index == ctx->subtitleStream) {
        ctx->subtitleq.Abort();
        {
            std::lock_guard<std::mutex> lock(ctx->subpqMutex);
            ctx->subtitleStreamChanged = true;
        }
        ctx->subpqCond.notify_all();
        if (ctx->subtitle.joinable()) ctx->subtitle.join();
        ctx->subtitleq.Flush();
        for (auto& entry : ctx->subpq) {
            if (!entry.sub) continue;
            gAVCodec.avsubtitle_free(entry.sub);
            gAVUtil.av_freep(&entry.sub);
        }
        ctx->subpqSize = ctx->subpqRindex = ctx->subpqWindex = 0;
        dec = ctx->subtitleDec;
        ctx->subtitleDec = nullptr;
        ctx->subtitleStream = -1;
        ctx->subtitleSt = nullptr;
    }
    ic->streams[index]->discard = AVDISCARD_ALL;
    if (dec) {
        std::lock_guard<std::mutex> lock(CodecLock());
        gAVCodec.avcodec_free_context(&dec);
    }
}

// ---- reader -----------------------------------------------------------------------------

void TCustomPlayer::ReaderRun(PlayContext* ctx) {
    const std::string name = NarrowName(ctx->fileName);
    bool leftWithError = false;
    AVFormatContext* ic = gAVFormat.avformat_alloc_context();
    ctx->videoStream = ctx->audioStream = ctx->subtitleStream = -1;
    if (ic) {
        ic->interrupt_callback.callback = InterruptCallback;
        ic->interrupt_callback.opaque = ctx;
    }
    AVDictionary* options = nullptr;
    if (frameWidth_ > 0 && frameHeight_ > 0)
        gAVUtil.av_dict_set(&options, "video_size", Format("%dx%d", frameWidth_, frameHeight_).c_str(), 0);
    gAVUtil.av_dict_set(&options, "framerate", "25", 0);
    int err = ic ? OpenInputURL(&ic, FileNameToURL(ctx->fileName), nullptr, &options) : AVERROR(ENOMEM);
    gAVUtil.av_dict_free(&options);
    if (err < 0) {
        ic = nullptr;
        lastErrMsg_ = name + ": " + MediaErrorText(err);
        goto cleanup;
    }
    ctx->ic = ic;
    {
        int ret;
        {
            std::lock_guard<std::mutex> lock(CodecLock());
            ret = gAVFormat.avformat_find_stream_info(ic, nullptr);
        }
        if (ret < 0) {
            lastErrMsg_ = Format("%s: could not find codec parameters", name.c_str());
            goto cleanup;
        }
    }
    if (ic->pb) ic->pb->eof_reached = 0;
    ctx->stillImage = ic->iformat && std::strcmp(ic->iformat->name, "image2") == 0;
    ctx->capture = ic->iformat && (std::strcmp(ic->iformat->name, "vfwcap") == 0 ||
                                   std::strcmp(ic->iformat->name, "video4linux2,v4l2") == 0);
    ctx->startTime = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
    ctx->duration = ic->duration != AV_NOPTS_VALUE ? ic->duration : -1;
    {
        int chosen[AVMEDIA_TYPE_NB];
        int seen[AVMEDIA_TYPE_NB];
        int64_t frames[AVMEDIA_TYPE_NB];
        for (int k = 0; k < AVMEDIA_TYPE_NB; ++k) {
            chosen[k] = -1;
            seen[k] = 0;
            frames[k] = -1;
        }
        for (unsigned i = 0; i < ic->nb_streams; ++i) {
            AVStream* st = ic->streams[i];
            st->discard = AVDISCARD_ALL;
            const int kind = st->codecpar->codec_type;
            if (kind < 0 || kind >= AVMEDIA_TYPE_NB) continue;
            ++seen[kind];
            // Frames seen during the analysis: the stream's own count when the container
            // gives one, else 1 so that the first stream of a kind is taken.
            const int64_t count = st->nb_frames > 0 ? st->nb_frames : 1;
            if (count > frames[kind]) {
                frames[kind] = count;
                chosen[kind] = int(i);
            }
        }
        if (!disableAudio_ && chosen[AVMEDIA_TYPE_AUDIO] >= 0) StreamOpen(ctx, chosen[AVMEDIA_TYPE_AUDIO]);
        if (!disableVideo_ && chosen[AVMEDIA_TYPE_VIDEO] >= 0) StreamOpen(ctx, chosen[AVMEDIA_TYPE_VIDEO]);
        if (!disableVideo_ && chosen[AVMEDIA_TYPE_SUBTITLE] >= 0) StreamOpen(ctx, chosen[AVMEDIA_TYPE_SUBTITLE]);
    }
    if (ctx->videoStream < 0 && ctx->audioStream < 0) {
        lastErrMsg_ = Format("%s: could not open codecs, no stream to play.", name.c_str());
        goto cleanup;
    }
    ctx->openState = 1;

    {
        AVPacket* pkt = gAVCodec.av_packet_alloc();
        bool eof = false;
        while (!ctx->abortRequest) {
            const bool paused = ctx->paused;
            if (paused != ctx->lastPaused) {
                ctx->lastPaused = paused;
                if (paused)
                    ctx->readPauseReturn = gAVFormat.av_read_pause(ic);
                else
                    gAVFormat.av_read_play(ic);
            }
            if (ctx->seekReq) {
                const int64_t target = ctx->seekPos;
                const int64_t minTs = ctx->seekRel > 0 ? target - ctx->seekRel + 2 : INT64_MIN;
                const int64_t maxTs = ctx->seekRel < 0 ? target - ctx->seekRel - 2 : INT64_MAX;
                int ret = gAVFormat.avformat_seek_file(ic, -1, minTs, target, maxTs, ctx->seekFlags);
                if (ret < 0) ret = gAVFormat.av_seek_frame(ic, -1, target, ctx->seekFlags);
                if (ret < 0) ret = gAVFormat.av_seek_frame(ic, -1, target, ctx->seekFlags ^ AVSEEK_FLAG_BACKWARD);
                if (ret < 0) {
                    ReportError(Format("%s: error while seeking", name.c_str()), false);
                    if (ctx->videoStream >= 0) SetFlag(pictureOut_, true);
                } else {
                    if (ctx->audioStream >= 0) {
                        ctx->audioq.Flush();
                        ctx->audioq.PutFlush();
                    }
                    if (ctx->subtitleStream >= 0) {
                        ctx->subtitleq.Flush();
                        ctx->subtitleq.PutFlush();
                    }
                    if (ctx->videoStream >= 0) {
                        ctx->videoq.Flush();
                        ctx->videoq.PutFlush();
                        ctx->flushSeen = false;
                        SetFlag(pictureOut_, false);
                    }
                }
                ctx->eofReported = false;
                ctx->drained = false;
                ctx->videoFinished = false;
                ctx->seekReq = false;
                ctx->afterSeek = true;
                SetFlag(seekDone_, true);
                if (ctx->videoStream < 0) seeking_ = false;
                eof = false;
            }
            const int64_t total = ctx->audioq.Size() + ctx->videoq.Size() + ctx->subtitleq.Size();
            if (total > kMaxQueueSize ||
                ((ctx->audioStream < 0 || ctx->audioq.Size() > kMinAudioQueueSize) &&
                 (ctx->videoStream < 0 || ctx->videoq.Count() > kMinFrames) &&
                 (ctx->subtitleStream < 0 || ctx->subtitleq.Count() > kMinFrames))) {
                SleepMs(10);
                continue;
            }
            if (eof || (ic->pb && gAVFormat.avio_feof(ic->pb))) {
                if (ctx->videoStream >= 0) {
                    ctx->videoq.PutEmpty(ctx->videoStream);
                    SetFlag(pictureOut_, true);
                }
                SleepMs(10);
                if (ctx->audioq.Size() + ctx->videoq.Size() + ctx->subtitleq.Size() == 0) ctx->drained = true;
                continue;
            }
            ctx->insideRead = true;
            const int ret = gAVFormat.av_read_frame(ic, pkt);
            ctx->insideRead = false;
            if (ctx->abortRequest) {
                if (ret >= 0) gAVCodec.av_packet_unref(pkt);
                break;
            }
            if (ret < 0) {
                if (ret == AVERROR(EAGAIN)) {
                    SleepMs(10);
                    continue;
                }
                if (ctx->videoStream >= 0) SetFlag(pictureOut_, true);
                if (!ctx->stillImage && !ctx->eofReported) {
                    ctx->eofReported = true;
                    if (ret == AVERROR_EOF)
                        MediaLogger().LogFmt(this, llInfo, "reach end of file: %s", name.c_str());
                    else
                        ReportError(Format("error #%d while reading file: %s", ret, name.c_str()), false);
                }
                if (ret == AVERROR_EOF) {
                    eof = true;
                    continue;
                }
                if (ic->pb && ic->pb->error) {
                    leftWithError = true;
                    break;
                }
                SleepMs(100);
                continue;
            }
            if (pkt->stream_index == ctx->audioStream)
                ctx->audioq.Put(pkt);
            else if (pkt->stream_index == ctx->videoStream)
                ctx->videoq.Put(pkt);
            else if (pkt->stream_index == ctx->subtitleStream)
                ctx->subtitleq.Put(pkt);
            gAVCodec.av_packet_unref(pkt);
        }
        gAVCodec.av_packet_free(&pkt);
        if (leftWithError)
            while (!ctx->abortRequest) SleepMs(100);
    }

cleanup:
    if (ctx->openState != 1) ctx->openState = -1;
    if (ctx->ic) {
        if (ctx->audioStream >= 0) StreamClose(ctx, ctx->audioStream);
        if (ctx->videoStream >= 0) StreamClose(ctx, ctx->videoStream);
        if (ctx->subtitleStream >= 0) StreamClose(ctx, ctx->subtitleStream);
        probe_.AttachContext(nullptr);
        ctx->ic->interrupt_callback.callback = nullptr;
        CloseInputURL(&ctx->ic);
    } else if (ic) {
        gAVFormat.avformat_free_context(ic);
    }
    if (ctx->openState == -1) {
        PushEvent(peQuit);
        ctx->openState = -2;
    }
}

void TCustomPlayer::RefreshRun(PlayContext* ctx) {
    while (!ctx->abortRequest) {
        if (!ctx->refreshPending.exchange(true)) PushEvent(peRefresh);
        SleepMs(ctx->audioStream >= 0 && ctx->showAudio ? 20 : 5);
    }
}

// ---- clocks -----------------------------------------------------------------------------

double TCustomPlayer::AudioClock(PlayContext* ctx) {
    const int bytesPerSec = ctx->audioRate * 2 * ctx->audioChannels;
    double pts = ctx->audioClock;
    if (bytesPerSec > 0) pts -= double(int(ctx->audioBufSize) - int(ctx->audioBufIndex)) / bytesPerSec;
    return pts;
}

double TCustomPlayer::VideoClock(PlayContext* ctx) {
    if (ctx->paused) return ctx->videoCurrentPts;
    if (ctx->videoCurrentPtsDrift == 0) return ctx->startTime / 1000000.0;
    return ctx->videoCurrentPtsDrift + Now();
}

double TCustomPlayer::ExternalClock(PlayContext* ctx) {
    return ctx->externalClock + (gAVUtil.av_gettime_relative() - ctx->externalClockTime) / 1000000.0;
}

double TCustomPlayer::MasterClockOf(PlayContext* ctx) {
    switch (ctx->avSyncType) {
        case stVideoMaster: return ctx->videoStream >= 0 ? VideoClock(ctx) : AudioClock(ctx);
        case stAudioMaster: return ctx->audioStream >= 0 ? AudioClock(ctx) : VideoClock(ctx);
        default: return ExternalClock(ctx);
    }
}

double TCustomPlayer::ComputeTargetTime(PlayContext* ctx, double pts) {
    double delay = pts - ctx->frameLastPts;
    if (delay <= 0 || delay >= 10.0)
        delay = ctx->frameLastDelay;
    else
        ctx->frameLastDelay = delay;
    ctx->frameLastPts = pts;
    if ((ctx->avSyncType == stAudioMaster && ctx->audioStream >= 0) || ctx->avSyncType == stExternalMaster) {
        const double diff = VideoClock(ctx) - MasterClockOf(ctx);
        const double threshold = std::max(delay, kSyncThreshold);
        if (std::fabs(diff) < kNoSyncThreshold) {
            if (diff <= -threshold)
                delay = 0;
            else if (diff >= threshold)
                delay = 2 * delay;
        }
    }
    ctx->frameTimer += delay;
    return ctx->frameTimer;
}

int TCustomPlayer::SynchronizeAudio(PlayContext* ctx, int size) {
    const int frame = 2 * ctx->audioChannels;
    if (!((ctx->avSyncType == stVideoMaster && ctx->videoStream >= 0) || ctx->avSyncType == stExternalMaster))
        return size;
    const double diff = AudioClock(ctx) - MasterClockOf(ctx);
    if (diff >= kNoSyncThreshold) {
        ctx->audioDiffAvgCount = 0;
        ctx->audioDiffCum = 0;
        return size;
    }
    ctx->audioDiffCum = diff + ctx->audioDiffAvgCoef * ctx->audioDiffCum;
    if (ctx->audioDiffAvgCount < kAudioDiffAvgNb) {
        ++ctx->audioDiffAvgCount;
        return size;
    }
    const double avg = ctx->audioDiffCum * (1.0 - ctx->audioDiffAvgCoef);
    if (std::fabs(avg) < ctx->audioDiffThreshold) return size;
    int wanted = size + int(std::lround(diff * ctx->audioRate)) * frame;
    const int minSize = size / frame * (100 - kSampleCorrectionPercentMax) / 100 * frame;
    const int maxSize = size / frame * (100 + kSampleCorrectionPercentMax) / 100 * frame;
    wanted = std::clamp(wanted, minSize, maxSize);
    if (wanted > size) {
        // The chunk buffer is sized for 10% more than any converted chunk (DecodeAudioChunk).
        if (size_t(wanted) > ctx->audioBuf.size()) wanted = int(ctx->audioBuf.size()) / frame * frame;
        const uint8_t* last = ctx->audioBuf.data() + size - frame;
        for (uint8_t* q = ctx->audioBuf.data() + size; q < ctx->audioBuf.data() + wanted; q += frame)
            std::memcpy(q, last, size_t(frame));
    }
    return wanted;
}

// ---- refresh and position ---------------------------------------------------------------

void TCustomPlayer::Refresh(PlayContext* ctx, bool advance) {
    bool dropped = false;
    if (ctx->videoSt) {
        for (;;) {
            const bool dropMode = ctx->afterSeek;
            std::unique_lock<std::mutex> lock(ctx->pictqMutex);
            if (ctx->pictqSize == 0) {
                lock.unlock();
                if (!advance) Display(ctx, true);
                break;
            }
            TPictureEntry& vp = ctx->pictq[ctx->pictqRindex];
            const double now = Now();
            if (now < vp.target) return;
            ctx->videoCurrentPts = vp.pts;
            ctx->videoCurrentPtsDrift = vp.pts - now;
            ctx->videoCurrentPos = vp.pos;
            double nextTarget;
            if (ctx->pictqSize > 1)
                nextTarget = ctx->pictq[(ctx->pictqRindex + 1) % kPictureQueueSize].target;
            else
                nextTarget = vp.target + VideoClock(ctx) - vp.pts;
            if ((now > nextTarget && !ctx->capture) || dropMode) {
                ctx->skipFrames *= 1.05f;
                if (ctx->pictqSize > 1 || now > nextTarget + 0.5 || dropMode) {
                    ctx->pictqRindex = (ctx->pictqRindex + 1) % kPictureQueueSize;
                    --ctx->pictqSize;
                    ctx->pictqCond.notify_all();
                    dropped = true;
                    continue;
                }
            }
            lock.unlock();
            if (ctx->subtitleSt) {
                std::lock_guard<std::mutex> subLock(ctx->subpqMutex);
                if (ctx->subtitleStreamChanged) {
                    while (ctx->subpqSize) {
                        gAVCodec.avsubtitle_free(ctx->subpq[ctx->subpqRindex].sub);
                        ctx->subpqRindex = (ctx->subpqRindex + 1) % kSubpictureQueueSize;
                        --ctx->subpqSize;
                    }
                    ctx->subtitleStreamChanged = false;
                } else if (ctx->subpqSize > 0) {
                    const auto& sp = ctx->subpq[ctx->subpqRindex];
                    const auto* next =
                        ctx->subpqSize > 1 ? &ctx->subpq[(ctx->subpqRindex + 1) % kSubpictureQueueSize] : nullptr;
                    const double cur = ctx->videoCurrentPts;
                    if (cur > sp.pts + double(sp.sub->end_display_time) / 1000.0 ||
                        (next && cur > next->pts + double(next->sub->start_display_time) / 1000.0)) {
                        gAVCodec.avsubtitle_free(sp.sub);
                        ctx->subpqRindex = (ctx->subpqRindex + 1) % kSubpictureQueueSize;
                        --ctx->subpqSize;
                    }
                }
                ctx->subpqCond.notify_all();
            }
            Display(ctx);
            if (advance) {
                lock.lock();
                ctx->pictqRindex = (ctx->pictqRindex + 1) % kPictureQueueSize;
                --ctx->pictqSize;
                ctx->pictqCond.notify_all();
            }
            break;
        }
        if (!dropped) UpdatePosition(ctx);
    } else if (ctx->audioSt) {
        Display(ctx);
        UpdatePosition(ctx);
    }
}

void TCustomPlayer::UpdatePosition(PlayContext* ctx) {
    if (!ctx || ctx->stillImage) return;
    int64_t pos;
    if (ctx->videoStream >= 0) {
        pos = std::llround(VideoClock(ctx) * 1000000.0) - ctx->startTime;
    } else if (ctx->audioStream >= 0) {
        pos = std::llround(AudioClock(ctx) * 1000000.0) - ctx->startTime;
        if (ctx->audioDuration > 0 && pos >= ctx->audioDuration && pos < ctx->duration) pos = ctx->duration;
    } else {
        return;
    }
    std::lock_guard<std::mutex> positionLock(positionMutex_);
    position_ = pos;
    if (ctx->duration > 0 && pos >= ctx->duration) {
        pos = ctx->duration;
        if (lastPostedPosition_ != ctx->duration) lastPostedPosition_ = 0;
    }
    if (!positionPosted_ || std::llabs(pos - lastPostedPosition_) > 10000) {
        positionPosted_ = true;
        lastPostedPosition_ = pos;
        if (OnPosition) ring_.Post(TEventRing::ekPosition, 0, pos);
    }
    if (!ctx->capture && !ctx->endNotified && ctx->drained) {
        if (ctx->videoStream >= 0) {
            // The end counts once the decoder has given its last picture and it was shown.
            if (!ctx->videoFinished) return;
            {
                std::lock_guard<std::mutex> lock(ctx->pictqMutex);
                if (ctx->pictqSize > 0) return;
            }
            ctx->endNotified = true;
        }
        PostState(psEnd);
    }
}

void TCustomPlayer::TogglePause(PlayContext* ctx) {
    if (!WaitFlag(seekDone_, 250)) SetFlag(seekDone_, true);
    if (ctx_.load() != ctx) return;
    if (ctx->paused) {
        const double now = Now();
        // The paused time moves the frame timer on; before the first picture was shown
        // there is no paused picture to measure it by (drift 0) and nothing to move.
        if (ctx->videoCurrentPtsDrift != 0) ctx->frameTimer += now + ctx->videoCurrentPtsDrift - ctx->videoCurrentPts;
        if (ctx->readPauseReturn != AVERROR(ENOSYS)) ctx->videoCurrentPts = ctx->videoCurrentPtsDrift + now;
        ctx->videoCurrentPtsDrift = ctx->videoCurrentPts - now;
        ctx->paused = false;
    } else {
        if (ctx->videoStream >= 0 && !WaitFlag(pictureOut_, 250)) SetFlag(pictureOut_, true);
        if (ctx_.load() != ctx) return;
        ctx->paused = true;
    }
}
