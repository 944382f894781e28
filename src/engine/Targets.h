#pragma once
// Target presets ("vcd", "svcd", "dvd", "dv", "dv50") with their television norms.
// ApplyTarget and ParseTarget are members of TTranscodeSettings (TranscodeSettings.h).

// Frame rates of the norms, indexed by TTargetNorm.
enum TTargetNorm { tnPAL = 0, tnNTSC = 1, tnFILM = 2 };
inline constexpr const char* kTargetFrameRates[3] = {"25", "30000/1001", "24000/1001"};
