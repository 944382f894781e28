#pragma once
// Process-wide tables of media-library entry points. Each library has one table whose
// members are named exactly as the exported symbols and typed from the installed headers.
// The rest of the program calls the media libraries only through these tables, after the
// library loader has filled them (see MediaLibLoader.h):
//     gAVFormat.avformat_open_input(&ctx, url.c_str(), nullptr, nullptr);

#include "engine/MediaLibHeaders.h"

#define KELTO_FUNCTION(name) decltype(&::name) name = nullptr;

struct TAVCodecTable {
#include "engine/libfuncs/avcodec.inc"
};
struct TAVDeviceTable {
#include "engine/libfuncs/avdevice.inc"
};
struct TAVFilterTable {
#include "engine/libfuncs/avfilter.inc"
};
struct TAVFormatTable {
#include "engine/libfuncs/avformat.inc"
};
struct TAVUtilTable {
#include "engine/libfuncs/avutil.inc"
};
struct TSwScaleTable {
#include "engine/libfuncs/swscale.inc"
};
struct TSwResampleTable {
#include "engine/libfuncs/swresample.inc"
};
struct TSDLTable {
#include "engine/libfuncs/sdl.inc"
};

#undef KELTO_FUNCTION

extern TAVCodecTable gAVCodec;
extern TAVDeviceTable gAVDevice;
extern TAVFilterTable gAVFilter;
extern TAVFormatTable gAVFormat;
extern TAVUtilTable gAVUtil;
extern TSwScaleTable gSwScale;
extern TSwResampleTable gSwResample;
extern TSDLTable gSDL;
