#include "engine/Presets.h"

#include <QFile>

#include <cstring>

#include "engine/MediaLogger.h"
#include "engine/TranscodeSettings.h"
#include "platform/Format.h"

using namespace OptText;

// The 36 libx264 presets of the older library generation under their file names, then the
// four presets of this system ("libx264-psp", "libx264-ps3", "libx264-ipod", "libx264-mp4")
// line by line. The text stays as written for that generation; ApplyPreset translates the
// lines whose option no longer exists (TranslatePresetOption).
const TOptionsPreset kBuiltinPresets[kBuiltinPresetCount] = {
    {"libx264-baseline",
     "coder=0\n"
     "bf=0\n"
     "flags2=-wpred-dct8x8\n"
     "wpredp=0"},
    {"libx264-default",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=hex\n"
     "subq=7\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=3\n"
     "directpred=1\n"
     "trellis=1\n"
     "flags2=+mixed_refs+wpred+dct8x8+fastpskip+mbtree\n"
     "wpredp=2"},
    {"libx264-fast",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=hex\n"
     "subq=6\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=2\n"
     "directpred=1\n"
     "trellis=1\n"
     "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
     "wpredp=2\n"
     "rc_lookahead=30"},
    {"libx264-fast_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
     "wpredp=2\n"
     "rc_lookahead=30"},
    {"libx264-faster",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=hex\n"
     "subq=4\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=2\n"
     "directpred=1\n"
     "trellis=1\n"
     "flags2=+bpyramid-mixed_refs+wpred+dct8x8+fastpskip\n"
     "wpredp=1\n"
     "rc_lookahead=20"},
    {"libx264-faster_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
     "wpredp=1\n"
     "rc_lookahead=20"},
    {"libx264-fastfirstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=1\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=3\n"
     "trellis=0\n"
     "flags2=+wpred-dct8x8+fastpskip\n"
     "wpredp=2"},
    {"libx264-hq",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=umh\n"
     "subq=8\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=4\n"
     "directpred=3\n"
     "trellis=1\n"
     "flags2=+wpred+mixed_refs+dct8x8+fastpskip\n"
     "wpredp=2"},
    {"libx264-ipod320",
     "coder=0\n"
     "bf=0\n"
     "flags2=-wpred-dct8x8\n"
     "level=13\n"
     "maxrate=768000\n"
     "bufsize=3000000\n"
     "wpredp=0"},
    {"libx264-ipod640",
     "coder=0\n"
     "bf=0\n"
     "flags2=-wpred-dct8x8\n"
     "level=30\n"
     "maxrate=10000000\n"
     "bufsize=10000000\n"
     "wpredp=0"},
    {"libx264-lossless_fast",
     "coder=0\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8\n"
     "me_method=hex\n"
     "subq=3\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "refs=2\n"
     "directpred=1\n"
     "flags2=+mixed_refs+fastpskip\n"
     "cqp=0"},
    {"libx264-lossless_max",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
     "me_method=esa\n"
     "subq=8\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "refs=16\n"
     "directpred=1\n"
     "flags2=+mixed_refs+dct8x8+fastpskip\n"
     "cqp=0"},
    {"libx264-lossless_medium",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
     "me_method=hex\n"
     "subq=5\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "refs=2\n"
     "directpred=1\n"
     "flags2=+mixed_refs+fastpskip\n"
     "cqp=0"},
    {"libx264-lossless_slow",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
     "me_method=umh\n"
     "subq=6\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "refs=3\n"
     "directpred=1\n"
     "flags2=+mixed_refs+dct8x8+fastpskip\n"
     "cqp=0"},
    {"libx264-lossless_slower",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
     "me_method=umh\n"
     "subq=8\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "refs=4\n"
     "directpred=1\n"
     "flags2=+mixed_refs+dct8x8+fastpskip\n"
     "cqp=0"},
    {"libx264-lossless_ultrafast",
     "coder=0\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8+parti4x4-partp8x8-partp4x4-partb8x8\n"
     "me_method=dia\n"
     "subq=0\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "directpred=1\n"
     "flags2=+fastpskip\n"
     "cqp=0"},
    {"libx264-main",
     "flags2=-dct8x8"},
    {"libx264-max",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8\n"
     "me_method=tesa\n"
     "subq=10\n"
     "me_range=24\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=16\n"
     "directpred=3\n"
     "trellis=2\n"
     "flags2=+wpred+mixed_refs+dct8x8-fastpskip\n"
     "wpredp=2"},
    {"libx264-medium",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=hex\n"
     "subq=7\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=3\n"
     "directpred=1\n"
     "trellis=1\n"
     "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
     "wpredp=2\n"
     "rc_lookahead=40"},
    {"libx264-medium_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
     "wpredp=2\n"
     "rc_lookahead=40"},
    {"libx264-normal",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=hex\n"
     "subq=6\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=2\n"
     "directpred=3\n"
     "trellis=0\n"
     "flags2=+wpred+dct8x8+fastpskip\n"
     "wpredp=2"},
    {"libx264-placebo",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8\n"
     "me_method=tesa\n"
     "subq=10\n"
     "me_range=24\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=16\n"
     "refs=16\n"
     "directpred=3\n"
     "trellis=2\n"
     "flags2=+bpyramid+mixed_refs+wpred+dct8x8-fastpskip\n"
     "wpredp=2\n"
     "rc_lookahead=60"},
    {"libx264-placebo_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=24\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=16\n"
     "refs=1\n"
     "directpred=3\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8-fastpskip\n"
     "wpredp=2\n"
     "rc_lookahead=60"},
    {"libx264-slow",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=umh\n"
     "subq=8\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=5\n"
     "directpred=3\n"
     "trellis=1\n"
     "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
     "wpredp=2\n"
     "rc_lookahead=50"},
    {"libx264-slow_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=3\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
     "wpredp=2\n"
     "rc_lookahead=50"},
    {"libx264-slower",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8\n"
     "me_method=umh\n"
     "subq=9\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=8\n"
     "directpred=3\n"
     "trellis=2\n"
     "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
     "wpredp=2\n"
     "rc_lookahead=60"},
    {"libx264-slower_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=3\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
     "wpredp=2\n"
     "rc_lookahead=60"},
    {"libx264-slowfirstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=3\n"
     "trellis=0\n"
     "flags2=+wpred-mixed_refs-dct8x8+fastpskip\n"
     "wpredp=2"},
    {"libx264-superfast",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=1\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree\n"
     "wpredp=0\n"
     "rc_lookahead=0"},
    {"libx264-superfast_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip-mbtree\n"
     "wpredp=0\n"
     "rc_lookahead=0"},
    {"libx264-ultrafast",
     "coder=0\n"
     "flags=-loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=0\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=0\n"
     "i_qfactor=0.71\n"
     "b_strategy=0\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=0\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=-bpyramid-mixed_refs-wpred-dct8x8+fastpskip-mbtree\n"
     "wpredp=0\n"
     "aq_mode=0\n"
     "rc_lookahead=0"},
    {"libx264-ultrafast_firstpass",
     "coder=0\n"
     "flags=-loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=0\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=0\n"
     "i_qfactor=0.71\n"
     "b_strategy=0\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=0\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=-bpyramid-mixed_refs-wpred-dct8x8+fastpskip-mbtree\n"
     "wpredp=0\n"
     "aq_mode=0\n"
     "rc_lookahead=0"},
    {"libx264-veryfast",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
     "me_method=hex\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred+dct8x8+fastpskip\n"
     "wpredp=0\n"
     "rc_lookahead=10"},
    {"libx264-veryfast_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
     "wpredp=0\n"
     "rc_lookahead=10"},
    {"libx264-veryslow",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8\n"
     "me_method=umh\n"
     "subq=10\n"
     "me_range=24\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=8\n"
     "refs=16\n"
     "directpred=3\n"
     "trellis=2\n"
     "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
     "wpredp=2\n"
     "rc_lookahead=60"},
    {"libx264-veryslow_firstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
     "me_method=dia\n"
     "subq=2\n"
     "me_range=24\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=8\n"
     "refs=1\n"
     "directpred=3\n"
     "trellis=0\n"
     "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
     "wpredp=2\n"
     "rc_lookahead=60"},
    {"libx264-psp",
     "coder=1\n"
     "flags=+loop\n"
     "level=30\n"
     "cmp=+chroma\n"
     "partitions=+parti4x4+parti8x8+partp8x8+partb8x8\n"
     "me_method=umh\n"
     "subq=7\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=2\n"
     "b=1250000\n"
     "maxrate=1500000\n"
     "bufsize=4000000\n"
     "bt=256000\n"
     "sc_threshold=40"},
    {"libx264-ps3",
     "coder=1\n"
     "flags=+loop\n"
     "level=30\n"
     "cmp=+chroma\n"
     "partitions=+parti4x4+parti8x8+partp8x8+partb8x8\n"
     "me_method=umh\n"
     "subq=7\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=2\n"
     "maxrate=3500000\n"
     "bufsize=4000000\n"
     "bt=256000\n"
     "sc_threshold=40"},
    {"libx264-ipod",
     "coder=0\n"
     "flags=+loop\n"
     "level=30\n"
     "cmp=+chroma\n"
     "partitions=+parti4x4+parti8x8+partp8x8\n"
     "me_method=umh\n"
     "subq=7\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=2\n"
     "b=1000000\n"
     "maxrate=1250000\n"
     "bufsize=4000000\n"
     "bt=256000\n"
     "sc_threshold=40"},
    {"libx264-mp4",
     "coder=1\n"
     "flags=+loop\n"
     "level=30\n"
     "cmp=+chroma\n"
     "partitions=+parti4x4+parti8x8+partp8x8+partb8x8\n"
     "me_method=umh\n"
     "subq=7\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "directpred=1\n"
     "trellis=2\n"
     "b=1250000\n"
     "maxrate=1500000\n"
     "bufsize=4000000\n"
     "bt=256000\n"
     "sc_threshold=40"},
};

