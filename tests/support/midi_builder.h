#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace pitchloom::test {

using Bytes = std::vector<std::uint8_t>;

/// Appends a variable-length quantity.
void appendVlq(Bytes& out, std::uint32_t value);

/// Writes readable events into a track's bytes: noteOn(0, 0, 60, 100) and so on. Channels 0..15.
class TrackBuilder {
public:
    TrackBuilder& noteOn(std::uint32_t delta, int channel, int note, int velocity);
    TrackBuilder& noteOff(std::uint32_t delta, int channel, int note, int velocity = 64);
    TrackBuilder& programChange(std::uint32_t delta, int channel, int program);
    TrackBuilder& controlChange(std::uint32_t delta, int channel, int controller, int value);
    /// Two data bytes under running status (no status byte written).
    TrackBuilder& running(std::uint32_t delta, int data1, int data2);
    /// One data byte under running status.
    TrackBuilder& running1(std::uint32_t delta, int data1);
    TrackBuilder& tempo(std::uint32_t delta, std::uint32_t microsPerQuarter);
    /// A meta event FF type, a variable-length length and the data.
    TrackBuilder& meta(std::uint32_t delta, int type, const Bytes& data);
    /// A System Exclusive event F0, a variable-length length, then body (which ends with F7).
    TrackBuilder& sysex(std::uint32_t delta, const Bytes& body);
    /// Any bytes after a delta time.
    TrackBuilder& raw(std::uint32_t delta, const Bytes& bytes);
    TrackBuilder& endOfTrack(std::uint32_t delta = 0);

    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

/// A whole Standard MIDI File: header (format, track count, division) and one MTrk per track.
Bytes smf(int format, int division, const std::vector<Bytes>& tracks);

/// The format-0 image of one track, as the song buffer holds it after a load.
Bytes format0(int division, const TrackBuilder& track);

/// A format-0 song of one C major triad (C4, E4, G4) struck together for a second.
Bytes cMajorTriadSong();

/// Writes bytes to a fresh file under the test temp folder and returns its path.
std::string writeTempFile(const std::string& name, const Bytes& bytes);

/// A fresh, empty folder for one test.
std::string makeTempDir(const std::string& name);

/// The names in a folder, sorted: a write must leave no temporary file behind.
std::vector<std::string> namesIn(const std::string& dir);

/// The bytes of an annotated hexadecimal file: pairs of hex digits, `#` to the end of a line is
/// a comment.
Bytes readHexFile(const std::string& path);

/// The path of a file under tests/data.
std::string testData(const std::string& name);

}  // namespace pitchloom::test
