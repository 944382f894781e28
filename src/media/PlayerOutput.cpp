// The output side of the preview player: video decoding through a small filter graph into
// planar YUV 4:2:0 pictures, the picture queue, the hook, display on the host's surface,
// the sound device with its callback and sample conversion, the waveform for files without
// pictures, and CurrentFrame.

#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <exception>

#include "engine/MediaLib.h"
#include "engine/MediaLogger.h"
#include "media/PlayContext.h"
#include "media/PreviewPlayer.h"
#include "media/SubtitleBlend.h"
#include "media/VideoSurface.h"
#include "platform/Format.h"

namespace {

double Now() { return gAVUtil.av_gettime_relative() / 1000000.0; }
void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
double Q2D(AVRational q) { return q.den ? double(q.num) / q.den : 0.0; }

constexpr int kScalerFlags = SWS_BICUBIC;  // 4

// Converts width x height of a YUV 4:2:0 frame into a 24-bit BGR row buffer.
bool YuvToBgr(SwsContext*& sws, const AVFrame* src, int width, int height, uint8_t* dst, int dstStride) {
    sws = gSwScale.sws_getCachedContext(sws, width, height, AVPixelFormat(src->format), width, height,
                                        AV_PIX_FMT_BGR24, kScalerFlags, nullptr, nullptr, nullptr);
    if (!sws) return false;
    uint8_t* planes[4] = {dst, nullptr, nullptr, nullptr};
    int strides[4] = {dstStride, 0, 0, 0};
    gSwScale.sws_scale(sws, src->data, src->linesize, 0, height, planes, strides);
    return true;
}

}  // namespace

// ---- display ----------------------------------------------------------------------------

bool TCustomPlayer::OpenDisplay(PlayContext* ctx, bool force) {
    int w, h;
    if (screenWidth_ > 0 && screenHeight_ > 0) {
        w = screenWidth_;
        h = screenHeight_;
    } else if (ctx->filterOut && ctx->graphWidth > 0) {
        w = ctx->graphWidth & ~1;
        h = ctx->graphHeight & ~1;
    } else {
        w = 640;
        h = 480;
    }
    if (!force && surfaceOpen_ && ctx->width == w && ctx->height == h) return true;
    ctx->width = w;
    ctx->height = h;
    surfaceOpen_ = true;
    return true;
}

void TCustomPlayer::AllocatePicture(PlayContext* ctx, int index) {
    TPictureEntry& vp = ctx->pictq[index];
    {
        std::lock_guard<std::mutex> entryLock(vp.lock);
        if (vp.overlay) gAVUtil.av_frame_free(&vp.overlay);
        vp.width = ctx->graphWidth & ~1;
        vp.height = ctx->graphHeight & ~1;
        vp.pixFmt = AV_PIX_FMT_YUV420P;
        AVFrame* f = gAVUtil.av_frame_alloc();
        if (f) {
            f->format = AV_PIX_FMT_YUV420P;
            f->width = vp.width;
            f->height = vp.height;
            if (vp.width <= 0 || vp.height <= 0 || gAVUtil.av_frame_get_buffer(f, 32) < 0) gAVUtil.av_frame_free(&f);
        }
        vp.overlay = f;
    }
    std::lock_guard<std::mutex> lock(ctx->pictqMutex);
    vp.allocated = true;
    ctx->pictqCond.notify_all();
}

void TCustomPlayer::Display(PlayContext* ctx, bool redraw) {
    if (!surfaceOpen_) OpenDisplay(ctx, false);
    if (ctx->audioSt && ctx->showAudio) {
        ShowVisualization(ctx);
        return;
    }
    if (!ctx->videoSt) return;
    int index;
    {
        std::lock_guard<std::mutex> lock(ctx->pictqMutex);
        index = redraw && ctx->lastShownIndex >= 0 ? ctx->lastShownIndex.load() : ctx->pictqRindex;
    }
    TPictureEntry& vp = ctx->pictq[index];
    std::lock_guard<std::mutex> entryLock(vp.lock);
    if (!vp.overlay) return;
    ctx->lastShownIndex = index;
    if (ctx->subtitleSt) {
        std::lock_guard<std::mutex> subLock(ctx->subpqMutex);
        if (ctx->subpqSize > 0) {
            const auto& sp = ctx->subpq[ctx->subpqRindex];
            if (vp.pts >= sp.pts + double(sp.sub->start_display_time) / 1000.0) {
                uint8_t* const planes[3] = {vp.overlay->data[0], vp.overlay->data[1], vp.overlay->data[2]};
                const int strides[3] = {vp.overlay->linesize[0], vp.overlay->linesize[1], vp.overlay->linesize[2]};
                for (unsigned i = 0; i < sp.sub->num_rects; ++i)
                    BlendSubtitleRect(planes, strides, vp.width, vp.height, sp.sub->rects[i]);
            }
        }
    }
    const QRect rect = DisplayRect(aspectRatio_, vp.sar, vp.width, vp.height, ctx->xleft, ctx->ytop, ctx->width,
                                   ctx->height);
    if (!surface_) return;
    if (displayImage_.width() != vp.width || displayImage_.height() != vp.height)
        displayImage_ = QImage(vp.width, vp.height, QImage::Format_BGR888);
    if (displayImage_.isNull()) return;
    if (!YuvToBgr(displaySws_, vp.overlay, vp.width, vp.height, displayImage_.bits(),
                  int(displayImage_.bytesPerLine())))
        return;
    surface_->Present(displayImage_, rect);
}

