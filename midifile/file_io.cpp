#include "midifile/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

namespace pitchloom {

std::optional<std::vector<std::uint8_t>> readFileBytes(const std::string& path,
                                                       std::size_t maxBytes) {
    // Not blocking on the open: a FIFO or a device would otherwise hold the caller until some
    // other program writes to it. Anything but a regular file is refused.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    // Grow with what the file holds: a small song should not cost a buffer-sized allocation.
    constexpr std::size_t kStep = 64 * 1024;
    std::vector<std::uint8_t> bytes;
    bool failed = false;
    while (bytes.size() < maxBytes) {
        const std::size_t have = bytes.size();
        bytes.resize(std::min(maxBytes, have + kStep));
        const ssize_t n = ::read(fd, bytes.data() + have, bytes.size() - have);
        if (n < 0 && errno == EINTR) {
            bytes.resize(have);
            continue;
        }
        bytes.resize(have + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n <= 0) {
            failed = n < 0;
            break;
        }
    }
    ::close(fd);
    if (failed) return std::nullopt;
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
