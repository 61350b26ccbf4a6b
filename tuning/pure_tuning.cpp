#include "tuning/pure_tuning.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

namespace pitchloom {

namespace {

// One interval between pitch classes that the song sounds, and for how long in all.
struct ClassInterval {
    int low;
    int high;
    int semitones;  // high above low within the octave
    double seconds;
};

std::vector<ClassInterval> classIntervalsOf(std::span<const SongNote> notes,
                                            std::span<const NotePair> pairs) {
    std::array<std::array<double, kPitchClassCount>, kPitchClassCount> seconds{};
    for (const NotePair& p : pairs) {
        const int low = notes[p.low].key % kPitchClassCount;
        const int high = notes[p.high].key % kPitchClassCount;
        seconds[static_cast<std::size_t>(low)][static_cast<std::size_t>(high)] += p.seconds;
    }
    std::vector<ClassInterval> intervals;
    for (int low = 0; low < kPitchClassCount; ++low) {
        for (int high = 0; high < kPitchClassCount; ++high) {
            const double s = seconds[static_cast<std::size_t>(low)][static_cast<std::size_t>(high)];
            const int semitones = (high - low + kPitchClassCount) % kPitchClassCount;
            // A unison or octave is pure in any twelve-offset tuning.
            if (s <= 0 || low == high || justIntervals(semitones).empty()) continue;
            intervals.push_back({low, high, semitones, s});
        }
    }
    return intervals;
}

double costOf(std::span<const ClassInterval> intervals, const PitchClassOffsets& o) {
    double cost = 0.0;
    for (const ClassInterval& i : intervals) {
        const double cents = i.semitones * 100.0 + o[static_cast<std::size_t>(i.high)] -
                             o[static_cast<std::size_t>(i.low)];
        cost += i.seconds * mistuning(i.semitones, cents).value_or(0.0);
    }
    return cost;
}

// The built-in tunings in every key, C brought to 0: where the search starts from.
std::vector<PitchClassOffsets> startingPoints() {
    std::vector<PitchClassOffsets> starts{PitchClassOffsets{}};
    for (const TuningRow& row : TuningTable) {
        if (!row.hasRow) continue;
        for (int tonic = 0; tonic < kPitchClassCount; ++tonic) {
            PitchClassOffsets o{};
            rotateByKey(row.cents, tonic, o);
            const std::int32_t c = o[0];
            for (auto& v : o)
                v = std::clamp(v - c, -kFittedReach, kFittedReach);
            starts.push_back(o);
        }
    }
    return starts;
}

// Moves one offset, or two together, while that lowers the cost: a search over whole cents.
double descend(std::span<const ClassInterval> intervals, PitchClassOffsets& o) {
    constexpr int kPairReach = 24;
    double best = costOf(intervals, o);
    for (bool moved = true; moved;) {
        moved = false;
        for (std::size_t i = 1; i < o.size(); ++i) {
            const std::int32_t was = o[i];
            std::int32_t bestValue = was;
            for (std::int32_t v = -kFittedReach; v <= kFittedReach; ++v) {
                o[i] = v;
                if (const double c = costOf(intervals, o); c < best - 1e-9) {
                    best = c;
                    bestValue = v;
                }
            }
            o[i] = bestValue;
            moved = moved || bestValue != was;
        }
        for (std::size_t i = 1; i < o.size(); ++i) {
            for (std::size_t j = i + 1; j < o.size(); ++j) {
                const std::int32_t wasI = o[i];
                const std::int32_t wasJ = o[j];
                int bestShift = 0;
                for (int shift = -kPairReach; shift <= kPairReach; ++shift) {
                    if (shift == 0 || std::abs(wasI + shift) > kFittedReach ||
                        std::abs(wasJ + shift) > kFittedReach) {
                        continue;
                    }
                    o[i] = wasI + shift;
                    o[j] = wasJ + shift;
                    if (const double c = costOf(intervals, o); c < best - 1e-9) {
                        best = c;
                        bestShift = shift;
                    }
                }
                o[i] = wasI + bestShift;
                o[j] = wasJ + bestShift;
                moved = moved || bestShift != 0;
            }
        }
    }
    return best;
}

// How the adaptive tuner weighs what it cannot have all of: a pull of each note toward equal
// temperament that only settles which way a chord struck afresh stands, and a wall beyond the
// farthest a note of a just chord on equal temperament lies (a minor third above its root),
// which a chain of held notes cannot pass to drift a comma at a time.
constexpr double kPull = 0.005;  // per cent squared and second
constexpr double kWallCents = 16.0;
constexpr double kWall = 0.5;  // per cent squared beyond the wall and second
// The springs' pull of each note toward equal temperament, against that of a pair sounding for a
// second a cent from just: loose at first, firmer where the loose one lets the song drift; the
// rounds of reweighting, the steps of each at most, the residual (against the load) at which
// they stop, and the distance below which a pair pulls no harder.
constexpr double kLooseNotePull = 0.003;
constexpr double kNotePull = 0.01;
constexpr int kRelaxRounds = 8;
constexpr int kRelaxSteps = 300;
constexpr double kRelaxResidual = 1e-10;
constexpr double kRelaxFloor = 0.1;
// Where the springs hold the drift: a span of ten seconds whose mean offset strays more than
// this from the first span's is pulled back, the pull growing each round it stays out.
constexpr double kSpanSlack = 1.0;
constexpr double kSpanPull = 1.0;
constexpr double kSpanPullGrowth = 3.0;
// The farthest the search for pure pairs lets the mean of a span move from the first span's: a
// little inside the three cents a song may wander before it is heard to drift.
constexpr double kDriftReach = 2.9;
// An interval the search makes pure lies this far inside the window around just where it can, and
// a hair inside at least, so that the rounding of a sum cannot tip it out; the sweeps it makes
// over the song at most.
constexpr double kPureInside = 0.25;
constexpr double kSurelyPure = kPureCents - 1e-6;
constexpr int kSearchSweeps = 10;
// The moves of a cent at most that bring back a span rounding carried past kDriftReach.
constexpr int kHoldSteps = 1000;
// Notes struck within this much of the first of them are tuned together, as one chord.
constexpr double kChordSpread = 0.03;
// The notes of a chord whose pitch choices start the search; the rest follow each in turn.
constexpr std::size_t kAnchors = 2;

// The spans of ten seconds drift is measured over, as purityOf counts them: from each time a
// note starts, the notes [first, end) struck within ten seconds; none the song ends within
// but the first.
struct Span {
    std::uint32_t first;
    std::uint32_t end;
    double count() const { return end - first; }
};

std::vector<Span> driftSpans(std::span<const SongNote> notes) {
    std::vector<Span> spans;
    if (notes.empty()) return spans;
    const double lastStart = notes.back().start;
    std::size_t end = 0;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (i > 0 && notes[i].start == notes[i - 1].start) continue;
        if (i > 0 && notes[i].start + kDriftWindowSeconds > lastStart) break;
        end = std::max(end, i);
        while (end < notes.size() && notes[end].start < notes[i].start + kDriftWindowSeconds)
            ++end;
        spans.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(end)});
    }
    return spans;
}