void TCustomPlayer::ShowVisualization(PlayContext* ctx) {
    const int mode = ctx->showAudio;
    const int channels = ctx->audioChannels;
    const int width = ctx->width, height = ctx->height;
    if (channels <= 0 || width <= 0 || height <= 0) return;
    // The spectrum: 2^bits points, the smallest power of two not below twice the height.
    int rdftBits = 1;
    while ((1 << rdftBits) < 2 * height) ++rdftBits;
    const int nbFreq = 1 << (rdftBits - 1);
    std::vector<int16_t> samples;
    int iStart;
    {
        std::lock_guard<std::mutex> lock(ctx->sampleMutex);
        if (ctx->paused) {
            iStart = ctx->lastIStart;
        } else {
            const int nbDisplay = mode == 1 ? width : 2 * nbFreq;
            int delay = int(ctx->audioBufSize - ctx->audioBufIndex) / (2 * channels);
            const int64_t elapsed = gAVUtil.av_gettime_relative() - ctx->lastCallbackTime;
            delay -= int(elapsed * ctx->audioRate / 1000000);
            delay += 2 * nbDisplay;
            if (delay < nbDisplay) delay = nbDisplay;
            iStart = ((ctx->sampleArrayIndex - delay * channels) % kSampleArraySize + kSampleArraySize) %
                     kSampleArraySize;
            if (mode == 1) {
                // Start at a rising zero crossing so that the picture stands still.
                int hMax = INT32_MIN;
                int best = iStart;
                for (int i = 0; i < 1000; i += channels) {
                    const int idx = (kSampleArraySize + iStart - i) % kSampleArraySize;
                    const int a = ctx->sampleArray[idx];
                    const int b = ctx->sampleArray[(idx + 4 * channels) % kSampleArraySize];
                    const int c = ctx->sampleArray[(idx + 5 * channels) % kSampleArraySize];
                    const int d = ctx->sampleArray[(idx + 9 * channels) % kSampleArraySize];
                    const int score = a - d;
                    if (hMax < score && (b ^ c) < 0) {
                        hMax = score;
                        best = idx;
                    }
                }
                iStart = best;
            }
            ctx->lastIStart = iStart;
        }
        const int frames = mode == 1 ? width : 2 * nbFreq;
        samples.resize(size_t(frames) * channels);
        int idx = iStart;
        for (int x = 0; x < frames; ++x)
            for (int ch = 0; ch < channels; ++ch) {
                samples[size_t(x) * channels + ch] = ctx->sampleArray[idx];
                idx = (idx + 1) % kSampleArraySize;
            }
    }
    if (mode == 2) {
        if (rdftBits != ctx->rdftBits || !ctx->rdft) {
            if (ctx->rdft) gAVCodec.av_rdft_end(ctx->rdft);
            ctx->rdft = gAVCodec.av_rdft_init(rdftBits, DFT_R2C);
            ctx->rdftBits = rdftBits;
            if (ctx->rdftData) gAVUtil.av_freep(&ctx->rdftData);
            ctx->rdftData = static_cast<float*>(gAVUtil.av_mallocz(sizeof(float) * (4 * size_t(nbFreq) + 16)));
        }
        if (!ctx->rdft || !ctx->rdftData) return;
        if (visImage_.width() != width || visImage_.height() != height) {
            visImage_ = QImage(width, height, QImage::Format_BGR888);
            visImage_.fill(Qt::black);
            ctx->xpos = 0;
        }
        if (visImage_.isNull()) return;
        const int shown = std::min(channels, 2);
        // The second channel starts on a 64-byte boundary too.
        float* data[2] = {ctx->rdftData, ctx->rdftData + ((2 * nbFreq + 15) & ~15)};
        for (int ch = 0; ch < shown; ++ch) {
            for (int i = 0; i < 2 * nbFreq; ++i) {
                const double w = double(i - nbFreq) / nbFreq;
                data[ch][i] = float(samples[size_t(i) * channels + ch] * (1.0 - w * w));
            }
            gAVCodec.av_rdft_calc(ctx->rdft, data[ch]);
        }
        const double scale = 1.0 / std::sqrt(double(nbFreq));
        for (int y = 0; y < height; ++y) {
            auto magnitude = [&](const float* d) {
                const double re = d[2 * y], im = d[2 * y + 1];
                return std::min(255, int(std::lround(std::sqrt(scale * std::sqrt(re * re + im * im)))));
            };
            const int a = magnitude(data[0]);
            const int b = shown > 1 ? magnitude(data[1]) : a;
            const int row = height - y;
            if (row < 0 || row >= height) continue;
            uint8_t* p = visImage_.scanLine(row) + ctx->xpos * 3;
            p[0] = uint8_t((a + b) / 2);  // blue
            p[1] = uint8_t(b);            // green
            p[2] = uint8_t(a);            // red
        }
        if (surface_) surface_->Present(visImage_, QRect(ctx->xleft, ctx->ytop, width, height));
        if (!ctx->paused && ++ctx->xpos >= width) ctx->xpos = 0;
        return;
    }
    if (visImage_.width() != width || visImage_.height() != height)
        visImage_ = QImage(width, height, QImage::Format_BGR888);
    if (visImage_.isNull()) return;
    visImage_.fill(Qt::black);
    const int h = height / channels;
    const int h2 = (h * 9) / 20;
    auto vline = [&](int x, int y0, int len) {
        for (int y = y0; y < y0 + len && y < height; ++y) {
            if (y < 0) continue;
            uint8_t* p = visImage_.scanLine(y) + x * 3;
            p[0] = p[1] = p[2] = 255;
        }
    };
    for (int ch = 0; ch < channels; ++ch) {
        const int ys = ch * h + h / 2;
        for (int x = 0; x < width; ++x) {
            const int s = samples[size_t(x) * channels + ch];
            const int y1 = (s * h2) >> 15;
            if (y1 < 0)
                vline(x, ys - (-y1), -y1);
            else
                vline(x, ys, y1);
        }
    }
    for (int ch = 1; ch < channels; ++ch) {
        uint8_t* p = visImage_.scanLine(ch * h);
        std::memset(p, 255, size_t(width) * 3);
    }
    if (surface_) surface_->Present(visImage_, QRect(ctx->xleft, ctx->ytop, width, height));
}

