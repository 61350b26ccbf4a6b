#include "playback/audio/audio_render.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/messages.h"
#include "playback/outputs/synth_output.h"
#include "session/session.h"
#include "support/midi_builder.h"
#include "support/pitch.h"
#include "support/scripted_dialogs.h"
#include "support/sine_soundfont.h"

namespace pitchloom {
namespace {

using test::Bytes;
using test::cents;
using test::fundamentalHz;
using test::raisedBy;

constexpr int kRate = 44100;
constexpr std::size_t kNoteFrames = kRate;  // one note and its rest, 1 s

// GM System On, which wipes any tuning, then the organ's C4..B4, 900 ms each and 100 ms apart.
Bytes chromaticSong() {
    test::TrackBuilder track;
    track.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).programChange(0, 0, test::kOrgan);
    for (int n = 0; n < 12; ++n)
        track.noteOn(n == 0 ? 0 : 96, 0, 60 + n, 100).noteOff(864, 0, 60 + n);
    return test::format0(480, track.endOfTrack());
}

std::vector<float> readMono(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    std::vector<float> mono(static_cast<std::size_t>(info.frames));
    for (std::size_t i = 0; i < mono.size(); ++i)
        mono[i] = (frames[2 * i] + frames[2 * i + 1]) / 2;
    return mono;
}

class Render : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = test::makeTempDir("render");
        ASSERT_TRUE(session_.createSong());
    }

    void load(const Bytes& image) {
        std::memcpy(session_.song.data.data(), image.data(), image.size());
        session_.song.length = static_cast<std::int32_t>(image.size());
    }

    RenderOutcome render(const std::string& name, DeviceType type, AudioFormat format,
                         const RenderProgress& progress = {},
                         std::vector<std::string> soundFonts = {test::sineSoundFont()}) {
        return renderSong({session_.song, session_.tuning, type, dialogs_, session_.loader},
                          folder_ + "/" + name, format, progress, std::move(soundFonts))
            .outcome;
    }

    test::ScriptedDialogs dialogs_;
    Session session_{dialogs_};
    std::string folder_;
};

TEST_F(Render, EveryPitchClassSoundsAtItsTuningInEachDialect) {
    load(chromaticSong());
    ASSERT_EQ(render("plain.wav", DeviceType::GM, AudioFormat::WavFloat), RenderOutcome::Written);
    const std::vector<float> plain = readMono(folder_ + "/plain.wav");
    ASSERT_GE(plain.size(), 12 * kNoteFrames);

    const Offsets offsets = {-64, -50, -31, -12, 0, 7, 19, 33, 50, 63, -3, 24};
    session_.tuning.setOffsets(offsets);
    // Bend with its notes 100 ms apart, within the release guard: on a borrowed channel each.
    for (DeviceType type : {DeviceType::GS, DeviceType::XG, DeviceType::MTS, DeviceType::Bend}) {
        load(chromaticSong());
        const std::string name = std::string(deviceTypeName(type)) + ".wav";
        ASSERT_EQ(render(name, type, AudioFormat::WavFloat), RenderOutcome::Written);
        const std::vector<float> tuned = readMono(folder_ + "/" + name);
        ASSERT_GE(tuned.size(), 12 * kNoteFrames);
        for (std::size_t n = 0; n < 12; ++n) {
            // From 100 ms into the note, past its attack, to 100 ms before its end.
            const auto part = [&](const std::vector<float>& v) {
                return std::span(v).subspan(n * kNoteFrames + kRate / 10, kRate * 7 / 10);
            };
            const double nominal = test::noteHz(60 + static_cast<int>(n));
            const double expected =
                raisedBy(fundamentalHz(part(plain), kRate, nominal), offsets[n]);
            EXPECT_NEAR(cents(fundamentalHz(part(tuned), kRate, nominal), expected), 0.0, 0.5)
                << deviceTypeName(type) << " pitch class " << n;
        }
    }
}

TEST_F(Render, StrictRefusesABendRenderWithANoteOffItsTuningAndSaysHowFarOff) {
    // Every channel but the drums taken by the song: the chord's E, 14 cents below the C, has
    // nowhere to go but the C's channel.
    test::TrackBuilder t;
    for (int c = 0; c < 16; ++c) {
        if (c != 9) t.programChange(0, c, test::kOrgan);
    }
    load(test::format0(480, t.noteOn(0, 0, 60, 100).noteOn(0, 0, 64, 100).endOfTrack()));
    session_.tuning.offsets[4] = -14;
    RenderParts parts{session_.song, session_.tuning, DeviceType::Bend, dialogs_, session_.loader};
    parts.strict = true;
    const RenderResult result = renderSong(parts, folder_ + "/strict.wav", AudioFormat::Wav16, {},
                                           std::vector<std::string>{test::sineSoundFont()});
    EXPECT_EQ(result.outcome, RenderOutcome::Failed);
    ASSERT_TRUE(result.retune);
    EXPECT_EQ(describeOffTuning(*result.retune),
              "1 of 2 notes played up to 14 cents from their tuning");
    EXPECT_TRUE(dialogs_.texts().empty());
    EXPECT_TRUE(test::namesIn(folder_).empty());
}