// Numbers the groups of notes that share a pitch, each note tied to the first of its group (or
// itself), in the order the groups start; by note.
std::vector<std::uint32_t> groupsOf(std::span<const std::uint32_t> tie) {
    std::vector<std::uint32_t> group(tie.size());
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < tie.size(); ++i)
        group[i] = tie[i] == i ? count++ : group[tie[i]];
    return group;
}

// The largest change of a span's mean offset from the first span's.
double driftOf(std::span<const SongNote> notes, std::span<const double> offsets) {
    const auto spans = driftSpans(notes);
    const auto meanOf = [&](const Span& s) {
        double sum = 0.0;
        for (std::uint32_t i = s.first; i < s.end; ++i)
            sum += offsets[i];
        return sum / s.count();
    };
    double drift = 0.0;
    const double first = spans.empty() ? 0.0 : meanOf(spans.front());
    for (const Span& s : spans)
        drift = std::max(drift, std::abs(meanOf(s) - first));
    return drift;
}

// The pairs of notes with a just interval to aim at, gathered by the groups of notes that share
// a pitch (`groupOf`, by note): between two groups every pair is the same interval, so one
// spring with their time in all stands for them.
struct Spring {
    std::uint32_t low;
    std::uint32_t high;
    int semitones;
    double seconds;
};

std::vector<Spring> springsOf(std::span<const SongNote> notes, std::span<const NotePair> pairs,
                              std::span<const std::uint32_t> groupOf) {
    std::vector<Spring> springs;
    std::unordered_map<std::uint64_t, std::size_t> index;
    for (const NotePair& p : pairs) {
        const std::uint32_t low = groupOf[p.low];
        const std::uint32_t high = groupOf[p.high];
        const int semitones = notes[p.high].key - notes[p.low].key;
        if (low == high || (semitones % 12 != 0 && justIntervals(semitones % 12).empty())) continue;
        const auto [at, fresh] =
            index.try_emplace((std::uint64_t{low} << 32) | high, springs.size());
        if (fresh) springs.push_back({low, high, semitones, 0.0});
        springs[at->second].seconds += p.seconds;
    }
    return springs;
}

// A search over the pitches the springs found for the share of pair time that is pure itself:
// it moves a note (with the notes that repeat it), a chord, or the notes of one pitch class in a
// chord, to where the most of their time with the other notes is pure, the drift allowing,
// until no such move gains; then again over whole cents, from the pitches rounded.
class PureSearch {
public:
    PureSearch(std::span<const SongNote> notes, std::span<const NotePair> pairs,
               std::span<const std::uint32_t> tie, std::span<const double> offsets)
        : group_(groupsOf(tie)), spans_(driftSpans(notes)) {
        for (std::size_t i = 0; i < notes.size(); ++i) {
            if (group_[i] == x_.size()) {
                x_.push_back(offsets[i]);
                members_.emplace_back();
            }
            members_[group_[i]].push_back(static_cast<std::uint32_t>(i));
        }
        linkGroups(notes, pairs);
        placeInSpans(notes.size());
        gatherBlocks(notes);
        moving_.assign(x_.size(), 0);
    }

