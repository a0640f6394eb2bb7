// MIDI export: writes a composition — melody and accompaniment — as a Standard MIDI File.
//
// Layout: format 1 at the composition's division. Track 0 is the conductor track (tempo, time
// and key signatures, SMPTE offset, and the harmony comment as a text event). Then one track per
// channel that holds notes, in channel order, each named ("Melody", "Accompaniment", "Organ",
// "Bass", "Drums"), starting with the channel's program (not for drums) and volume from the
// channel settings, then the channel's stored events and its notes.
#pragma once

#include <string>

#include "engine/Apperr.h"

namespace varimel {

// Written as SafeWrite writes: a failed export leaves any previous file as it was, a FIFO or
// device is written into, "-" is standard output. Answers false with `error` set ("cannot write
// <file>: <reason>") when the file could not be written.
bool exportMidi(const Composition& composition, const ChannelSettings* channels,
                const std::string& fileName, std::string& error);

// The track name of a channel's notes in exported files.
const char* exportTrackName(int channel);

}  // namespace varimel