TEST_F(Render, NotesStartOnTheFramesOfTheirExactTimes) {
    // At division 960 and 500001 microseconds a quarter, 960 controllers a tick apart, then a
    // note: it starts 1 ms (the first period) + 500.001 ms in, on frame 22094.
    test::TrackBuilder t;
    t.tempo(0, 500001).programChange(0, 0, test::kOrgan);
    for (int i = 0; i < 960; ++i)
        t.controlChange(1, 0, 1, 0);
    t.noteOn(0, 0, 69, 100).noteOff(960, 0, 69).endOfTrack();
    load(test::format0(960, t));
    ASSERT_EQ(render("onset.wav", DeviceType::GM, AudioFormat::WavFloat), RenderOutcome::Written);
    const std::vector<float> wave = readMono(folder_ + "/onset.wav");
    const auto onset =
        std::find_if(wave.begin(), wave.end(), [](float x) { return std::abs(x) > 1e-3f; });
    ASSERT_NE(onset, wave.end());
    // The synthesizer starts a note at the next of its 64-frame blocks, and its attack takes a
    // few frames to be heard.
    EXPECT_GE(onset - wave.begin(), 22094);
    EXPECT_LT(onset - wave.begin(), 22094 + 128);
}

TEST_F(Render, SixteenBitWavHasAStandardHeaderAndTheReleaseTail) {
    load(chromaticSong());
    ASSERT_EQ(render("song.wav", DeviceType::GS, AudioFormat::Wav16), RenderOutcome::Written);
    std::ifstream in(folder_ + "/song.wav", std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 44u);
    // "WAVE", "fmt " of 16 bytes: PCM, 2 channels, 44100 Hz, 176400 bytes/s, 4 bytes a frame,
    // 16 bits; then "data".
    const Bytes format = {0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00,
                          0x00, 0x01, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1,
                          0x02, 0x00, 0x04, 0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61};
    EXPECT_EQ(Bytes(bytes.begin() + 8, bytes.begin() + 40), format);
    // Twelve seconds of notes, then the last one dies away for a while, but not for long.
    const std::size_t frames = (bytes.size() - 44) / 4;
    EXPECT_GT(frames, 12u * kRate);
    EXPECT_LT(frames, 12u * kRate + 5u * kRate);
    EXPECT_EQ(dialogs_.texts(), std::vector<std::string>{std::string(messages::kWrittenToFile)});
}

TEST_F(Render, CancelledFailedAndEndlessRendersLeaveNoFile) {
    load(chromaticSong());
    const std::string kept = test::writeTempFile("render/kept.wav", {1, 2, 3});
    int calls = 0;
    EXPECT_EQ(render("kept.wav", DeviceType::GS, AudioFormat::Wav16,
                     [&calls](double done) { return ++calls < 3 && done < 1.0; }),
              RenderOutcome::Cancelled);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(test::namesIn(folder_), std::vector<std::string>{"kept.wav"});
    EXPECT_EQ(std::filesystem::file_size(kept), 3u);
    EXPECT_TRUE(dialogs_.texts().empty());

    EXPECT_EQ(render("no/such/folder.wav", DeviceType::GS, AudioFormat::Wav16),
              RenderOutcome::Failed);
    EXPECT_EQ(dialogs_.texts(), std::vector<std::string>{std::string(messages::kCannotOpenFile)});
    ASSERT_EQ(dialogs_.details().size(), 1u);
    EXPECT_EQ(dialogs_.details()[0].rfind(folder_ + "/no/such/folder.wav: ", 0), 0u);

    // A note held for thousands of years, as a five-byte delta time at division 1 asks.
    dialogs_.clear();
    test::TrackBuilder endless;
    endless.noteOn(0, 0, 60, 100).raw(0x0FFFFFFF, {0x80, 60, 0}).endOfTrack();
    load(test::format0(1, endless));
    EXPECT_EQ(render("endless.wav", DeviceType::GS, AudioFormat::Wav16), RenderOutcome::Failed);
    EXPECT_EQ(dialogs_.texts(),
              std::vector<std::string>{std::string(messages::kSongTooLongForAudio)});
    EXPECT_EQ(test::namesIn(folder_), std::vector<std::string>{"kept.wav"});
}

TEST_F(Render, ADamagedSoundFontGivesWayToTheNextAndIsNamedWhenNoneLoads) {
    load(chromaticSong());
    const std::string& damaged = test::damagedSoundFont();
    ASSERT_EQ(render("next.wav", DeviceType::GS, AudioFormat::Wav16, {},
                     {damaged, test::sineSoundFont()}),
              RenderOutcome::Written);
    EXPECT_EQ(dialogs_.texts(),
              std::vector<std::string>{"Information has been written to the file!"});
    EXPECT_TRUE(dialogs_.details().empty());

    dialogs_.clear();
    EXPECT_EQ(render("damaged.wav", DeviceType::GS, AudioFormat::Wav16, {}, {damaged}),
              RenderOutcome::Failed);
    EXPECT_EQ(dialogs_.texts(),
              std::vector<std::string>{
                  "Audio needs a General MIDI SoundFont, and the one installed is damaged!"});
    EXPECT_EQ(dialogs_.details(),
              std::vector<std::string>{damaged + ": the SoundFont cannot be loaded"});

    dialogs_.clear();
    EXPECT_EQ(render("none.wav", DeviceType::GS, AudioFormat::Wav16, {}, {}),
              RenderOutcome::Failed);
    EXPECT_EQ(
        dialogs_.texts(),
        std::vector<std::string>{"Audio needs a General MIDI SoundFont, and none is installed!"});
    EXPECT_EQ(test::namesIn(folder_), std::vector<std::string>{"next.wav"});
}

}  // namespace
}  // namespace pitchloom
