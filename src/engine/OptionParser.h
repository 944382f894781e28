#pragma once
// How the option records of an input and an output become transcoding settings: the text
// format of ExtOptions, the per-stream defaults of an output, and the order in which the
// record fields, targets, presets and extra options are applied.
//
// The conversion task calls, for an input:
//     ApplyInputOptions(settings, inputOptions, error)          then opens the input;
// for an output:
//     TNameValueList defaults;
//     ApplyOutputOptions(settings, outputOptions, defaults, error)   then opens the output
//     (the task itself takes over CustomHook and Join), and once it is open:
//     ApplyNewStreamOptions(settings, outputOptions.ExtOptions, defaults)  (throws on failure).

#include <string>
#include <utility>
#include <vector>

#include "engine/EngineOptions.h"
#include "engine/TranscodeSettings.h"

// Lines of an option text as (name in lower case, value): the text is trimmed, line breaks
// become line feeds, every "<CRLF>" is a line feed too; each line is split at its first "="
// (no "=": the whole line is the name, the value empty); blank lines are skipped.
TNameValueList SplitOptionText(const std::string& text);

// Applies ExtOptions to the settings. Skipped: "newvideo", "newaudio", "newsubtitle", "apre",
// "vpre", "spre", "vfilters", "vf"; "acodec", "vcodec", "scodec" and "s" count only on the
// input side (decoders and input frame size there). Throws on a bad option.
void ApplyExtOptions(TTranscodeSettings& settings, const std::string& text, bool inputSide);

// Fills the list with "def_acodec", "def_vcodec", "def_scodec", "def_apre", "def_vpre",
// "def_spre", "def_s", "def_vf" from the record (ExtOptions lines fill the empty ones) and
// appends every codec, preset, size and filter line of ExtOptions as a pending per-stream value.
void BuildStreamDefaults(TNameValueList& list, const TOutputOptions& options);

// For each "newaudio", "newvideo", "newsubtitle" line of the text: applies the stream's codec,
// preset (and size and filters for video) from the pending values or the defaults, then adds
// the stream (TTranscodeSettings::OnNewStream). Throws on failure.
void ApplyNewStreamOptions(TTranscodeSettings& settings, const std::string& text, TNameValueList& list);

// Input side, after the task's reset: ExtOptions, forced format, start time, program id.
// False with the message in error when an option fails.
bool ApplyInputOptions(TTranscodeSettings& settings, const TInputOptions& options, std::string& error);

// Output side: stream defaults, target, codecs and presets, ExtOptions, the record's fields,
// frame size and filters (see the order in the implementation). False with the message in error.
bool ApplyOutputOptions(TTranscodeSettings& settings, const TOutputOptions& options, TNameValueList& streamDefaults,
                        std::string& error);

// Seconds since 1 Jan 1970 of a local date-time (days since 30 Dec 1899).
int64_t LocalDateTimeToUnix(double dateTime);
