#include "playback/outputs/synth_output.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <system_error>

#include "playback/outputs/audio_libraries.h"

namespace pitchloom {
namespace {

constexpr double kSampleRate = kSynthSampleRate;
// The MIDI Tuning Standard messages that FluidSynth handles itself use tuning bank 0; the channel
// tunings keep to a bank of their own, one program per channel.
constexpr int kChannelTuningBank = 127;
constexpr int kDrumBank = 128;

// The output buffer: 32 periods of 256 frames, 186 ms at 44.1 kHz. Playing a file needs no low
// latency, and a buffer of 23 ms (FluidSynth's own) ran dry every few notes on a busy machine;
// short periods keep the synth rendering often, so events still land within 6 ms of their time.
constexpr int kPeriodFrames = 256;
constexpr int kPeriods = 32;

constexpr int kSustainPedal = 64;
constexpr int kSostenutoPedal = 66;

// Only called once open() has found the library: every synth, setting and driver is made with it.
const FluidSynthFunctions& fluid() {
    return *fluidSynth();
}

// A missing audio output is reported through open() returning nothing; FluidSynth's own messages
// on stderr would only repeat it.
void silenceFluidSynthLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level = FLUID_PANIC; level <= FLUID_DBG; ++level) {
            fluid().fluid_set_log_function(level, nullptr, nullptr);
        }
    });
}

#if defined(__linux__)
// ALSA prints its own complaints to stderr when there is no sound card. FluidSynth has loaded it
// already, so its error hook is looked up beside FluidSynth instead of linking ALSA here.
class QuietAlsa {
public:
    QuietAlsa() : setHandler_(find()) {
        if (setHandler_ != nullptr) setHandler_(&ignore);
    }
    ~QuietAlsa() {
        if (setHandler_ != nullptr) setHandler_(nullptr);
    }
    QuietAlsa(const QuietAlsa&) = delete;
    QuietAlsa& operator=(const QuietAlsa&) = delete;

private:
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);

    static void ignore(const char*, int, const char*, int, const char*, ...) {}
    static SetHandler find() {
        return reinterpret_cast<SetHandler>(besideFluidSynth("snd_lib_error_set_handler"));
    }

    SetHandler setHandler_;
};
#else
struct QuietAlsa {};
#endif

}  // namespace

void SynthOutput::FluidDeleter::operator()(fluid_settings_t* settings) const {
    fluid().delete_fluid_settings(settings);
}

void SynthOutput::FluidDeleter::operator()(fluid_synth_t* synth) const {
    fluid().delete_fluid_synth(synth);
}

void SynthOutput::FluidDeleter::operator()(fluid_audio_driver_t* driver) const {
    fluid().delete_fluid_audio_driver(driver);
}

std::unique_ptr<SynthOutput> SynthOutput::open(std::vector<std::string> soundFonts, Audio audio,
                                               Loading loading) {
    if (fluidSynth() == nullptr) return nullptr;
    silenceFluidSynthLog();
    std::unique_ptr<SynthOutput> out(new SynthOutput());
    out->settings_.reset(fluid().new_fluid_settings());
    if (!out->settings_) return nullptr;
    fluid().fluid_settings_setnum(out->settings_.get(), "synth.sample-rate", kSampleRate);
    fluid().fluid_settings_setint(out->settings_.get(), "synth.device-id", kSynthDeviceId);
    // The synthesizer renders on one thread: with voices shared among threads, a loaded machine
    // made a voice skip mid-note now and then (a click, and a note a few cents off).
    if (loading == Loading::AtOnce) {
        if (!out->createSynth() || !out->loadFirst(soundFonts)) return nullptr;
        out->ready_ = true;
        if (audio == Audio::Device && !out->openAudio()) return nullptr;
        return out;
    }
    // Making the synth and loading a large SoundFont take from a few hundredths of a second to
    // most of one; the window need not wait for either.
    if (audio == Audio::Device && !out->openAudio()) return nullptr;
    SynthOutput* synth = out.get();
    out->loader_ =
        std::thread([synth, soundFonts = std::move(soundFonts)] { synth->load(soundFonts); });
    return out;
}

bool SynthOutput::createSynth() {
    synth_.reset(fluid().new_fluid_synth(settings_.get()));
    live_.store(synth_.get());
    return synth_ != nullptr;
}

void SynthOutput::renderInto(float* interleaved, int frames) {
    if (fluid_synth_t* synth = live_.load()) {
        fluid().fluid_synth_write_float(synth, frames, interleaved, 0, 2, interleaved, 1, 2);
    } else {
        std::fill(interleaved, interleaved + 2 * static_cast<std::ptrdiff_t>(frames), 0.0f);
    }
}

