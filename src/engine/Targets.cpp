#include "engine/Targets.h"

#include <cmath>

#include "engine/MediaLogger.h"
#include "engine/TranscodeSettings.h"

using namespace OptText;

namespace {

// PAL for 25 frames/s, NTSC for 23.976 and 29.97; -1 otherwise.
int NormOfRate(double rate) {
    const long r = std::lround(rate * 1000.0);
    if (r == 25000) return tnPAL;
    if (r == 23976 || r == 29970) return tnNTSC;
    return -1;
}

}  // namespace

void TTranscodeSettings::ParseTarget(const std::string& text) {
    std::string rest = Trim(text);
    std::string norm = "auto";
    for (const char* prefix : {"pal-", "ntsc-", "film-"}) {
        const std::string p = prefix;
        if (rest.compare(0, p.size(), p) == 0) {
            norm = p.substr(0, p.size() - 1);
            rest = rest.substr(p.size());
            break;
        }
    }
    ApplyTarget(rest, norm, "ntsc");
}

void TTranscodeSettings::SetTarget(const char* name, const std::string& value) { SetCodecOption(name, value); }

void TTranscodeSettings::ApplyTarget(const std::string& target, const std::string& norm,
                                     const std::string& defaultNorm) {
    int n;
    if (norm == "pal") {
        n = tnPAL;
    } else if (norm == "ntsc") {
        n = tnNTSC;
    } else if (norm == "film") {
        n = tnFILM;
    } else {
        if (FrameRate.den == 0) throw ConvertException("frame_rate is invalid.");
        n = NormOfRate(double(FrameRate.num) / double(FrameRate.den));
        if (n < 0 && OnInputVideoTimeBases) {
            for (const AVRational& tb : OnInputVideoTimeBases()) {
                if (tb.num == 0) continue;
                n = NormOfRate(double(tb.den) / double(tb.num));
                if (n >= 0) break;
            }
        }
        if (n < 0) n = defaultNorm == "film" ? tnFILM : defaultNorm == "ntsc" ? tnNTSC : tnPAL;
        if (Verbose > 0)
            MediaLogger().Log(this, llVerbose,
                              std::string("Assuming ") + (n == tnPAL ? "PAL" : "NTSC") + " for target.");
    }
    const bool pal = n == tnPAL;
    const std::string rate = kTargetFrameRates[n];

    if (target == "vcd") {
        SetVideoCodec("mpeg1video");
        SetAudioCodec("mp2");
        ParseOption("f", "vcd");
        ParseOption("s", pal ? "352x288" : "352x240");
        ParseOption("r", rate);
        SetTarget("g", pal ? "15" : "18");
        SetTarget("b", "1150000");
        SetTarget("maxrate", "1150000");
        SetTarget("minrate", "1150000");
        SetTarget("bufsize", "327680");  // 40 * 1024 * 8
        SetTarget("ab", "224000");
        SetTarget("packetsize", "2324");
        SetTarget("muxrate", "1411200");  // 2352 * 75 * 8
        AudioSampleRate = 44100;
        AudioChannels = 2;
        MuxPreload = 0.44f;
        if (FrameAspectRatio == 0) {
            MediaLogger().Log(this, llInfo, "Assuming 4:3 for aspect ratio");
            ParseOption("aspect", "4:3");
        }
    } else if (target == "svcd") {
        SetVideoCodec("mpeg2video");
        SetAudioCodec("mp2");
        ParseOption("f", "svcd");
        ParseOption("s", pal ? "480x576" : "480x480");
        ParseOption("r", rate);
        SetTarget("g", pal ? "15" : "18");
        SetTarget("b", "2040000");
        SetTarget("maxrate", "2516000");
        SetTarget("minrate", "0");
        SetTarget("bufsize", "1835008");  // 224 * 1024 * 8
        // The scan-offset flag of the older generation is the encoder's own option now.
        SetTarget("scan_offset", "1");
        SetTarget("ab", "224000");
        SetTarget("packetsize", "2324");
        AudioSampleRate = 44100;
        if (AudioChannels == 1) AudioChannels = 2;
        if (FrameAspectRatio == 0) {
            MediaLogger().Log(this, llInfo, "Assuming 4:3 for aspect ratio");
            ParseOption("aspect", "4:3");
        }
    } else if (target == "dvd") {
        SetVideoCodec("mpeg2video");
        SetAudioCodec("ac3");
        ParseOption("f", "dvd");
        ParseOption("s", pal ? "720x576" : "720x480");
        ParseOption("r", rate);
        SetTarget("g", pal ? "15" : "18");
        SetTarget("b", "6000000");
        SetTarget("maxrate", "9000000");
        SetTarget("minrate", "0");
        SetTarget("bufsize", "1835008");
        SetTarget("packetsize", "2048");  // from the DVD specification
        SetTarget("muxrate", "10080000");  // 10080000 bits/s
        SetTarget("ab", "448000");
        AudioSampleRate = 48000;
        if (AudioChannels == 1) AudioChannels = 2;
        if (FrameAspectRatio == 0) {
            MediaLogger().Log(this, llInfo, "Assuming 16:9 for aspect ratio");
            ParseOption("aspect", "16:9");
        }
    } else if (target == "dv" || target == "dv50") {
        ParseOption("f", "dv");
        ParseOption("s", pal ? "720x576" : "720x480");
        ParseOption("r", rate);
        ParseOption("pix_fmt", target == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
        AudioSampleRate = 48000;
        AudioChannels = 2;
    } else {
        throw ConvertException("Unknown target type");
    }
}