// ---- video decoding ---------------------------------------------------------------------

bool TCustomPlayer::ConfigureGraph(PlayContext* ctx, const AVFrame* frame) {
    if (ctx->graph) gAVFilter.avfilter_graph_free(&ctx->graph);
    ctx->filterIn = ctx->filterOut = nullptr;
    AVFilterGraph* graph = gAVFilter.avfilter_graph_alloc();
    if (!graph) return false;
    graph->scale_sws_opts = gAVUtil.av_strdup(Format("flags=%d", kScalerFlags).c_str());
    graph->nb_threads = 1;
    const AVRational tb = ctx->videoSt->time_base;
    AVRational sar = frame->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0) sar = AVRational{0, 1};
    const std::string args = Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", frame->width,
                                    frame->height, frame->format, tb.num, tb.den, sar.num, sar.den);
    AVFilterContext* in = nullptr;
    AVFilterContext* out = nullptr;
    int ret = gAVFilter.avfilter_graph_create_filter(&in, gAVFilter.avfilter_get_by_name("buffer"), "player_input",
                                                     args.c_str(), nullptr, graph);
    if (ret >= 0) {
        out = gAVFilter.avfilter_graph_alloc_filter(graph, gAVFilter.avfilter_get_by_name("buffersink"),
                                                    "player_output");
        const int formats[] = {AV_PIX_FMT_YUV420P};
        ret = out ? gAVUtil.av_opt_set_bin(out, "pix_fmts", reinterpret_cast<const uint8_t*>(formats),
                                           sizeof(formats), AV_OPT_SEARCH_CHILDREN)
                  : AVERROR(ENOMEM);
        if (ret >= 0) ret = gAVFilter.avfilter_init_str(out, nullptr);
    }
    if (ret >= 0) ret = gAVFilter.avfilter_link(in, 0, out, 0);
    if (ret >= 0) ret = gAVFilter.avfilter_graph_config(graph, nullptr);
    if (ret < 0) {
        gAVFilter.avfilter_graph_free(&graph);
        return false;
    }
    ctx->graph = graph;
    ctx->filterIn = in;
    ctx->filterOut = out;
    ctx->graphWidth = gAVFilter.av_buffersink_get_w(out);
    ctx->graphHeight = gAVFilter.av_buffersink_get_h(out);
    ctx->graphFormat = frame->format;
    return true;
}

