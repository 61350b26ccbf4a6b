#include "midifile/file_io.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

namespace pitchloom {

std::optional<std::vector<std::uint8_t>> readFileBytes(const std::string& path,
                                                       std::size_t maxBytes) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    // Grow with what the file holds: a small song should not cost a buffer-sized allocation.
    constexpr std::size_t kStep = 64 * 1024;
    std::vector<std::uint8_t> bytes;
    while (bytes.size() < maxBytes && in) {
        const std::size_t have = bytes.size();
        bytes.resize(std::min(maxBytes, have + kStep));
        in.read(reinterpret_cast<char*>(bytes.data() + have),
                static_cast<std::streamsize>(bytes.size() - have));
        bytes.resize(have + static_cast<std::size_t>(in.gcount()));
    }
    return bytes;
}

bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    std::random_device rd;
    const fs::path temp = target.parent_path() /
                          (target.filename().string() + ".tmp" + std::to_string(rd() % 1000000));
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            out.close();
            std::error_code ignored;
            fs::remove(temp, ignored);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return false;
    }
    return true;
}

}  // namespace pitchloom
