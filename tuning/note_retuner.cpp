#include "tuning/note_retuner.h"

#include <cmath>

#include "midifile/event_reader.h"
#include "midifile/midi_song.h"
#include "midifile/sysex.h"

namespace pitchloom {

namespace {

constexpr std::uint16_t kChannel10 = 1u << 9;

}  // namespace

std::string describeOffTuning(const RetuneReport& report) {
    const std::string ofAll = " of " + std::to_string(report.notes) + " notes ";
    std::string text;
    if (report.offTuning > 0) {
        const auto worst = static_cast<long long>(std::ceil(report.worstCents - 1e-9));
        text = std::to_string(report.offTuning) + ofAll + "played up to " + std::to_string(worst) +
               " cents from their tuning";
    }
    if (report.silent > 0) {
        if (!text.empty()) text += "; ";
        text += std::to_string(report.silent) + ofAll +
                "fell on keys the scale leaves unmapped and were not played";
    }
    return text;
}

ChannelUse channelUseOf(std::span<const std::uint8_t> image) {
    ChannelUse use;
    use.rhythm = kChannel10;
    if (image.size() < kFirstEventOffset) return use;
    EventReader events(image, kFirstEventOffset);
    while (const auto e = events.next()) {
        if (e->status >= 0x80 && e->status <= 0xEF) {
            use.used |= static_cast<std::uint16_t>(1u << (e->status & 0x0F));
            continue;
        }
        if (!e->isSysEx() || e->unfinishedSysEx) continue;
        const auto body = bodyOfEvent(e->bytes);
        if (!body) continue;
        if (const auto part = recogniseGsRhythmPart(*body);
            part && part->value != 0 && part->channel >= 0) {
            use.rhythm |= static_cast<std::uint16_t>(1u << part->channel);
        }
        if (const auto part = recogniseXgDrumPart(*body)) {
            use.rhythm |= static_cast<std::uint16_t>(1u << *part);
        }
    }
    return use;
}

void SysExList::add(std::span<const std::uint8_t> message) {
    bytes_.insert(bytes_.end(), message.begin(), message.end());
    ends_.push_back(bytes_.size());
}

std::span<const std::uint8_t> SysExList::operator[](std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::span(bytes_).subspan(begin, ends_[i] - begin);
}

void SysExList::clear() {
    bytes_.clear();
    ends_.clear();
}

}  // namespace pitchloom
