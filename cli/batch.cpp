#include "cli/batch.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include "base/messages.h"
#include "cli/convert_tool.h"
#include "cli/interrupt.h"
#include "cli/progress_bar.h"
#include "cli/stream_dialogs.h"

namespace pitchloom {
namespace {

namespace fs = std::filesystem;

// Outputs made safe on the disk with one flush: enough to make the flushes a small part of a
// collection's time, few enough that the bar keeps moving.
constexpr std::size_t kGroupSize = 32;
// How far ahead of the songs being converted their files are read from the disk.
constexpr std::size_t kReadAhead = 8;

// Workers beyond a few for each processor find no time to convert in, yet each holds a song
// buffer of almost a megabyte: -j 1000 would take a gigabyte.
std::size_t mostWorkers() {
    return std::max<std::size_t>(8, 4 * std::size_t{std::thread::hardware_concurrency()});
}

// The dialogs of one song in a batch: its paths, and its messages kept for the failure line.
class CollectingDialogs : public UserDialogs {
public:
    /// Starts on the next song.
    void reset(std::string input, std::string output) {
        input_ = std::move(input);
        output_ = std::move(output);
        said_.clear();
    }

    void showMessage(std::string_view text, BoxStyle) override { said_.emplace_back(text); }
    void showDetail(std::string_view detail) override {
        if (!said_.empty()) said_.back() += " (" + std::string(detail) + ")";
    }
    std::optional<std::string> askOpenPath(std::span<const FileFilter>) override { return input_; }
    std::optional<std::string> askSavePath(std::span<const FileFilter>) override { return output_; }
    using UserDialogs::askOpenPath;
    using UserDialogs::askSavePath;

    /// What went wrong, the report of success left out.
    std::string reason() const {
        std::string text;
        for (const std::string& s : said_) {
            if (s == messages::kWrittenToFile) continue;
            if (!text.empty()) text += "; ";
            text += s;
        }
        return text.empty() ? "not converted" : text;
    }

private:
    std::string input_;
    std::string output_;
    std::vector<std::string> said_;
};

// A file as the system knows it, whatever path leads there; nothing when it does not exist.
std::optional<std::pair<dev_t, ino_t>> identityOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    return std::pair(status.st_dev, status.st_ino);
}

}  // namespace