    // Runs the search; the offsets by note, in whole cents.
    void run(std::vector<double>& offsets) {
        sweep();
        // The per-note dialects play whole cents, and rounding tips out a pair lying near the
        // edge of its window: the search goes on over whole cents to bring back what it can.
        for (double& x : x_)
            x = std::round(x);
        sumSpans();
        whole_ = true;
        holdDrift();
        sweep();
        for (std::size_t i = 0; i < offsets.size(); ++i)
            offsets[i] = x_[group_[i]];
    }

private:
    // A pair of groups as one of them sees it: pure where it stands at the other's offset plus
    // one of `just` (cents from equal temperament), for `seconds` in all.
    struct Link {
        std::uint32_t other;
        std::array<double, 2> just;
        std::uint8_t count;
        double seconds;
    };

    void linkGroups(std::span<const SongNote> notes, std::span<const NotePair> pairs) {
        links_.resize(x_.size());
        for (const Spring& b : springsOf(notes, pairs, group_)) {
            const double octaves = 1200.0 * (b.semitones / 12) - 100.0 * b.semitones;
            Link up{b.low, {octaves, 0.0}, 1, b.seconds};
            if (b.semitones % 12 != 0) {
                const auto just = justIntervals(b.semitones % 12);
                up.count = static_cast<std::uint8_t>(just.size());
                for (std::size_t k = 0; k < just.size(); ++k)
                    up.just[k] = octaves + just[k];
            }
            Link down = up;
            down.other = b.high;
            for (double& j : down.just)
                j = -j;
            links_[b.high].push_back(up);
            links_[b.low].push_back(down);
        }
    }

    // The spans holding each note, a run of them since both their starts and ends ascend, and
    // the sum of the offsets in each.
    void placeInSpans(std::size_t notes) {
        spanFrom_.assign(notes, 0);
        spanTo_.assign(notes, 0);
        std::size_t from = 0;
        std::size_t to = 0;
        for (std::size_t i = 0; i < notes; ++i) {
            while (from < spans_.size() && spans_[from].end <= i)
                ++from;
            while (to < spans_.size() && spans_[to].first <= i)
                ++to;
            spanFrom_[i] = static_cast<std::uint32_t>(from);
            spanTo_[i] = static_cast<std::uint32_t>(std::max(from, to));
        }
        sumSpans();
        share_.assign(spans_.size(), 0.0);
    }

    void sumSpans() {
        sum_.assign(spans_.size(), 0.0);
        for (std::size_t s = 0; s < spans_.size(); ++s) {
            for (std::uint32_t i = spans_[s].first; i < spans_[s].end; ++i)
                sum_[s] += x_[group_[i]];
        }
    }

    // Moves each group and each block in turn, over and over while one gains.
    void sweep() {
        for (int round = 0; round < kSearchSweeps; ++round) {
            bool moved = false;
            for (std::uint32_t g = 0; g < x_.size(); ++g)
                moved = move(std::span(&g, 1)) || moved;
            for (const auto& block : blocks_)
                moved = move(block) || moved;
            if (!moved) break;
        }
    }

    // Rounding can carry a span past the drift the search allowed: a note of the span lying
    // farthest moves back a cent, the one whose move loses the least pure time, until none lies
    // past kDriftReach or no such move is left.
    void holdDrift() {
        if (spans_.empty()) return;
        std::vector<std::uint8_t> seen(x_.size(), 0);
        for (int step = 0; step < kHoldSteps; ++step) {
            std::size_t worst = 0;
            double off = 0.0;
            for (std::size_t s = 1; s < spans_.size(); ++s) {
                if (const double o = meanOf(s) - meanOf(0); std::abs(o) > std::abs(off)) {
                    worst = s;
                    off = o;
                }
            }
            if (std::abs(off) <= kDriftReach) return;
            const double shift = off > 0 ? -1.0 : 1.0;
            std::uint32_t best = 0;
            double least = std::numeric_limits<double>::max();
            std::vector<std::uint32_t> candidates;
            for (std::uint32_t i = spans_[worst].first; i < spans_[worst].end; ++i) {
                const std::uint32_t g = group_[i];
                if (seen[g]) continue;
                seen[g] = 1;
                candidates.push_back(g);
                const auto [low, high] = driftRoom(std::span(&g, 1));
                // The move must bring the span nearer the first, not the first nearer it.
                const double slope =
                    share_[worst] / spans_[worst].count() - share_[0] / spans_[0].count();
                for (std::uint32_t s : touched_)
                    share_[s] = 0.0;
                if (slope <= 1e-12 || shift < low || shift > high) continue;
                if (const double loss = pureTime(g, 0.0) - pureTime(g, shift);
                    loss < least - 1e-9) {
                    least = loss;
                    best = g;
                }
            }
            for (std::uint32_t g : candidates)
                seen[g] = 0;
            if (least == std::numeric_limits<double>::max()) return;
            driftRoom(std::span(&best, 1));
            x_[best] += shift;
            for (std::uint32_t s : touched_) {
                sum_[s] += shift * share_[s];
                share_[s] = 0.0;
            }
        }
    }