const TOptionsPreset* FindBuiltinPreset(const std::string& name) {
    const std::string wanted = LowerCase(name);
    for (const TOptionsPreset& p : kBuiltinPresets)
        if (LowerCase(p.Name) == wanted) return &p;
    return nullptr;
}

// Translation of old libx264 preset lines to the options of the current wrapper.
//
//   old line                          current option(s)
//   flags2=+wpred / -wpred            weightb=1 / 0          (weighted B-frame prediction)
//   flags2=+dct8x8 / -dct8x8          8x8dct=1 / 0
//   flags2=+mixed_refs / -mixed_refs  mixed-refs=1 / 0
//   flags2=+fastpskip / -fastpskip    fast-pskip=1 / 0
//   flags2=+mbtree / -mbtree          mbtree=1 / 0
//   flags2=+bpyramid / -bpyramid      b-pyramid=normal / none
//   flags2=+psy / -psy                psy=1 / 0
//   flags2=+aud / -aud                aud=1 / 0
//   flags2=+ssim / -ssim              ssim=1 / 0
//   (flags2 flags that still exist stay in one flags2 line)
//   flags=-loop                       x264-params=no-deblock=1  (the wrapper no longer reads the
//                                                             loop-filter flag; other flags stay in flags)
//   directpred=N                      direct-pred=N          (0 none, 1 spatial, 2 temporal, 3 auto)
//   partitions=+parti4x4+partp8x8...  partitions=i4x4,p8x8   (the wrapper's list; none left: "none";
//                                                             parti8x8 i8x8, parti4x4 i4x4,
//                                                             partp8x8 p8x8, partp4x4 p4x4, partb8x8 b8x8)
//   rc_lookahead=N                    rc-lookahead=N
//   cqp=N                             qp=N                   (constant quantizer)
//   aq_mode=N                         aq-mode=N
//   aq_strength=X                     aq-strength=X
//   psy_rd=X:Y                        psy-rd=X:Y
//
// Accepted as they stand, so not translated: coder, b_strategy, sc_threshold, me_method,
// level and wpredp (private options of the wrapper with the old names), cmp=+chroma (the wrapper
// takes chroma motion estimation from it), flags=+loop (deblocking is the encoder's default),
// subq, me_range, trellis, refs, bf, g, keyint_min, i_qfactor, qcomp, qmin, qmax, qdiff, b,
// maxrate, bufsize, bt (generic codec options).
std::vector<std::pair<std::string, std::string>> TranslatePresetOption(const std::string& name,
                                                                        const std::string& value) {
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    const std::string n = LowerCase(name);
    if (n == "directpred") return Pairs{{"direct-pred", value}};
    if (n == "rc_lookahead") return Pairs{{"rc-lookahead", value}};
    if (n == "cqp") return Pairs{{"qp", value}};
    if (n == "aq_mode") return Pairs{{"aq-mode", value}};
    if (n == "aq_strength") return Pairs{{"aq-strength", value}};
    if (n == "psy_rd") return Pairs{{"psy-rd", value}};

    // Splits "+a-b+c" (a leading flag without sign counts as "+") into (sign, flag) parts.
    auto parts = [](const std::string& text) {
        std::vector<std::pair<char, std::string>> out;
        char sign = '+';
        std::string flag;
        for (char c : text) {
            if (c == '+' || c == '-') {
                if (!flag.empty()) out.emplace_back(sign, flag);
                flag.clear();
                sign = c;
            } else {
                flag += c;
            }
        }
        if (!flag.empty()) out.emplace_back(sign, flag);
        return out;
    };

    if (n == "partitions" && value.find("part") != std::string::npos) {
        std::string list;
        for (const auto& [sign, flag] : parts(value)) {
            if (sign != '+') continue;
            const std::string p = flag.rfind("part", 0) == 0 ? flag.substr(4) : flag;
            list += (list.empty() ? "" : ",") + p;
        }
        return Pairs{{"partitions", list.empty() ? "none" : list}};
    }
    if (n == "flags" && value.find("-loop") != std::string::npos) {
        Pairs out;
        std::string rest;
        for (const auto& [sign, flag] : parts(value)) {
            if (flag == "loop" && sign == '-')
                out.emplace_back("x264-params", "no-deblock=1");
            else
                rest += std::string(1, sign) + flag;
        }
        if (!rest.empty()) out.insert(out.begin(), {"flags", rest});
        return out;
    }
    if (n == "flags2") {
        static const std::pair<const char*, const char*> kFlagOptions[] = {
            {"wpred", "weightb"}, {"dct8x8", "8x8dct"}, {"mixed_refs", "mixed-refs"}, {"fastpskip", "fast-pskip"},
            {"mbtree", "mbtree"}, {"psy", "psy"},       {"aud", "aud"},               {"ssim", "ssim"},
        };
        Pairs out;
        std::string rest;
        for (const auto& [sign, flag] : parts(value)) {
            const bool on = sign == '+';
            bool mapped = false;
            if (flag == "bpyramid") {
                out.emplace_back("b-pyramid", on ? "normal" : "none");
                mapped = true;
            }
            for (const auto& [oldFlag, option] : kFlagOptions)
                if (flag == oldFlag) {
                    out.emplace_back(option, on ? "1" : "0");
                    mapped = true;
                }
            if (!mapped) rest += std::string(1, sign) + flag;
        }
        if (!rest.empty()) out.insert(out.begin(), {"flags2", rest});
        return out;
    }
    return Pairs{{name, value}};
}

