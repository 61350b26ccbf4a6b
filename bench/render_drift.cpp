// The measuring half of bench/render-drift: how far a render of a song is offset in time from a
// reference render of the same song, along the song; and the material that checks the measure.
//
//   render_drift measure REFERENCE.wav RENDER.wav [--trace FILE]
//   render_drift stretch IN.mid OUT.mid FACTOR
//   render_drift delay IN.wav OUT.wav MS
//
// `measure` turns both recordings into onset-strength envelopes (spectral flux of 23 ms frames,
// 5 ms apart, blurred by 10 ms), correlates 2-second windows of the reference, one a second,
// with the render at every lag within 5 s of the offset the windows before it reached, and
// follows the one lag path through the windows that keeps the correlation highest while the
// offset moves smoothly. Each window's offset is then read, to 0.04 ms, off the peak of its
// correlation with the render read along the drift line that the neighbouring windows give, and
// dated where the window's onsets lie. A window is compared where that peak reaches 0.5 and
// there are onsets in it. It prints one line of key=value fields: the offset at the first and
// the last window compared (each on the line through 7 windows), the drift (last offset less
// first; negative: the render is early), the largest drift on the way, and whether the song
// could be compared at all (at least 80% of its windows with onsets compared), with the reason.
// --trace writes the offset of every window.
// `stretch` writes a copy of a MIDI file whose every tempo is FACTOR times as slow (1.01: the song
// plays 1% longer), so that a render of it lies a known drift away from a render of the original.
// `delay` writes a copy of a recording that starts MS milliseconds of silence later: an offset
// that does not drift.

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "midifile/byte_reader.h"
#include "midifile/event_reader.h"

namespace {

constexpr std::size_t kFrameSize = 1024;
constexpr std::size_t kHop = 220;  // 4.99 ms at 44.1 kHz
// The flux is measured against its own mean over this many frames each side (0.1 s), so that a
// loud stretch of the song does not outweigh the onsets of a quiet one.
constexpr std::size_t kLocalMeanFrames = 20;
// The envelopes are blurred by this many frames (10 ms), so that an onset a few milliseconds
// from where the other render has it still meets it.
constexpr double kBlurFrames = 2.0;
constexpr double kWindowSeconds = 2.0;
constexpr double kStepSeconds = 1.0;
// Each window is correlated at the lags within this much of the best lag before it.
constexpr double kBandSeconds = 5.0;
// How far the offset may move between windows a second apart: a sequencer that loses less than a
// millisecond a delay would need 300 delays a second to move it that far (the fastest songs of
// the collection drift by about 50 ms a second).
constexpr double kMaxLagChangeSeconds = 0.3;
// What one frame of change in the offset costs the lag path, in correlation: enough to keep the
// path still where the music allows several lags, too little to hold it back from a real move.
constexpr double kLagChangeCost = 0.002;
// The slope of the drift at a window is read off the windows this many steps each side; the
// offset is then looked for this many frames each side of where it was, in this many passes.
constexpr std::size_t kSlopeReach = 2;
constexpr std::size_t kRefineReach = 3;
constexpr int kRefinePasses = 3;
// A window is compared where the correlation at its peak reaches this.
constexpr double kMinPeak = 0.5;
// Windows with less onset energy than this share of the song's median window carry no onsets
// worth comparing (silence, a held chord).
constexpr double kQuietShare = 0.05;
// A song is comparable where at least this share of its windows that are not quiet are.
constexpr double kMinComparedShare = 0.8;
constexpr std::size_t kMinComparedWindows = 5;
// The offsets at the start and the end are read off the line through this many windows.
constexpr std::size_t kEdgeWindows = 7;
constexpr std::uint8_t kTempo = 0x51;
constexpr std::uint32_t kDefaultTempo = 500000;  // microseconds a quarter note, 120 bpm
constexpr std::uint32_t kLargestTempo = 0xFFFFFF;

struct Audio {
    double rate = 0;
    std::vector<float> mono;
};

std::optional<Audio> readAudio(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return std::nullopt;
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> frames(static_cast<std::size_t>(info.frames) * channels);
    const sf_count_t got = sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    Audio audio{static_cast<double>(info.samplerate), {}};
    audio.mono.resize(static_cast<std::size_t>(got));
    for (std::size_t f = 0; f < audio.mono.size(); ++f) {
        float sum = 0;
        for (std::size_t c = 0; c < channels; ++c)
            sum += frames[f * channels + c];
        audio.mono[f] = sum / static_cast<float>(channels);
    }
    return audio;
}

void fft(std::vector<std::complex<double>>& x) {
    const std::size_t n = x.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> step =
            std::polar(1.0, -2 * std::numbers::pi / static_cast<double>(len));
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> w = 1;
            for (std::size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> odd = w * x[i + k + len / 2];
                x[i + k + len / 2] = x[i + k] - odd;
                x[i + k] += odd;
                w *= step;
            }
        }
    }
}