    // The time the group is pure with the others, shifted by the amount.
    double pureTime(std::uint32_t g, double shift) const {
        double pure = 0.0;
        for (const Link& l : links_[g]) {
            for (std::size_t k = 0; k < l.count; ++k) {
                if (std::abs(x_[l.other] + l.just[k] - x_[g] - shift) <= kPureCents + 1e-9)
                    pure += l.seconds;
            }
        }
        return pure;
    }

    // The chords, and within each the notes of a pitch class that sounds in more than one part:
    // a chord just within itself but off against what it sounds with moves as a whole, a
    // doubled note with its doublings.
    void gatherBlocks(std::span<const SongNote> notes) {
        for (std::size_t i = 0; i < notes.size();) {
            std::size_t end = i;
            std::vector<std::uint32_t> chord;
            while (end < notes.size() && notes[end].start - notes[i].start < kChordSpread)
                chord.push_back(group_[end++]);
            std::sort(chord.begin(), chord.end());
            chord.erase(std::unique(chord.begin(), chord.end()), chord.end());
            for (int pc = 0; pc < kPitchClassCount && chord.size() > 2; ++pc) {
                std::vector<std::uint32_t> doubled;
                for (std::uint32_t g : chord) {
                    if (notes[members_[g].front()].key % kPitchClassCount == pc)
                        doubled.push_back(g);
                }
                if (doubled.size() > 1 && doubled.size() < chord.size())
                    blocks_.push_back(std::move(doubled));
            }
            if (chord.size() > 1) blocks_.push_back(std::move(chord));
            i = end;
        }
    }

    double meanOf(std::size_t s) const { return sum_[s] / spans_[s].count(); }

    // How far the groups can shift together before a span strays farther than kDriftReach from
    // the first span, or farther than it already does.
    std::pair<double, double> driftRoom(std::span<const std::uint32_t> block) {
        touched_.clear();
        for (std::uint32_t g : block) {
            for (std::uint32_t i : members_[g]) {
                for (std::uint32_t s = spanFrom_[i]; s < spanTo_[i]; ++s) {
                    if (share_[s] == 0) touched_.push_back(s);
                    share_[s] += 1.0;
                }
            }
        }
        double low = -std::numeric_limits<double>::max();
        double high = std::numeric_limits<double>::max();
        if (spans_.empty()) return {low, high};
        const double firstMean = meanOf(0);
        const double firstSlope = share_[0] / spans_[0].count();
        const auto hold = [&](std::size_t s) {
            const double off = meanOf(s) - firstMean;
            const double slope = share_[s] / spans_[s].count() - firstSlope;
            if (std::abs(slope) < 1e-12) return;
            const double reach = std::max(kDriftReach, std::abs(off));
            const double a = (-reach - off) / slope;
            const double b = (reach - off) / slope;
            low = std::max(low, std::min(a, b));
            high = std::min(high, std::max(a, b));
        };
        if (firstSlope != 0) {
            // Moving the first span moves what every span is measured from.
            for (std::size_t s = 1; s < spans_.size(); ++s)
                hold(s);
        } else {
            for (std::uint32_t s : touched_)
                hold(s);
        }
        return {low, high};
    }

    // Shifts the groups together by the amount, within the drift's room, at which the most of
    // their time with the other notes is pure, if that is more than now; the nearest such.
    bool move(std::span<const std::uint32_t> block) {
        edges_.clear();
        double now = 0.0;
        for (std::uint32_t g : block)
            moving_[g] = 1;
        for (std::uint32_t g : block) {
            for (const Link& l : links_[g]) {
                if (moving_[l.other]) continue;
                for (std::size_t k = 0; k < l.count; ++k) {
                    const double exact = x_[l.other] + l.just[k] - x_[g];
                    edges_.push_back({exact - kSurelyPure, l.seconds});
                    edges_.push_back({exact + kSurelyPure, -l.seconds});
                    if (std::abs(exact) <= kPureCents + 1e-9) now += l.seconds;
                }
            }
        }
        for (std::uint32_t g : block)
            moving_[g] = 0;
        // Where a window opens and closes at one shift, it opens first.
        std::sort(edges_.begin(), edges_.end(), [](const auto& a, const auto& b) {
            return a.first < b.first || (a.first == b.first && a.second > b.second);
        });
        double pure = 0.0;
        double most = 0.0;
        for (const auto& [at, change] : edges_)
            most = std::max(most, pure += change);
        // Most moves gain nothing once the search settles; they need not ask the drift.
        if (most <= now + 1e-9) return false;
        const auto [roomLow, roomHigh] = driftRoom(block);
        pure = 0.0;
        double best = now;
        double bestShift = 0.0;
        bool found = false;
        for (std::size_t k = 0; k + 1 < edges_.size(); ++k) {
            pure += edges_[k].second;
            const double low = std::max(edges_[k].first, roomLow);
            const double high = std::min(edges_[k + 1].first, roomHigh);
            if (pure <= now + 1e-9 || low > high) continue;
            double shift = 0.0;
            if (whole_) {
                // Groups on whole cents move by whole cents, to stay on them.
                if (std::ceil(low) > std::floor(high)) continue;
                shift = std::clamp(0.0, std::ceil(low), std::floor(high));
            } else {
                const double inside = std::min(kPureInside, (high - low) / 2);
                shift = std::clamp(0.0, low + inside, high - inside);
            }
            if (pure > best + 1e-9 ||
                (found && pure > best - 1e-9 && std::abs(shift) < std::abs(bestShift))) {
                best = std::max(best, pure);
                bestShift = shift;
                found = true;
            }
        }
        if (found) {
            for (std::uint32_t g : block)
                x_[g] += bestShift;
            for (std::uint32_t s : touched_)
                sum_[s] += bestShift * share_[s];
        }
        for (std::uint32_t s : touched_)
            share_[s] = 0.0;
        return found;
    }

