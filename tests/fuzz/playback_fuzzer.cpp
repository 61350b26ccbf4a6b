// Playback of an arbitrary song image, every event through the sequencer into a recorder, on a
// timer that runs without waiting. The first byte picks GS, XG or GM, the next two the scale;
// the rest is the image as a load leaves it in the song buffer.

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <span>

#include "fuzz/fuzz_support.h"
#include "midifile/format0_merge.h"
#include "midifile/song_loader.h"
#include "midifile/sysex.h"
#include "playback/outputs/midi_port.h"
#include "playback/outputs/recording_output.h"
#include "playback/playing/scale_tuning_sender.h"
#include "playback/playing/sequencer.h"
#include "playback/playing/timer_service.h"
#include "tuning/rhythm_channels.h"

namespace pitchloom::fuzz {
namespace {

constexpr std::size_t kSettingBytes = 3;

class SilentView : public PlaybackView {
public:
    void setPlayCaption(std::string_view) override {}
    void requestRepaint() override {}
    void setWaitCursor(bool) override {}
};

// Note bytes are rewritten in place; a stray write would land just past the song.
constexpr std::size_t kGuard = 65536;

bool zeroAfterSong(const MidiSong& song) {
    static const std::array<std::uint8_t, kGuard> zeros{};
    const auto from = static_cast<std::size_t>(song.length);
    const std::size_t n = std::min(zeros.size(), song.data.size() - from);
    return std::memcmp(song.data.data() + from, zeros.data(), n) == 0;
}

// The song buffer holding the image and zeros behind it. Kept from input to input: a run writes
// only inside its song, as zeroAfterSong checks, so clearing the last song and its guard is
// enough.
MidiSong& songWith(std::span<const std::uint8_t> image) {
    static MidiSong song;
    if (!song.exists()) require(song.create(), "the song buffer can be had");
    const std::size_t dirty = std::min(song.data.size(), song.image().size() + kGuard);
    std::memset(song.data.data(), 0, dirty);
    std::memcpy(song.data.data(), image.data(), image.size());
    song.length = static_cast<std::int32_t>(image.size());
    return song;
}

}  // namespace
}  // namespace pitchloom::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pitchloom;
    using namespace pitchloom::fuzz;
    if (size < kSettingBytes || size - kSettingBytes >= kSongBufferSize) return 0;
    const std::span<const std::uint8_t> image(data + kSettingBytes, size - kSettingBytes);

    QuietDialogs dialogs;
    // What the player plays through outlives the session that owns the player.
    RecordingOutput output;
    ManualTimerService timers;
    SilentView view;
    FuzzSession session(dialogs, songWith(image));
    MidiSong& song = session.song;
    TuningState& tuning = session.tuning;
    Player& player = session.attachPlayer(output, timers, view);
    player.port.openDevice(kMidiMapperId);
    tuning.setScaleMarks(marksFromMask(data[1] | unsigned{data[2]} << 8));
    session.deviceType = dialects()[data[0] % dialects().size()].type;
    Sequencer& seq = player.sequencer;
    seq.setStopWait(std::chrono::milliseconds(0));

    seq.beginPlayback();
    timers.runAll();

    require(timers.pendingCount() == 0, "every playback comes to an end");
    require(!seq.isPlaying() || dialogs.count("Undefined error!") > 0,
            "playback halts only with an error shown");
    require(zeroAfterSong(song), "playback writes nothing past the song");
    // The rhythm parts as the device learnt them, message by message.
    RhythmChannels rhythm;
    for (const auto& m : output.messages()) {
        if (m.sysEx) {
            if (const auto body = bodyOfMessage(m.bytes)) rhythm.examineBody(*body);
            continue;
        }
        const bool note = m.bytes.size() == 3 && (m.bytes[0] & 0xE0) == 0x80;
        if (!note || rhythm.isRhythm(m.bytes[0] & 0x0F) || m.bytes[1] > 127) continue;
        require(tuning.inScale[m.bytes[1] % 12].load() != 0, "a played note lies on the scale");
    }
    return 0;
}