// The envelope blurred by a Gaussian of kBlurFrames.
std::vector<double> smoothed(const std::vector<double>& v) {
    const auto reach = static_cast<long>(std::ceil(3 * kBlurFrames));
    std::vector<double> kernel;
    for (long k = -reach; k <= reach; ++k)
        kernel.push_back(std::exp(-0.5 * static_cast<double>(k * k) / (kBlurFrames * kBlurFrames)));
    std::vector<double> out(v.size());
    const auto n = static_cast<long>(v.size());
    for (long t = 0; t < n; ++t) {
        double sum = 0;
        for (long k = -reach; k <= reach; ++k)
            if (t + k >= 0 && t + k < n)
                sum += kernel[static_cast<std::size_t>(k + reach)] *
                       v[static_cast<std::size_t>(t + k)];
        out[static_cast<std::size_t>(t)] = sum;
    }
    return out;
}

// One value every kHop samples, frame t centred on sample t * kHop: how much louder the spectrum
// became than in the frame before, summed over the frequencies that rose, on a log scale so that
// a soft note's onset counts beside a loud one's.
std::vector<double> onsetStrength(const std::vector<float>& mono) {
    const std::size_t count = mono.size() / kHop + 1;
    std::vector<double> window(kFrameSize);
    for (std::size_t i = 0; i < kFrameSize; ++i)
        window[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) /
                                         static_cast<double>(kFrameSize));
    std::vector<double> flux(count);
    // Silence before the first frame: a note at the very start is an onset too.
    std::vector<double> last(kFrameSize / 2 + 1);
    std::vector<std::complex<double>> x(kFrameSize);
    for (std::size_t t = 0; t < count; ++t) {
        for (std::size_t i = 0; i < kFrameSize; ++i) {
            const std::size_t centre = t * kHop;
            const std::size_t at = centre + i;
            const bool inside = at >= kFrameSize / 2 && at - kFrameSize / 2 < mono.size();
            x[i] = inside ? window[i] * mono[at - kFrameSize / 2] : 0.0;
        }
        fft(x);
        double rise = 0;
        for (std::size_t k = 0; k < last.size(); ++k) {
            const double level = std::log1p(100 * std::abs(x[k]));
            rise += std::max(0.0, level - last[k]);
            last[k] = level;
        }
        flux[t] = rise;
    }
    std::vector<double> sums(count + 1);
    for (std::size_t t = 0; t < count; ++t)
        sums[t + 1] = sums[t] + flux[t];
    std::vector<double> onsets(count);
    for (std::size_t t = 0; t < count; ++t) {
        const std::size_t from = t > kLocalMeanFrames ? t - kLocalMeanFrames : 0;
        const std::size_t to = std::min(count, t + kLocalMeanFrames + 1);
        const double mean = (sums[to] - sums[from]) / static_cast<double>(to - from);
        onsets[t] = std::max(0.0, flux[t] - mean);
    }
    return smoothed(onsets);
}

struct Window {
    std::size_t start = 0;     // its first frame
    double centre = 0;         // the frame where its onsets lie, weighted by their strength
    double seconds = 0;        // the same in seconds of the reference
    bool quiet = false;        // too few onsets to compare
    long band = 0;             // the lag, in frames, that the lags it is correlated at centre on
    std::vector<double> corr;  // normalised correlation at lags band - kBand .. band + kBand
    std::size_t onPath = 0;    // the index in corr of the lag on the lag path
    double offsetMs = 0;       // the render's offset at the peak on the lag path
    double peak = 0;
    double highestAtMs = 0;  // the lag of the highest correlation anywhere in its band
    bool compared = false;
};

