#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

struct pa_simple;

namespace pitchloom {

/// Plays rendered sound through the PulseAudio server (or PipeWire's PulseAudio service) on a
/// thread of its own. FluidSynth's own PulseAudio driver asks for a buffer of one period, which
/// runs dry whenever the machine is busy; this one keeps a long buffer filled in short periods.
class PulseOutput {
public:
    /// Fills `frames` interleaved stereo frames; called on the output's thread.
    using Render = std::function<void(float* interleaved, int frames)>;

    /// Starts playing what render gives, `periodFrames` at a time with `bufferFrames` queued
    /// ahead; nothing when no server can be reached.
    static std::unique_ptr<PulseOutput> open(Render render, double sampleRate, int periodFrames,
                                             int bufferFrames);

    /// Stops the thread and leaves the server.
    ~PulseOutput();
    PulseOutput(const PulseOutput&) = delete;
    PulseOutput& operator=(const PulseOutput&) = delete;

private:
    PulseOutput(Render render, pa_simple* stream, int periodFrames);
    void run();

    Render render_;
    pa_simple* stream_;
    int periodFrames_;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

}  // namespace pitchloom