// 1: a decoded picture in frame; 0: none this time; -1: the queue was aborted.
int TCustomPlayer::GetVideoFrame(PlayContext* ctx, AVFrame* frame, AVPacket* pkt) {
    AVCodecContext* dec = ctx->videoDec;
    for (;;) {
        const int ret = gAVCodec.avcodec_receive_frame(dec, frame);
        if (ret >= 0) {
            // Time-stamp fault detection.
            if (frame->pkt_dts != AV_NOPTS_VALUE) {
                ctx->faultyDts += frame->pkt_dts <= ctx->lastDtsForFault;
                ctx->lastDtsForFault = frame->pkt_dts;
            }
            if (frame->pts != AV_NOPTS_VALUE) {
                ctx->faultyPts += frame->pts <= ctx->lastPtsForFault;
                ctx->lastPtsForFault = frame->pts;
            }
            int64_t pts = 0;
            if (frame->pts != AV_NOPTS_VALUE &&
                (ctx->faultyPts < ctx->faultyDts || frame->pkt_dts == AV_NOPTS_VALUE))
                pts = frame->pts;
            else if (frame->pkt_dts != AV_NOPTS_VALUE)
                pts = frame->pkt_dts;
            else if (frame->pts != AV_NOPTS_VALUE)
                pts = frame->pts;
            frame->pts = pts;
            ctx->skipFramesIndex += 1;
            if (ctx->skipFramesIndex >= ctx->skipFrames) {
                ctx->skipFramesIndex -= std::max(1.0f, ctx->skipFrames);
                return 1;
            }
            gAVUtil.av_frame_unref(frame);
            continue;
        }
        if (ret == AVERROR_EOF) ctx->videoFinished = true;
        if (gAVCodec.av_packet_unref(pkt), ctx->videoq.Get(pkt, true) < 0) return -1;
        if (IsFlushPacket(pkt)) {
            pkt->data = nullptr;
            gAVCodec.avcodec_flush_buffers(dec);
            {
                std::unique_lock<std::mutex> lock(ctx->pictqMutex);
                for (TPictureEntry& vp : ctx->pictq) vp.target = 0;
                while (ctx->pictqSize && !ctx->videoq.Aborted() && !ctx->abortRequest)
                    ctx->pictqCond.wait_for(lock, std::chrono::milliseconds(10));
            }
            ctx->videoCurrentPos = -1;
            ctx->lastDtsForFault = ctx->lastPtsForFault = INT64_MIN;
            ctx->faultyDts = ctx->faultyPts = 0;
            ctx->frameLastPts = AV_NOPTS_VALUE;
            ctx->frameLastDelay = 0;
            ctx->frameTimer = Now();
            ctx->skipFrames = 1;
            ctx->skipFramesIndex = 0;
            ctx->videoFinished = false;
            ctx->flushSeen = true;
            return 0;
        }
        if (!pkt->data && pkt->size == 0) {
            // The reader's end-of-file mark: drain the decoder.
            if (!ctx->videoFinished) gAVCodec.avcodec_send_packet(dec, nullptr);
            if (!ctx->endNotified) UpdatePosition(ctx);
            if (ctx->videoFinished) return 0;
            continue;
        }
        if (gAVCodec.avcodec_send_packet(dec, pkt) == AVERROR_EOF) {
            // A packet after the drain (a seek without flush): start the decoder afresh.
            gAVCodec.avcodec_flush_buffers(dec);
            gAVCodec.avcodec_send_packet(dec, pkt);
        }
    }
}

