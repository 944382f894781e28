#pragma once
// Queue of demuxed packets between the player's reader and one decoder. The reader puts
// copies in; the decoder takes them out, waiting when asked to. A flush packet (its data
// pointer is kFlushData) tells the decoder to flush instead of decoding; it is queued when
// the queue starts and after every seek.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

struct AVPacket;

extern uint8_t* const kFlushData;
bool IsFlushPacket(const AVPacket* pkt);

class TPacketQueue {
public:
    TPacketQueue() = default;
    ~TPacketQueue();
    TPacketQueue(const TPacketQueue&) = delete;
    TPacketQueue& operator=(const TPacketQueue&) = delete;

    // Empties the queue, clears the abort mark and queues the flush packet.
    void Start();
    // Queues a reference to pkt (a flush packet is queued as it is). False when out of memory.
    bool Put(const AVPacket* pkt);
    void PutFlush();
    // An empty packet (no data, size 0) for stream: the reader's end-of-file mark.
    void PutEmpty(int streamIndex);
    // 1: *pkt holds the first packet (the caller unrefs it); 0: empty and not blocking;
    // -1: the queue was aborted.
    int Get(AVPacket* pkt, bool block);
    void Flush();
    void Abort();
    bool Aborted() const;
    int Count() const;
    // Bytes held: each packet counts its data size plus 72.
    int64_t Size() const;

private:
    void FlushLocked();

    mutable std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<AVPacket*> packets_;
    int64_t size_ = 0;
    bool abort_ = false;
};