    std::vector<std::uint32_t> group_;  // by note: the group of notes that share its pitch
    std::vector<double> x_;             // by group
    std::vector<std::vector<std::uint32_t>> members_;
    std::vector<std::vector<Link>> links_;
    std::vector<Span> spans_;
    std::vector<std::uint32_t> spanFrom_;
    std::vector<std::uint32_t> spanTo_;
    std::vector<double> sum_;    // by span
    std::vector<double> share_;  // by span: how many notes of the moving groups it holds
    std::vector<std::uint32_t> touched_;
    std::vector<std::vector<std::uint32_t>> blocks_;
    std::vector<std::uint8_t> moving_;
    std::vector<std::pair<double, double>> edges_;  // the shifts where a pair turns pure or not
    bool whole_ = false;                            // whether the groups stand on whole cents
};

class AdaptiveTuner {
public:
    AdaptiveTuner(std::span<const SongNote> notes, std::span<const NotePair> pairs)
        : notes_(notes),
          pairs_(pairs),
          partners_(notes.size()),
          x_(notes.size(), 0.0),
          tie_(notes.size()),
          tuned_(notes.size(), 0),
          trial_(notes.size(), 0) {
        for (std::size_t i = 0; i < tie_.size(); ++i)
            tie_[i] = static_cast<std::uint32_t>(i);
        for (const NotePair& p : pairs) {
            partners_[p.low].push_back({p.high, p.seconds});
            partners_[p.high].push_back({p.low, p.seconds});
        }
    }

    std::vector<double> run() {
        const auto around = keysAround(notes_);
        std::vector<std::int64_t> before(16 * 128, -1);
        std::vector<std::uint32_t> chord;
        std::vector<std::uint32_t> open;
        for (std::size_t i = 0; i < notes_.size();) {
            std::size_t end = i;
            while (end < notes_.size() && notes_[end].start - notes_[i].start < kChordSpread)
                ++end;
            open.clear();
            for (std::size_t k = i; k < end; ++k) {
                const std::int64_t p = before[slot(k)];
                if (p >= 0 && around[static_cast<std::size_t>(p)] == around[k]) {
                    // Struck again with nothing changed around it: the same pitch, no wobble.
                    x_[k] = x_[static_cast<std::size_t>(p)];
                    tie_[k] = tie_[static_cast<std::size_t>(p)];
                    tuned_[k] = 1;
                } else {
                    open.push_back(static_cast<std::uint32_t>(k));
                }
            }
            tuneChord(open);
            for (std::size_t k = i; k < end; ++k)
                before[slot(k)] = static_cast<std::int64_t>(k);
            i = end;
        }
        // Loose springs leave the most pairs pure; where they let the song drift, firmer ones
        // and a hold on the drift. The search after them takes no span farther from the first
        // than kDriftReach, or than it already lies.
        const std::vector<double> chosen = x_;
        relax(kLooseNotePull, false);
        if (driftOf(notes_, x_) > kDriftReach) {
            x_ = chosen;
            relax(kNotePull, true);
        }
        PureSearch(notes_, pairs_, tie_, x_).run(x_);
        return x_;
    }

private:
    struct Partner {
        std::uint32_t note;
        double seconds;
    };

    std::size_t slot(std::size_t n) const {
        return static_cast<std::size_t>(notes_[n].channel) * 128 + notes_[n].key;
    }

    bool known(std::uint32_t n) const { return tuned_[n] != 0 || trial_[n] == stamp_; }

    // How far the note at x sounds from just with the notes known so far, by the time they sound
    // together, and what it costs to stand where it does.
    double costAt(std::uint32_t n, double x) const {
        const SongNote& note = notes_[n];
        double cost = 0.0;
        for (const Partner& p : partners_[n]) {
            if (!known(p.note)) continue;
            const SongNote& other = notes_[p.note];
            const auto off = note.key >= other.key
                                 ? mistuningOf(other.key, x_[p.note], note.key, x)
                                 : mistuningOf(note.key, x, other.key, x_[p.note]);
            cost += p.seconds * off.value_or(0.0);
        }
        const double beyond = std::max(0.0, std::abs(x) - kWallCents);
        return cost + std::max(note.seconds(), 0.01) * (kPull * x * x + kWall * beyond * beyond);
    }

