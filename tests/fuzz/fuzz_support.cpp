#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/file_io.h"

namespace pitchloom::fuzz {

void require(bool holds, std::string_view property) {
    if (holds) return;
    std::fprintf(stderr, "broken: %.*s\n", static_cast<int>(property.size()), property.data());
    std::abort();
}

void QuietDialogs::showMessage(std::string_view text, BoxStyle) {
    ++boxes_;
    auto it = texts_.find(text);
    if (it == texts_.end()) it = texts_.emplace(std::string(text), 0).first;
    ++it->second;
}

std::optional<std::string> QuietDialogs::askOpenPath(std::span<const FileFilter>) {
    return open_;
}

std::optional<std::string> QuietDialogs::askSavePath(std::span<const FileFilter>) {
    return save_;
}

int QuietDialogs::count(std::string_view text) const {
    const auto it = texts_.find(text);
    return it == texts_.end() ? 0 : it->second;
}

ScratchFolder::ScratchFolder() {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "pitchloom-fuzz-XXXXXX").string();
    require(::mkdtemp(pattern.data()) != nullptr, "a scratch folder can be made");
    dir_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string ScratchFolder::path(std::string_view name) const {
    return (std::filesystem::path(dir_) / name).string();
}

std::string ScratchFolder::write(std::string_view name, std::span<const std::uint8_t> bytes) const {
    const std::string file = path(name);
    require(writeFile(file, bytes).ok(), "the scratch folder takes a file");
    return file;
}

std::vector<std::string> ScratchFolder::names() const {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        out.push_back(entry.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

MidiSong& reusedSong() {
    static MidiSong song;
    if (!song.exists()) require(song.create(), "the song buffer can be had");
    // Clearing pages already mapped costs little next to mapping fresh ones.
    std::memset(song.data.data(), 0, song.data.size());
    song.length = 0;
    return song;
}

bool isStandardFormat0(std::span<const std::uint8_t> file) {
    // The program reads the format's low byte only, and keeps the track count as the file has
    // it: format 0 plays its one track whatever the count says.
    static constexpr std::uint8_t kHeader[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    return file.size() >= kFirstEventOffset &&
           std::equal(std::begin(kHeader), std::end(kHeader), file.begin()) && file[9] == 0 &&
           std::equal(file.begin() + 14, file.begin() + 18, "MTrk") &&
           readBe32(file, kTrackLengthOffset) == file.size() - kFirstEventOffset;
}

std::array<std::uint8_t, 12> marksFromMask(unsigned mask) {
    std::array<std::uint8_t, 12> marks{};
    mask &= 0xFFF;
    for (std::size_t i = 0; i < marks.size(); ++i) {
        marks[i] = mask == 0 || ((mask >> i) & 1u) != 0 ? 1 : 0;
    }
    return marks;
}

}  // namespace pitchloom::fuzz
