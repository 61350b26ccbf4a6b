#include "playback/scale_tuning_sender.h"

#include "playback/tuning_messages.h"

namespace pitchloom {

void ScaleTuningSender::forgetSent() {
    for (auto& s : sentOffsets_)
        s.store(kNothingSent);
}

std::int32_t ScaleTuningSender::sentOffset(int pitchClass) const {
    return sentOffsets_[static_cast<std::size_t>(pitchClass)].load();
}

void ScaleTuningSender::sendScaleTuning(DeviceType type) {
    if (type == DeviceType::GS) {
        std::uint8_t buf[kGsScaleTuningSize];
        for (int part = 0; part < 16; ++part) {
            const std::size_t n = buildGsScaleTuning(tuning_, part, buf);
            for (std::size_t i = 0; i < 12; ++i)
                sentOffsets_[i].store(tuning_.offsets[i].load());
            port_.sendLong({buf, n});
        }
    } else if (type == DeviceType::XG) {
        const Offsets now = tuning_.offsetValues();
        std::uint8_t buf[kXgScaleTuningSize];
        for (int part = 0; part < 16; ++part) {
            for (int n = 0; n < 12; ++n) {
                const auto i = static_cast<std::size_t>(n);
                if (now[i] == sentOffsets_[i].load()) continue;
                const std::size_t size = buildXgScaleTuning(tuning_, part, n, buf);
                buf[8] = tuningDataByte(now[i]);  // the value compared, even if it moved since
                port_.sendLong({buf, size});
            }
        }
        for (std::size_t i = 0; i < 12; ++i)
            sentOffsets_[i].store(now[i]);
    }
}

}  // namespace pitchloom
