#include "playback/outputs/synth_output.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <thread>
#include <vector>

#include "support/midi_builder.h"
#include "support/pitch.h"
#include "support/sine_soundfont.h"
#include "synth_messages.h"

namespace pitchloom {
namespace {

using test::cents;
using test::fundamentalHz;
using test::raisedBy;
using test::SysEx;

constexpr int kA4 = 69;
constexpr double kA4Hz = 440.0;

TEST(PitchEstimate, FindsTheFundamentalOfAHarmonicToneWithin0_05Cent) {
    constexpr double rate = 44100.0;
    for (double hz : {kA4Hz, raisedBy(kA4Hz, 50.0), raisedBy(kA4Hz, -37.0)}) {
        std::vector<float> tone(13230);
        for (std::size_t i = 0; i < tone.size(); ++i) {
            const double t = static_cast<double>(i) / rate;
            double v = 0.0;
            for (int h = 1; h <= 6; ++h) {
                v += std::sin(2.0 * std::numbers::pi * h * hz * t + h) / (h + 1);
            }
            tone[i] = static_cast<float>(v);
        }
        EXPECT_NEAR(cents(fundamentalHz(tone, rate, kA4Hz), hz), 0.0, 0.05) << hz;
    }
}

void sendShort(SynthOutput& synth, std::initializer_list<std::uint8_t> bytes) {
    synth.sendShort(std::span<const std::uint8_t>(bytes.begin(), bytes.size()));
}

// Mono samples of the next seconds of output.
std::vector<float> render(SynthOutput& synth, double seconds) {
    const auto frames = static_cast<std::size_t>(seconds * synth.sampleRate());
    std::vector<float> left(frames);
    std::vector<float> right(frames);
    EXPECT_TRUE(synth.render(left, right));
    for (std::size_t i = 0; i < frames; ++i)
        left[i] = (left[i] + right[i]) / 2;
    return left;
}

double rmsDifference(const std::vector<float>& a, const std::vector<float>& b) {
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += (a[i] - b[i]) * (a[i] - b[i]);
    return std::sqrt(sum / static_cast<double>(a.size()));
}

double rms(const std::vector<float>& a) {
    return rmsDifference(a, std::vector<float>(a.size()));
}

// Plays the organ's note alone on channel 0..15 and measures it past the attack.
double measureNote(SynthOutput& synth, int channel, int note) {
    const auto status = [channel](int kind) { return static_cast<std::uint8_t>(kind | channel); };
    sendShort(synth, {status(0xC0), test::kOrgan});
    sendShort(synth, {status(0x90), static_cast<std::uint8_t>(note), 100});
    render(synth, 0.1);
    const double hz = fundamentalHz(render(synth, 0.3), synth.sampleRate(), test::noteHz(note));
    sendShort(synth, {status(0xB0), 120, 0});  // All Sound Off: the next note starts alone
    return hz;
}

double measureA4(SynthOutput& synth, int channel) {
    return measureNote(synth, channel, kA4);
}

// True once the synth has its SoundFont, or has given up on every one, within ten seconds.
bool waitUntilReady(SynthOutput& synth) {
    for (int i = 0; i < 1000 && !synth.ready(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return synth.ready();
}

class Synth : public ::testing::Test {
protected:
    void SetUp() override {
        synth_ = open();
        ASSERT_NE(synth_, nullptr);
    }

    std::unique_ptr<SynthOutput> open() const {
        return SynthOutput::open({test::sineSoundFont()}, SynthOutput::Audio::Offline);
    }

    // Cents between the A4 of channel and 440 Hz raised by expected cents.
    double errorOfA4(int channel, double expected) {
        return cents(measureA4(*synth_, channel), raisedBy(kA4Hz, expected));
    }

    std::unique_ptr<SynthOutput> synth_;
};

TEST_F(Synth, GsAndXgScaleTuningsRaiseA4By50Cents) {
    synth_->sendSysEx(test::gsScaleTuning(0x11, test::onePitchClass(9, 50)));
    EXPECT_NEAR(errorOfA4(0, 50.0), 0.0, 0.5);
    synth_->sendSysEx(test::xgScaleTuning(1, 9, 50));
    EXPECT_NEAR(errorOfA4(1, 50.0), 0.0, 0.5);
}

TEST_F(Synth, MtsScaleOctaveTunesEveryPitchClassToHalfACent) {
    const std::vector<int> offsets = {-64, -50, -31, -12, 0, 7, 19, 33, 50, 63, -3, 24};
    // Real time, to all devices, channel 1 alone.
    SysEx message = {0xF0, 0x7F, 0x7F, 0x08, 0x08, 0x00, 0x00, 0x01};
    for (int cents : offsets)
        message.push_back(static_cast<std::uint8_t>(cents + 64));
    message.push_back(0xF7);
    synth_->sendSysEx(message);
    for (int n = 0; n < 12; ++n) {
        const int note = 60 + n;
        const double untuned = measureNote(*synth_, 1, note);
        const double tuned = measureNote(*synth_, 0, note);
        EXPECT_NEAR(cents(tuned, raisedBy(untuned, offsets[static_cast<std::size_t>(n)])), 0.0, 0.5)
            << "note " << note;
    }
}

TEST_F(Synth, ChannelsKeepTheirOwnTunings) {
    synth_->sendSysEx(test::gsScaleTuning(0x11, test::onePitchClass(9, 50)));
    synth_->sendSysEx(test::xgScaleTuning(1, 9, -30));
    synth_->sendSysEx(test::gsScaleTuning(0x10, test::onePitchClass(9, 20)));
    // Channel 10 plays the organ once it is no longer the rhythm part.
    synth_->sendSysEx(test::gsRhythmPart(0x10, 0));
    EXPECT_NEAR(errorOfA4(0, 50.0), 0.0, 0.5);
    EXPECT_NEAR(errorOfA4(1, -30.0), 0.0, 0.5);
    EXPECT_NEAR(errorOfA4(9, 20.0), 0.0, 0.5);
    EXPECT_NEAR(errorOfA4(2, 0.0), 0.0, 0.5);
}

TEST_F(Synth, TuningReachesANoteAlreadySounding) {
    sendShort(*synth_, {0x90, kA4, 100});
    render(*synth_, 0.1);
    synth_->sendSysEx(test::gsScaleTuning(0x11, test::onePitchClass(9, -40)));
    render(*synth_, 0.05);
    const double hz = fundamentalHz(render(*synth_, 0.3), synth_->sampleRate(), kA4Hz);
    EXPECT_NEAR(cents(hz, raisedBy(kA4Hz, -40.0)), 0.0, 0.5);
}

TEST_F(Synth, ResetsReturnToEqualTemperament) {
    for (const SysEx& reset : {test::kGsReset, test::kXgSystemOn, test::kGmSystemOn}) {
        synth_->sendSysEx(test::gsScaleTuning(0x11, test::onePitchClass(9, 50)));
        synth_->sendSysEx(reset);
        EXPECT_NEAR(errorOfA4(0, 0.0), 0.0, 0.5);
        // A later single pitch class starts again from equal temperament.
        synth_->sendSysEx(test::xgScaleTuning(0, 2, 30));
        EXPECT_NEAR(errorOfA4(0, 0.0), 0.0, 0.5);
    }
}

TEST_F(Synth, WrongGsChecksumChangesNothing) {
    SysEx wrong = test::gsScaleTuning(0x11, test::onePitchClass(9, 50));
    wrong[wrong.size() - 2] ^= 0x01;
    synth_->sendSysEx(wrong);
    EXPECT_NEAR(errorOfA4(0, 0.0), 0.0, 0.5);
}

TEST_F(Synth, RhythmPartSwitchesBetweenDrumKitAndFirstProgram) {
    // A4 on a channel of a fresh synth after the message, without a program change.
    auto note = [this](int channel, const SysEx& message) {
        auto synth = open();
        if (!message.empty()) synth->sendSysEx(message);
        sendShort(*synth, {static_cast<std::uint8_t>(0x90 | channel), kA4, 100});
        return render(*synth, 0.2);
    };
    const auto piano = note(0, {});
    const auto drums = note(9, {});
    ASSERT_GT(rmsDifference(piano, drums), 0.5 * rms(piano));
    EXPECT_LT(rmsDifference(note(9, test::gsRhythmPart(0x10, 0)), piano), 1e-3 * rms(piano));
    EXPECT_LT(rmsDifference(note(0, test::gsRhythmPart(0x11, 1)), drums), 1e-3 * rms(drums));
}

TEST_F(Synth, ResetReleasesHeldNotesAndThoseUnderThePedal) {
    sendShort(*synth_, {0xB0, 64, 127});
    sendShort(*synth_, {0xC0, test::kOrgan});
    sendShort(*synth_, {0x90, kA4, 100});
    sendShort(*synth_, {0x90, kA4 + 3, 100});
    sendShort(*synth_, {0x80, kA4 + 3, 0});
    const double playing = rms(render(*synth_, 0.2));
    ASSERT_GT(playing, 1e-3);
    EXPECT_TRUE(synth_->reset());
    render(*synth_, 1.0);
    EXPECT_LT(rms(render(*synth_, 0.1)), 0.01 * playing);
}

TEST_F(Synth, SendsWhileAnotherThreadRenders) {
    std::atomic<bool> stop{false};
    std::thread audio([this, &stop] {
        std::vector<float> left(256);
        std::vector<float> right(256);
        while (!stop)
            synth_->render(left, right);
    });
    for (int i = 0; i < 50; ++i) {
        synth_->sendSysEx(test::xgScaleTuning(0, 9, i % 2 == 0 ? 30 : -30));
        sendShort(*synth_, {0x90, 60, 100});
        sendShort(*synth_, {0x80, 60, 0});
    }
    stop = true;
    audio.join();
    EXPECT_NEAR(errorOfA4(0, -30.0), 0.0, 0.5);
}

TEST_F(Synth, MessagesSentWhileTheSoundFontLoadsArePlayedOnceItIsIn) {
    auto synth = SynthOutput::open({test::sineSoundFont()}, SynthOutput::Audio::Offline,
                                   SynthOutput::Loading::InBackground);
    ASSERT_NE(synth, nullptr);
    synth->sendSysEx(test::gsScaleTuning(0x11, test::onePitchClass(9, 50)));
    sendShort(*synth, {0xC0, test::kOrgan});
    sendShort(*synth, {0x90, kA4, 100});
    ASSERT_TRUE(waitUntilReady(*synth));
    render(*synth, 0.1);
    const auto sound = render(*synth, 0.3);
    ASSERT_GT(rms(sound), 1e-3);
    EXPECT_NEAR(cents(fundamentalHz(sound, synth->sampleRate(), kA4Hz), raisedBy(kA4Hz, 50)), 0.0,
                0.5);
}

TEST(SynthSoundFonts, ADamagedOneGivesWayToTheNextAndWithoutOneNothingSounds) {
    using Loading = SynthOutput::Loading;
    const std::string& damaged = test::damagedSoundFont();
    for (const Loading loading : {Loading::AtOnce, Loading::InBackground}) {
        auto synth = SynthOutput::open({damaged, test::sineSoundFont()},
                                       SynthOutput::Audio::Offline, loading);
        ASSERT_NE(synth, nullptr);
        ASSERT_TRUE(waitUntilReady(*synth));
        EXPECT_NEAR(cents(measureA4(*synth, 0), kA4Hz), 0.0, 0.5);
    }
    EXPECT_EQ(SynthOutput::open({damaged}, SynthOutput::Audio::Offline), nullptr);
    auto silent = SynthOutput::open({damaged}, SynthOutput::Audio::Offline, Loading::InBackground);
    ASSERT_NE(silent, nullptr);
    ASSERT_TRUE(waitUntilReady(*silent));
    sendShort(*silent, {0x90, kA4, 100});
    EXPECT_LT(rms(render(*silent, 0.1)), 1e-6);  // the reverb's guard against denormals
}

TEST(SoundFontSearch, FindsTheFilesAmongTheCandidatesInTheirOrderEachOnceLinksResolved) {
    EXPECT_EQ(kGeneralMidiSoundFonts,
              (std::array<std::string_view, 3>{"/usr/share/sounds/sf2/default-GM.sf2",
                                               "/usr/share/sounds/sf2/FluidR3_GM.sf2",
                                               "/usr/share/sounds/sf2/TimGM6mb.sf2"}));
    const std::string dir = std::filesystem::canonical(test::makeTempDir("soundfont-search"));
    std::ofstream(dir + "/a.sf2") << "a";
    std::ofstream(dir + "/b.sf2") << "b";
    std::filesystem::create_symlink(dir + "/b.sf2", dir + "/default.sf2");
    const std::string paths[] = {dir + "/missing.sf2", dir + "/default.sf2", dir, dir + "/b.sf2",
                                 dir + "/a.sf2"};
    const std::vector<std::string_view> candidates(std::begin(paths), std::end(paths));
    EXPECT_EQ(findGeneralMidiSoundFonts(candidates),
              (std::vector<std::string>{dir + "/b.sf2", dir + "/a.sf2"}));
}

TEST(BuiltInSynth, OpensQuietlyOrNotAtAll) {
    testing::internal::CaptureStderr();
    auto device = openBuiltInSynth();
    if (device) {
        const std::uint8_t noteOn[] = {0x90, kA4, 100};
        device->sendShort(noteOn);
        EXPECT_TRUE(device->reset());
        EXPECT_TRUE(device->close());
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace pitchloom
