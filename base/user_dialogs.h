#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pitchloom {

/// How a message box blocks: SystemModal boxes also stay above every other window.
enum class BoxStyle { Plain, SystemModal };

/// A filter of a file dialog (its patterns separated by blanks), and the extension added to a
/// name typed without one while it is chosen.
struct FileFilter {
    std::string_view description;
    std::string_view pattern;
    std::string_view defaultExtension;
};

inline constexpr FileFilter kMidiFileFilter{"midi files", "*.mid", "mid"};
inline constexpr FileFilter kScaleFileFilter{"scale files", "*.sca", "sca"};
inline constexpr FileFilter kScalaFileFilter{"Scala scale files", "*.scl", "scl"};
inline constexpr FileFilter kWavFileFilter{"WAV audio", "*.wav", "wav"};

/// Message boxes and file dialogs as the core sees them. The window implements them with Qt,
/// the command-line converter with its arguments and standard error, tests with a script.
/// Every call blocks its caller until the user has answered.
class UserDialogs {
public:
    virtual ~UserDialogs() = default;

    /// Shows the text with one OK button and returns when it is dismissed.
    virtual void showMessage(std::string_view text, BoxStyle style) = 0;

    /// Says, after the message just shown, what exactly went wrong ("song.mid: No such file or
    /// directory"). The window keeps to its fixed texts and shows nothing more; the command line
    /// prints it, so that a script's log tells the user what to do.
    virtual void showDetail(std::string_view /*detail*/) {}

    /// Asks for a file to open, with the filters to choose from (the first one chosen at
    /// first); the full path, or nothing when cancelled.
    virtual std::optional<std::string> askOpenPath(std::span<const FileFilter> filters) = 0;

    /// Asks for a file to save to (no overwrite question); the full path, or nothing.
    virtual std::optional<std::string> askSavePath(std::span<const FileFilter> filters) = 0;

    /// The same with one filter.
    std::optional<std::string> askOpenPath(const FileFilter& filter) {
        return askOpenPath(std::span(&filter, 1));
    }
    std::optional<std::string> askSavePath(const FileFilter& filter) {
        return askSavePath(std::span(&filter, 1));
    }
};

}  // namespace pitchloom
