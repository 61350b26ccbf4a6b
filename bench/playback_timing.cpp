// Plays a song into the recorder with the real timer service and reports how closely each event
// kept to the song's exact timeline (ticks and the tempo map, from the first event). Without a
// song it plays a dense generated one: chords and gaps of a few ticks, tempo changes of no whole
// beats per minute. Run by hand: build/release/bench/playback_timing [SONG.mid]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "midifile/byte_reader.h"
#include "playback/outputs/recording_output.h"
#include "playback/playing/player.h"
#include "session/session.h"
#include "support/scripted_dialogs.h"

namespace {

using namespace pitchloom;
using Clock = std::chrono::steady_clock;

class IdleView : public PlaybackView {
public:
    void setPlayCaption(std::string_view) override {}
    void requestRepaint() override {}
    void setWaitCursor(bool) override {}
};

void putVlq(std::vector<std::uint8_t>& out, std::uint32_t v) {
    std::uint8_t tmp[5];
    const std::size_t n = writeVlq(v, tmp);
    out.insert(out.end(), tmp, tmp + n);
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A minute of events at division 960: chords, gaps of 1 to 40 ticks (0.5 to 21 ms), and a tempo
// change every few hundred events between 400000 and 600000 microseconds per quarter.
std::vector<std::uint8_t> generatedSong() {
    constexpr std::uint32_t kDivision = 960;
    std::mt19937 random(7);
    std::vector<std::uint8_t> track;
    double ms = 0;
    std::uint32_t tempo = 500000;
    for (int i = 0; ms < 60000; ++i) {
        const std::uint32_t ticks = random() % 3 != 0 ? 0 : 1 + random() % 40;
        ms += ticks * tempo / 1000.0 / kDivision;
        putVlq(track, ticks);
        if (i % 300 == 299) {
            tempo = 400000 + random() % 200001;
            track.insert(track.end(),
                         {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(tempo >> 16),
                          static_cast<std::uint8_t>(tempo >> 8), static_cast<std::uint8_t>(tempo)});
            continue;
        }
        const auto channel = static_cast<std::uint8_t>(random() % 9);
        track.insert(track.end(), {static_cast<std::uint8_t>(0x90 | channel),
                                   static_cast<std::uint8_t>(48 + random() % 36), 80});
    }
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    std::vector<std::uint8_t> image = {
        'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, kDivision >> 8, kDivision & 0xFF,
        'M', 'T', 'r', 'k', 0, 0, 0, 0};
    writeBe32(image, kTrackLengthOffset, static_cast<std::uint32_t>(track.size()));
    image.insert(image.end(), track.begin(), track.end());
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    test::ScriptedDialogs dialogs;
    RecordingOutput output;
    ThreadTimerService timers;
    IdleView view;
    Session session(dialogs);
    MidiSong& song = session.song;
    Player& player = session.attachPlayer(output, timers, view);
    player.port.initOutput(song);
    if (argc > 1) {
        if (!session.loader.loadSongFromPath(argv[1])) {
            std::fprintf(stderr, "%s: cannot be loaded\n", argv[1]);
            return 1;
        }
    } else {
        const auto image = generatedSong();
        std::memcpy(song.data.data(), image.data(), image.size());
        song.length = static_cast<std::int32_t>(image.size());
    }

    // When each channel message is due, from the start of playback.
    std::vector<std::chrono::nanoseconds> due;
    Sequencer::timeline(song.image(), timers.minPeriodMs(),
                        [&due](const MidiEvent& e, std::chrono::nanoseconds at) {
                            if (e.status >= 0x80 && e.status <= 0xEF) due.push_back(at);
                        });

    Sequencer& seq = player.sequencer;
    seq.setStopWait(std::chrono::milliseconds(0));
    output.clear();

    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    seq.beginPlayback();
    while (seq.isPlaying())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto end = Clock::now();
    const double cpu = cpuSeconds() - cpuBefore;

    std::vector<Clock::time_point> sent;
    for (const auto& m : output.messages()) {
        if (!m.sysEx) sent.push_back(m.time);
    }
    if (sent.size() != due.size() || sent.empty()) {
        std::fprintf(stderr, "expected %zu channel messages, recorded %zu\n", due.size(),
                     sent.size());
        return 1;
    }
    std::vector<double> errorsUs;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        errorsUs.push_back(
            std::chrono::duration<double, std::micro>(sent[i] - (start + due[i])).count());
    }
    std::vector<double> sorted(errorsUs.size());
    std::transform(errorsUs.begin(), errorsUs.end(), sorted.begin(),
                   [](double us) { return std::abs(us); });
    std::sort(sorted.begin(), sorted.end());
    const auto pct = [&](double p) {
        return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(p * sorted.size()))];
    };
    const double wall = std::chrono::duration<double>(end - start).count();
    std::printf(
        "timing: events=%zu song_s=%.1f p50_us=%.0f p99_us=%.0f max_us=%.0f drift_ms=%.3f "
        "cpu_pct=%.2f\n",
        sent.size(), std::chrono::duration<double>(due.back()).count(), pct(0.50), pct(0.99),
        sorted.back(), (errorsUs.back() - errorsUs.front()) / 1000.0, 100.0 * cpu / wall);
    return 0;
}
