#include "playback/audio/audio_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "playback/outputs/audio_libraries.h"

namespace pitchloom {
namespace {

constexpr int kChannels = 2;
// Room left in a 4 GiB WAV file for its header and a few chunks a reader may add.
constexpr std::uint64_t kWavBytes = 0xFFFFFFFFull - 4096;

// Only called once the library is known to be there: canWriteFlac() and open() ask first.
const SndfileFunctions& libsndfile() {
    return *sndfile();
}

int sndfileFormat(AudioFormat format) {
    switch (format) {
        case AudioFormat::WavFloat:
            return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        case AudioFormat::Flac:
            return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        case AudioFormat::Wav16:
            break;
    }
    return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
}

}  // namespace

std::optional<AudioFormat> audioFormatOf(const std::string& path, bool floatSamples) {
    if (hasExtension(path, "wav")) return floatSamples ? AudioFormat::WavFloat : AudioFormat::Wav16;
    if (hasExtension(path, "flac")) return AudioFormat::Flac;
    return std::nullopt;
}

bool canWriteFlac() {
    if (sndfile() == nullptr) return false;
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = kChannels;
    info.format = sndfileFormat(AudioFormat::Flac);
    return libsndfile().sf_format_check(&info) == SF_TRUE;
}

std::uint64_t AudioFileWriter::maxFrames(AudioFormat format) {
    // FLAC has no such limit, but a song that long is no song; it keeps to the 16-bit WAV's.
    const std::uint64_t bytesPerSample = format == AudioFormat::WavFloat ? 4 : 2;
    return kWavBytes / (kChannels * bytesPerSample);
}

AudioFileWriter::~AudioFileWriter() {
    abort();
}

FileStatus AudioFileWriter::failedOpening() {
    const std::string reason = libsndfile().sf_strerror(sound_);
    abort();
    return FileStatus::failed(reason);
}

FileStatus AudioFileWriter::open(const std::string& path, AudioFormat format, int sampleRate) {
    // Audio needs its header written last, which a pipe or the terminal cannot take back.
    if (path == kStandardStream) return FileStatus::failed("audio cannot go to standard output");
    if (sndfile() == nullptr) {
        return FileStatus::failed("the sound file library (" PITCHLOOM_SNDFILE_LIBRARY
                                  ") cannot be loaded");
    }
    if (format == AudioFormat::Flac && !canWriteFlac()) {
        return FileStatus::failed("this system's sound file library cannot write FLAC");
    }
    // The file is read back to check it holds every frame, which a device or a pipe cannot give:
    // refused before anything is rendered, not after.
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0 &&
        (S_ISCHR(target.st_mode) || S_ISFIFO(target.st_mode))) {
        return FileStatus::failed(
            "audio is written to a regular file only, not to a device or a "
            "pipe");
    }
    if (FileStatus s = file_.open(path); !s) return s;
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = kChannels;
    info.format = sndfileFormat(format);
    sound_ = libsndfile().sf_open_fd(file_.fd(), SFM_WRITE, &info, SF_FALSE);
    if (sound_ == nullptr) return failedOpening();
    // Without clipping, a loud passage would wrap around from the top of the range to the bottom.
    libsndfile().sf_command(sound_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // The peak chunk carries the time of writing: without it, one song renders to one file.
    libsndfile().sf_command(sound_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    return FileStatus::done();
}

FileStatus AudioFileWriter::write(std::span<const float> left, std::span<const float> right) {
    if (sound_ == nullptr || left.size() != right.size()) return FileStatus::failedWith(EBADF);
    interleaved_.resize(left.size() * kChannels);
    for (std::size_t i = 0; i < left.size(); ++i) {
        interleaved_[2 * i] = left[i];
        interleaved_[2 * i + 1] = right[i];
    }
    const auto frames = static_cast<sf_count_t>(left.size());
    errno = 0;
    if (libsndfile().sf_writef_float(sound_, interleaved_.data(), frames) != frames)
        return failedWriting();
    framesWritten_ += frames;
    return FileStatus::done();
}

FileStatus AudioFileWriter::failedWriting() {
    // The library reports a full disk as a short write; the system says why, if it was asked.
    const int error = errno;
    abort();
    return error != 0 ? FileStatus::failedWith(error)
                      : FileStatus::failed("the audio was not written whole");
}

bool AudioFileWriter::readsBackWhole() {
    // The encoder finishes the file (FLAC's last frames, a header with the final length) when it
    // is closed, and says nothing of a failure then: the file read back must hold every frame.
    if (::lseek(file_.fd(), 0, SEEK_SET) != 0) return false;
    SF_INFO info{};
    SNDFILE* back = libsndfile().sf_open_fd(file_.fd(), SFM_READ, &info, SF_FALSE);
    const bool whole = back != nullptr && info.frames == framesWritten_;
    if (back != nullptr) libsndfile().sf_close(back);
    return whole;
}

FileStatus AudioFileWriter::commit() {
    if (sound_ == nullptr) return FileStatus::failedWith(EBADF);
    errno = 0;
    const bool closed = libsndfile().sf_close(std::exchange(sound_, nullptr)) == 0;
    if (!closed || !readsBackWhole()) return failedWriting();
    return file_.commit();
}

void AudioFileWriter::abort() {
    if (sound_ != nullptr) libsndfile().sf_close(std::exchange(sound_, nullptr));
    file_.abort();
}

}  // namespace pitchloom