int convertAll(const std::vector<std::string>& inputs, const std::string& folder, int jobs,
               const MakeConverter& makeConverter, std::ostream& err, bool terminal) {
    std::error_code error;
    fs::create_directories(folder, error);
    // Why the folder could not be made, not what a look at it afterwards finds.
    const std::error_code making = error;
    if (!fs::is_directory(folder, error)) {
        const bool exists = !error && fs::exists(folder, error);
        err << oneLine(folder) << ": "
            << (exists ? "not a folder" : (making ? making : error).message()) << '\n';
        return kExitFailed;
    }

    const std::size_t total = inputs.size();
    std::vector<std::string> outputs(total);
    std::vector<std::string> refused(total);
    // Each set by the worker that converts the song, before the song is settled.
    std::vector<std::string> remarks(total);
    std::set<std::string> names;
    // An output can be an input only when something is in the folder already; a new or empty
    // folder spares a look at every file, which would be a good part of a collection's time.
    const bool empty = fs::is_empty(folder, error) && !error;
    std::set<std::pair<dev_t, ino_t>> inputFiles;
    if (!empty) {
        for (const std::string& input : inputs) {
            if (const auto identity = identityOf(input)) inputFiles.insert(*identity);
        }
    }
    for (std::size_t i = 0; i < total; ++i) {
        const fs::path name = fs::path(inputs[i]).filename();
        outputs[i] = (fs::path(folder) / name).string();
        if (!names.insert(name.string()).second) {
            refused[i] = "an earlier input has the same name";
        } else if (const auto existing = empty ? std::nullopt : identityOf(outputs[i]);
                   existing && inputFiles.contains(*existing)) {
            refused[i] = outputs[i] + " is an input and is never replaced";
        }
    }

    ProgressBar bar(err, terminal);
    std::atomic<std::size_t> next{0};
    std::mutex settling;  // the counts, and the bar drawn with them
    std::size_t converted = 0;
    std::size_t failed = 0;
    const auto show = [&] {
        std::string label = std::to_string(converted + failed) + "/" + std::to_string(total);
        if (failed > 0) label += " (" + std::to_string(failed) + " failed)";
        bar.show(static_cast<double>(converted + failed) / static_cast<double>(total), label);
    };
    const auto settle = [&](std::size_t i, const std::string& reason) {
        std::lock_guard lock(settling);
        if (reason.empty()) {
            ++converted;
            if (!remarks[i].empty()) bar.print(oneLine(inputs[i] + ": " + remarks[i]));
        } else {
            ++failed;
            bar.print(oneLine(inputs[i] + ": " + reason));
        }
        show();
    };
    // Makes a group's files safe and settles their songs.
    const auto settleGroup = [&](CommitGroup& group, const std::vector<std::size_t>& songs) {
        const std::vector<FileStatus> results = group.flush();
        for (std::size_t k = 0; k < results.size(); ++k) {
            const std::size_t i = songs[k];
            settle(i, results[k] ? std::string()
                                 : std::string(messages::kCannotOpenFile) + " (" +
                                       results[k].about(outputs[i]) + ")");
        }
    };
    // Each worker keeps its song buffer from one song to the next: buffers made and freed by
    // several threads at once would wait on each other in the system's memory map.
    const auto work = [&] {
        CollectingDialogs dialogs;
        const ConvertOne convert = makeConverter(dialogs);
        struct Waiting {
            CommitGroup group;
            std::vector<std::size_t> songs;  // the inputs whose outputs wait in the group
        };
        Waiting waiting;
        // A flush mostly waits for the disk: a full group is flushed on a thread of its own while
        // the worker goes on with the next songs. Joined however the worker ends.
        std::jthread flushing;
        const auto flush = [&](bool last) {
            if (flushing.joinable()) flushing.join();
            auto full = std::make_shared<Waiting>(std::move(waiting));
            waiting.songs.clear();
            if (!last) {
                try {
                    flushing = std::jthread(
                        [full, &settleGroup] { settleGroup(full->group, full->songs); });
                    return;
                } catch (const std::system_error&) {
                    // No thread to spare: the worker flushes, as it does its last group.
                }
            }
            settleGroup(full->group, full->songs);
        };
        for (std::size_t i; !interrupted() && (i = next++) < total;) {
            // Songs are taken in order: the one a few places ahead is read from the disk while
            // this one converts. The first few are asked for before the workers start.
            if (i + kReadAhead < total) prefetchFile(inputs[i + kReadAhead]);
            if (!refused[i].empty()) {
                settle(i, refused[i]);
                continue;
            }
            dialogs.reset(inputs[i], outputs[i]);
            CommitGroup& group = waiting.group;
            const std::size_t before = group.waiting();
            SongConverted song = convert(group);
            if (!song.written) {
                settle(i, song.remark.empty() ? dialogs.reason() : song.remark);
                continue;
            }
            remarks[i] = std::move(song.remark);
            if (group.waiting() == before) {
                settle(i, {});
            } else {
                waiting.songs.push_back(i);
                if (waiting.songs.size() >= kGroupSize) flush(false);
            }
        }
        flush(true);
    };
    for (std::size_t i = 0; i < std::min(kReadAhead, total); ++i)
        prefetchFile(inputs[i]);
    show();
    const std::size_t threads =
        std::clamp<std::size_t>(static_cast<std::size_t>(jobs), 1, std::min(total, mostWorkers()));
    std::vector<std::thread> workers;
    try {
        for (std::size_t t = 1; t < threads; ++t)
            workers.emplace_back(work);
    } catch (const std::system_error&) {
        // The system gave fewer threads than asked for: those it gave do the work.
    }
    work();
    for (std::thread& t : workers)
        t.join();
    bar.finish();

    const std::size_t left = total - converted - failed;
    err << converted << " converted, " << failed << " failed";
    if (left > 0) err << ", " << left << " not started: interrupted";
    err << '\n';
    if (left > 0) return kExitInterrupted;
    return failed > 0 ? kExitFailed : kExitWritten;
}

}  // namespace pitchloom
