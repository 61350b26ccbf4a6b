#include "playback/playing/scale_tuning_sender.h"

#include <algorithm>

namespace pitchloom {

void ScaleTuningSender::forgetSent() {
    std::lock_guard lock(mutex_);
    sent_.clear();
}

void ScaleTuningSender::sendScaleTuning(DeviceType type) {
    const Dialect& dialect = dialectOf(type);
    std::lock_guard lock(mutex_);
    now_.clear();
    // A tuning the dialect cannot say leaves the module as it was.
    if (!dialect.tuningMessages(
            tuning_.value(),
            melodicChannelMask([this](int c) { return tuning_.rhythm.isRhythm(c); }), now_)) {
        return;
    }
    for (std::size_t i = 0; i < now_.count(); ++i) {
        const auto message = now_[i];
        const bool known = i < sent_.count() && std::ranges::equal(message, sent_[i]);
        if (dialect.resendsUnchanged || !known) port_.sendLong(message);
    }
    std::swap(sent_, now_);
}

}  // namespace pitchloom
