#include "playback/outputs/audio_libraries.h"

#include "base/shared_library.h"

// The file names the libraries are loaded by come from the build: those of the libraries whose
// headers it compiled against.
#if !defined(PITCHLOOM_FLUIDSYNTH_LIBRARY) || !defined(PITCHLOOM_SNDFILE_LIBRARY) || \
    !defined(PITCHLOOM_PULSE_SIMPLE_LIBRARY)
#error "the build names no file for an audio library"
#endif

namespace pitchloom {
namespace {

// A library and its functions, all of them found or none used.
template <typename Functions>
class LoadedLibrary {
public:
    template <typename FindAll>
    LoadedLibrary(const char* name, FindAll findAll) : library_(name) {
        complete_ = library_.isOpen() && findAll(library_, functions_);
    }

    const Functions* functions() const { return complete_ ? &functions_ : nullptr; }
    const SharedLibrary& library() const { return library_; }

private:
    SharedLibrary library_;
    Functions functions_;
    bool complete_ = false;
};

#define PITCHLOOM_FIND(name) &&library.find(#name, functions.name)

const LoadedLibrary<FluidSynthFunctions>& fluidSynthLibrary() {
    static const LoadedLibrary<FluidSynthFunctions> loaded(
        PITCHLOOM_FLUIDSYNTH_LIBRARY,
        [](const SharedLibrary& library, FluidSynthFunctions& functions) {
            return true PITCHLOOM_FLUIDSYNTH_FUNCTIONS(PITCHLOOM_FIND);
        });
    return loaded;
}

}  // namespace

const FluidSynthFunctions* fluidSynth() {
    return fluidSynthLibrary().functions();
}

const SndfileFunctions* sndfile() {
    static const LoadedLibrary<SndfileFunctions> loaded(
        PITCHLOOM_SNDFILE_LIBRARY, [](const SharedLibrary& library, SndfileFunctions& functions) {
            return true PITCHLOOM_SNDFILE_FUNCTIONS(PITCHLOOM_FIND);
        });
    return loaded.functions();
}

const PulseSimpleFunctions* pulseSimple() {
    static const LoadedLibrary<PulseSimpleFunctions> loaded(
        PITCHLOOM_PULSE_SIMPLE_LIBRARY,
        [](const SharedLibrary& library, PulseSimpleFunctions& functions) {
            return true PITCHLOOM_PULSE_SIMPLE_FUNCTIONS(PITCHLOOM_FIND);
        });
    return loaded.functions();
}

void* besideFluidSynth(const char* name) {
    return fluidSynthLibrary().library().symbol(name);
}

#undef PITCHLOOM_FIND

}  // namespace pitchloom