int TCustomPlayer::QueuePicture(PlayContext* ctx, AVFrame* src, double pts, int64_t pos) {
    if (pts != 0)
        ctx->videoClock = pts;
    else
        pts = ctx->videoClock;
    const double frameDelay = ctx->frameDuration * (1.0 + src->repeat_pict * 0.5);
    ctx->videoClock += frameDelay;

    const int width = src->width & ~1, height = src->height & ~1;
    int index;
    {
        std::unique_lock<std::mutex> lock(ctx->pictqMutex);
        if (ctx->pictqSize >= kPictureQueueSize && !ctx->refreshPending)
            ctx->skipFrames = std::max(0.95f, ctx->skipFrames * 0.95f);
        while (ctx->pictqSize >= kPictureQueueSize && !ctx->videoq.Aborted() && !ctx->abortRequest)
            ctx->pictqCond.wait_for(lock, std::chrono::milliseconds(20));
        if (ctx->videoq.Aborted() || ctx->abortRequest) return -1;
        index = ctx->pictqWindex;
        TPictureEntry& vp = ctx->pictq[index];
        if (!vp.overlay || vp.width != width || vp.height != height) {
            vp.allocated = false;
            PushEvent(peAllocate, index);
            while (!vp.allocated && !ctx->videoq.Aborted() && !ctx->abortRequest)
                ctx->pictqCond.wait_for(lock, std::chrono::milliseconds(20));
            if (ctx->videoq.Aborted() || ctx->abortRequest) return -1;
        }
    }
    TPictureEntry& vp = ctx->pictq[index];
    {
        std::lock_guard<std::mutex> entryLock(vp.lock);
        if (vp.overlay) {
            gAVUtil.av_image_copy(vp.overlay->data, vp.overlay->linesize, const_cast<const uint8_t**>(src->data),
                                  src->linesize, AV_PIX_FMT_YUV420P, vp.width, vp.height);
            RunHook(ctx, vp, pts);
        }
        vp.sar = src->sample_aspect_ratio.num > 0 && src->sample_aspect_ratio.den > 0
                     ? Q2D(src->sample_aspect_ratio)
                     : 0;
    }
    vp.pts = pts;
    vp.pos = pos;
    std::lock_guard<std::mutex> lock(ctx->pictqMutex);
    ctx->pictqWindex = (ctx->pictqWindex + 1) % kPictureQueueSize;
    vp.target = ComputeTargetTime(ctx, pts);
    ++ctx->pictqSize;
    return 0;
}

void TCustomPlayer::RunHook(PlayContext* ctx, TPictureEntry& vp, double pts) {
    if (!hook_ || !OnHook) return;
    AVFrame* overlay = vp.overlay;
    if (hookBitmap_.Width() != vp.width || hookBitmap_.Height() != vp.height) hookBitmap_.SetSize(vp.width, vp.height);
    if (hookBitmap_.Empty()) return;
    if (!YuvToBgr(hookToRGB_, overlay, vp.width, vp.height, hookBitmap_.ScanLine(0), hookBitmap_.BytesPerLine())) {
        MediaLogger().Log(this, llError, "Cannot initialize the toRGB conversion context");
        return;
    }
    bool ok = true;
    {
        Bitmap24::CanvasLock canvas(hookBitmap_);
        try {
            OnHook(this, hookBitmap_, std::llround(pts * 1000000.0) - ctx->startTime);
        } catch (const std::exception& e) {
            MediaLogger().Log(this, llError, std::string("Error occurs OnHook: ") + e.what());
            ok = false;
        } catch (...) {
            MediaLogger().Log(this, llError, "Error occurs OnHook: unknown exception");
            ok = false;
        }
    }
    if (!ok) return;
    hookFromRGB_ = gSwScale.sws_getCachedContext(hookFromRGB_, vp.width, vp.height, AV_PIX_FMT_BGR24, vp.width,
                                                 vp.height, AV_PIX_FMT_YUV420P, kScalerFlags, nullptr, nullptr,
                                                 nullptr);
    if (!hookFromRGB_) {
        MediaLogger().Log(this, llError, "Cannot initialize the fromRGB conversion context");
        return;
    }
    const uint8_t* planes[4] = {hookBitmap_.ScanLine(0), nullptr, nullptr, nullptr};
    const int strides[4] = {hookBitmap_.BytesPerLine(), 0, 0, 0};
    gSwScale.sws_scale(hookFromRGB_, planes, strides, 0, vp.height, overlay->data, overlay->linesize);
}

