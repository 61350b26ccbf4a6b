#pragma once

#include <string>
#include <string_view>

#include "base/user_dialogs.h"

namespace pitchloom {

/// The fixed texts of the program's message boxes, word for word.
namespace messages {
inline constexpr std::string_view kStopPlayingFirst = "Stop playing first!";
inline constexpr std::string_view kLastNoteRefused = "Can't off all notes!";
inline constexpr std::string_view kUndefinedError = "Undefined error!";
inline constexpr std::string_view kEventError = "Event Error!";
inline constexpr std::string_view kCannotOpenFile = "Can not open file!";
inline constexpr std::string_view kWrittenToFile = "Information has been written to the file!";
inline constexpr std::string_view kConvertedTooLarge = "The converted song is too large!";
inline constexpr std::string_view kNotAScaleFile = "This is not a valid scale file!";
inline constexpr std::string_view kNoSoundFont =
    "Audio needs a General MIDI SoundFont, and none is installed!";
inline constexpr std::string_view kSoundFontDamaged =
    "Audio needs a General MIDI SoundFont, and the one installed is damaged!";
inline constexpr std::string_view kNoSynthesizer =
    "Audio needs the FluidSynth synthesizer, and it cannot be loaded!";
inline constexpr std::string_view kSongTooLongForAudio = "The song is too long for an audio file!";
}  // namespace messages

/// The text of a merge problem: "GENE%08X General Error" (code 100 gives GENE00000064 ...).
std::string fileErrorText(int code);

/// Shows a merge problem in a system-modal box.
void reportFileError(UserDialogs& dialogs, int code);

/// Shows a device, memory or load failure (codes 1001..1008): "Undefined error!", plain box;
/// then the detail, when there is one (see UserDialogs::showDetail).
void reportError(UserDialogs& dialogs, int code, std::string_view detail = {});

}  // namespace pitchloom
