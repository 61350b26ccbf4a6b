#include "tuning/bend_retuner.h"

#include <algorithm>

namespace pitchloom {

int bendRangeFor(int songSemitones, int songCents) {
    return std::clamp(songSemitones + (songCents > 0 ? 1 : 0) + 1, 1, 127);
}

namespace {

// Work in progress: passes the song through until the allocation lands.
class BendRetuner final : public NoteRetuner {
public:
    explicit BendRetuner(const RetuneSettings& settings) : settings_(settings) {}
    void begin(const ChannelUse&) override {}
    void setTuning(const TuningValue&) override {}
    void take(const ChannelMessage& message, std::chrono::nanoseconds, bool,
              std::vector<ChannelMessage>& out) override {
        out.push_back(message);
    }
    void afterReset(std::chrono::nanoseconds, std::vector<ChannelMessage>&) override {}
    RetuneReport report() const override { return report_; }

private:
    RetuneSettings settings_;
    RetuneReport report_;
};

}  // namespace

std::unique_ptr<NoteRetuner> makeBendRetuner(const RetuneSettings& settings) {
    return std::make_unique<BendRetuner>(settings);
}

}  // namespace pitchloom