struct Measure {
    std::vector<Window> windows;
    double lengthSeconds = 0;
    std::string unfit;  // why the two recordings cannot be compared at all
};

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// The reference's onset envelope a, the render's b, and what windows of them are compared with.
class Envelopes {
public:
    Envelopes(std::vector<double> a, std::vector<double> b, std::size_t span)
        : a_(std::move(a)), b_(std::move(b)), span_(span), squares_(b_.size() + 1) {
        for (std::size_t i = 0; i < b_.size(); ++i)
            squares_[i + 1] = squares_[i] + b_[i] * b_[i];
    }

    std::size_t frames() const { return a_.size(); }
    std::size_t span() const { return span_; }

    double referenceEnergy(std::size_t start) const {
        double energy = 0;
        for (std::size_t i = start; i < start + span_; ++i)
            energy += a_[i] * a_[i];
        return energy;
    }

    /// The normalised correlation of the window from `start` with the render `shift` frames on.
    double correlation(std::size_t start, long shift, double energy) const {
        const long first = std::max(static_cast<long>(start), -shift);
        const long last =
            std::min(static_cast<long>(start + span_), static_cast<long>(b_.size()) - shift);
        double sum = 0;
        for (long i = first; i < last; ++i)
            sum += a_[static_cast<std::size_t>(i)] * b_[static_cast<std::size_t>(i + shift)];
        const auto at = [&](long i) {
            return squares_[static_cast<std::size_t>(
                std::clamp(i, 0L, static_cast<long>(b_.size())))];
        };
        const double norm = std::sqrt(energy * (at(static_cast<long>(start + span_) + shift) -
                                                at(static_cast<long>(start) + shift)));
        return norm > 0 ? sum / norm : 0.0;
    }

    /// Where in the window from `start` its onsets lie, weighted by their strength (a frame).
    double onsetCentre(std::size_t start) const {
        double weighted = 0;
        double energy = 0;
        for (std::size_t i = start; i < start + span_; ++i) {
            weighted += a_[i] * a_[i] * static_cast<double>(i);
            energy += a_[i] * a_[i];
        }
        return energy > 0 ? weighted / energy
                          : static_cast<double>(start) + static_cast<double>(span_) / 2;
    }

    /// The same with the render read from `lag` frames on at frame `centre`, the lag changing
    /// by `slope` frames a frame, the render interpolated between its frames.
    double warpedCorrelation(std::size_t start, double centre, double lag, double slope) const {
        double sum = 0;
        double referenceEnergy = 0;
        double renderEnergy = 0;
        for (std::size_t i = start; i < start + span_; ++i) {
            referenceEnergy += a_[i] * a_[i];
            const double at =
                static_cast<double>(i) + lag + slope * (static_cast<double>(i) - centre);
            if (at < 0 || at + 1 >= static_cast<double>(b_.size())) continue;
            const auto j = static_cast<std::size_t>(at);
            const double part = at - static_cast<double>(j);
            const double value = b_[j] * (1 - part) + b_[j + 1] * part;
            sum += a_[i] * value;
            renderEnergy += value * value;
        }
        const double norm = std::sqrt(referenceEnergy * renderEnergy);
        return norm > 0 ? sum / norm : 0.0;
    }

private:
    std::vector<double> a_;
    std::vector<double> b_;
    std::size_t span_;
    std::vector<double> squares_;  // running sums of b's squares, to normalise in one step
};

