#pragma once

#include <fluidsynth.h>
#include <pulse/simple.h>
#include <sndfile.h>

namespace pitchloom {

// The functions of the synthesizer, sound server and sound file libraries that the program calls.
// They are looked up the first time one is needed: a conversion never needs them, and starts
// without the sixty-odd libraries they bring along.
// clang-format off
#define PITCHLOOM_FLUIDSYNTH_FUNCTIONS(X)                                                          \
    X(fluid_set_log_function) X(new_fluid_settings) X(delete_fluid_settings)                       \
    X(fluid_settings_setint) X(fluid_settings_setnum) X(fluid_settings_setstr)                     \
    X(fluid_settings_getnum) X(new_fluid_synth) X(delete_fluid_synth) X(fluid_synth_sfload)        \
    X(new_fluid_audio_driver) X(delete_fluid_audio_driver) X(fluid_synth_write_float)              \
    X(fluid_synth_noteon) X(fluid_synth_noteoff) X(fluid_synth_key_pressure) X(fluid_synth_cc)     \
    X(fluid_synth_program_change) X(fluid_synth_channel_pressure) X(fluid_synth_pitch_bend)        \
    X(fluid_synth_all_notes_off) X(fluid_synth_sysex) X(fluid_synth_activate_octave_tuning)        \
    X(fluid_synth_activate_tuning) X(fluid_synth_deactivate_tuning)                                \
    X(fluid_synth_set_channel_type) X(fluid_synth_get_program) X(fluid_synth_bank_select)

#define PITCHLOOM_SNDFILE_FUNCTIONS(X)                                                             \
    X(sf_format_check) X(sf_open_fd) X(sf_command) X(sf_writef_float) X(sf_close) X(sf_strerror)
// clang-format on

#define PITCHLOOM_PULSE_SIMPLE_FUNCTIONS(X) X(pa_simple_new) X(pa_simple_write) X(pa_simple_free)

#define PITCHLOOM_FUNCTION_POINTER(name) decltype(&::name) name = nullptr;

struct FluidSynthFunctions {
    PITCHLOOM_FLUIDSYNTH_FUNCTIONS(PITCHLOOM_FUNCTION_POINTER)
};

struct SndfileFunctions {
    PITCHLOOM_SNDFILE_FUNCTIONS(PITCHLOOM_FUNCTION_POINTER)
};

struct PulseSimpleFunctions {
    PITCHLOOM_PULSE_SIMPLE_FUNCTIONS(PITCHLOOM_FUNCTION_POINTER)
};

#undef PITCHLOOM_FUNCTION_POINTER

/// FluidSynth's functions, loaded on the first call; nothing when the library or one of them is
/// missing.
const FluidSynthFunctions* fluidSynth();
/// libsndfile's functions, in the same way.
const SndfileFunctions* sndfile();
/// The sound server's simple playback functions, in the same way.
const PulseSimpleFunctions* pulseSimple();
/// A function of a library that FluidSynth brings along (ALSA's, say); nothing when there is
/// none.
void* besideFluidSynth(const char* name);

}  // namespace pitchloom
