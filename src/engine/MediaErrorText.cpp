#include "engine/MediaErrorText.h"

#include <cerrno>

#include "engine/MediaLibHeaders.h"
#include "platform/Format.h"

std::string MediaErrorText(int code) {
    // Codes of both library generations map to the same texts: the old one used errno
    // values where the new one has tags (end of file, invalid data, unknown format ...).
    switch (code) {
        case AVERROR(ENOENT): return "No such file or directory";
        case AVERROR(EIO): return "I/O error";
        case AVERROR(ENOMEM): return "Not enough memory";
        case AVERROR(EINVAL):
        case AVERROR_INVALIDDATA: return "Invalid data found when processing input";
        case AVERROR(EPIPE):
        case AVERROR_EOF: return "End of file";
        case AVERROR(EDOM): return "Number syntax expected in filename";
        case -42:  // the old generation's code for an unknown format
        case AVERROR(EILSEQ):
        case AVERROR_DEMUXER_NOT_FOUND:
        case AVERROR_MUXER_NOT_FOUND: return "Unknown format";
        case -10043:
        case AVERROR_PROTOCOL_NOT_FOUND: return "Unsupported network protocol";
        case AVERROR_PATCHWELCOME: return "Not yet implemented in FFmpeg";
        default: return Format("Error number %d occurred", code);
    }
}