// The lag of each window that keeps the correlation summed over the windows highest, the lag
// moving at most maxChange frames from one window to the next at kLagChangeCost a frame. The
// offset of a long song can grow past any fixed range, so each window is correlated at the lags
// within `band` frames of the best lag the windows before it reached, the first around 0.
void followLag(std::vector<Window>& windows, const Envelopes& e, std::size_t band,
               std::size_t maxChange, const std::vector<double>& energies) {
    const std::size_t lags = 2 * band + 1;
    const auto reach = static_cast<long>(maxChange);
    std::vector<std::vector<std::uint32_t>> from(windows.size(), std::vector<std::uint32_t>(lags));
    std::vector<double> score(lags, 0.0);
    std::vector<double> next(lags);
    long centre = 0;
    for (std::size_t w = 0; w < windows.size(); ++w) {
        Window& win = windows[w];
        const long previous = centre;
        if (w > 0) {
            // Only a better lag moves the band: where nothing was heard yet, all lags tie.
            std::size_t best = band;
            for (std::size_t l = 0; l < lags; ++l)
                if (score[l] > score[best]) best = l;
            centre = previous + static_cast<long>(best) - static_cast<long>(band);
        }
        win.band = centre;
        win.corr.assign(lags, 0.0);
        if (!win.quiet) {
            for (std::size_t l = 0; l < lags; ++l)
                win.corr[l] = e.correlation(win.start,
                                            centre + static_cast<long>(l) - static_cast<long>(band),
                                            energies[w]);
        }
        for (std::size_t l = 0; l < lags; ++l) {
            double best = w == 0 ? 0.0 : -1e300;
            std::size_t bestFrom = l;
            if (w > 0) {
                // The lags of the window before within reach of this one, as indices of its band.
                const long here = static_cast<long>(l) + centre - previous;
                const long lo = std::max(0L, here - reach);
                const long hi = std::min(static_cast<long>(lags) - 1, here + reach);
                for (long p = lo; p <= hi; ++p) {
                    const double s = score[static_cast<std::size_t>(p)] -
                                     kLagChangeCost * static_cast<double>(std::abs(p - here));
                    if (s > best) {
                        best = s;
                        bestFrom = static_cast<std::size_t>(p);
                    }
                }
            }
            next[l] = best + win.corr[l];
            from[w][l] = static_cast<std::uint32_t>(bestFrom);
        }
        score.swap(next);
    }
    std::size_t l = static_cast<std::size_t>(
        std::distance(score.begin(), std::max_element(score.begin(), score.end())));
    for (std::size_t w = windows.size(); w-- > 0;) {
        windows[w].onPath = l;
        l = from[w][l];
    }
}

