#include "engine/OptionParser.h"

#include <cmath>
#include <ctime>

#include "platform/Format.h"

using namespace OptText;

namespace {

std::string ReplaceAll(std::string s, const std::string& what, const std::string& with) {
    for (size_t pos = s.find(what); pos != std::string::npos; pos = s.find(what, pos + with.size()))
        s.replace(pos, what.size(), with);
    return s;
}

bool OneOf(const std::string& s, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (s == n) return true;
    return false;
}

std::string& ValueOf(TNameValueList& list, const std::string& key) {
    for (auto& [k, v] : list)
        if (k == key) return v;
    list.emplace_back(key, std::string());
    return list.back().second;
}

long LocalOffsetSeconds(std::time_t at) {
    std::tm tm{};
    localtime_r(&at, &tm);
    return tm.tm_gmtoff;
}

}  // namespace

TNameValueList SplitOptionText(const std::string& text) {
    std::string t = Trim(text);
    t = ReplaceAll(t, "\r\n", "\n");
    t = ReplaceAll(t, "\r", "\n");
    t = ReplaceAll(t, "<CRLF>", "\n");
    TNameValueList out;
    size_t pos = 0;
    while (pos <= t.size()) {
        size_t end = t.find('\n', pos);
        if (end == std::string::npos) end = t.size();
        const std::string line = t.substr(pos, end - pos);
        pos = end + 1;
        if (Trim(line).empty()) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            out.emplace_back(LowerCase(Trim(line)), std::string());
        else
            out.emplace_back(LowerCase(Trim(line.substr(0, eq))), Trim(line.substr(eq + 1)));
    }
    return out;
}

