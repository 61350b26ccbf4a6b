#include "base/file_io.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <optional>
#include <random>
#include <string_view>
#include <system_error>
#include <utility>

namespace pitchloom {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel allows in one path before ELOOP

// The temporary files that exist, for removeTemporaryFiles(): a slot holds a copy of the path,
// and whoever takes the copy out of its slot owns it, a signal handler included. Enough slots
// for every file a collection on many cores keeps waiting; one more file is simply not listed.
constexpr std::size_t kTemporarySlots = 4096;
std::array<std::atomic<char*>, kTemporarySlots> temporaries{};
std::atomic<std::size_t> nextSlot{0};
static_assert(std::atomic<char*>::is_always_lock_free);

int rememberTemporary(const std::string& path) {
    char* copy = ::strdup(path.c_str());
    if (copy == nullptr) return -1;
    for (std::size_t tries = 0; tries < kTemporarySlots; ++tries) {
        const std::size_t slot = nextSlot.fetch_add(1, std::memory_order_relaxed) % kTemporarySlots;
        char* empty = nullptr;
        if (temporaries[slot].compare_exchange_strong(empty, copy)) return static_cast<int>(slot);
    }
    std::free(copy);
    return -1;
}

void forgetTemporary(int& slot) {
    if (slot >= 0) std::free(temporaries[static_cast<std::size_t>(slot)].exchange(nullptr));
    slot = -1;
}

// Set when removeTemporaryFiles() begins; from then on no thread makes, moves or removes one.
std::atomic<bool> sweeping{false};
// The threads inside a TemporaryStep, which the sweep waits for.
std::atomic<int> stepsUnderway{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

// Makes, moves or removes a temporary file and its entry in the table as one step for
// removeTemporaryFiles(): a file made but not yet listed when the sweep ran would stay behind,
// and one swept and then moved would be reported as failing. The signals that end the program
// wait until the step is done; once the sweep has begun, a thread that comes to a step waits
// here for the program to end.
class TemporaryStep {
public:
    TemporaryStep() {
        sigset_t signals;
        sigfillset(&signals);
        // A fault blocked would end the program without the sweep.
        for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT})
            sigdelset(&signals, fault);
        pthread_sigmask(SIG_BLOCK, &signals, &before_);
        ++stepsUnderway;
        if (sweeping) {
            --stepsUnderway;
            for (;;)
                ::pause();
        }
    }
    ~TemporaryStep() {
        --stepsUnderway;
        pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    }
    TemporaryStep(const TemporaryStep&) = delete;
    TemporaryStep& operator=(const TemporaryStep&) = delete;

private:
    sigset_t before_{};
};

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The file a path names once every symbolic link at its end is followed; the path itself when it
// names nothing yet (a link to a missing file names that file).
std::optional<std::string> followLinks(std::string path, int& error) {
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
        if (n < 0) {
            error = errno;
            return std::nullopt;
        }
        link.resize(static_cast<std::size_t>(n));
        path = link.starts_with('/') ? link : folderOf(path) + "/" + link;
    }
    error = ELOOP;
    return std::nullopt;
}

// The umask, read before main() while the program has a single thread: the system call that
// reads it sets it too, so a thread creating a file in between would get the value set. Read
// once, as nothing here changes it.
const mode_t processUmask = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}();

// The mode a new file gets: what open() with 0666 would give under the process's umask.
unsigned newFileMode() {
    return 0666u & ~static_cast<unsigned>(processUmask);
}

bool writeAll(int fd, std::span<const std::uint8_t> bytes, int& error) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

// Copies the whole of `from` (read from its start) over `to`, which ends where the copy does.
bool copyOver(int from, int to, int& error) {
    if (::lseek(from, 0, SEEK_SET) < 0) {
        error = errno;
        return false;
    }
    std::vector<std::uint8_t> buffer(64 * 1024);
    off_t size = 0;
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            return false;
        }
        if (n == 0) break;
        if (!writeAll(to, {buffer.data(), static_cast<std::size_t>(n)}, error)) return false;
        size += n;
    }
    if (::ftruncate(to, size) != 0 || ::fsync(to) != 0) {
        error = errno;
        return false;
    }
    return true;
}

}  // namespace

