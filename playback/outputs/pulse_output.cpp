#include "playback/outputs/pulse_output.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "playback/outputs/audio_libraries.h"

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#endif

namespace pitchloom {

std::unique_ptr<PulseOutput> PulseOutput::open(Render render, double sampleRate, int periodFrames,
                                               int bufferFrames) {
    const PulseSimpleFunctions* pulse = pulseSimple();
    if (pulse == nullptr) return nullptr;
    constexpr std::uint32_t kFrameBytes = 2 * sizeof(float);
    pa_sample_spec sampleFormat{};
    sampleFormat.format = PA_SAMPLE_FLOAT32NE;
    sampleFormat.channels = 2;
    sampleFormat.rate = static_cast<std::uint32_t>(sampleRate);
    pa_buffer_attr buffer{};
    buffer.maxlength = static_cast<std::uint32_t>(-1);
    buffer.tlength = static_cast<std::uint32_t>(bufferFrames) * kFrameBytes;
    buffer.prebuf = static_cast<std::uint32_t>(-1);
    buffer.minreq = static_cast<std::uint32_t>(periodFrames) * kFrameBytes;
    buffer.fragsize = static_cast<std::uint32_t>(-1);
    int error = 0;
    pa_simple* stream =
        pulse->pa_simple_new(nullptr, "Pitchloom Pro", PA_STREAM_PLAYBACK, nullptr,
                             "built-in synthesizer", &sampleFormat, nullptr, &buffer, &error);
    if (stream == nullptr) return nullptr;
    return std::unique_ptr<PulseOutput>(new PulseOutput(std::move(render), stream, periodFrames));
}

PulseOutput::PulseOutput(Render render, pa_simple* stream, int periodFrames)
    : render_(std::move(render)),
      stream_(stream),
      periodFrames_(periodFrames),
      thread_([this] { run(); }) {}

PulseOutput::~PulseOutput() {
    running_ = false;
    thread_.join();
    pulseSimple()->pa_simple_free(stream_);
}

void PulseOutput::run() {
#if defined(__linux__)
    // Where the user may have a real-time priority, a busy machine cannot hold up the sound.
    sched_param param{};
    param.sched_priority = std::min(60, sched_get_priority_max(SCHED_FIFO));
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
#endif
    std::vector<float> frames(static_cast<std::size_t>(periodFrames_) * 2);
    const std::size_t bytes = frames.size() * sizeof(float);
    while (running_) {
        render_(frames.data(), periodFrames_);
        int error = 0;
        // Blocks while the buffer is full: the server takes a period, the loop renders the next.
        if (pulseSimple()->pa_simple_write(stream_, frames.data(), bytes, &error) < 0) break;
    }
}

}  // namespace pitchloom