void TCustomPlayer::VideoRun(PlayContext* ctx) {
    AVFrame* frame = gAVUtil.av_frame_alloc();
    AVFrame* filtered = gAVUtil.av_frame_alloc();
    AVPacket* pkt = gAVCodec.av_packet_alloc();
    for (;;) {
        while (ctx->paused && !ctx->videoq.Aborted() && !ctx->seekPaused && ctx->openPausedCounter == 0)
            SleepMs(10);
        const int got = GetVideoFrame(ctx, frame, pkt);
        if (got < 0) break;
        if (got == 0) continue;
        if (!ctx->graph || frame->width != ctx->graphWidth || frame->height != ctx->graphHeight ||
            frame->format != ctx->graphFormat) {
            if (!ConfigureGraph(ctx, frame)) {
                gAVUtil.av_frame_unref(frame);
                break;
            }
        }
        const int64_t pos = frame->pkt_pos;
        if (gAVFilter.av_buffersrc_add_frame(ctx->filterIn, frame) < 0) {
            gAVUtil.av_frame_unref(frame);
            break;
        }
        bool failed = false;
        while (gAVFilter.av_buffersink_get_frame(ctx->filterOut, filtered) >= 0) {
            if (ctx->afterSeek && ctx->flushSeen) {
                ctx->afterSeek = false;
                ctx->seekPaused = false;
            }
            const AVRational tb = ctx->videoSt->time_base;
            const double pts = filtered->pts == AV_NOPTS_VALUE ? 0 : filtered->pts * Q2D(tb);
            const int ret = QueuePicture(ctx, filtered, pts, pos);
            gAVUtil.av_frame_unref(filtered);
            if (ret < 0) {
                failed = true;
                break;
            }
            SetFlag(pictureOut_, true);
            ctx->endNotified = false;
            if (!ctx->seekReq) seeking_ = false;
            if (ctx->openPausedCounter > 0) {
                if (ctx->openPausedCounter > 1) {
                    ctx->openPausedCounter = 0;
                    PostState(psPause);
                } else {
                    ++ctx->openPausedCounter;
                }
            }
            if (stepFlag_ && ctx_.load() == ctx) TogglePause(ctx);
        }
        if (failed) break;
    }
    if (ctx->graph) gAVFilter.avfilter_graph_free(&ctx->graph);
    ctx->filterIn = ctx->filterOut = nullptr;
    gAVUtil.av_frame_free(&frame);
    gAVUtil.av_frame_free(&filtered);
    gAVCodec.av_packet_free(&pkt);
}

void TCustomPlayer::SubtitleRun(PlayContext* ctx) {
    AVPacket* pkt = gAVCodec.av_packet_alloc();
    if (!pkt) return;
    for (;;) {
        while (ctx->paused && !ctx->subtitleq.Aborted() && !ctx->seekPaused) SleepMs(10);
        if (ctx->subtitleq.Get(pkt, true) < 0) break;
        if (IsFlushPacket(pkt)) {
            pkt->data = nullptr;
            gAVCodec.avcodec_flush_buffers(ctx->subtitleDec);
            continue;
        }
        int index;
        {
            std::unique_lock<std::mutex> lock(ctx->subpqMutex);
            while (ctx->subpqSize >= kSubpictureQueueSize && !ctx->subtitleq.Aborted())
                ctx->subpqCond.wait_for(lock, std::chrono::milliseconds(20));
            if (ctx->subtitleq.Aborted()) break;
            index = ctx->subpqWindex;
        }
        auto& sp = ctx->subpq[index];
        sp.pts = pkt->pts != AV_NOPTS_VALUE ? Q2D(ctx->subtitleSt->time_base) * double(pkt->pts) : 0;
        int got = 0;
        const int ret = gAVCodec.avcodec_decode_subtitle2(ctx->subtitleDec, sp.sub, &got, pkt);
        gAVCodec.av_packet_unref(pkt);
        if (ret < 0 || !got) continue;
        if (sp.sub->format == 0)
            for (unsigned i = 0; i < sp.sub->num_rects; ++i) ConvertSubtitlePalette(sp.sub->rects[i]);
        std::lock_guard<std::mutex> lock(ctx->subpqMutex);
        ctx->subpqWindex = (ctx->subpqWindex + 1) % kSubpictureQueueSize;
        ++ctx->subpqSize;
    }
    gAVCodec.av_packet_unref(pkt);
    gAVCodec.av_packet_free(&pkt);
}

// ---- sound ------------------------------------------------------------------------------

bool TCustomPlayer::AudioOpen(PlayContext* ctx, int channels) {
    SDL_AudioSpec wanted{}, spec{};
    wanted.freq = ctx->audioDec->sample_rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = uint8_t(channels);
    wanted.silence = 0;
    wanted.samples = 1024;
    wanted.callback = &TCustomPlayer::AudioCallback;
    wanted.userdata = ctx;
    ctx->audioRate = wanted.freq;
    ctx->audioChannels = channels;
    ctx->audioDev = 0;
    const SDL_AudioDeviceID dev = gSDL.SDL_OpenAudioDevice(nullptr, 0, &wanted, &spec, 0);
    if (dev == 0) {
        ReportError(std::string("SDL_OpenAudio() failed: ") + gSDL.SDL_GetError(), false);
        return false;
    }
    ctx->audioDev = dev;
    ctx->audioHwBufSize = int(spec.size);
    ctx->swrFormat = -1;
    ctx->audioBuf.assign(kAudioBufferSize, 0);
    return true;
}