    // The pitches at which the note is just with one of the known notes, equal temperament, and
    // those held at the wall.
    void candidatesFor(std::uint32_t n, std::vector<double>& out) const {
        out.assign({0.0});
        const int key = notes_[n].key;
        for (const Partner& p : partners_[n]) {
            if (!known(p.note)) continue;
            const int other = notes_[p.note].key;
            const int semitones = std::abs(key - other);
            const double octaves = 1200.0 * (semitones / 12);
            for (double t : justIntervals(semitones % 12)) {
                const double x = key > other ? x_[p.note] + t + octaves - 100.0 * semitones
                                             : x_[p.note] + 100.0 * semitones - t - octaves;
                out.push_back(x);
                out.push_back(std::clamp(x, -kWallCents, kWallCents));
            }
            if (semitones == 0) out.push_back(x_[p.note]);
        }
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end(),
                              [](double a, double b) { return std::abs(a - b) < 0.01; }),
                  out.end());
    }

    // The pitch among the candidates that costs least; its cost.
    double settle(std::uint32_t n, std::vector<double>& candidates) {
        candidatesFor(n, candidates);
        double best = std::numeric_limits<double>::max();
        double bestX = 0.0;
        for (double x : candidates) {
            if (const double c = costAt(n, x); c < best - 1e-12) {
                best = c;
                bestX = x;
            }
        }
        x_[n] = bestX;
        trial_[n] = stamp_;
        return best;
    }

    void tuneChord(std::vector<std::uint32_t>& chord) {
        if (chord.empty()) return;
        // The longest notes matter most: they choose first.
        std::stable_sort(chord.begin(), chord.end(), [&](std::uint32_t a, std::uint32_t b) {
            return notes_[a].seconds() > notes_[b].seconds();
        });
        std::vector<double> anchorChoices;
        std::vector<double> scratch;
        double best = std::numeric_limits<double>::max();
        std::vector<double> bestX(chord.size(), 0.0);
        for (std::size_t a = 0; a < std::min(kAnchors, chord.size()); ++a) {
            ++stamp_;
            candidatesFor(chord[a], anchorChoices);
            for (double xa : anchorChoices) {
                ++stamp_;
                x_[chord[a]] = xa;
                trial_[chord[a]] = stamp_;
                double total = costAt(chord[a], xa);
                for (std::size_t k = 0; k < chord.size() && total < best; ++k) {
                    if (k != a) total += settle(chord[k], scratch);
                }
                if (total < best) {
                    best = total;
                    for (std::size_t k = 0; k < chord.size(); ++k)
                        bestX[k] = x_[chord[k]];
                }
            }
        }
        for (std::size_t k = 0; k < chord.size(); ++k) {
            x_[chord[k]] = bestX[k];
            tuned_[chord[k]] = 1;
        }
        centre(chord);
    }

    // Moves the chord as a whole, which keeps it as just as it is within itself: to where it
    // stands on equal temperament on average when nothing sounds with it, else to where it costs
    // least with what does.
    void centre(std::span<const std::uint32_t> chord) {
        ++stamp_;
        for (std::uint32_t n : chord)
            tuned_[n] = 0;
        double weighted = 0.0;
        double time = 0.0;
        std::vector<double> shifts;
        for (std::uint32_t n : chord) {
            const double w = std::max(notes_[n].seconds(), 0.01);
            weighted += w * x_[n];
            time += w;
        }
        std::vector<double> moves{0.0, -weighted / time};
        for (std::uint32_t n : chord) {
            candidatesFor(n, shifts);
            for (double x : shifts)
                moves.push_back(x - x_[n]);
        }
        const std::vector<double> placed = [&] {
            std::vector<double> x;
            for (std::uint32_t n : chord)
                x.push_back(x_[n]);
            return x;
        }();
        const auto costOfMove = [&](double move) {
            for (std::size_t k = 0; k < chord.size(); ++k)
                x_[chord[k]] = placed[k] + move;
            double cost = 0.0;
            for (std::uint32_t n : chord)
                cost += costAt(n, x_[n]);
            return cost;
        };
        double best = std::numeric_limits<double>::max();
        double bestMove = 0.0;
        for (double move : moves) {
            if (const double c = costOfMove(move); c < best - 1e-12) {
                best = c;
                bestMove = move;
            }
        }
        for (std::size_t k = 0; k < chord.size(); ++k) {
            x_[chord[k]] = placed[k] + bestMove;
            tuned_[chord[k]] = 1;
        }
    }

    // The pitches as springs pull them: each pair of notes toward the just interval nearest to
    // where they stand, each note toward equal temperament by `notePull`, the time they sound
    // together and the notes' count weighing them; the pairs that cannot be just let go more
    // than the ones that can (a sum of distances rather than of squares, by reweighting).
    // Knowing the whole song, a note held under changing chords stands where the chords over it
    // stay centred. With `holdDrift`, the spans of ten seconds that stray from the first are
    // pulled back toward it.
    void relax(double notePull, bool holdDrift) {
        const std::size_t n = notes_.size();
        if (n == 0) return;
        const std::vector<std::uint32_t> group = groupsOf(tie_);
        const std::size_t groups =
            group.empty() ? 0 : *std::max_element(group.begin(), group.end()) + 1;
        const std::vector<Spring> springs = springsOf(notes_, pairs_, group);
        std::vector<double> target(springs.size(), 0.0);
        std::vector<double> weight(springs.size(), 0.0);
        std::vector<double> x(groups, 0.0);
        std::vector<double> pull(groups, 0.0);
        for (std::size_t i = 0; i < n; ++i) {
            x[group[i]] = x_[i];
            pull[group[i]] += notePull;
        }

        const std::vector<Span> spans = holdDrift ? driftSpans(notes_) : std::vector<Span>{};
        std::vector<double> spanWeight(spans.size(), 0.0);
        std::vector<double> sums(n + 1, 0.0);
        std::vector<double> ramp(n + 1, 0.0);
        // Adds to each note's group what `perSpan` gives each span holding the note.
        const auto addOverSpans = [&](auto&& perSpan, std::vector<double>& out) {
            std::fill(ramp.begin(), ramp.end(), 0.0);
            for (std::size_t s = 0; s < spans.size(); ++s) {
                if (spanWeight[s] == 0) continue;
                const double v = perSpan(s);
                ramp[spans[s].first] += v;
                ramp[spans[s].end] -= v;
            }
            double run = 0.0;
            for (std::size_t i = 0; i < n; ++i) {
                run += ramp[i];
                out[group[i]] += run;
            }
        };
        const auto sumOver = [&](const std::vector<double>& v) {
            for (std::size_t i = 0; i < n; ++i)
                sums[i + 1] = sums[i] + v[group[i]];
        };
        const auto meanOf = [&](std::size_t s) {
            return (sums[spans[s].end] - sums[spans[s].first]) / spans[s].count();
        };

        const auto apply = [&](const std::vector<double>& v, std::vector<double>& out) {
            for (std::size_t g = 0; g < groups; ++g)
                out[g] = pull[g] * v[g];
            for (std::size_t k = 0; k < springs.size(); ++k) {
                const double d = weight[k] * (v[springs[k].high] - v[springs[k].low]);
                out[springs[k].high] += d;
                out[springs[k].low] -= d;
            }
            if (!spans.empty()) {
                sumOver(v);
                addOverSpans([&](std::size_t s) { return spanWeight[s] * meanOf(s); }, out);
            }
        };
        std::vector<double> b(groups), r(groups), p(groups), z(groups), ap(groups), inverse(groups);
        for (int round = 0; round < kRelaxRounds; ++round) {
            for (std::size_t k = 0; k < springs.size(); ++k) {
                const int semitones = springs[k].semitones;
                const auto just = justIntervals(semitones % 12);
                const double apart = x[springs[k].high] - x[springs[k].low];
                const double octaves = 1200.0 * (semitones / 12) - 100.0 * semitones;
                double best = octaves;
                if (semitones % 12 != 0) {
                    best = octaves + just[0];
                    for (double t : just) {
                        if (std::abs(octaves + t - apart) < std::abs(best - apart))
                            best = octaves + t;
                    }
                }
                target[k] = best;
                weight[k] = springs[k].seconds / std::max(std::abs(apart - best), kRelaxFloor);
            }
            std::fill(b.begin(), b.end(), 0.0);
            for (std::size_t k = 0; k < springs.size(); ++k) {
                b[springs[k].high] += weight[k] * target[k];
                b[springs[k].low] -= weight[k] * target[k];
            }
            std::fill(inverse.begin(), inverse.end(), 0.0);
            if (!spans.empty()) {
                // A span that strays farther than the slack from the first is pulled back to its
                // edge, and held within it from then on, harder each round it is still out.
                sumOver(x);
                const double first = meanOf(0);
                std::vector<double> goal(spans.size(), 0.0);
                for (std::size_t s = 1; s < spans.size(); ++s) {
                    const double off = meanOf(s) - first;
                    if (std::abs(off) > kSpanSlack)
                        spanWeight[s] =
                            spanWeight[s] == 0 ? kSpanPull : spanWeight[s] * kSpanPullGrowth;
                    goal[s] = first + std::clamp(off, -kSpanSlack, kSpanSlack);
                }
                addOverSpans([&](std::size_t s) { return spanWeight[s] * goal[s]; }, b);
                addOverSpans([&](std::size_t s) { return spanWeight[s] / spans[s].count(); },
                             inverse);
            }
            // Conjugate gradients from where the pitches stand, each note's own stiffness
            // evening out the steps (Jacobi).
            for (std::size_t g = 0; g < groups; ++g)
                inverse[g] += pull[g];
            for (std::size_t k = 0; k < springs.size(); ++k) {
                inverse[springs[k].high] += weight[k];
                inverse[springs[k].low] += weight[k];
            }
            for (double& v : inverse)
                v = v > 0 ? 1.0 / v : 0.0;
            apply(x, ap);
            double rz = 0.0;
            double load = 0.0;
            for (std::size_t g = 0; g < groups; ++g) {
                r[g] = b[g] - ap[g];
                z[g] = inverse[g] * r[g];
                p[g] = z[g];
                rz += r[g] * z[g];
                load += b[g] * b[g];
            }
            const double enough = kRelaxResidual * std::max(load, 1.0);
            for (int step = 0; step < kRelaxSteps; ++step) {
                double rr = 0.0;
                for (double v : r)
                    rr += v * v;
                if (rr <= enough) break;
                apply(p, ap);
                double pap = 0.0;
                for (std::size_t g = 0; g < groups; ++g)
                    pap += p[g] * ap[g];
                if (pap <= 0) break;
                const double alpha = rz / pap;
                double next = 0.0;
                for (std::size_t g = 0; g < groups; ++g) {
                    x[g] += alpha * p[g];
                    r[g] -= alpha * ap[g];
                    z[g] = inverse[g] * r[g];
                    next += r[g] * z[g];
                }
                for (std::size_t g = 0; g < groups; ++g)
                    p[g] = z[g] + next / rz * p[g];
                rz = next;
            }
        }
        for (std::size_t i = 0; i < n; ++i)
            x_[i] = x[group[i]];
    }

    std::span<const SongNote> notes_;
    std::span<const NotePair> pairs_;
    std::vector<std::vector<Partner>> partners_;
    std::vector<double> x_;
    // The note whose pitch each note takes: itself, or the one it repeats.
    std::vector<std::uint32_t> tie_;
    std::vector<std::uint8_t> tuned_;
    // Which trial placed a note of the chord being tuned.
    std::vector<std::uint32_t> trial_;
    std::uint32_t stamp_ = 0;
};

}  // namespace

