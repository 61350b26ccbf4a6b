#include "playback/scale_tuning_sender.h"

#include "midifile/sysex.h"

namespace pitchloom {

void ScaleTuningSender::forgetSent() {
    for (auto& s : sentOffsets_)
        s.store(kNothingSent);
    std::lock_guard lock(mtsMutex_);
    lastMts_.reset();
}

void ScaleTuningSender::sendScaleTuning(DeviceType type) {
    if (type == DeviceType::GS) {
        std::uint8_t buf[kGsScaleTuningSize];
        for (int part = 0; part < kPartCount; ++part) {
            const Offsets now = tuning_.offsetValues();
            const std::size_t n = buildGsScaleTuning(now, part, buf);
            for (std::size_t i = 0; i < now.size(); ++i)
                sentOffsets_[i].store(now[i]);
            port_.sendLong({buf, n});
        }
    } else if (type == DeviceType::XG) {
        const Offsets now = tuning_.offsetValues();
        std::uint8_t buf[kXgScaleTuningSize];
        for (int part = 0; part < kPartCount; ++part) {
            for (int n = 0; n < kPitchClassCount; ++n) {
                const auto i = static_cast<std::size_t>(n);
                if (now[i] == sentOffsets_[i].load()) continue;
                // The value compared is the value sent, even if the slider moved since.
                const std::size_t size = buildXgScaleTuning(now, part, n, buf);
                port_.sendLong({buf, size});
            }
        }
        for (std::size_t i = 0; i < 12; ++i)
            sentOffsets_[i].store(now[i]);
    } else if (type == DeviceType::MTS) {
        std::uint16_t channels = 0;
        for (int c = 0; c < kPartCount; ++c) {
            if (!tuning_.rhythm.isRhythm(c)) channels |= static_cast<std::uint16_t>(1u << c);
        }
        std::array<std::uint8_t, kMtsScaleOctaveSize> message{};
        buildMtsScaleOctave(tuning_.offsetValues(), channels, message.data());
        {
            std::lock_guard lock(mtsMutex_);
            if (lastMts_ == message) return;
            lastMts_ = message;
        }
        port_.sendLong(message);
    }
}

}  // namespace pitchloom