void TCustomPlayer::AudioClose(PlayContext* ctx) {
    if (ctx->audioDev) gSDL.SDL_CloseAudioDevice(ctx->audioDev);
    ctx->audioDev = 0;
}

void TCustomPlayer::AudioCallback(void* opaque, uint8_t* stream, int len) {
    auto* ctx = static_cast<PlayContext*>(opaque);
    ctx->player->FillAudio(ctx, stream, len);
}

void TCustomPlayer::FillAudio(PlayContext* ctx, uint8_t* stream, int len) {
    ctx->lastCallbackTime = gAVUtil.av_gettime_relative();
    while (len > 0) {
        if (ctx->audioBufIndex >= ctx->audioBufSize) {
            double pts = 0;
            int size = DecodeAudioChunk(ctx, &pts);
            if (ctx->audioq.Aborted()) {
                std::memset(stream, 0, size_t(len));
                return;
            }
            if (size < 0) {
                size = 1024;
                std::memset(ctx->audioBuf.data(), 0, size_t(size));
            } else {
                if (ctx->showAudio) {
                    std::lock_guard<std::mutex> lock(ctx->sampleMutex);
                    const auto* samples = reinterpret_cast<const int16_t*>(ctx->audioBuf.data());
                    const int count = size / 2;
                    for (int i = 0; i < count; ++i) {
                        ctx->sampleArray[ctx->sampleArrayIndex] = samples[i];
                        ctx->sampleArrayIndex = (ctx->sampleArrayIndex + 1) % kSampleArraySize;
                    }
                }
                size = SynchronizeAudio(ctx, size);
            }
            ctx->audioBufSize = unsigned(size);
            ctx->audioBufIndex = 0;
        }
        int n = int(ctx->audioBufSize - ctx->audioBufIndex);
        if (n > len) n = len;
        std::memset(stream, 0, size_t(n));
        if (!mute_)
            gSDL.SDL_MixAudioFormat(stream, ctx->audioBuf.data() + ctx->audioBufIndex, AUDIO_S16SYS, uint32_t(n),
                                    audioVolume_.load());
        len -= n;
        stream += n;
        ctx->audioBufIndex += unsigned(n);
    }
}

