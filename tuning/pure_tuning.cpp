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
// second a cent from just; the rounds of reweighting, the steps of each at most, the residual
// (against the load) at which they stop, and the distance below which a pair pulls no harder.
constexpr double kNotePull = 0.01;
constexpr int kRelaxRounds = 8;
constexpr int kRelaxSteps = 300;
constexpr double kRelaxResidual = 1e-10;
constexpr double kRelaxFloor = 0.1;
// Notes struck within this much of the first of them are tuned together, as one chord.
constexpr double kChordSpread = 0.03;
// The notes of a chord whose pitch choices start the search; the rest follow each in turn.
constexpr std::size_t kAnchors = 2;

// Numbers the groups of notes that share a pitch, each note tied to the first of its group (or
// itself), in the order the groups start; by note.
std::vector<std::uint32_t> groupsOf(std::span<const std::uint32_t> tie) {
    std::vector<std::uint32_t> group(tie.size());
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < tie.size(); ++i)
        group[i] = tie[i] == i ? count++ : group[tie[i]];
    return group;
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
        relax();
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
    // where they stand, each note toward equal temperament, the time they sound together and the
    // notes' count weighing them; the pairs that cannot be just let go more than the ones that
    // can (a sum of distances rather than of squares, by reweighting). Knowing the whole song,
    // a note held under changing chords stands where the chords over it stay centred.
    void relax() {
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
            pull[group[i]] += kNotePull;
        }

        const auto apply = [&](const std::vector<double>& v, std::vector<double>& out) {
            for (std::size_t g = 0; g < groups; ++g)
                out[g] = pull[g] * v[g];
            for (std::size_t k = 0; k < springs.size(); ++k) {
                const double d = weight[k] * (v[springs[k].high] - v[springs[k].low]);
                out[springs[k].high] += d;
                out[springs[k].low] -= d;
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

}  // namespace pitchloom
