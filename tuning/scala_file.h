#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tuning/tuning_state.h"

namespace pitchloom {

inline constexpr std::string_view kScalaNoNotes =
    "This scale does not fit twelve keys: it has no notes.";
inline constexpr std::string_view kScalaNotAnOctave =
    "This scale does not fit twelve keys: its period is not an octave.";
inline constexpr std::string_view kScalaTooManyNotes =
    "This scale does not fit twelve keys: it has more than twelve notes.";
inline constexpr std::string_view kScalaNotesShareAKey =
    "This scale does not fit twelve keys: two of its notes fall on one key.";
/// Begins the reason a .scl breaks the format; what is wrong follows ("line 7 is not a pitch.").
inline constexpr std::string_view kScalaNotValid = "This is not a valid Scala file: ";

inline constexpr std::string_view kMappingOtherDegrees =
    "This keyboard mapping does not fit twelve keys: it maps keys to other scale degrees.";
/// Begins the reason a .kbm breaks the format; what is wrong follows.
inline constexpr std::string_view kMappingNotValid = "This is not a valid Scala keyboard mapping: ";

/// A value, or the reason it could not be had in the words a message box shows.
template <typename T>
struct ScalaResult {
    std::optional<T> value;
    std::string reason;  // empty when there is a value

    explicit operator bool() const { return value.has_value(); }
};

/// One pitch line of a .scl: cents above degree 0, and the pitch class of a note name written
/// after the value ("349.0 E"), if there is one.
struct ScalaPitch {
    double cents = 0.0;
    std::optional<int> namedClass;
};

/// A .scl as the file gives it. The last pitch is the period; degree 0 is implicit.
struct ScalaScale {
    std::string description;
    std::vector<ScalaPitch> pitches;
};

/// A scale laid on the twelve pitch classes (absolute, 0 = C).
struct FittedScale {
    Offsets offsets{};
    ScaleMarks marks{};
};

/// A mapping entry of "x": the key plays nothing.
inline constexpr int kUnmappedKey = -1;

/// A .kbm as the file gives it. The tuning is relative to equal temperament at A4 = 440 Hz, so
/// the reference note and frequency are kept only as read.
struct KeyboardMapping {
    int mapSize = 0;  // 0: linear, every key plays the next scale degree
    int firstNote = 0;
    int lastNote = 127;
    int middleNote = 60;  // plays degree 0
    int referenceNote = 69;
    double referenceFrequency = 440.0;
    int octaveDegree = 0;
    std::vector<int> degrees;  // as listed; unmapped keys left out at the end are not here

    /// The pitch class that plays degree 0.
    int key() const { return middleNote % kPitchClassCount; }
};

/// Reads the text of a .scl (LF, CRLF or CR line ends); refuses text that breaks the format.
ScalaResult<ScalaScale> parseScala(std::string_view text);

/// Lays a scale on the twelve pitch classes with degree 0 on key (a pitch class, taken mod 12).
/// Degree d goes to the step round(d / 100) above the key, detuned by the rest; a degree whose
/// class is taken by an earlier one moves to the neighbour on its side of the step when that is
/// free and the offset there stays within -64..+63. A neighbour the line names ("349.0 E") is
/// tried first. Every other class is out of the scale with offset 0. Refuses scales without an
/// octave period, with more than twelve notes, or whose notes cannot all be placed.
ScalaResult<FittedScale> fitScale(const ScalaScale& scale, int key);

/// Reads a .scl and lays it on the twelve pitch classes in the given key.
ScalaResult<FittedScale> loadScala(std::string_view sclText, int key);

/// Reads the text of a .kbm (LF, CRLF or CR line ends); refuses text that breaks the format.
ScalaResult<KeyboardMapping> parseKeyboardMapping(std::string_view text);

/// The key a mapping sets for a scale (its middle note's pitch class). Accepts the linear
/// mapping and the mapping of N keys to degrees 0..N-1 with degree N as the formal octave, N
/// being the scale's number of notes; refuses every other.
ScalaResult<int> mappedKey(const KeyboardMapping& mapping, const ScalaScale& scale);

/// Reads a .scl and lays it on the twelve pitch classes in the key a .kbm sets.
ScalaResult<FittedScale> loadScalaWithMapping(std::string_view sclText, std::string_view kbmText);

/// The text of a .scl for a scale in the given key: an optional "! <fileName>" line, the
/// description, the number of notes, the in-scale classes above the key by ascending step
/// (100 * step + offset cents, one decimal) and 2/1.
/// Scala cannot say that degree 0 is out of the scale or detuned, so the degrees are written
/// relative to the key's equal-tempered pitch whatever its mark and offset; loading the file
/// in the same key gives the key in the scale with offset 0 and the other classes as they were.
/// A class detuned so far that its cents round to a neighbouring step has its note name after
/// the value ("349.0 E"), which fitScale follows and other Scala programs ignore.
std::string writeScala(const Offsets& offsets, const ScaleMarks& marks, int key,
                       std::string_view description, std::string_view fileName = {});

}  // namespace pitchloom
