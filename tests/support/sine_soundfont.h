#pragma once

#include <string>

#include "support/midi_builder.h"

namespace pitchloom::test {

/// A SoundFont 2.01 file whose every sound is one looped sine sample, A4 at exactly 440 Hz:
/// pitches measured through it are the synthesizer's alone, whatever SoundFont the system has.
/// Presets: program 0 and kOrgan (16) of bank 0 play the sine at the key's pitch; the drum kit
/// (bank 128, program 0) plays it a fifth higher, so that a drum note sounds unlike a melodic
/// one. Every note holds while its key is down and dies away within a quarter of a second.
Bytes sineSoundFontBytes();

/// The path of sineSoundFontBytes() as a file, written once per process under the test temp
/// folder.
const std::string& sineSoundFont();

/// The first half of that file, as a download cut short leaves it: FluidSynth refuses it.
const std::string& damagedSoundFont();

}  // namespace pitchloom::test
