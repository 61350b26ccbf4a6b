#include "cli/batch.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "base/messages.h"
#include "cli/convert_tool.h"
#include "cli/interrupt.h"
#include "cli/progress_bar.h"

namespace pitchloom {
namespace {

namespace fs = std::filesystem;

// The dialogs of one song in a batch: its paths, and its messages kept for the failure line.
class CollectingDialogs : public UserDialogs {
public:
    CollectingDialogs(std::string input, std::string output)
        : input_(std::move(input)), output_(std::move(output)) {}

    void showMessage(std::string_view text, BoxStyle) override { said_.emplace_back(text); }
    void showDetail(std::string_view detail) override {
        if (!said_.empty()) said_.back() += " (" + std::string(detail) + ")";
    }
    std::optional<std::string> askOpenPath(std::span<const FileFilter>) override { return input_; }
    std::optional<std::string> askSavePath(std::span<const FileFilter>) override {
        return output_;
    }
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

bool isSameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return fs::equivalent(a, b, error);
}

}  // namespace

int convertAll(const std::vector<std::string>& inputs, const std::string& folder, int jobs,
               const ConvertOne& convert, std::ostream& err, bool terminal) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder, error)) {
        err << folder << ": " << (error ? error.message() : "not a folder") << '\n';
        return kExitFailed;
    }

    const std::size_t total = inputs.size();
    std::vector<std::string> outputs(total);
    std::vector<std::string> refused(total);
    std::set<std::string> names;
    for (std::size_t i = 0; i < total; ++i) {
        const fs::path name = fs::path(inputs[i]).filename();
        outputs[i] = (fs::path(folder) / name).string();
        if (!names.insert(name.string()).second) {
            refused[i] = "an earlier input has the same name";
        } else if (std::any_of(inputs.begin(), inputs.end(), [&](const std::string& in) {
                       return isSameFile(in, outputs[i]);
                   })) {
            refused[i] = outputs[i] + " is an input and is never replaced";
        }
    }

    ProgressBar bar(err, terminal);
    std::atomic<std::size_t> next{0};
    std::atomic<int> converted{0};
    std::atomic<int> failed{0};
    const auto label = [&] {
        std::string text = std::to_string(converted + failed) + "/" + std::to_string(total);
        if (failed > 0) text += " (" + std::to_string(failed.load()) + " failed)";
        return text;
    };
    const auto work = [&] {
        for (std::size_t i; !interrupted() && (i = next++) < total;) {
            std::string reason = refused[i];
            if (reason.empty()) {
                CollectingDialogs dialogs(inputs[i], outputs[i]);
                if (!convert(dialogs)) reason = dialogs.reason();
            }
            if (reason.empty()) {
                ++converted;
            } else {
                ++failed;
                bar.print(inputs[i] + ": " + reason);
            }
            bar.show(static_cast<double>(converted + failed) / static_cast<double>(total),
                     label());
        }
    };
    bar.show(0, label());
    const std::size_t threads = std::clamp<std::size_t>(static_cast<std::size_t>(jobs), 1, total);
    std::vector<std::thread> workers;
    for (std::size_t t = 1; t < threads; ++t)
        workers.emplace_back(work);
    work();
    for (std::thread& t : workers)
        t.join();
    bar.finish();

    const std::size_t left = total - static_cast<std::size_t>(converted + failed);
    err << converted << " converted, " << failed << " failed";
    if (left > 0) err << ", " << left << " not started: interrupted";
    err << '\n';
    return failed > 0 || left > 0 ? kExitFailed : kExitWritten;
}

}  // namespace pitchloom