Measure measureOffsets(const Audio& reference, const Audio& render) {
    Measure m;
    m.lengthSeconds = static_cast<double>(reference.mono.size()) / reference.rate;
    if (reference.rate != render.rate) {
        m.unfit = "the two recordings have different sample rates";
        return m;
    }
    const double framesPerSecond = reference.rate / static_cast<double>(kHop);
    const auto span = static_cast<std::size_t>(std::lround(kWindowSeconds * framesPerSecond));
    const auto step = static_cast<std::size_t>(std::lround(kStepSeconds * framesPerSecond));
    const auto band = static_cast<std::size_t>(std::lround(kBandSeconds * framesPerSecond));
    const Envelopes e(onsetStrength(reference.mono), onsetStrength(render.mono), span);
    if (e.frames() < span) {
        char why[96];
        std::snprintf(why, sizeof why, "the reference holds %.1f s of audio, less than a window",
                      m.lengthSeconds);
        m.unfit = why;
        return m;
    }

    std::vector<double> energies;
    for (std::size_t start = 0; start + span <= e.frames(); start += step) {
        Window w;
        w.start = start;
        // The offset read off a window is that of its onsets: it is dated where they lie.
        w.centre = e.onsetCentre(start);
        w.seconds = w.centre / framesPerSecond;
        energies.push_back(e.referenceEnergy(start));
        m.windows.push_back(std::move(w));
    }
    const double typical = median(energies);
    for (std::size_t i = 0; i < m.windows.size(); ++i)
        m.windows[i].quiet = energies[i] < kQuietShare * typical || typical <= 0;

    const auto maxChange =
        static_cast<std::size_t>(std::lround(kMaxLagChangeSeconds * framesPerSecond));
    followLag(m.windows, e, band, maxChange, energies);
    const double msPerFrame = 1000 / framesPerSecond;
    const auto lagAt = [&](const Window& w, std::size_t l) {
        return static_cast<double>(w.band + static_cast<long>(l) - static_cast<long>(band));
    };
    std::vector<double> lag(m.windows.size());
    for (std::size_t i = 0; i < m.windows.size(); ++i) {
        Window& w = m.windows[i];
        // The path may rest a frame or two beside the peak it follows, held by its cost.
        std::size_t l = w.onPath;
        const std::size_t lo = l > 3 ? l - 3 : 0;
        const std::size_t hi = std::min(w.corr.size() - 1, l + 3);
        for (std::size_t k = lo; k <= hi; ++k)
            if (w.corr[k] > w.corr[l]) l = k;
        w.onPath = l;
        lag[i] = lagAt(w, l);
    }
    // Where the offset moves within a window, the window's peak is blurred and leans towards
    // where its onsets crowd; read along the drift line through the neighbours instead, the
    // offset at the window's centre is what peaks. Each pass takes the slope from the last.
    // The slope is read off windows with onsets only: a quiet window's lag says nothing.
    std::vector<std::size_t> loud;
    for (std::size_t i = 0; i < m.windows.size(); ++i)
        if (!m.windows[i].quiet) loud.push_back(i);
    for (int pass = 0; pass < kRefinePasses; ++pass) {
        std::vector<double> refined = lag;
        for (std::size_t n = 0; n < loud.size(); ++n) {
            const std::size_t i = loud[n];
            Window& w = m.windows[i];
            const std::size_t before = loud[n >= kSlopeReach ? n - kSlopeReach : 0];
            const std::size_t after = loud[std::min(loud.size() - 1, n + kSlopeReach)];
            // Windows whose onsets are the same few (at the end of a song) tell no slope.
            const double apart = m.windows[after].centre - m.windows[before].centre;
            const double slope =
                apart >= static_cast<double>(step) ? (lag[after] - lag[before]) / apart : 0.0;
            std::array<double, 2 * kRefineReach + 1> corr{};
            std::size_t best = 0;
            for (std::size_t k = 0; k < corr.size(); ++k) {
                const double at = lag[i] + static_cast<double>(k) - kRefineReach;
                corr[k] = e.warpedCorrelation(w.start, w.centre, at, slope);
                if (corr[k] > corr[best]) best = k;
            }
            // To 1/128 of a frame (0.04 ms), halving the step each time round the highest point.
            double at = lag[i] + static_cast<double>(best) - kRefineReach;
            double peak = corr[best];
            for (double h = 0.5; h >= 1.0 / 128; h /= 2) {
                const double left = e.warpedCorrelation(w.start, w.centre, at - h, slope);
                const double right = e.warpedCorrelation(w.start, w.centre, at + h, slope);
                if (left > peak && left >= right) {
                    at -= h;
                    peak = left;
                } else if (right > peak) {
                    at += h;
                    peak = right;
                }
            }
            refined[i] = at;
            w.peak = peak;
        }
        lag = refined;
    }
    for (std::size_t i = 0; i < m.windows.size(); ++i) {
        Window& w = m.windows[i];
        w.offsetMs = lag[i] * msPerFrame;
        const auto best = static_cast<std::size_t>(
            std::distance(w.corr.begin(), std::max_element(w.corr.begin(), w.corr.end())));
        w.highestAtMs = lagAt(w, best) * msPerFrame;
        // A peak at the edge of the band may stand for one beyond it.
        w.compared = !w.quiet && w.peak >= kMinPeak && w.onPath > 0 && w.onPath + 1 < w.corr.size();
    }
    return m;
}

// The offset at `seconds` on the line through the windows that one or two windows gone astray
// do not sway: the median of the slopes between every two, through the median of what the
// windows leave over.
double lineAt(const std::vector<const Window*>& windows, double seconds) {
    std::vector<double> slopes;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        for (std::size_t j = i + 1; j < windows.size(); ++j) {
            slopes.push_back((windows[j]->offsetMs - windows[i]->offsetMs) /
                             (windows[j]->seconds - windows[i]->seconds));
        }
    }
    const double slope = median(slopes);
    std::vector<double> rest;
    for (const Window* w : windows)
        rest.push_back(w->offsetMs - slope * (w->seconds - seconds));
    return median(rest);
}

