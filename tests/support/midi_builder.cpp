#include "support/midi_builder.h"

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace pitchloom::test {

void appendVlq(Bytes& out, std::uint32_t value) {
    std::uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n > 1)
        out.push_back(static_cast<std::uint8_t>(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

namespace {
std::uint8_t u8(int v) {
    return static_cast<std::uint8_t>(v);
}
}  // namespace

TrackBuilder& TrackBuilder::noteOn(std::uint32_t delta, int channel, int note, int velocity) {
    return raw(delta, {u8(0x90 | channel), u8(note), u8(velocity)});
}
TrackBuilder& TrackBuilder::noteOff(std::uint32_t delta, int channel, int note, int velocity) {
    return raw(delta, {u8(0x80 | channel), u8(note), u8(velocity)});
}
TrackBuilder& TrackBuilder::programChange(std::uint32_t delta, int channel, int program) {
    return raw(delta, {u8(0xC0 | channel), u8(program)});
}
TrackBuilder& TrackBuilder::controlChange(std::uint32_t delta, int channel, int controller,
                                          int value) {
    return raw(delta, {u8(0xB0 | channel), u8(controller), u8(value)});
}
TrackBuilder& TrackBuilder::running(std::uint32_t delta, int data1, int data2) {
    return raw(delta, {u8(data1), u8(data2)});
}
TrackBuilder& TrackBuilder::running1(std::uint32_t delta, int data1) {
    return raw(delta, {u8(data1)});
}
TrackBuilder& TrackBuilder::tempo(std::uint32_t delta, std::uint32_t us) {
    return raw(delta, {0xFF, 0x51, 0x03, u8(us >> 16), u8(us >> 8), u8(us)});
}
TrackBuilder& TrackBuilder::meta(std::uint32_t delta, int type, const Bytes& data) {
    Bytes e{0xFF, u8(type)};
    appendVlq(e, static_cast<std::uint32_t>(data.size()));
    e.insert(e.end(), data.begin(), data.end());
    return raw(delta, e);
}
TrackBuilder& TrackBuilder::sysex(std::uint32_t delta, const Bytes& body) {
    Bytes e{0xF0};
    appendVlq(e, static_cast<std::uint32_t>(body.size()));
    e.insert(e.end(), body.begin(), body.end());
    return raw(delta, e);
}
TrackBuilder& TrackBuilder::raw(std::uint32_t delta, const Bytes& bytes) {
    appendVlq(bytes_, delta);
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}
TrackBuilder& TrackBuilder::endOfTrack(std::uint32_t delta) {
    return raw(delta, {0xFF, 0x2F, 0x00});
}

namespace {
void append32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(u8(static_cast<int>(v >> shift)));
}
}  // namespace

Bytes smf(int format, int division, const std::vector<Bytes>& tracks) {
    Bytes out{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, u8(format)};
    out.push_back(u8(tracks.size() >> 8));
    out.push_back(u8(static_cast<int>(tracks.size())));
    out.push_back(u8(division >> 8));
    out.push_back(u8(division));
    for (const Bytes& t : tracks) {
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        append32(out, static_cast<std::uint32_t>(t.size()));
        out.insert(out.end(), t.begin(), t.end());
    }
    return out;
}

Bytes format0(int division, const TrackBuilder& track) {
    return smf(0, division, {track.bytes()});
}

Bytes cMajorTriadSong() {
    TrackBuilder t;
    t.noteOn(0, 0, 60, 100).noteOn(0, 0, 64, 100).noteOn(0, 0, 67, 100);
    t.noteOff(960, 0, 60).noteOff(0, 0, 64).noteOff(0, 0, 67).endOfTrack();
    return format0(480, t);
}

std::string makeTempDir(const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("pitchloom-test-" + std::to_string(::getpid())) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string writeTempFile(const std::string& name, const Bytes& bytes) {
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("pitchloom-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path path = dir / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

Bytes readHexFile(const std::string& path) {
    std::ifstream in(path);
    Bytes out;
    for (std::string line; std::getline(in, line);) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        for (std::string hex; words >> hex;)
            out.push_back(static_cast<std::uint8_t>(std::stoul(hex, nullptr, 16)));
    }
    return out;
}

std::string testData(const std::string& name) {
    // The folder beside this file's own, wherever the checkout lies.
    const std::filesystem::path support = std::filesystem::path(__FILE__).parent_path();
    return (support.parent_path() / "data" / name).string();
}

}  // namespace pitchloom::test
