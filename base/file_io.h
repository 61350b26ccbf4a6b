#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace pitchloom {

/// The name that stands for standard input (reading) and standard output (writing).
inline constexpr std::string_view kStandardStream = "-";

/// True when a and b hold the same characters, ASCII letters in either case alike.
bool equalIgnoringCase(std::string_view a, std::string_view b);

/// True when path ends in "." and extension ("mid"), in any case.
bool hasExtension(std::string_view path, std::string_view extension);

/// What a file operation came to: done, or the reason it failed, in words a user can act on
/// ("No such file or directory", "No space left on device", "the file is read-only").
class FileStatus {
public:
    static FileStatus done() { return FileStatus(); }
    static FileStatus failed(std::string reason) { return FileStatus(std::move(reason)); }
    /// The system's text for an errno value.
    static FileStatus failedWith(int error);

    bool ok() const { return reason_.empty(); }
    explicit operator bool() const { return ok(); }
    const std::string& reason() const { return reason_; }
    /// "path: reason", the line a log shows.
    std::string about(const std::string& path) const { return path + ": " + reason_; }

private:
    FileStatus() = default;
    explicit FileStatus(std::string reason) : reason_(std::move(reason)) {}
    std::string reason_;
};

/// The bytes of a file, and how reading it went.
struct FileContents {
    std::vector<std::uint8_t> bytes;
    FileStatus status = FileStatus::done();
};

/// Reads at most maxBytes of a regular file ("-": standard input). Anything else (a folder, a
/// FIFO, a device) is refused without waiting for a writer.
FileContents readFile(const std::string& path, std::size_t maxBytes);
/// Asks the system to start reading a regular file that is about to be read, so that the disk
/// works while the caller does; anything else is left alone.
void prefetchFile(const std::string& path);

/// How a write treats a FIFO as its target: refused at once when nothing reads from it (the
/// window), or waited on until something does (a command in a pipeline).
enum class PipeWait { No, Yes };

class CommitGroup;

/// How a file is written: whether a FIFO is waited on, and whether a new or replaced file is
/// put in place at once or with others of a group (see CommitGroup).
struct WriteMode {
    // Not explicit: a PipeWait alone is a whole mode.
    WriteMode(PipeWait pipes = PipeWait::No, CommitGroup* group = nullptr)
        : pipes(pipes), group(group) {}
    PipeWait pipes;
    CommitGroup* group;
};

/// Writes a file so that it is never left half written and nothing else is harmed:
/// - a new or replaced regular file is written under an exclusive temporary name in its own
///   folder and renamed over the target, which keeps its mode and, where the process may set
///   them, its owner and group; a file with several hard links is written in place (after the
///   temporary copy proved the bytes fit), so the links stay one file;
/// - a symbolic link writes the file it points to, the link stays;
/// - a read-only file is refused;
/// - a character device or a FIFO is written directly, never replaced; any other kind of file
///   is refused;
/// - "-" writes standard output.
/// Nothing is left behind when it fails.
class FileWriter {
public:
    /// Gives names for the temporary file (".pitchloom-" and six random letters and digits).
    using NameSource = std::function<std::string()>;

    FileWriter();
    /// With names from the given source (tests plant files under them).
    explicit FileWriter(NameSource names) : names_(std::move(names)) {}
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    /// Prepares writing to path; the bytes then go to fd().
    FileStatus open(const std::string& path, PipeWait pipes = PipeWait::No);
    /// Where the bytes go until commit().
    int fd() const { return fd_; }
    /// Appends bytes.
    FileStatus write(std::span<const std::uint8_t> bytes);
    /// Makes the written bytes the target's content.
    FileStatus commit();
    /// Drops what was written; the target stays as it was (a device or FIFO keeps what it got).
    void abort();

private:
    friend class CommitGroup;
    enum class Way { Replace, InPlace, Direct, StandardOutput };

    /// The temporary file takes the target's mode and owner and is closed.
    FileStatus seal();
    /// The sealed temporary file takes the target's name.
    FileStatus moveIntoPlace();
    FileStatus fail(FileStatus status);
    FileStatus createTemporary(const std::string& folder);

    NameSource names_;
    int fd_ = -1;
    Way way_ = Way::Replace;
    std::string target_;  // after following symbolic links
    std::string temp_;    // the temporary file, while there is one
    int tempSlot_ = -1;   // where removeTemporaryFiles() finds it
    bool keepOwner_ = false;
    unsigned mode_ = 0;
    unsigned uid_ = 0;
    unsigned gid_ = 0;
};

/// Removes the temporary files of every FileWriter in the program, once the steps other threads
/// are taking on them are done; from then on, a thread that comes to such a step waits there for
/// the program to end. What a program ended by a signal calls on its way out. Safe in a signal
/// handler.
void removeTemporaryFiles() noexcept;

/// Files written one after another and made safe on the disk together: one flush of each file
/// system for all of them instead of one a file, which on a disk that flushes slowly is most of
/// the time it takes to convert a collection of small songs. Each file still appears whole, when
/// flushed, or not at all; those still waiting when the group ends are dropped.
class CommitGroup {
public:
    CommitGroup() = default;
    ~CommitGroup();
    /// Takes the waiting files; other is left empty.
    CommitGroup(CommitGroup&& other) noexcept : waiting_(std::move(other.waiting_)) {}
    CommitGroup(const CommitGroup&) = delete;
    CommitGroup& operator=(const CommitGroup&) = delete;

    /// Commits a writer whose bytes are written: a new or replaced file waits for flush(); any
    /// other (a device, a file with several links, standard output) is committed now.
    FileStatus commit(std::unique_ptr<FileWriter> writer);
    /// Flushes the file systems of the waiting files, then puts each in place; what became of
    /// each, in the order they came.
    std::vector<FileStatus> flush();
    std::size_t waiting() const { return waiting_.size(); }

private:
    std::vector<std::unique_ptr<FileWriter>> waiting_;
};

/// Writes bytes to path with FileWriter.
FileStatus writeFile(const std::string& path, std::span<const std::uint8_t> bytes,
                     WriteMode mode = {});

}  // namespace pitchloom