int measure(const std::string& referencePath, const std::string& renderPath,
            const std::string& tracePath) {
    const auto reference = readAudio(referencePath);
    const auto render = readAudio(renderPath);
    if (!reference || !render) {
        std::cerr << "render_drift: cannot read " << (reference ? renderPath : referencePath)
                  << '\n';
        return 2;
    }
    const Measure m = measureOffsets(*reference, *render);
    if (!tracePath.empty()) {
        std::ofstream trace(tracePath);
        trace << "seconds\toffset_ms\tpeak\tquiet\tcompared\thighest_at_ms\n";
        for (const Window& w : m.windows) {
            trace << w.seconds << '\t' << w.offsetMs << '\t' << w.peak << '\t' << w.quiet << '\t'
                  << w.compared << '\t' << w.highestAtMs << '\n';
        }
    }

    std::size_t loud = 0;
    std::size_t agree = 0;
    std::vector<const Window*> used;
    for (const Window& w : m.windows) {
        loud += w.quiet ? 0 : 1;
        if (!w.compared) continue;
        used.push_back(&w);
        if (std::abs(w.highestAtMs - w.offsetMs) <= 10) ++agree;
    }
    const std::size_t compared = used.size();
    std::string unfit = m.unfit;
    if (unfit.empty() && loud == 0) unfit = "no onsets in the reference";
    if (unfit.empty() && (compared < kMinComparedWindows ||
                          static_cast<double>(compared) < kMinComparedShare * loud)) {
        unfit = "no clear correlation peak in " + std::to_string(loud - compared) + " of " +
                std::to_string(loud) + " windows";
    }
    const Window* first = used.empty() ? nullptr : used.front();
    const Window* last = used.empty() ? nullptr : used.back();
    const std::size_t edge = std::min(kEdgeWindows, used.size());
    const double start =
        first ? lineAt({used.begin(), used.begin() + static_cast<long>(edge)}, first->seconds) : 0;
    const double end =
        last ? lineAt({used.end() - static_cast<long>(edge), used.end()}, last->seconds) : 0;
    // Along the way, each window with its neighbours: one window gone astray is no drift.
    double largest = std::abs(end - start);
    for (std::size_t i = 1; i + 1 < used.size(); ++i) {
        const double middle =
            median({used[i - 1]->offsetMs, used[i]->offsetMs, used[i + 1]->offsetMs});
        largest = std::max(largest, std::abs(middle - start));
    }
    std::vector<double> peaks;
    for (const Window& w : m.windows)
        if (!w.quiet) peaks.push_back(w.peak);

    char line[512];
    std::snprintf(line, sizeof line,
                  "comparable=%s length_s=%.1f start_s=%.2f start_ms=%.1f end_s=%.2f end_ms=%.1f "
                  "drift_ms=%.1f max_ms=%.1f windows=%zu loud=%zu compared=%zu agree=%zu "
                  "median_peak=%.2f",
                  unfit.empty() ? "yes" : "no", m.lengthSeconds, first ? first->seconds : 0.0,
                  start, last ? last->seconds : 0.0, end, end - start, largest, m.windows.size(),
                  loud, compared, agree, median(peaks));
    std::cout << line << " reason=" << (unfit.empty() ? "-" : unfit) << '\n';
    return 0;
}

std::optional<std::uint32_t> be(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
    if (at + static_cast<std::size_t>(bytes) > b.size()) return std::nullopt;
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | b[at + static_cast<std::size_t>(i)];
    return v;
}

void putBe(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, v >>= 8)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v & 0xFF);
}

std::uint32_t scaledTempo(std::uint32_t micros, double factor) {
    return static_cast<std::uint32_t>(std::clamp<long long>(std::llround(micros * factor), 1,
                                                            static_cast<long long>(kLargestTempo)));
}

