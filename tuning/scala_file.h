#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tuning/tuning_state.h"

namespace pitchloom {

inline constexpr std::string_view kScalaNoNotes = "This scale has no notes to play.";
/// Begins the reason a .scl breaks the format; what is wrong follows ("line 7 is not a pitch.").
inline constexpr std::string_view kScalaNotValid = "This is not a valid Scala file: ";

/// Why a mapping keeps a scale off the twelve pitch classes; what the player can do follows.
inline constexpr std::string_view kMappingOtherDegrees =
    "This keyboard mapping maps keys to other scale degrees";
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

/// A .kbm as the file gives it.
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

/// A scale read from a .scl, with or without a .kbm, in the forms the dialects play.
struct ScalaTuning {
    std::string description;
    std::size_t noteCount = 0;
    /// Laid on the twelve pitch classes, where the scale and its mapping allow it.
    std::optional<FittedScale> twelve;
    /// Otherwise why not, in a sentence a message can go on from ("This scale has 19 notes").
    std::string whyNotTwelve;
    /// Laid on twelve classes: how far to move the whole layout where any pitch can be said, so
    /// that a mapping's reference key sounds at its reference frequency.
    double referenceShift = 0.0;
    /// Otherwise every key's own pitch.
    KeyPitches keys;
};

/// Reads the text of a .scl (LF, CRLF or CR line ends); refuses text that breaks the format.
ScalaResult<ScalaScale> parseScala(std::string_view text);

/// Lays a scale on the twelve pitch classes with degree 0 on key (a pitch class, taken mod 12).
/// Degree d goes to the step round(d / 100) above the key, detuned by the rest; a degree whose
/// class is taken by an earlier one moves to the neighbour on its side of the step when that is
/// free and the offset there stays within -64..+63. A neighbour the line names ("349.0 E") is
/// tried first. Every other class is out of the scale with offset 0. Refuses scales without an
/// octave period, with more than twelve notes, or whose notes cannot all be placed, saying which
/// ("This scale's period is 1901.96 cents, not an octave", "Notes 3 and 4 of this scale fall on
/// one key").
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

/// The mapping Scala uses without a .kbm: one key per degree, degree 0 on `middleNote`, tuned
/// relative to equal temperament.
KeyboardMapping linearMapping(int middleNote);

/// The scale degree a key plays by a mapping; nothing for a key it leaves unmapped (an "x", a
/// key past the listed entries, or outside the first and last note). A formal octave of 0 is
/// taken as the scale's own period.
std::optional<std::int64_t> degreeOfKey(const KeyboardMapping& mapping, int key,
                                        std::size_t noteCount);

/// Lays a scale on the 128 keys by a mapping as Scala does. With `absolute` the mapping's
/// reference key sounds at its reference frequency (an unmapped reference key at the frequency
/// equal temperament gives it from the middle note); otherwise the middle note sounds at its
/// equal-tempered pitch. A key whose pitch lies outside what MIDI keys and bends reach (keys 0 to
/// 127 and a half) sounds nothing. The scale must have notes.
KeyPitches layOnKeys(const ScalaScale& scale, const KeyboardMapping& mapping, bool absolute);

/// A scale in every form the dialects play, with degree 0 on `key` (a pitch class) in middle C's
/// octave or where a mapping puts it. A scale that loads on twelve keys keeps that layout, in
/// every dialect; any other is laid on the keys one by one. Refuses only a scale with no notes.
ScalaResult<ScalaTuning> tuneScala(const ScalaScale& scale,
                                   const std::optional<KeyboardMapping>& mapping, int key);

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
