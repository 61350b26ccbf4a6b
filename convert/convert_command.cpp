#include "convert/convert_command.h"

#include <algorithm>
#include <array>
#include <vector>

#include "base/messages.h"
#include "midifile/sysex.h"

namespace pitchloom {

std::size_t scaleTuningBytes(DeviceType type) {
    // Each inserted event also takes its one-byte delta time.
    switch (type) {
        case DeviceType::GS:
            return kPartCount * (kGsScaleTuningSize + 1);
        case DeviceType::XG:
            return kPartCount * kPitchClassCount * (kXgScaleTuningSize + 1);
        case DeviceType::MTS:
            return kMtsScaleOctaveSize + 1;
        case DeviceType::GM:
            break;
    }
    return 0;
}

bool insertScaleTuning(SongWriter& writer, const TuningState& tuning,
                       std::span<const DeviceType> types, std::uint64_t time) {
    const Offsets offsets = tuning.offsetValues();
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> sizes;
    std::array<std::uint8_t, kGsScaleTuningSize> buf{};
    auto add = [&](std::size_t n) {
        bytes.insert(bytes.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
        sizes.push_back(n);
    };
    for (DeviceType type : types) {
        if (type == DeviceType::MTS) {
            add(buildMtsScaleOctave(offsets, writer.melodicChannelsAt(time), buf.data()));
            continue;
        }
        for (int part = 0; part < kPartCount; ++part) {
            if (type == DeviceType::GS) {
                add(buildGsScaleTuning(offsets, part, buf.data()));
            } else if (type == DeviceType::XG) {
                for (int pitchClass = 0; pitchClass < kPitchClassCount; ++pitchClass)
                    add(buildXgScaleTuning(offsets, part, pitchClass, buf.data()));
            }
        }
    }
    std::vector<std::span<const std::uint8_t>> messages;
    std::size_t at = 0;
    for (std::size_t n : sizes) {
        messages.emplace_back(bytes.data() + at, n);
        at += n;
    }
    return writer.insertEvents(time, messages);
}

bool convertSong(MidiSong& song, SongLoader& loader, TuningState& tuning,
                 std::span<const DeviceType> types, UserDialogs& dialogs, bool playing,
                 WriteMode mode, const RenderInstead& render) {
    if (playing) {
        dialogs.showMessage(messages::kStopPlayingFirst, BoxStyle::SystemModal);
        return false;
    }
    if (!loader.loadSongByDialog()) return false;
    // What an audio file is made from: the song as Play plays it, untouched by the conversion.
    std::vector<std::uint8_t> loaded;
    if (render) loaded.assign(song.image().begin(), song.image().end());

    SongWriter writer(song, tuning, dialogs);
    const std::uint64_t time = writer.findTuningTime();
    std::size_t added = 0;
    for (DeviceType type : types)
        added += scaleTuningBytes(type);
    if (added > 0) added += writer.statusBytesAddedAt(time);
    // The loader refuses a song that fills the buffer, so the writer may not write one.
    if (song.image().size() + added >= kSongBufferSize) {
        dialogs.showMessage(messages::kConvertedTooLarge, BoxStyle::SystemModal);
        return false;
    }
    tuning.rhythm.resetRhythmChannels();
    const auto insert = [&](SongWriter& w) { return insertScaleTuning(w, tuning, types, time); };
    if (!writer.insertAndApplyScale(insert)) return false;
    if (!render) return writer.saveWithDialog(mode);

    const std::array filters{kMidiFileFilter, kWavFileFilter};
    const auto path = dialogs.askSavePath(filters);
    if (!path) return false;
    if (!hasExtension(*path, kWavFileFilter.defaultExtension)) return writer.saveTo(*path, mode);
    std::copy(loaded.begin(), loaded.end(), song.data.begin());
    song.length = static_cast<std::int32_t>(loaded.size());
    return render(*path);
}

}  // namespace pitchloom
