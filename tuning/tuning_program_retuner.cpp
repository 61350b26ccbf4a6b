#include "tuning/tuning_program_retuner.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <utility>

#include "midifile/sysex.h"

namespace pitchloom {

namespace {

using namespace midi;

constexpr int kChannels = 16;

constexpr std::uint8_t kTuningProgramSelect = 3;
constexpr std::uint8_t kTuningBankSelect = 4;

ChannelMessage control(int channel, std::uint8_t controller, std::uint8_t value) {
    return {static_cast<std::uint8_t>(kControl | channel), controller, value};
}

// What a channel was sent and what the song selected on it.
struct Channel {
    int program = -1;   // the tuning program in force on it, -1 for none
    bool nrpn = false;  // the song's last selection was an NRPN
    std::array<std::uint8_t, 2> rpn{kNull, kNull};
    std::array<std::uint8_t, 2> nrpnNumber{kNull, kNull};
    std::bitset<128> silenced;                 // keys whose Note On was not played
    std::array<std::uint8_t, 128> sounding{};  // notes sounding on each key
    bool pedal = false;
    std::bitset<128> ringing;  // keys let go under the pedal
};

// Two pitches a module plays alike: each goes out as its nearest whole cent.
bool sameCent(double a, double b) {
    return std::lround(a) == std::lround(b);
}

class TuningProgramRetuner final : public NoteRetuner {
public:
    void begin(const ChannelUse&) override {
        channels_ = {};
        report_ = {};
        pending_.clear();
    }

    void setTuning(const TuningValue& tuning) override {
        tuning_ = tuning;
        // The dialect sends the whole tuning with it, to the first program; the others get it
        // when a channel next selects them.
        forgetPrograms();
    }

    void pitchNextNote(std::optional<double> centsFromEqual) override { planned_ = centsFromEqual; }

    void sysExBefore(SysExList& out) override {
        for (std::size_t i = 0; i < pending_.count(); ++i)
            out.add(pending_[i]);
        pending_.clear();
    }

    void take(const ChannelMessage& m, std::chrono::nanoseconds, bool rhythm,
              std::vector<ChannelMessage>& out) override {
        const std::optional<double> planned = std::exchange(planned_, std::nullopt);
        // Rhythm channels keep their own sounds; a data byte with its top bit set is no MIDI.
        if (rhythm || m.data1 > 0x7F || m.data2 > 0x7F) {
            out.push_back(m);
            return;
        }
        const int c = m.channel();
        Channel& ch = channels_[c];
        const std::uint8_t kind = m.status & 0xF0;
        const bool noteOn = kind == kNoteOn && m.data2 != 0;
        const bool noteOff = kind == kNoteOff || (kind == kNoteOn && m.data2 == 0);
        if (noteOn) {
            ++report_.notes;
            if (!tuning_.sounds(c, m.data1)) {
                ++report_.silent;
                ch.silenced.set(m.data1);
                return;
            }
            // A note of its own pitch retunes its key in its channel's own program, so that the
            // same key sounding on another channel keeps its pitch.
            const int program = planned ? c : kKeyTuningProgram;
            select(c, program, out);
            if (planned) retuneKey(program, m.data1, m.data1 * 100.0 + *planned);
            ++ch.sounding[m.data1];
        } else if ((noteOff || kind == kPolyPressure) && ch.silenced.test(m.data1)) {
            if (noteOff) ch.silenced.reset(m.data1);
            return;
        } else if (noteOff && ch.sounding[m.data1] > 0) {
            --ch.sounding[m.data1];
            if (ch.pedal) ch.ringing.set(m.data1);
        } else if (kind == kControl) {
            follow(ch, m.data1, m.data2);
        }
        out.push_back(m);
    }

    void afterReset(std::chrono::nanoseconds, std::vector<ChannelMessage>&) override {
        // The whole tuning goes out again after the reset.
        forgetPrograms();
        for (Channel& ch : channels_) {
            ch.program = -1;
            ch.nrpn = false;
            ch.rpn = ch.nrpnNumber = {kNull, kNull};
        }
    }

