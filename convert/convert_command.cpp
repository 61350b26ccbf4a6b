#include "convert/convert_command.h"

#include <array>

#include "playback/tuning_messages.h"

namespace pitchloom {

namespace {
constexpr int kPartCount = 16;
}  // namespace

std::size_t scaleTuningBytes(DeviceType type) {
    // Each inserted event also takes its one-byte delta time.
    switch (type) {
        case DeviceType::GS:
            return kPartCount * (kGsScaleTuningSize + 1);
        case DeviceType::XG:
            return kPartCount * kPitchClassCount * (kXgScaleTuningSize + 1);
        case DeviceType::GM:
            break;
    }
    return 0;
}

bool insertScaleTuning(SongWriter& writer, const TuningState& tuning, DeviceType type,
                       std::uint64_t time) {
    std::array<std::uint8_t, kGsScaleTuningSize> buf{};
    for (int part = 0; part < kPartCount; ++part) {
        if (type == DeviceType::GS) {
            const std::size_t n = buildGsScaleTuning(tuning, part, buf.data());
            if (!writer.insertEvent(time, {buf.data(), n})) return false;
        } else if (type == DeviceType::XG) {
            for (int pitchClass = 0; pitchClass < kPitchClassCount; ++pitchClass) {
                const std::size_t n = buildXgScaleTuning(tuning, part, pitchClass, buf.data());
                if (!writer.insertEvent(time, {buf.data(), n})) return false;
            }
        }
    }
    return true;
}

bool convertSong(MidiSong& song, SongLoader& loader, TuningState& tuning, DeviceType type,
                 UserDialogs& dialogs, bool playing, PipeWait pipes) {
    if (playing) {
        dialogs.showMessage("Stop playing first!", BoxStyle::SystemModal);
        return false;
    }
    if (!loader.loadSongByDialog()) return false;

    SongWriter writer(song, tuning, dialogs);
    const std::uint64_t time = writer.findTuningTime();
    const std::size_t added =
        type == DeviceType::GM ? 0 : scaleTuningBytes(type) + writer.statusBytesAddedAt(time);
    // The loader refuses a song that fills the buffer, so the writer may not write one.
    if (song.image().size() + added >= kSongBufferSize) {
        dialogs.showMessage("The converted song is too large!", BoxStyle::SystemModal);
        return false;
    }
    tuning.rhythm.resetRhythmChannels();
    if (!insertScaleTuning(writer, tuning, type, time)) return false;
    writer.applyScaleToNotes();
    return writer.saveWithDialog(pipes);
}

}  // namespace pitchloom