namespace {

std::string NormaliseLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

void TTranscodeSettings::ApplyPreset(const std::string& kind, const std::string& name) {
    if (kind.empty() || name.empty()) return;
    std::string text;
    bool found = false;
    if (kind != "fpre") {
        const TOptionsPreset* p = FindBuiltinPreset(name);
        if (!p) {
            std::string codec;
            if (kind == "vpre" && !VideoCodecName.empty()) codec = VideoCodecName;
            else if (kind == "apre" && !AudioCodecName.empty()) codec = AudioCodecName;
            else if (!SubtitleCodecName.empty()) codec = SubtitleCodecName;
            if (!codec.empty()) p = FindBuiltinPreset(codec + "-" + name);
        }
        if (p) {
            text = p->Options;
            found = true;
        }
    }
    if (!found) {
        QFile file(QString::fromStdString(name));
        if (!file.exists() || !file.open(QIODevice::ReadOnly))
            throw ConvertException(Format("Preset \"%s\" not found", name.c_str()));
        text = file.readAll().toStdString();
    }

    const std::string all = NormaliseLineBreaks(Trim(text));
    size_t pos = 0;
    while (pos <= all.size()) {
        size_t end = all.find('\n', pos);
        if (end == std::string::npos) end = all.size();
        const std::string line = Trim(all.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty()) continue;
        const size_t eq = line.find('=');
        const std::string key = eq == std::string::npos ? line : Trim(line.substr(0, eq));
        const std::string value = eq == std::string::npos ? std::string() : Trim(line.substr(eq + 1));
        if (key.empty() || value.empty())
            throw ConvertException(Format("%s: Invalid syntax: \"%s\"", name.c_str(), line.c_str()));
        const std::string lower = LowerCase(key);
        if (lower == "acodec") {
            SetAudioCodec(value);
        } else if (lower == "vcodec") {
            SetVideoCodec(value);
        } else if (lower == "scodec") {
            SetSubtitleCodec(value);
        } else {
            // Old preset lines are translated only for the libx264 wrapper they were written for.
            const AVCodecContext* video = CodecHolder(AVMEDIA_TYPE_VIDEO);
            const bool x264 = video && video->codec && std::strcmp(video->codec->name, "libx264") == 0;
            const auto options = x264 ? TranslatePresetOption(key, value)
                                      : std::vector<std::pair<std::string, std::string>>{{key, value}};
            for (const auto& [option, arg] : options)
                if (!SetCodecOption(option, arg))
                    throw ConvertException(Format("%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                                                  name.c_str(), line.c_str(), option.c_str(), arg.c_str()));
        }
    }
}