    RetuneReport report() const override { return report_; }

private:
    // Keeps what the song selects, to put it back after a selection of the tuning program.
    static void follow(Channel& ch, std::uint8_t cc, std::uint8_t value) {
        switch (cc) {
            case kRpnCoarse:
            case kRpnFine:
                ch.nrpn = false;
                ch.rpn[cc == kRpnCoarse ? 0 : 1] = value;
                return;
            case kNrpnCoarse:
            case kNrpnFine:
                ch.nrpn = true;
                ch.nrpnNumber[cc == kNrpnCoarse ? 0 : 1] = value;
                return;
            case kSustain:
                ch.pedal = value >= 64;
                if (!ch.pedal) ch.ringing.reset();
                return;
            case kResetControllers:
                // Some modules reset the tuning program with the controllers.
                ch.program = -1;
                ch.nrpn = false;
                ch.rpn = ch.nrpnNumber = {kNull, kNull};
                ch.pedal = false;
                ch.ringing.reset();
                return;
            case kAllSoundOff:
            case kAllNotesOff:
                ch.silenced.reset();
                ch.sounding = {};
                ch.ringing.reset();
                return;
            default:
                return;
        }
    }

    void select(int c, int program, std::vector<ChannelMessage>& out) {
        Channel& ch = channels_[c];
        if (ch.program == program) return;
        ch.program = program;
        if (!defined_[static_cast<std::size_t>(program)]) define(program);
        out.push_back(control(c, kRpnCoarse, 0));
        out.push_back(control(c, kRpnFine, kTuningBankSelect));
        out.push_back(control(c, kDataEntry, 0));
        out.push_back(control(c, kRpnFine, kTuningProgramSelect));
        out.push_back(control(c, kDataEntry, static_cast<std::uint8_t>(program)));
        // Back to what the song selected (RPN null if nothing), so that its own data entries
        // reach what it meant.
        out.push_back(control(c, kRpnCoarse, ch.rpn[0]));
        out.push_back(control(c, kRpnFine, ch.rpn[1]));
        if (ch.nrpn) {
            out.push_back(control(c, kNrpnCoarse, ch.nrpnNumber[0]));
            out.push_back(control(c, kNrpnFine, ch.nrpnNumber[1]));
        }
    }

    // The module has the dialect's tuning in the first program only.
    void forgetPrograms() {
        defined_ = {};
        defined_[kKeyTuningProgram] = true;
        for (int k = 0; k < 128; ++k)
            told_[kKeyTuningProgram][static_cast<std::size_t>(k)] = tuning_.pitch(0, k);
    }

    // Gives a program the whole tuning before a channel first selects it.
    void define(int program) {
        auto& told = told_[static_cast<std::size_t>(program)];
        for (int k = 0; k < 128; ++k)
            told[static_cast<std::size_t>(k)] = tuning_.pitch(0, k);
        std::array<std::uint8_t, kMtsNoteTuningSize> message{};
        for (int first = 0; first < 128; first += kMtsNoteTuningKeys) {
            pending_.add(
                std::span(message).first(buildMtsNoteTuning(told, first, program, message.data())));
        }
        defined_[static_cast<std::size_t>(program)] = true;
    }

    bool keySounds(int program, std::uint8_t key) const {
        return std::any_of(channels_.begin(), channels_.end(), [&](const Channel& ch) {
            return ch.program == program && (ch.sounding[key] > 0 || ch.ringing.test(key));
        });
    }

    // Tunes one key of a program for the note about to start on it, unless a note sounds on it
    // already: a real-time change would move that note too, so the new one shares its pitch.
    void retuneKey(int program, std::uint8_t key, double cents) {
        double& told = told_[static_cast<std::size_t>(program)][key];
        if (sameCent(told, cents)) return;
        if (keySounds(program, key)) {
            ++report_.offTuning;
            report_.worstCents = std::max(report_.worstCents, std::abs(told - cents));
            return;
        }
        std::array<std::uint8_t, kMtsKeyTuningSize> message{};
        pending_.add(
            std::span(message).first(buildMtsKeyTuning(key, cents, program, message.data())));
        told = cents;
    }

    TuningValue tuning_;
    std::optional<double> planned_;  // the pitch of the next Note On, when it has its own
    // What the module was last told of each key of each program, and which programs it has.
    std::array<std::array<double, 128>, kChannels> told_{};
    std::array<bool, kChannels> defined_{};
    SysExList pending_;
    std::array<Channel, kChannels> channels_{};
    RetuneReport report_;
};

}  // namespace

std::unique_ptr<NoteRetuner> makeTuningProgramRetuner(const RetuneSettings&) {
    return std::make_unique<TuningProgramRetuner>();
}

}  // namespace pitchloom
