#pragma once

#include <cstddef>
#include <span>

namespace pitchloom::test {

/// The program pitches are measured on: Drawbar Organ in General MIDI, the steady sine of the
/// tests' SoundFont (support/sine_soundfont.h).
inline constexpr int kOrgan = 16;

/// Cents from referenceHz up to hz (negative when hz is lower).
double cents(double hz, double referenceHz);

/// hz raised by the given cents.
double raisedBy(double hz, double cents);

/// Equal-tempered frequency of a MIDI note at A4 = 440 Hz.
double noteHz(int note);

/// The strongest partial within two semitones of nominalHz in the samples (mono, at
/// sampleRate), to a hundredth of a cent. A Hann window keeps other partials from leaking in.
double fundamentalHz(std::span<const float> samples, double sampleRate, double nominalHz);

}  // namespace pitchloom::test