bool SynthOutput::openAudio() {
    pulse_ = PulseOutput::open([this](float* frames, int count) { renderInto(frames, count); },
                               kSampleRate, kPeriodFrames, kPeriodFrames * kPeriods);
    if (pulse_) return true;
    // Without a sound server: FluidSynth's default driver (ALSA on Linux), then SDL. They take
    // the synth when they start, so it is made now.
    if (!synth_ && !createSynth()) return false;
    fluid_settings_t* settings = settings_.get();
    fluid().fluid_settings_setint(settings, "audio.period-size", kPeriodFrames);
    fluid().fluid_settings_setint(settings, "audio.periods", kPeriods);
    QuietAlsa quiet;
    driver_.reset(fluid().new_fluid_audio_driver(settings, synth_.get()));
    if (!driver_ && fluid().fluid_settings_setstr(settings, "audio.driver", "sdl2") == FLUID_OK) {
        driver_.reset(fluid().new_fluid_audio_driver(settings, synth_.get()));
    }
    return driver_ != nullptr;
}

bool SynthOutput::loadFirst(const std::vector<std::string>& soundFonts) {
    // A damaged file fails here and leaves the synth as it was, ready for the next one.
    return std::ranges::any_of(soundFonts, [this](const std::string& soundFont) {
        return fluid().fluid_synth_sfload(synth_.get(), soundFont.c_str(), 1) != FLUID_FAILED;
    });
}

void SynthOutput::load(const std::vector<std::string>& soundFonts) {
    // A synth that fails, or SoundFonts that all fail, leave the synth silent; nothing waits for
    // it any longer.
    const bool loaded = (synth_ || createSynth()) && loadFirst(soundFonts);
    std::lock_guard lock(pendingMutex_);
    if (loaded) {
        for (const Pending& p : pending_) {
            if (p.sysEx) {
                playSysEx(p.bytes);
            } else {
                playShort(p.bytes);
            }
        }
    }
    pending_.clear();
    ready_ = true;
}

bool SynthOutput::keepUntilReady(bool sysEx, std::span<const std::uint8_t> message) {
    if (ready_.load()) return false;
    std::lock_guard lock(pendingMutex_);
    if (ready_.load()) return false;
    pending_.push_back({sysEx, {message.begin(), message.end()}});
    return true;
}

SynthOutput::~SynthOutput() {
    close();
}

void SynthOutput::sendShort(std::span<const std::uint8_t> message) {
    if (keepUntilReady(false, message) || !synth_) return;
    playShort(message);
}