PitchClassOffsets fitTemperament(std::span<const SongNote> notes, std::span<const NotePair> pairs) {
    const auto intervals = classIntervalsOf(notes, pairs);
    if (intervals.empty()) return {};
    auto starts = startingPoints();
    // The few best places to start from are searched from; the others seldom lead elsewhere.
    constexpr std::size_t kSearched = 4;
    std::stable_sort(starts.begin(), starts.end(), [&](const auto& a, const auto& b) {
        return costOf(intervals, a) < costOf(intervals, b);
    });
    starts.resize(std::min(starts.size(), kSearched));
    PitchClassOffsets best{};
    double bestCost = std::numeric_limits<double>::max();
    for (PitchClassOffsets o : starts) {
        if (const double c = descend(intervals, o); c < bestCost - 1e-9) {
            bestCost = c;
            best = o;
        }
    }
    return best;
}

std::vector<double> planAdaptive(std::span<const SongNote> notes, std::span<const NotePair> pairs) {
    return AdaptiveTuner(notes, pairs).run();
}

NotePlan::NotePlan(std::span<const SongNote> notes, std::span<const double> offsets) {
    std::vector<std::size_t> order(notes.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return notes[a].event < notes[b].event; });
    for (std::size_t i : order) {
        events_.push_back(notes[i].event);
        offsets_.push_back(offsets[i]);
    }
}

