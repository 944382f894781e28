#pragma once
// Built-in option presets and the translation of libx264 preset lines written for an older
// generation of the media library into the options its libx264 wrapper has now.

#include <string>
#include <utility>
#include <vector>

struct TOptionsPreset {
    const char* Name;
    const char* Options;  // lines of name=value
};

inline constexpr int kBuiltinPresetCount = 40;
extern const TOptionsPreset kBuiltinPresets[kBuiltinPresetCount];

// The built-in preset of that name (case-insensitive), or nullptr.
const TOptionsPreset* FindBuiltinPreset(const std::string& name);

// One preset line (name, value) in the options of the current libx264 wrapper. Lines that
// need no translation come back unchanged as the only pair. ApplyPreset uses it while the
// video codec is libx264.
std::vector<std::pair<std::string, std::string>> TranslatePresetOption(const std::string& name,
                                                                        const std::string& value);
