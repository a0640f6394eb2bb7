// SoundFont: which General MIDI sound font the built-in synthesiser loads — the one named in the
// settings, else the first of the system's usual ones that exists.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "settings/RegSetup.h"  // kSoundFontValueName

namespace varimel {

// Where Debian's General MIDI sound font packages put their files, best first.
std::vector<std::string> systemSoundFonts();

// The sound font named in the settings, when that file exists; empty otherwise (also when the
// settings cannot be read).
std::string configuredSoundFont();

// `preferred` when it names a file, else the configured one, else the first system sound font
// that exists; empty when there is none.
std::string findSoundFont(const std::string& preferred = {});

}  // namespace varimel
