#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pitchloom {

/// How a message box blocks: SystemModal boxes also stay above every other window.
enum class BoxStyle { Plain, SystemModal };

/// The one filter of a file dialog, and the extension added to a name typed without one.
struct FileFilter {
    std::string_view description;
    std::string_view pattern;
    std::string_view defaultExtension;
};

inline constexpr FileFilter kMidiFileFilter{"midi files", "*.mid", "mid"};
inline constexpr FileFilter kScaleFileFilter{"scale files", "*.sca", "sca"};

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

    /// Asks for a file to open; the full path, or nothing when cancelled.
    virtual std::optional<std::string> askOpenPath(const FileFilter& filter) = 0;

    /// Asks for a file to save to (no overwrite question); the full path, or nothing.
    virtual std::optional<std::string> askSavePath(const FileFilter& filter) = 0;
};

}  // namespace pitchloom
