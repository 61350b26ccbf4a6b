#include "support/pitch.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace pitchloom::test {

namespace {

// Magnitude at hz of the Fourier transform of the windowed samples.
double magnitudeAt(const std::vector<double>& windowed, double sampleRate, double hz) {
    const double stepRe = std::cos(2.0 * std::numbers::pi * hz / sampleRate);
    const double stepIm = -std::sin(2.0 * std::numbers::pi * hz / sampleRate);
    double turnRe = 1.0;
    double turnIm = 0.0;
    double sumRe = 0.0;
    double sumIm = 0.0;
    for (double x : windowed) {
        sumRe += x * turnRe;
        sumIm += x * turnIm;
        const double re = turnRe * stepRe - turnIm * stepIm;
        turnIm = turnRe * stepIm + turnIm * stepRe;
        turnRe = re;
    }
    return std::hypot(sumRe, sumIm);
}

}  // namespace

double cents(double hz, double referenceHz) {
    return 1200.0 * std::log2(hz / referenceHz);
}

double raisedBy(double hz, double cents) {
    return hz * std::pow(2.0, cents / 1200.0);
}

double noteHz(int note) {
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

double fundamentalHz(std::span<const float> samples, double sampleRate, double nominalHz) {
    if (samples.size() < 2) return 0.0;
    std::vector<double> windowed(samples.size());
    const double last = static_cast<double>(samples.size() - 1);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        windowed[i] = samples[i] * (0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / last));
    }
    auto at = [&](double c) { return magnitudeAt(windowed, sampleRate, raisedBy(nominalHz, c)); };
    // Steps of 10 cents stay well inside the main lobe of a window of a few tenths of a second.
    double best = -200.0;
    double bestMagnitude = at(best);
    for (double c = -190.0; c <= 200.0; c += 10.0) {
        const double m = at(c);
        if (m > bestMagnitude) {
            best = c;
            bestMagnitude = m;
        }
    }
    double low = best - 10.0;
    double high = best + 10.0;
    while (high - low > 0.01) {
        const double a = low + (high - low) / 3.0;
        const double b = high - (high - low) / 3.0;
        if (at(a) < at(b)) {
            low = a;
        } else {
            high = b;
        }
    }
    return raisedBy(nominalHz, (low + high) / 2.0);
}

}  // namespace pitchloom::test