FileStatus FileStatus::failedWith(int error) {
    return failed(std::generic_category().message(error));
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool hasExtension(std::string_view path, std::string_view extension) {
    if (path.size() <= extension.size() || path[path.size() - extension.size() - 1] != '.') {
        return false;
    }
    return equalIgnoringCase(path.substr(path.size() - extension.size()), extension);
}

FileContents readFile(const std::string& path, std::size_t maxBytes) {
    FileContents out;
    const bool standardInput = path == kStandardStream;
    // Not blocking on the open: a FIFO or a device would otherwise hold the caller until some
    // other program writes to it.
    const int fd =
        standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        out.status = FileStatus::failedWith(errno);
        return out;
    }
    // Grow with what the file holds: a small song should not cost a buffer-sized allocation.
    // The first read asks for the whole file and one byte more, to see its end at once.
    std::size_t step = 64 * 1024;
    if (!standardInput) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            out.status = S_ISDIR(st.st_mode) ? FileStatus::failedWith(EISDIR)
                                             : FileStatus::failed("not a regular file");
            ::close(fd);
            return out;
        }
        step = std::max<std::size_t>(static_cast<std::size_t>(st.st_size) + 1, 4096);
    }
    while (out.bytes.size() < maxBytes) {
        const std::size_t have = out.bytes.size();
        out.bytes.resize(std::min(maxBytes, have + step));
        step = 64 * 1024;
        const ssize_t n = ::read(fd, out.bytes.data() + have, out.bytes.size() - have);
        out.bytes.resize(have + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) out.status = FileStatus::failedWith(errno);
        if (n <= 0) break;
    }
    if (!standardInput) ::close(fd);
    if (!out.status) out.bytes.clear();
    return out;
}

void prefetchFile(const std::string& path) {
#if defined(__linux__)
    struct stat st {};
    // Only a regular file: opening a device or a FIFO may do more than read it.
    if (path == kStandardStream || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_WILLNEED);
    ::close(fd);
#else
    (void)path;
#endif
}

FileWriter::FileWriter() {
    names_ = [] {
        // One engine a thread, seeded once: seeding costs more than writing a small song does.
        thread_local std::mt19937 random(std::random_device{}());
        constexpr std::string_view kLetters =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        std::uniform_int_distribution<std::size_t> pick(0, kLetters.size() - 1);
        std::string name = ".pitchloom-";
        for (int i = 0; i < 6; ++i)
            name += kLetters[pick(random)];
        return name;
    };
}

FileWriter::~FileWriter() {
    abort();
}

FileStatus FileWriter::createTemporary(const std::string& folder) {
    // Created exclusively, never through a link: a name someone else took, or planted a link
    // under, is passed over for the next one.
    constexpr int kTries = 100;
    for (int i = 0; i < kTries; ++i) {
        const std::string temp = folder + "/" + names_();
        const TemporaryStep step;
        fd_ = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            temp_ = temp;
            tempSlot_ = rememberTemporary(temp_);
            return FileStatus::done();
        }
        if (errno != EEXIST) return FileStatus::failedWith(errno);
    }
    return FileStatus::failedWith(EEXIST);
}

FileStatus FileWriter::fail(FileStatus status) {
    abort();
    return status;
}

FileStatus FileWriter::open(const std::string& path, PipeWait pipes) {
    abort();
    if (path == kStandardStream) {
        fd_ = STDOUT_FILENO;
        way_ = Way::StandardOutput;
        return FileStatus::done();
    }
    int error = 0;
    const auto target = followLinks(path, error);
    if (!target) return FileStatus::failedWith(error);
    target_ = *target;

    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0) {
        if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
            // A device or a pipe is written as it is; replacing it would destroy it.
            const bool fifo = S_ISFIFO(st.st_mode);
            const int flags =
                O_WRONLY | O_NOCTTY | O_CLOEXEC | (fifo && pipes == PipeWait::No ? O_NONBLOCK : 0);
            fd_ = ::open(target_.c_str(), flags);
            if (fd_ < 0) {
                return errno == ENXIO ? FileStatus::failed("nothing reads from the pipe")
                                      : FileStatus::failedWith(errno);
            }
            if (fifo) ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
            way_ = Way::Direct;
            return FileStatus::done();
        }
        if (S_ISDIR(st.st_mode)) return FileStatus::failedWith(EISDIR);
        if (!S_ISREG(st.st_mode)) return FileStatus::failed("not a regular file");
        if (::access(target_.c_str(), W_OK) != 0) return FileStatus::failedWith(errno);
        // Writable to the superuser all the same, but its owner made it read-only on purpose.
        if ((st.st_mode & 0222) == 0) return FileStatus::failed("the file is read-only");
        mode_ = st.st_mode & 07777;
        uid_ = st.st_uid;
        gid_ = st.st_gid;
        keepOwner_ = true;
        way_ = st.st_nlink > 1 ? Way::InPlace : Way::Replace;
    } else if (errno != ENOENT) {
        return FileStatus::failedWith(errno);
    } else {
        mode_ = newFileMode();
        keepOwner_ = false;
        way_ = Way::Replace;
    }

    // A short name of its own: a target name at the file system's limit leaves room for it.
    return createTemporary(folderOf(target_));
}

FileStatus FileWriter::write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) return FileStatus::failedWith(EBADF);
    int error = 0;
    if (!writeAll(fd_, bytes, error)) return fail(FileStatus::failedWith(error));
    return FileStatus::done();
}