void ApplyExtOptions(TTranscodeSettings& settings, const std::string& text, bool inputSide) {
    for (const auto& [name, value] : SplitOptionText(text)) {
        if (OneOf(name, {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf"})) continue;
        if (OneOf(name, {"acodec", "vcodec", "scodec", "s"}) && !inputSide) continue;
        settings.ParseOption(name, value);
    }
}

void BuildStreamDefaults(TNameValueList& list, const TOutputOptions& options) {
    list.clear();
    list.emplace_back("def_acodec", options.AudioCodec);
    list.emplace_back("def_vcodec", options.VideoCodec);
    list.emplace_back("def_scodec", options.SubtitleCodec);
    list.emplace_back("def_apre", options.AudioPreset);
    list.emplace_back("def_vpre", options.VideoPreset);
    list.emplace_back("def_spre", options.SubtitlePreset);
    list.emplace_back("def_s", options.FrameSize);
    list.emplace_back("def_vf", options.VideoFilters);
    for (auto [name, value] : SplitOptionText(options.ExtOptions)) {
        if (!OneOf(name, {"acodec", "vcodec", "scodec", "apre", "vpre", "spre", "s", "vfilters", "vf"})) continue;
        if (value.empty()) continue;
        if (name == "vfilters") name = "vf";
        std::string& def = ValueOf(list, "def_" + name);
        if (def.empty()) def = value;
        list.emplace_back(name, value);
    }
}

void ApplyNewStreamOptions(TTranscodeSettings& settings, const std::string& text, TNameValueList& list) {
    auto take = [&](const std::string& name) {
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (it->first != name) continue;
            const std::string value = it->second;
            list.erase(it);
            settings.ParseOption(name, value);
            return;
        }
        // No pending value of its own: the output's default, when there is one.
        const std::string def = ValueOf(list, "def_" + name);
        if (!def.empty()) settings.ParseOption(name, def);
    };
    for (const auto& [name, value] : SplitOptionText(text)) {
        if (name == "newaudio") {
            take("acodec");
            take("apre");
        } else if (name == "newvideo") {
            take("vcodec");
            take("vpre");
            take("s");
            take("vf");
        } else if (name == "newsubtitle") {
            take("scodec");
            take("spre");
        } else {
            continue;
        }
        settings.ParseOption(name, value);
    }
}

bool ApplyInputOptions(TTranscodeSettings& settings, const TInputOptions& options, std::string& error) {
    try {
        ApplyExtOptions(settings, options.ExtOptions, true);
        if (!options.FileFormat.empty()) settings.FileFormatName = options.FileFormat;
        if (options.StartTime != kNoTimestamp) settings.StartTime = options.StartTime;
        if (options.ProgramID >= 0) settings.ProgramId = options.ProgramID;
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

int64_t LocalDateTimeToUnix(double dateTime) {
    const double approx = (dateTime - 25569.0) * 86400.0;
    const double offsetDays = double(LocalOffsetSeconds(std::time_t(approx))) / 86400.0;
    return std::llround((dateTime - 25569.0 - offsetDays) * 86400.0);
}

bool ApplyOutputOptions(TTranscodeSettings& s, const TOutputOptions& o, TNameValueList& defaults,
                        std::string& error) {
    try {
        // 1. defaults of the streams of this output
        BuildStreamDefaults(defaults, o);
        // 2. target preset
        if (o.Target >= 1 && o.Target <= 3) {
            static const char* const kTargets[] = {"vcd", "svcd", "dvd"};
            const char* norm = o.TVStandard == 1 ? "pal" : o.TVStandard == 2 ? "ntsc" : "auto";
            s.ApplyTarget(kTargets[o.Target - 1], norm, o.DefaultTVStandard == 1 ? "pal" : "ntsc");
        }
        // 3. codecs and presets
        s.SetAudioCodec(ValueOf(defaults, "def_acodec"));
        s.SetVideoCodec(ValueOf(defaults, "def_vcodec"));
        s.SetSubtitleCodec(ValueOf(defaults, "def_scodec"));
        s.ApplyPreset("apre", ValueOf(defaults, "def_apre"));
        s.ApplyPreset("vpre", ValueOf(defaults, "def_vpre"));
        s.ApplyPreset("spre", ValueOf(defaults, "def_spre"));
        // 4. extra options; the record's fields below override them
        ApplyExtOptions(s, o.ExtOptions, false);
        // 5. the record's fields
        if (!o.FileFormat.empty()) s.ParseOption("f", o.FileFormat);
        if (o.PacketSize > 0) s.SetCodecOption("packetsize", std::to_string(o.PacketSize));
        if (o.MuxRate > 0) s.SetCodecOption("muxrate", std::to_string(o.MuxRate));
        if (o.MuxDelay > 0) s.MuxMaxDelay = o.MuxDelay;
        if (o.MuxPreload > 0) s.MuxPreload = o.MuxPreload;
        if (o.DisableAudio) s.AudioDisable = true;
        if (o.AudioVolume >= 0) s.AudioVolume = o.AudioVolume;
        if (o.AudioChannels > 0) s.AudioChannels = o.AudioChannels;
        if (o.AudioSampleRate > 0) s.AudioSampleRate = o.AudioSampleRate;
        if (o.AudioBitrate > 0) s.SetCodecOption("ab", std::to_string(o.AudioBitrate));
        if (o.AudioBitrateTolerance > 0) s.SetCodecOption("abt", std::to_string(o.AudioBitrateTolerance));
        s.AudioLanguage = o.AudioLanguage;
        s.AudioSyncMethod = o.AudioSyncMethod;
        if (!o.AudioTag.empty()) s.ParseOption("atag", o.AudioTag);
        if (o.DisableVideo) s.VideoDisable = true;
        if (!o.FrameRate.empty()) s.ParseOption("r", o.FrameRate);
        if (!o.FrameAspectRatio.empty()) s.ParseOption("aspect", o.FrameAspectRatio);
        if (o.CropTop > 0) s.ParseOption("croptop", std::to_string(o.CropTop));
        if (o.CropBottom > 0) s.ParseOption("cropbottom", std::to_string(o.CropBottom));
        if (o.CropLeft > 0) s.ParseOption("cropleft", std::to_string(o.CropLeft));
        if (o.CropRight > 0) s.ParseOption("cropright", std::to_string(o.CropRight));
        if (o.GroupPictureSize > 0) s.SetCodecOption("g", std::to_string(o.GroupPictureSize));
        if (o.VideoBitrate > 0) s.SetCodecOption("vb", std::to_string(o.VideoBitrate));
        if (o.VideoMaxRate > 0) s.SetCodecOption("maxrate", std::to_string(o.VideoMaxRate));
        if (o.VideoMinRate > 0) s.SetCodecOption("minrate", std::to_string(o.VideoMinRate));
        if (o.VideoBitrateTolerance > 0) s.SetCodecOption("bt", std::to_string(o.VideoBitrateTolerance));
        if (o.VideoBufSize > 0) s.SetCodecOption("bufsize", std::to_string(o.VideoBufSize));
        s.VideoSyncMethod = o.VideoSyncMethod;
        if (!o.VideoTag.empty()) s.ParseOption("vtag", o.VideoTag);
        s.VideoLanguage = o.VideoLanguage;
        if (o.DisableSubtitle) s.SubtitleDisable = true;
        s.SubtitleLanguage = o.SubtitleLanguage;
        s.InputSync = o.InputSync;
        if (o.CopyTimestamps) s.CopyTs = true;
        if (o.StartTime != kNoTimestamp) s.StartTime = o.StartTime;
        if (o.Duration != kNoTimestamp) {
            s.RecordingTime = o.Duration;
            if (s.OnRecordingTime) s.OnRecordingTime(s.RecordingTime);
        }
        if (o.Info.Timestamp == 0)
            s.RecordingTimestamp = int64_t(std::time(nullptr));
        else if (o.Info.Timestamp > 0)
            s.RecordingTimestamp = LocalDateTimeToUnix(o.Info.Timestamp);
        if (o.Info.Year > 0) s.Metadata.emplace_back("year", std::to_string(o.Info.Year));
        if (o.Info.Track > 0) s.Metadata.emplace_back("track", std::to_string(o.Info.Track));
        const std::pair<const char*, const std::string*> tags[] = {
            {"title", &o.Info.Title},     {"author", &o.Info.Author}, {"copyright", &o.Info.Copyright},
            {"comment", &o.Info.Comment}, {"album", &o.Info.Album},   {"genre", &o.Info.Genre}};
        for (const auto& [key, value] : tags)
            if (!value->empty()) s.Metadata.emplace_back(key, *value);
        // 6. frame size and filters of the first video stream
        const std::string size = ValueOf(defaults, "def_s");
        if (!size.empty()) s.ParseOption("s", size);
        const std::string vf = ValueOf(defaults, "def_vf");
        if (!vf.empty()) s.ParseOption("vf", vf);
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}
