#include "convert/convert_command.h"

#include <algorithm>
#include <array>
#include <vector>

#include "base/messages.h"
#include "tuning/dialect.h"

namespace pitchloom {

std::size_t scaleTuningBytes(DeviceType type) {
    SysExList messages;
    dialectOf(type).tuningMessages(TuningValue(), melodicChannelMask([](int) { return false; }),
                                   messages);
    // Each inserted event also takes its one-byte delta time.
    return messages.byteCount() + messages.count();
}

bool insertScaleTuning(SongWriter& writer, const TuningState& tuning,
                       std::span<const DeviceType> types, std::uint64_t time) {
    const TuningValue value = tuning.value();
    SysExList messages;
    for (DeviceType type : types) {
        if (!dialectOf(type).tuningMessages(value, writer.melodicChannelsAt(time), messages)) {
            return false;
        }
    }
    std::vector<std::span<const std::uint8_t>> events;
    for (std::size_t i = 0; i < messages.count(); ++i)
        events.push_back(messages[i]);
    return writer.insertEvents(time, events);
}

ConvertOutcome convertSong(MidiSong& song, SongLoader& loader, TuningState& tuning,
                           std::span<const DeviceType> types, UserDialogs& dialogs, bool playing,
                           const ConvertSettings& settings, WriteMode mode,
                           const RenderInstead& render) {
    if (playing) {
        dialogs.showMessage(messages::kStopPlayingFirst, BoxStyle::SystemModal);
        return {};
    }
    for (DeviceType type : types) {
        if (const auto why = whyCannotPlay(type, tuning)) {
            dialogs.showMessage(*why, BoxStyle::SystemModal);
            return {};
        }
    }
    if (!loader.loadSongByDialog()) return {};
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
        return {};
    }
    tuning.rhythm.resetRhythmChannels();
    const auto byNotes = std::find_if(types.begin(), types.end(), [](DeviceType type) {
        return dialectOf(type).noteRetuner != nullptr;
    });
    ConvertOutcome outcome;
    std::string remark;
    if (byNotes == types.end()) {
        const auto insert = [&](SongWriter& w) {
            return insertScaleTuning(w, tuning, types, time);
        };
        if (!writer.insertAndApplyScale(insert)) return {};
    } else {
        if (!insertScaleTuning(writer, tuning, types, time)) return {};
        const auto retuner = dialectOf(*byNotes).noteRetuner(settings.retune);
        if (!writer.retuneNotes(*retuner)) {
            dialogs.showMessage(messages::kConvertedTooLarge, BoxStyle::SystemModal);
            return {};
        }
        const RetuneReport report = retuner->report();
        outcome.retune = report;
        if (report.missed() && settings.strict) return outcome;
        if (report.missed() && settings.notice == OffTuningNotice::WrittenBox) {
            remark = describeOffTuning(report);
        }
    }
    if (!render) {
        outcome.written = writer.saveWithDialog(mode, remark);
        return outcome;
    }

    const std::array filters{kMidiFileFilter, kWavFileFilter};
    const auto path = dialogs.askSavePath(filters);
    if (!path) return outcome;
    if (!hasExtension(*path, kWavFileFilter.defaultExtension)) {
        outcome.written = writer.saveTo(*path, mode, remark);
        return outcome;
    }
    std::copy(loaded.begin(), loaded.end(), song.data.begin());
    song.length = static_cast<std::int32_t>(loaded.size());
    // The audio file plays the song as loaded: what its render reports is its own.
    outcome.retune.reset();
    outcome.written = render(*path);
    return outcome;
}

bool convertSong(MidiSong& song, SongLoader& loader, TuningState& tuning,
                 std::span<const DeviceType> types, UserDialogs& dialogs, bool playing,
                 WriteMode mode, const RenderInstead& render) {
    return convertSong(song, loader, tuning, types, dialogs, playing, ConvertSettings{}, mode,
                       render)
        .written;
}

}  // namespace pitchloom
