#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/file_io.h"

struct sf_private_tag;

namespace pitchloom {

/// The kinds of audio file a song renders to.
enum class AudioFormat { Wav16, WavFloat, Flac };

/// The format a file name asks for: .wav (16-bit, or 32-bit float when floatSamples), .flac
/// (16-bit), matched without regard to case; nothing for any other name.
std::optional<AudioFormat> audioFormatOf(const std::string& path, bool floatSamples = false);

/// True when the build's sound file library can write FLAC.
bool canWriteFlac();

/// Writes a stereo audio file with the guarantees of FileWriter: under a temporary name until
/// commit(), so a failed or cancelled render leaves nothing behind.
class AudioFileWriter {
public:
    AudioFileWriter() = default;
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    /// The most frames a file of the format may hold: a WAV file counts its bytes in 32 bits.
    static std::uint64_t maxFrames(AudioFormat format);

    FileStatus open(const std::string& path, AudioFormat format, int sampleRate);
    /// Appends frames, left and right of equal size; in an integer format, samples beyond ±1
    /// are clipped.
    FileStatus write(std::span<const float> left, std::span<const float> right);
    /// Completes the file, checks that it reads back with every frame, and makes it the
    /// target's content.
    FileStatus commit();
    /// Drops what was written.
    void abort();

private:
    FileStatus failedOpening();
    FileStatus failedWriting();
    bool readsBackWhole();

    FileWriter file_;
    sf_private_tag* sound_ = nullptr;
    std::vector<float> interleaved_;
    std::int64_t framesWritten_ = 0;
};

}  // namespace pitchloom
