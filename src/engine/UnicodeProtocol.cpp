#include "engine/UnicodeProtocol.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <mutex>
#include <set>

#include "engine/MediaLib.h"

namespace {

constexpr char kKnownProtocols[] = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";
constexpr int kIOBufferSize = 32768;

bool gRegistered = false;

struct TUnicodeFile {
    int fd = -1;
};

std::mutex gIOLock;
std::set<const AVIOContext*> gIOContexts;

int UnicodeRead(void* opaque, uint8_t* buf, int size) {
    auto* f = static_cast<TUnicodeFile*>(opaque);
    ssize_t n = ::read(f->fd, buf, size_t(size));
    if (n < 0) return -1;
    if (n == 0) return AVERROR_EOF;  // this library generation wants an end-of-file code
    return int(n);
}

// The write callback's buffer is const from libavformat 61 on; 59 passes a plain pointer.
int UnicodeWrite(void* opaque, uint8_t* buf, int size) {
    auto* f = static_cast<TUnicodeFile*>(opaque);
    ssize_t n = ::write(f->fd, buf, size_t(size));
    return n < 0 ? -1 : int(n);
}

int64_t UnicodeSeek(void* opaque, int64_t pos, int whence) {
    auto* f = static_cast<TUnicodeFile*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return ::fstat(f->fd, &st) == 0 ? int64_t(st.st_size) : -1;
    }
    whence &= ~AVSEEK_FORCE;
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
    off_t r = ::lseek(f->fd, off_t(pos), whence);
    return r < 0 ? -1 : int64_t(r);
}

}  // namespace

void RegisterUnicodeProtocol() {
    if (gRegistered) return;
    assert(gAVFormat.avio_alloc_context && gAVFormat.avio_context_free);
    gRegistered = true;
}

bool UnicodeProtocolRegistered() { return gRegistered; }

bool NeedUnicodeURL(const QString& name) {
    const qsizetype colon = name.indexOf(':');
    if (colon >= 0) {
        const QString protocol = ":" + name.left(colon) + ":";
        if (QString::fromLatin1(kKnownProtocols).contains(protocol)) return false;
    }
    return QString::fromLocal8Bit(name.toLocal8Bit()) != name;
}

std::string FileNameToURL(const QString& name) {
    if (NeedUnicodeURL(name)) return (QString::fromLatin1(kUnicodeURLPrefix) + name).toUtf8().toStdString();
    return name.toLocal8Bit().toStdString();
}

bool IsUnicodeURL(const std::string& text) {
    return text.size() >= 14 && text.compare(0, 13, kUnicodeURLPrefix) == 0;
}

QString URLToFileName(const std::string& text) {
    if (IsUnicodeURL(text)) return QString::fromUtf8(text.data() + 13, qsizetype(text.size() - 13));
    return QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
}

int UnicodeOpen(AVIOContext** pb, const std::string& url, int flags) {
    *pb = nullptr;
    const QByteArray path = URLToFileName(url).toUtf8();
    int oflags = O_RDONLY;
    if ((flags & AVIO_FLAG_READ_WRITE) == AVIO_FLAG_READ_WRITE)
        oflags = O_RDWR | O_CREAT | O_TRUNC;
    else if (flags & AVIO_FLAG_WRITE)
        oflags = O_WRONLY | O_CREAT | O_TRUNC;
    const int fd = ::open(path.constData(), oflags | O_CLOEXEC, 0666);
    if (fd < 0) return -2;
    auto* file = new TUnicodeFile{fd};
    auto* buffer = static_cast<unsigned char*>(gAVUtil.av_malloc(kIOBufferSize));
    AVIOContext* io = buffer ? gAVFormat.avio_alloc_context(buffer, kIOBufferSize,
                                                            (flags & AVIO_FLAG_WRITE) ? 1 : 0, file,
                                                            UnicodeRead, UnicodeWrite, UnicodeSeek)
                             : nullptr;
    if (!io) {
        gAVUtil.av_free(buffer);
        ::close(fd);
        delete file;
        return AVERROR(ENOMEM);
    }
    io->seekable = AVIO_SEEKABLE_NORMAL;
    {
        std::lock_guard<std::mutex> g(gIOLock);
        gIOContexts.insert(io);
    }
    *pb = io;
    return 0;
}

bool IsUnicodeIO(const AVIOContext* pb) {
    std::lock_guard<std::mutex> g(gIOLock);
    return pb && gIOContexts.count(pb) != 0;
}

int UnicodeClose(AVIOContext** pb) {
    AVIOContext* io = *pb;
    if (!io) return 0;
    {
        std::lock_guard<std::mutex> g(gIOLock);
        gIOContexts.erase(io);
    }
    if (io->write_flag) gAVFormat.avio_flush(io);
    auto* file = static_cast<TUnicodeFile*>(io->opaque);
    gAVUtil.av_freep(&io->buffer);
    gAVFormat.avio_context_free(pb);
    const int r = ::close(file->fd);
    delete file;
    return r;
}

int OpenInputURL(AVFormatContext** ctx, const std::string& url, const AVInputFormat* fmt,
                 AVDictionary** options) {
    if (!IsUnicodeURL(url)) return gAVFormat.avformat_open_input(ctx, url.c_str(), fmt, options);
    AVIOContext* pb = nullptr;
    const int r = UnicodeOpen(&pb, url, AVIO_FLAG_READ);
    if (r < 0) {
        gAVFormat.avformat_free_context(*ctx);
        *ctx = nullptr;
        return r;
    }
    if (!*ctx) *ctx = gAVFormat.avformat_alloc_context();
    if (!*ctx) {
        UnicodeClose(&pb);
        return AVERROR(ENOMEM);
    }
    (*ctx)->pb = pb;
    const int opened = gAVFormat.avformat_open_input(ctx, url.c_str(), fmt, options);
    if (opened < 0) UnicodeClose(&pb);  // the library freed the context, not our I/O
    return opened;
}

void CloseInputURL(AVFormatContext** ctx) {
    if (!*ctx) return;
    AVIOContext* pb = (*ctx)->pb;
    const bool ours = IsUnicodeIO(pb);
    gAVFormat.avformat_close_input(ctx);
    if (ours) UnicodeClose(&pb);
}

int OpenOutputIO(AVIOContext** pb, const std::string& url, int flags, AVDictionary** options) {
    if (IsUnicodeURL(url)) return UnicodeOpen(pb, url, flags);
    return gAVFormat.avio_open2(pb, url.c_str(), flags, nullptr, options);
}

int CloseOutputIO(AVIOContext** pb) {
    if (IsUnicodeIO(*pb)) return UnicodeClose(pb);
    return gAVFormat.avio_closep(pb);
}