void SynthOutput::playShort(std::span<const std::uint8_t> message) {
    if (message.empty()) return;
    const std::uint8_t status = message[0];
    // Data without a status byte, and system messages, mean nothing to the synth here.
    if (status < 0x80 || status >= 0xF0) return;
    const int kind = status & 0xF0;
    const std::size_t size = (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
    if (message.size() < size) return;
    const int channel = status & 0x0F;
    const int data1 = message[1];
    const int data2 = size == 3 ? message[2] : 0;
    if (data1 > 0x7F || data2 > 0x7F) return;

    fluid_synth_t* synth = synth_.get();
    switch (kind) {
        case 0x80:
            fluid().fluid_synth_noteoff(synth, channel, data1);
            break;
        case 0x90:
            fluid().fluid_synth_noteon(synth, channel, data1, data2);
            break;
        case 0xA0:
            fluid().fluid_synth_key_pressure(synth, channel, data1, data2);
            break;
        case 0xB0:
            fluid().fluid_synth_cc(synth, channel, data1, data2);
            break;
        case 0xC0:
            fluid().fluid_synth_program_change(synth, channel, data1);
            break;
        case 0xD0:
            fluid().fluid_synth_channel_pressure(synth, channel, data1);
            break;
        default:
            fluid().fluid_synth_pitch_bend(synth, channel, data1 | (data2 << 7));
            break;
    }
}

void SynthOutput::sendSysEx(std::span<const std::uint8_t> message) {
    if (keepUntilReady(true, message) || !synth_) return;
    playSysEx(message);
}

void SynthOutput::playSysEx(std::span<const std::uint8_t> message) {
    const SysExAction action = tuning_.apply(message);
    switch (action.kind) {
        case SysExAction::Kind::TuningChanged:
            for (int channel = 0; channel < kSynthChannelCount; ++channel) {
                if ((action.channels >> channel) & 1u) applyChannelTuning(channel);
            }
            break;
        case SysExAction::Kind::Reset:
            for (int channel = 0; channel < kSynthChannelCount; ++channel) {
                fluid().fluid_synth_deactivate_tuning(synth_.get(), channel, 1);
            }
            passOn(message);
            break;
        case SysExAction::Kind::RhythmPart:
            setRhythmPart(action.channel, action.drum);
            break;
        case SysExAction::Kind::Other:
            passOn(message);
            break;
    }
}

bool SynthOutput::reset() {
    {
        // Nothing sounds before the SoundFont is in: the notes waiting to be played are dropped.
        std::lock_guard lock(pendingMutex_);
        if (!ready_.load()) {
            std::erase_if(pending_, [](const Pending& p) {
                return !p.sysEx && !p.bytes.empty() && (p.bytes[0] & 0xF0) == 0x90;
            });
            return true;
        }
    }
    if (!synth_) return false;
    bool ok = true;
    for (int channel = 0; channel < kSynthChannelCount; ++channel) {
        ok &= fluid().fluid_synth_cc(synth_.get(), channel, kSustainPedal, 0) == FLUID_OK;
        ok &= fluid().fluid_synth_cc(synth_.get(), channel, kSostenutoPedal, 0) == FLUID_OK;
    }
    ok &= fluid().fluid_synth_all_notes_off(synth_.get(), -1) == FLUID_OK;
    return ok;
}

bool SynthOutput::close() {
    if (loader_.joinable()) loader_.join();
    pulse_.reset();
    driver_.reset();
    live_.store(nullptr);
    synth_.reset();
    settings_.reset();
    return true;
}

bool SynthOutput::render(std::span<float> left, std::span<float> right) {
    if (!ready_.load() || !synth_ || driver_ || pulse_ || left.size() != right.size() ||
        left.size() > INT_MAX) {
        return false;
    }
    return fluid().fluid_synth_write_float(synth_.get(), static_cast<int>(left.size()), left.data(),
                                           0, 1, right.data(), 0, 1) == FLUID_OK;
}

double SynthOutput::sampleRate() const {
    double rate = kSampleRate;
    if (settings_) fluid().fluid_settings_getnum(settings_.get(), "synth.sample-rate", &rate);
    return rate;
}

void SynthOutput::applyChannelTuning(int channel) {
    const PitchClassCents& cents = tuning_.channel(channel);
    std::array<double, 12> pitch{};
    for (std::size_t i = 0; i < pitch.size(); ++i)
        pitch[i] = cents[i];
    // Both calls apply the change to the notes already sounding on the channel.
    fluid().fluid_synth_activate_octave_tuning(synth_.get(), kChannelTuningBank, channel,
                                               "scale tuning", pitch.data(), 1);
    fluid().fluid_synth_activate_tuning(synth_.get(), channel, kChannelTuningBank, channel, 1);
}

void SynthOutput::setRhythmPart(int channel, bool drum) {
    fluid_synth_t* synth = synth_.get();
    fluid().fluid_synth_set_channel_type(synth, channel,
                                         drum ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
    int soundFont = 0;
    int bank = 0;
    int program = 0;
    fluid().fluid_synth_get_program(synth, channel, &soundFont, &bank, &program);
    // A former drum channel still holds the drum bank, where a melodic program would find a kit.
    if (!drum && bank == kDrumBank) fluid().fluid_synth_bank_select(synth, channel, 0);
    // Selecting the program again makes the next note sound from the new kind of channel.
    fluid().fluid_synth_program_change(synth, channel, program);
}

void SynthOutput::passOn(std::span<const std::uint8_t> message) {
    // FluidSynth takes the body alone; anything but a whole message is dropped.
    if (message.size() < 3 || message.size() > INT_MAX || message.front() != 0xF0 ||
        message.back() != 0xF7) {
        return;
    }
    fluid().fluid_synth_sysex(synth_.get(), reinterpret_cast<const char*>(message.data() + 1),
                              static_cast<int>(message.size() - 2), nullptr, nullptr, nullptr, 0);
}

std::vector<std::string> findGeneralMidiSoundFonts(std::span<const std::string_view> candidates) {
    std::vector<std::string> found;
    for (const std::string_view path : candidates) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error)) continue;
        std::string file = std::filesystem::canonical(path, error).string();
        if (!error && std::ranges::find(found, file) == found.end())
            found.push_back(std::move(file));
    }
    return found;
}

std::unique_ptr<MidiOutputDevice> openBuiltInSynth() {
    std::vector<std::string> soundFonts = findGeneralMidiSoundFonts();
    if (soundFonts.empty()) return nullptr;
    return SynthOutput::open(std::move(soundFonts), SynthOutput::Audio::Device,
                             SynthOutput::Loading::InBackground);
}

}  // namespace pitchloom
