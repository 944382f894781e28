#include "media/PacketQueue.h"

#include "engine/MediaLib.h"

namespace {
char gFlushText[] = "FLUSH";
constexpr int64_t kNodeOverhead = 72;
}  // namespace

uint8_t* const kFlushData = reinterpret_cast<uint8_t*>(gFlushText);

bool IsFlushPacket(const AVPacket* pkt) { return pkt && pkt->data == kFlushData; }

TPacketQueue::~TPacketQueue() {
    std::lock_guard<std::mutex> lock(mutex_);
    FlushLocked();
}

void TPacketQueue::Start() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        FlushLocked();
        abort_ = false;
    }
    PutFlush();
}

bool TPacketQueue::Put(const AVPacket* pkt) {
    AVPacket* node = gAVCodec.av_packet_alloc();
    if (!node) return false;
    if (IsFlushPacket(pkt) || (pkt->data == nullptr && pkt->size == 0 && !pkt->buf)) {
        // Markers carry no data of their own; only the pointer and the stream matter.
        node->data = pkt->data;
        node->size = 0;
        node->stream_index = pkt->stream_index;
    } else if (gAVCodec.av_packet_ref(node, pkt) < 0) {
        gAVCodec.av_packet_free(&node);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        packets_.push_back(node);
        size_ += node->size + kNodeOverhead;
    }
    cond_.notify_one();
    return true;
}

void TPacketQueue::PutFlush() {
    AVPacket pkt{};
    pkt.data = kFlushData;
    pkt.stream_index = -1;
    Put(&pkt);
}

void TPacketQueue::PutEmpty(int streamIndex) {
    AVPacket pkt{};
    pkt.stream_index = streamIndex;
    Put(&pkt);
}

int TPacketQueue::Get(AVPacket* pkt, bool block) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (abort_) return -1;
        if (!packets_.empty()) {
            AVPacket* node = packets_.front();
            packets_.pop_front();
            size_ -= node->size + kNodeOverhead;
            gAVCodec.av_packet_move_ref(pkt, node);
            gAVCodec.av_packet_free(&node);
            return 1;
        }
        if (!block) return 0;
        cond_.wait(lock);
    }
}

void TPacketQueue::FlushLocked() {
    for (AVPacket* node : packets_) {
        if (IsFlushPacket(node) || !node->buf) {
            node->data = nullptr;
            node->size = 0;
        }
        gAVCodec.av_packet_free(&node);
    }
    packets_.clear();
    size_ = 0;
}

void TPacketQueue::Flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    FlushLocked();
}

void TPacketQueue::Abort() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abort_ = true;
    }
    cond_.notify_all();
}

bool TPacketQueue::Aborted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return abort_;
}

int TPacketQueue::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(packets_.size());
}

int64_t TPacketQueue::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return size_;
}
