// Plays a dense generated song into the recorder with the real timer service and reports how
// closely each event kept to its schedule. Run by hand: build/release/bench/playback_timing
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "midifile/byte_reader.h"
#include "playback/midi_port.h"
#include "playback/recording_output.h"
#include "playback/scale_tuning_sender.h"
#include "playback/sequencer.h"
#include "playback/timer_service.h"
#include "session/session.h"
#include "support/scripted_dialogs.h"

namespace {

using namespace pitchloom;
using Clock = std::chrono::steady_clock;

using SilentDialogs = test::ScriptedDialogs;

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

}  // namespace

int main() {
    constexpr std::uint32_t kDivision = 480;
    std::mt19937 random(7);
    std::vector<std::uint8_t> track;
    std::vector<std::uint32_t> delaysMs;  // the delay before each event, as playback computes it
    std::uint64_t totalMs = 0;
    int events = 0;
    while (totalMs < 60000) {
        // Many groups of events at one time (chords), then a gap of up to about 40 ms.
        const bool group = random() % 3 != 0;
        const std::uint32_t ticks = group ? 0 : static_cast<std::uint32_t>(random() % 39);
        putVlq(track, ticks);
        const std::uint8_t channel = static_cast<std::uint8_t>(random() % 9);
        track.insert(track.end(), {static_cast<std::uint8_t>(0x90 | channel),
                                   static_cast<std::uint8_t>(48 + random() % 36), 80});
        const std::uint32_t ms = ticks * 60000u / (kDivision * 120u);
        delaysMs.push_back(events == 0 ? 0 : ms);
        totalMs += ms;
        ++events;
    }
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});

    SilentDialogs dialogs;
    RecordingOutput output;
    Session session(dialogs);
    MidiSong& song = session.song;
    MidiPort port(output, dialogs);
    port.initOutput(song);
    ScaleTuningSender sender(session.tuning, port);
    ThreadTimerService timers;
    IdleView view;
    Sequencer seq({song, session.tuning, port, sender, session.deviceType, dialogs, session.loader,
                   timers, view});
    seq.setStopWait(std::chrono::milliseconds(0));

    const std::uint8_t header[] = {
        'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, kDivision >> 8, kDivision & 0xFF,
        'M', 'T', 'r', 'k'};
    std::memcpy(song.data.data(), header, sizeof header);
    writeBe32(song.data, kTrackLengthOffset, static_cast<std::uint32_t>(track.size()));
    std::memcpy(song.data.data() + kFirstEventOffset, track.data(), track.size());
    song.length = static_cast<std::int32_t>(kFirstEventOffset + track.size());

    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    seq.beginPlayback();
    while (seq.isPlaying())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto end = Clock::now();
    const double cpu = cpuSeconds() - cpuBefore;

    const auto sent = output.messages();
    if (sent.size() != static_cast<std::size_t>(events)) {
        std::fprintf(stderr, "expected %d events, recorded %zu\n", events, sent.size());
        return 1;
    }
    std::vector<double> errorsUs;
    auto due = start + std::chrono::milliseconds(Sequencer::periodFor(kDivision, 1));
    double lastUs = 0;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        due += std::chrono::milliseconds(delaysMs[i]);
        const double us = std::chrono::duration<double, std::micro>(sent[i].time - due).count();
        errorsUs.push_back(std::abs(us));
        lastUs = us;
    }
    std::vector<double> sorted = errorsUs;
    std::sort(sorted.begin(), sorted.end());
    auto pct = [&](double p) {
        return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(p * sorted.size()))];
    };
    const double wall = std::chrono::duration<double>(end - start).count();
    std::printf(
        "timing: events=%d p50_us=%.0f p99_us=%.0f max_us=%.0f drift_ms=%.2f cpu_pct=%.2f\n",
        events, pct(0.50), pct(0.99), sorted.back(), std::abs(lastUs) / 1000.0, 100.0 * cpu / wall);
    return 0;
}
