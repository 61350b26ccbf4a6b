#include "base/shared_library.h"

#include <gtest/gtest.h>

#include "playback/outputs/audio_libraries.h"

namespace pitchloom {
namespace {

TEST(SharedLibrary, FindsTheFunctionsOfALibraryAndNothingElse) {
    const SharedLibrary math("libm.so.6");
    ASSERT_TRUE(math.isOpen());
    double (*cosine)(double) = nullptr;
    ASSERT_TRUE(math.find("cos", cosine));
    EXPECT_EQ(cosine(0.0), 1.0);
    EXPECT_FALSE(math.find("no_such_function_here", cosine));
    EXPECT_EQ(cosine, nullptr);

    const SharedLibrary missing("libpitchloom-missing.so.9");
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(missing.symbol("cos"), nullptr);
}

TEST(SharedLibrary, TheAudioLibrariesLoadWhole) {
    // Each table is all there or not at all; a missing function would be a crash when called.
    const FluidSynthFunctions* fluid = fluidSynth();
    ASSERT_NE(fluid, nullptr);
    EXPECT_NE(fluid->fluid_synth_activate_octave_tuning, nullptr);
    ASSERT_NE(sndfile(), nullptr);
    EXPECT_NE(sndfile()->sf_open_fd, nullptr);
    ASSERT_NE(pulseSimple(), nullptr);
    // ALSA comes with FluidSynth; its error hook is how the synth keeps stderr quiet.
    EXPECT_NE(besideFluidSynth("snd_lib_error_set_handler"), nullptr);
}

}  // namespace
}  // namespace pitchloom