int TCustomPlayer::DecodeAudioChunk(PlayContext* ctx, double* ptsOut) {
    AVCodecContext* dec = ctx->audioDec;
    if (!ctx->audioPkt) ctx->audioPkt = gAVCodec.av_packet_alloc();
    if (!ctx->audioFrame) ctx->audioFrame = gAVUtil.av_frame_alloc();
    AVPacket* pkt = ctx->audioPkt;
    AVFrame* frame = ctx->audioFrame;
    if (!pkt || !frame) return -1;
    const int frameBytes = 2 * ctx->audioChannels;
    for (;;) {
        if (ctx->audioPktSent) {
            const int ret = gAVCodec.avcodec_receive_frame(dec, frame);
            if (ret >= 0) {
                AVChannelLayout inLayout{};
                gAVUtil.av_channel_layout_copy(&inLayout, &frame->ch_layout);
                if (inLayout.nb_channels <= 0) gAVUtil.av_channel_layout_default(&inLayout, dec->ch_layout.nb_channels);
                const uint64_t layoutKey = inLayout.order == AV_CHANNEL_ORDER_NATIVE ? inLayout.u.mask : 0;
                if (!ctx->swr || frame->format != ctx->swrFormat || frame->sample_rate != ctx->swrRate ||
                    inLayout.nb_channels != ctx->swrChannels || layoutKey != ctx->swrLayout) {
                    if (ctx->swr) gSwResample.swr_free(&ctx->swr);
                    AVChannelLayout outLayout{};
                    gAVUtil.av_channel_layout_default(&outLayout, ctx->audioChannels);
                    int r = gSwResample.swr_alloc_set_opts2(&ctx->swr, &outLayout, AV_SAMPLE_FMT_S16,
                                                            ctx->audioRate, &inLayout, AVSampleFormat(frame->format),
                                                            frame->sample_rate, 0, nullptr);
                    if (r >= 0) r = gSwResample.swr_init(ctx->swr);
                    gAVUtil.av_channel_layout_uninit(&outLayout);
                    if (r < 0) {
                        if (ctx->swr) gSwResample.swr_free(&ctx->swr);
                        const char* from = gAVUtil.av_get_sample_fmt_name(AVSampleFormat(frame->format));
                        ReportError(Format("Cannot convert %s sample format to %s sample format", from ? from : "?",
                                           gAVUtil.av_get_sample_fmt_name(AV_SAMPLE_FMT_S16)),
                                    false);
                        ctx->swrFormat = -1;
                        gAVUtil.av_channel_layout_uninit(&inLayout);
                        gAVUtil.av_frame_unref(frame);
                        continue;
                    }
                    ctx->swrFormat = frame->format;
                    ctx->swrRate = frame->sample_rate;
                    ctx->swrChannels = inLayout.nb_channels;
                    ctx->swrLayout = layoutKey;
                }
                gAVUtil.av_channel_layout_uninit(&inLayout);
                // Worst case: every output sample of this frame plus 10% for the sound
                // correction and one more frame, so nothing is ever written past the buffer.
                const int outSamples = gSwResample.swr_get_out_samples(ctx->swr, frame->nb_samples);
                const size_t need = size_t(outSamples) * frameBytes * 11 / 10 + size_t(2 * frameBytes);
                if (ctx->audioBuf.size() < need) ctx->audioBuf.resize(need);
                uint8_t* out = ctx->audioBuf.data();
                const int n = gSwResample.swr_convert(ctx->swr, &out, outSamples,
                                                      const_cast<const uint8_t**>(frame->extended_data),
                                                      frame->nb_samples);
                gAVUtil.av_frame_unref(frame);
                if (n < 0) {
                    ReportError("av_audio_convert() failed", false);
                    continue;
                }
                if (n == 0) continue;
                const int size = n * frameBytes;
                *ptsOut = ctx->audioClock;
                ctx->audioClock = ctx->audioClock + double(size) / (double(frameBytes) * ctx->audioRate);
                return size;
            }
            if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
                MediaLogger().Log(this, llInfo, "avcodec_decode_audio2() failed");
            ctx->audioPktSent = false;
        }
        if (ctx->paused || ctx->audioq.Aborted()) return -1;
        if (ctx->audioq.Get(pkt, false) <= 0) return -1;
        if (IsFlushPacket(pkt)) {
            pkt->data = nullptr;
            gAVCodec.avcodec_flush_buffers(dec);
            continue;
        }
        if (pkt->pts != AV_NOPTS_VALUE) ctx->audioClock = Q2D(ctx->audioSt->time_base) * double(pkt->pts);
        const int ret = gAVCodec.avcodec_send_packet(dec, pkt);
        gAVCodec.av_packet_unref(pkt);
        if (ret < 0)
            MediaLogger().Log(this, llInfo, "avcodec_decode_audio2() failed");
        else
            ctx->audioPktSent = true;
    }
}

// ---- CurrentFrame -----------------------------------------------------------------------

Bitmap24& TCustomPlayer::CurrentFrame() {
    int64_t pts;
    return CurrentFrame(pts);
}

Bitmap24& TCustomPlayer::CurrentFrame(int64_t& PTS) {
    PTS = -1;
    PlayContext* ctx = ctx_.load();
    if (!ctx || !ctx->videoSt || !ctx->videoDec) {
        grabBitmap_.SetSize(0, 0);
        return grabBitmap_;
    }
    grabBitmap_.SetSize(ctx->videoDec->width, ctx->videoDec->height);
    grabBitmap_.Fill(Qt::black);
    int index;
    {
        std::lock_guard<std::mutex> lock(ctx->pictqMutex);
        index = ctx->lastShownIndex >= 0 ? ctx->lastShownIndex.load() : ctx->pictqRindex;
    }
    TPictureEntry& vp = ctx->pictq[index];
    std::lock_guard<std::mutex> entryLock(vp.lock);
    PTS = std::llround(vp.pts * 1000000.0) - ctx->startTime;
    if (vp.overlay) {
        Bitmap24::CanvasLock canvas(grabBitmap_);
        if (!grabBitmap_.SetSize(vp.width, vp.height) ||
            !YuvToBgr(grabSws_, vp.overlay, vp.width, vp.height, grabBitmap_.ScanLine(0), grabBitmap_.BytesPerLine()))
            grabBitmap_.SetSize(0, 0);
    }
    return grabBitmap_;
}
