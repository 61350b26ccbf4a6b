#include "playback/playing/sequencer.h"

#include "tuning/pure_tuning.h"

namespace pitchloom {

// What a keyboard plays goes through the same rules as a song's events (see sequencer.cpp),
// one message at a time as it arrives, in the song's run while a song plays.

namespace {

constexpr std::uint8_t kSustain = 64;

std::size_t sizeOf(std::uint8_t status) {
    const std::uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 2 : 3;
}

std::chrono::nanoseconds liveTime(const SteadyTime now, const Sequencer::Run& run) {
    // Never before the song's last event, which the retuner has already taken.
    return std::max<std::chrono::nanoseconds>(now - run.origin, run.clock.elapsed());
}

}  // namespace

Sequencer::Run& Sequencer::liveRunLocked() {
    if (songRun_) {
        if (current(*songRun_) && isPlaying()) return *songRun_;
        // A song that ended under the keyboard's hands keeps its run until they let go, so that
        // the notes they hold sound on and end where they began.
        for (const auto& keys : liveKeys_) {
            for (const LiveKey& key : keys) {
                if (key.down) return *songRun_;
            }
        }
        if (livePedalled_ != 0) return *songRun_;
        songRun_.reset();
    }
    if (!liveRun_) {
        liveRun_ = std::make_unique<Run>();
        liveRun_->live = true;
        liveRun_->origin = p_.timers.now();
        liveRun_->retuneSettings = retuneSettings_;
        liveRun_->retunerFactory = retunerFactory_;
        liveRun_->deviceOpenings = p_.port.openings();
        // The module may have been reset or changed since a song last tuned it.
        p_.sender.forgetSent();
        liveRun_->tuningWiped = true;
    }
    return *liveRun_;
}

void Sequencer::playLive(std::span<const std::uint8_t> message) {
    if (message.empty() || message[0] < 0x80) return;
    std::lock_guard lock(playMutex_);
    Run& run = liveRunLocked();
    const DeviceType type = p_.deviceType.load();
    followRetuning(run, type);
    followDevice(run);
    followTuningChange(run, type);
    const std::uint8_t status = message[0];
    if (status == 0xF0) {
        if (message.size() < 2 || message.back() != 0xF7) return;
        playMessage(run, message.subspan(1, message.size() - 2), {}, type);
        return;
    }
    if (status > 0xF0) {
        // Clock, song position, start and stop: the module or sequencer behind us follows them.
        p_.port.systemMessage(message);
        return;
    }
    const std::size_t size = sizeOf(status);
    if (message.size() < size) return;
    for (std::size_t i = 1; i < size; ++i) {
        if (message[i] > 0x7F) return;
    }
    playLiveMessage(run, {status, message[1], size == 3 ? message[2] : std::uint8_t{0}}, type);
}

std::optional<double> Sequencer::livePitchOf(int key) {
    if (p_.tuning.songTuning.load() != SongTuning::Adaptive) return std::nullopt;
    std::vector<SoundingPitch> sounding;
    for (int c = 0; c < kPartCount; ++c) {
        if (p_.tuning.rhythm.isRhythm(c)) continue;
        for (const LiveKey& k : liveKeys_[static_cast<std::size_t>(c)]) {
            if (k.down) sounding.push_back({k.played, k.cents});
        }
    }
    return justAmong(key, sounding);
}

void Sequencer::playLiveMessage(Run& run, ChannelMessage m, DeviceType type) {
    const int channel = m.channel();
    const bool rhythm = p_.tuning.rhythm.isRhythm(channel);
    const std::uint8_t kind = m.status & 0xF0;
    const bool noteOn = kind == 0x90 && m.data2 != 0;
    std::optional<double> pitch;
    if (kind == 0x80 || kind == 0x90 || kind == 0xA0) {
        LiveKey& key = liveKeys_[static_cast<std::size_t>(channel)][m.data1];
        // A key keeps the place on the scale it was struck at, whatever the scale is when it is
        // let go.
        if (noteOn || !key.down) {
            key.played = static_cast<std::uint8_t>(rhythm ? m.data1 : p_.tuning.moveOntoScale(m.data1));
        }
        if (noteOn) {
            if (run.retuner && !rhythm) pitch = livePitchOf(key.played);
            key.cents = pitch.value_or(0.0);
        }
        if (kind != 0xA0) key.down = noteOn;
        m.data1 = key.played;
    }
    if (kind == 0xB0 && m.data1 == kSustain) {
        const auto bit = static_cast<std::uint16_t>(1u << channel);
        livePedalled_ = m.data2 >= 64 ? livePedalled_ | bit : livePedalled_ & ~bit;
    }
    if (noteOn) {
        if (run.noteOnCount == 0 || run.tuningWiped) sendTuning(run, type);
        ++run.noteOnCount;
    }
    if (run.retuner && noteOn) run.retuner->pitchNextNote(pitch);
    routeLive(run, m, rhythm);
}

void Sequencer::routeLive(Run& run, const ChannelMessage& m, bool rhythm) {
    if (!run.retuner) {
        send(m);
        liveChannels_ |= static_cast<std::uint16_t>(1u << m.channel());
        return;
    }
    run.retuned.clear();
    run.retuner->take(m, liveTime(p_.timers.now(), run), rhythm, run.retuned);
    SysExList before;
    run.retuner->sysExBefore(before);
    for (std::size_t i = 0; i < before.count(); ++i)
        p_.port.sendLong(before[i]);
    for (const ChannelMessage& out : run.retuned)
        liveChannels_ |= static_cast<std::uint16_t>(1u << out.channel());
    sendRetuned(run);
}

void Sequencer::releaseLiveNotes(Run& run) {
    for (int c = 0; c < kPartCount; ++c) {
        const bool rhythm = p_.tuning.rhythm.isRhythm(c);
        for (std::size_t k = 0; k < 128; ++k) {
            LiveKey& key = liveKeys_[static_cast<std::size_t>(c)][k];
            if (!key.down) continue;
            key.down = false;
            routeLive(run, {static_cast<std::uint8_t>(0x80 | c), key.played, 0}, rhythm);
        }
        if ((livePedalled_ >> c & 1) != 0) {
            routeLive(run, {static_cast<std::uint8_t>(0xB0 | c), kSustain, 0}, rhythm);
        }
    }
    livePedalled_ = 0;
}

void Sequencer::endLive() {
    std::lock_guard lock(playMutex_);
    releaseLiveNotes(liveRunLocked());
    for (int c = 0; c < kPartCount; ++c) {
        if ((liveChannels_ >> c & 1) != 0) p_.port.channelMessage(0xB0 | c, 0x7B, 0x00);
    }
    liveChannels_ = 0;
}

}  // namespace pitchloom