FileStatus FileWriter::commit() {
    if (fd_ < 0) return FileStatus::failedWith(EBADF);
    if (way_ == Way::StandardOutput) {
        fd_ = -1;
        return FileStatus::done();
    }
    if (way_ == Way::Direct) {
        const int closed = ::close(std::exchange(fd_, -1));
        return closed == 0 ? FileStatus::done() : FileStatus::failedWith(errno);
    }
    if (::fsync(fd_) != 0) return fail(FileStatus::failedWith(errno));
    if (way_ == Way::InPlace) {
        // The bytes fit, as the temporary copy shows: now they go into the file itself, which
        // keeps its links. Should that fail half way, the complete copy takes its place.
        const int file = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
        int error = 0;
        const bool copied = file >= 0 && copyOver(fd_, file, error);
        if (file >= 0) ::close(file);
        if (copied) {
            abort();
            return FileStatus::done();
        }
    }
    if (FileStatus sealed = seal(); !sealed) return sealed;
    return moveIntoPlace();
}

FileStatus FileWriter::seal() {
    if (keepOwner_ && ::fchown(fd_, uid_, gid_) != 0) {
        // Not the owner's to give away: the group, where the process belongs to it, at least.
        [[maybe_unused]] const int ignored = ::fchown(fd_, static_cast<uid_t>(-1), gid_);
    }
    // After the owner: a change of owner clears the set-user and set-group bits.
    if (::fchmod(fd_, mode_) != 0) return fail(FileStatus::failedWith(errno));
    if (::close(std::exchange(fd_, -1)) != 0) return fail(FileStatus::failedWith(errno));
    return FileStatus::done();
}

FileStatus FileWriter::moveIntoPlace() {
    int error = 0;
    {
        const TemporaryStep step;
        if (::rename(temp_.c_str(), target_.c_str()) == 0) {
            forgetTemporary(tempSlot_);
            temp_.clear();
            return FileStatus::done();
        }
        error = errno;
    }
    return fail(FileStatus::failedWith(error));
}

void FileWriter::abort() {
    if (fd_ >= 0 && way_ != Way::StandardOutput) ::close(fd_);
    fd_ = -1;
    if (temp_.empty()) return;
    const TemporaryStep step;
    ::unlink(temp_.c_str());
    forgetTemporary(tempSlot_);
    temp_.clear();
}

void removeTemporaryFiles() noexcept {
    sweeping = true;
    // Steps of other threads finish first; one held up for long (a file system that no longer
    // answers) is not waited for.
    for (int waited = 0; stepsUnderway > 0 && waited < 1000; ++waited) {
        const timespec millisecond{0, 1000000};
        ::nanosleep(&millisecond, nullptr);
    }
    for (std::atomic<char*>& slot : temporaries) {
        // Taken, never freed: the program is about to end, and free() is no call for a handler.
        if (const char* path = slot.exchange(nullptr)) ::unlink(path);
    }
}

CommitGroup::~CommitGroup() {
    for (const auto& writer : waiting_)
        writer->abort();
}

FileStatus CommitGroup::commit(std::unique_ptr<FileWriter> writer) {
    if (writer->fd_ < 0) return FileStatus::failedWith(EBADF);
    if (writer->way_ != FileWriter::Way::Replace) return writer->commit();
#if !defined(__linux__)
    if (::fsync(writer->fd_) != 0) return writer->fail(FileStatus::failedWith(errno));
#endif
    // Closed while it waits: a group holds no descriptors, however many files wait in it.
    if (FileStatus sealed = writer->seal(); !sealed) return sealed;
    waiting_.push_back(std::move(writer));
    return FileStatus::done();
}

std::vector<FileStatus> CommitGroup::flush() {
    std::vector<FileStatus> results;
#if defined(__linux__)
    // One flush of each file system, which since Linux 5.8 also reports a failed write-back.
    std::map<dev_t, FileStatus> flushed;
#endif
    for (const auto& writer : waiting_) {
        FileStatus status = FileStatus::done();
#if defined(__linux__)
        const std::string& temp = writer->temp_;
        struct stat st {};
        if (::stat(temp.c_str(), &st) != 0) {
            status = FileStatus::failedWith(errno);
        } else if (auto [at, first] = flushed.try_emplace(st.st_dev, FileStatus::done()); !first) {
            status = at->second;
        } else {
            const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::syncfs(fd) != 0) at->second = FileStatus::failedWith(errno);
            if (fd >= 0) ::close(fd);
            status = at->second;
        }
#endif
        results.push_back(status ? writer->moveIntoPlace() : writer->fail(status));
    }
    waiting_.clear();
    return results;
}

FileStatus writeFile(const std::string& path, std::span<const std::uint8_t> bytes, WriteMode mode) {
    auto writer = std::make_unique<FileWriter>();
    if (FileStatus s = writer->open(path, mode.pipes); !s) return s;
    if (FileStatus s = writer->write(bytes); !s) return s;
    return mode.group != nullptr ? mode.group->commit(std::move(writer)) : writer->commit();
}

}  // namespace pitchloom