std::optional<double> NotePlan::offsetAt(std::uint32_t event) const {
    const auto it = std::lower_bound(events_.begin(), events_.end(), event);
    if (it == events_.end() || *it != event) return std::nullopt;
    return offsets_[static_cast<std::size_t>(it - events_.begin())];
}

double justAmong(int key, std::span<const SoundingPitch> sounding) {
    // The sum of every pair's mistuning; a pair with no just form counts nothing.
    const auto cost = [&](double cents) {
        double total = 0.0;
        for (const SoundingPitch& s : sounding) {
            const bool low = s.key <= key;
            if (const auto off = low ? mistuningOf(s.key, s.cents, key, cents)
                                     : mistuningOf(key, cents, s.key, s.cents)) {
                total += *off;
            }
        }
        return total;
    };
    std::optional<double> best;
    double bestCost = 0.0;
    for (const SoundingPitch& s : sounding) {
        const int apart = key - s.key;
        const int within = ((apart % 12) + 12) % 12;
        for (const double just : justIntervals(within)) {
            // Octaves apart change nothing: octaves are pure.
            const double cents = std::round(s.cents + just - within * 100.0);
            if (std::abs(cents) > kFittedReach) continue;
            const double c = cost(cents);
            const bool nearer = best && c < bestCost + 1e-9 && std::abs(cents) < std::abs(*best);
            if (!best || c < bestCost - 1e-9 || nearer) {
                best = cents;
                bestCost = c;
            }
        }
    }
    return best.value_or(0.0);
}

}  // namespace pitchloom
