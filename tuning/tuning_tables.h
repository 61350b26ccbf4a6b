#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace pitchloom {

inline constexpr int kPitchClassCount = 12;

inline constexpr int kDefaultKeyRow = 7;       // "C"
inline constexpr int kDefaultScaleRow = 0;     // "Chromatic"
inline constexpr int kDefaultTuningRow = 1;    // "Just Intonation"
inline constexpr int kCustomScaleRow = 10;     // "Custom"
inline constexpr int kCustomTuningRow = 8;     // "CUSTOM"
inline constexpr int kFittedTuningRow = 9;     // "Fitted to song"
inline constexpr int kAdaptiveTuningRow = 10;  // "Adaptive just"

/// Labels of the Key list, in list order; each step down is a fifth up.
inline constexpr std::array<std::string_view, 15> KeyTable = {
    "Cb", "Gb", "Db", "Ab", "Eb", "Bb", "F", "C", "G", "D", "A", "E", "B", "F#", "C#"};

/// One row of the Scale list: members by semitones above the tonic.
struct ScaleRow {
    std::string_view label;
    bool hasRow;
    std::array<std::uint8_t, kPitchClassCount> members;
};

inline constexpr std::array<ScaleRow, 11> ScaleTable = {{
    {"Chromatic", true, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
    {"Pentatonic", true, {1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0}},
    {"Okinawan scale", true, {1, 0, 0, 0, 1, 1, 0, 1, 0, 0, 0, 1}},
    {"Indian scale", true, {1, 1, 0, 0, 1, 1, 0, 1, 1, 0, 0, 1}},
    {"Hungary", true, {1, 0, 0, 1, 1, 0, 1, 1, 0, 1, 1, 0}},
    {"Arabia", true, {1, 0, 1, 0, 1, 1, 1, 0, 1, 0, 1, 1}},
    {"Gypsy", true, {1, 1, 0, 0, 1, 1, 0, 1, 1, 0, 0, 1}},
    {"Japanese", true, {1, 1, 0, 0, 0, 1, 0, 1, 1, 0, 0, 0}},
    {"Whole tone", true, {1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0}},
    {"Gamelan", true, {1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 0}},
    {"Custom", false, {}},
}};

/// One row of the Tuning list: cent offsets by semitones above the tonic.
struct TuningRow {
    std::string_view label;
    bool hasRow;
    std::array<std::int32_t, kPitchClassCount> cents;
};

inline constexpr std::array<TuningRow, 11> TuningTable = {{
    {"Temparament", true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"Just Intonation", true, {0, -8, 4, 16, -14, -2, -10, 2, -6, 6, 18, -12}},
    {"Werckmeister", true, {0, -10, -8, -6, -10, -2, -12, -4, -8, -12, -4, -8}},
    {"Arabian", true, {-6, 45, -2, -12, -51, -8, 43, -4, 47, 0, -10, -49}},
    {"Gamelan", true, {0, 0, 0, -37, 0, -14, 0, 39, 0, 0, -25, 0}},
    {"Pythagoras", true, {0, 14, 4, -6, 8, -2, 12, 2, 16, 6, -4, 10}},
    {"Mean tone", true, {0, -24, -7, 10, -14, 3, -21, -3, -27, -10, 7, -17}},
    {"Kurenberger", true, {0, -10, -7, -6, -14, -2, -10, -3, -8, -10, -4, -12}},
    {"CUSTOM", false, {}},
    // Worked out for each song: offsets fitted to it, or a pitch for every note.
    {"Fitted to song", false, {}},
    {"Adaptive just", false, {}},
}};

/// The tonic pitch class of a key row; a row outside 0..14 counts as "C".
int tonicOf(int keyRow);

/// Writes row[i] to dest[(tonic + i) mod 12]: a table row brought into the key.
template <typename Row, typename Dest>
void rotateByKey(const Row& row, int tonic, Dest& dest) {
    for (int i = 0; i < kPitchClassCount; ++i) {
        dest[static_cast<std::size_t>((tonic + i) % kPitchClassCount)] =
            row[static_cast<std::size_t>(i)];
    }
}

}  // namespace pitchloom