int stretch(const std::string& inPath, const std::string& outPath, double factor) {
    std::ifstream in(inPath, std::ios::binary);
    const std::vector<std::uint8_t> song((std::istreambuf_iterator<char>(in)), {});
    const auto fail = [&](const std::string& why) {
        std::cerr << "render_drift: " << inPath << ": " << why << '\n';
        return 2;
    };
    if (song.size() < 14 || !std::equal(song.begin(), song.begin() + 4, "MThd")) {
        return fail("not a Standard MIDI File");
    }
    const std::size_t headerEnd = 8 + *be(song, 4, 4);
    const auto division = be(song, 12, 2);
    if (!division || headerEnd > song.size()) return fail("header cut short");
    if ((*division & 0x8000) != 0) return fail("SMPTE time division: tempo sets no speed");

    std::vector<std::uint8_t> out(song.begin(), song.begin() + static_cast<long>(headerEnd));
    bool firstTrack = true;
    for (std::size_t at = headerEnd; at + 8 <= song.size();) {
        const std::size_t length = *be(song, at + 4, 4);
        const std::size_t body = at + 8;
        const std::size_t end = std::min(song.size(), body + length);
        std::vector<std::uint8_t> chunk(song.begin() + static_cast<long>(body),
                                        song.begin() + static_cast<long>(end));
        const bool track = std::equal(song.begin() + static_cast<long>(at),
                                      song.begin() + static_cast<long>(at) + 4, "MTrk");
        if (track) {
            const std::span<const std::uint8_t> events(song.data() + body, end - body);
            pitchloom::EventReader reader(events, 0);
            while (const auto e = reader.next()) {
                if (!e->isMeta() || e->metaType() != kTempo || e->payload.size() != 3) continue;
                const auto where = static_cast<std::size_t>(e->payload.data() - events.data());
                putBe(chunk, where, scaledTempo(*be(chunk, where, 3), factor), 3);
            }
            // Before the first tempo, if any comes later, the song plays at the default tempo:
            // that stretch is slowed too.
            if (firstTrack) {
                std::vector<std::uint8_t> tempo = {0x00, 0xFF, kTempo, 0x03, 0, 0, 0};
                putBe(tempo, 4, scaledTempo(kDefaultTempo, factor), 3);
                chunk.insert(chunk.begin(), tempo.begin(), tempo.end());
            }
            firstTrack = false;
        }
        out.insert(out.end(), song.begin() + static_cast<long>(at),
                   song.begin() + static_cast<long>(body));
        putBe(out, out.size() - 4, static_cast<std::uint32_t>(chunk.size()), 4);
        out.insert(out.end(), chunk.begin(), chunk.end());
        at = body + length;
    }
    if (firstTrack) return fail("no track");
    std::ofstream file(outPath, std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return file ? 0 : 1;
}

int delay(const std::string& inPath, const std::string& outPath, double ms) {
    SF_INFO info{};
    SNDFILE* in = sf_open(inPath.c_str(), SFM_READ, &info);
    if (in == nullptr) {
        std::cerr << "render_drift: cannot read " << inPath << '\n';
        return 2;
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> frames(static_cast<std::size_t>(info.frames) * channels);
    const sf_count_t got = sf_readf_float(in, frames.data(), info.frames);
    sf_close(in);
    const auto silence = static_cast<std::size_t>(std::lround(ms * info.samplerate / 1000));
    frames.insert(frames.begin(), silence * channels, 0.0f);
    SNDFILE* out = sf_open(outPath.c_str(), SFM_WRITE, &info);
    if (out == nullptr) {
        std::cerr << "render_drift: cannot write " << outPath << '\n';
        return 2;
    }
    const sf_count_t total = got + static_cast<sf_count_t>(silence);
    const bool written = sf_writef_float(out, frames.data(), total) == total;
    sf_close(out);
    return written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "measure") return measure(args[1], args[2], "");
    if (args.size() == 5 && args[0] == "measure" && args[3] == "--trace") {
        return measure(args[1], args[2], args[4]);
    }
    if (args.size() == 4 && args[0] == "stretch")
        return stretch(args[1], args[2], std::stod(args[3]));
    if (args.size() == 4 && args[0] == "delay") return delay(args[1], args[2], std::stod(args[3]));
    std::cerr << "usage: render_drift measure REFERENCE.wav RENDER.wav [--trace FILE]\n"
                 "       render_drift stretch IN.mid OUT.mid FACTOR\n"
                 "       render_drift delay IN.wav OUT.wav MS\n";
    return 2;
}
