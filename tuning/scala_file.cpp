#include "tuning/scala_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <utility>

namespace pitchloom {

namespace {

constexpr int kLowestOffset = -64;
constexpr int kHighestOffset = 63;
constexpr double kOctaveCents = 1200.0;
constexpr double kOctaveTolerance = 0.5;
constexpr int kHighestNote = 127;
constexpr int kMiddleC = 60;
// What a key can sound: keys 0..127 with a tuning or bend of up to half a semitone either way.
constexpr double kLowestKeyCents = -50.0;
constexpr double kHighestKeyCents = 12750.0;

constexpr std::string_view kEndsBeforeCount = "it ends before the number of notes.";
constexpr std::string_view kIsNotACount = " is not a number of notes.";
constexpr std::string_view kIsNotAPitch = " is not a pitch.";
constexpr std::string_view kIsNotAPositiveRatio = " is not a ratio of two positive numbers.";
constexpr std::string_view kTooFewPitches = "it has fewer pitch lines than its number of notes.";

constexpr std::string_view kEndsBefore = "it ends before the ";
constexpr std::string_view kIsNotAMapSize = " is not a map size.";
constexpr std::string_view kIsNotANote = " is not a MIDI note (0 to 127).";
constexpr std::string_view kIsNotAFrequency = " is not a frequency.";
constexpr std::string_view kIsNotADegree = " is not a scale degree.";
constexpr std::string_view kIsNotADegreeOrX = " is not a scale degree or x.";

// The writer names classes with sharps; files by others may use flats as well.
constexpr std::array<std::string_view, kPitchClassCount> kSharpNames = {
    "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
constexpr std::array<std::string_view, kPitchClassCount> kFlatNames = {
    "C", "Db", "D", "Eb", "E", "F", "Gb", "G", "Ab", "A", "Bb", "B"};

template <typename T>
ScalaResult<T> done(T value) {
    return {std::move(value), {}};
}

template <typename T>
ScalaResult<T> refused(std::string_view reason) {
    return {std::nullopt, std::string(reason)};
}

std::string onLine(int line, std::string_view what) {
    return "line " + std::to_string(line) + std::string(what);
}

// "line 12: 5/0 is not a ratio...": the word quoted, so that a musician sees what to mend.
std::string onLine(int line, std::string_view word, std::string_view what) {
    if (word.empty()) return onLine(line, what);
    return "line " + std::to_string(line) + ": " + std::string(word) + std::string(what);
}

// Cents as a musician reads them: at most two decimals, none that are zero ("1201.7").
std::string centsText(double cents) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", cents);
    std::string s(text);
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

int pitchClassOf(int step) {
    const int c = step % kPitchClassCount;
    return c < 0 ? c + kPitchClassCount : c;
}

std::string_view trimLeft(std::string_view s) {
    const auto start = s.find_first_not_of(" \t");
    return start == std::string_view::npos ? std::string_view() : s.substr(start);
}

// The first word of a line; Scala ignores whatever follows a value.
std::string_view firstWord(std::string_view line) {
    const std::string_view s = trimLeft(line);
    return s.substr(0, s.find_first_of(" \t"));
}

// Lines of a Scala file that are not comments, with their numbers for the reasons.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {
        constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
        if (text_.starts_with(kByteOrderMark)) text_.remove_prefix(kByteOrderMark.size());
    }

    /// The next line that is not a comment, without its line end (LF, CR LF, or CR alone as
    /// older Mac programs write); nothing at the end.
    std::optional<std::string_view> next() {
        while (pos_ < text_.size()) {
            const auto end = std::min(text_.find_first_of("\r\n", pos_), text_.size());
            const std::string_view line = text_.substr(pos_, end - pos_);
            pos_ = text_.substr(end).starts_with("\r\n") ? end + 2 : end + 1;
            ++number_;
            if (!line.starts_with('!')) return line;
        }
        return std::nullopt;
    }

    /// The number of the line next() gave last, counting from 1.
    int number() const { return number_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    int number_ = 0;
};

template <typename Number>
std::optional<Number> wholeWord(std::string_view word) {
    Number value{};
    const char* end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars(word.data(), end, value);
    if (word.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

std::optional<double> decimalWord(std::string_view word) {
    if (word.starts_with('+')) word.remove_prefix(1);
    double value = 0.0;
    const char* end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars(word.data(), end, value, std::chars_format::fixed);
    if (word.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> noteNameClass(std::string_view word) {
    for (int c = 0; c < kPitchClassCount; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (word == kSharpNames[i] || word == kFlatNames[i]) return c;
    }
    return std::nullopt;
}

// One side of a ratio: a whole number of any length, as a double past what 64 bits hold.
std::optional<double> ratioTerm(std::string_view word) {
    if (const auto whole = wholeWord<std::int64_t>(word)) return static_cast<double>(*whole);
    if (word.empty() || word.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    double value = 0.0;
    std::from_chars(word.data(), word.data() + word.size(), value, std::chars_format::fixed);
    return value;
}

// Reads one pitch line; on failure, the reason's tail after the line number and value.
std::pair<std::optional<ScalaPitch>, std::string_view> readPitch(std::string_view value,
                                                                 std::string_view line) {
    ScalaPitch pitch;
    if (value.find('.') != std::string_view::npos) {
        const auto cents = decimalWord(value);
        if (!cents) return {std::nullopt, kIsNotAPitch};
        pitch.cents = *cents;
    } else {
        const auto slash = value.find('/');
        const auto numerator = ratioTerm(value.substr(0, slash));
        const auto denominator = slash == std::string_view::npos
                                     ? std::optional<double>(1)
                                     : ratioTerm(value.substr(slash + 1));
        if (!numerator || !denominator) return {std::nullopt, kIsNotAPitch};
        if (*numerator <= 0 || *denominator <= 0) return {std::nullopt, kIsNotAPositiveRatio};
        // Each term's logarithm apart: terms of 20 digits and more, as some archive scales have,
        // would overflow a quotient taken first.
        pitch.cents = kOctaveCents * (std::log2(*numerator) - std::log2(*denominator));
    }
    const std::string_view rest = trimLeft(line).substr(value.size());
    pitch.namedClass = noteNameClass(firstWord(rest));
    return {pitch, {}};
}

// The step a degree rounds to, half away from zero.
int stepOf(double cents) {
    return static_cast<int>(std::round(cents / 100.0));
}

// Puts a degree on the class step steps above the key when that class is free and the offset
// there fits.
bool placeOnStep(double cents, int step, int key, FittedScale& fit) {
    const auto offset = static_cast<int>(std::round(cents - 100.0 * step));
    const auto c = static_cast<std::size_t>(pitchClassOf(key + step));
    if (offset < kLowestOffset || offset > kHighestOffset || fit.marks[c] != 0) return false;
    fit.marks[c] = 1;
    fit.offsets[c] = offset;
    return true;
}

// The degree on each class while a scale is laid out, to name the two that collide.
using ClassOwners = std::array<int, kPitchClassCount>;

bool placeDegree(const ScalaPitch& pitch, int key, FittedScale& fit) {
    // Class and offset repeat every octave; reducing first keeps the step a small number.
    const double cents = std::fmod(pitch.cents, kOctaveCents);
    const int step = stepOf(cents);
    // The other neighbour is over 100 cents away, where no offset fits.
    const int neighbour = cents > 100.0 * step ? step + 1 : step - 1;
    if (pitch.namedClass == pitchClassOf(key + neighbour) &&
        placeOnStep(cents, neighbour, key, fit)) {
        return true;
    }
    return placeOnStep(cents, step, key, fit) || placeOnStep(cents, neighbour, key, fit);
}

// Reads the next header value of a .kbm as a whole number 0..highest; on failure, sets reason.
std::optional<int> readHeaderValue(LineReader& lines, std::string_view field, int highest,
                                   std::string_view notThis, std::string& reason) {
    const auto line = lines.next();
    if (!line) {
        reason =
            std::string(kMappingNotValid) + std::string(kEndsBefore) + std::string(field) + ".";
        return std::nullopt;
    }
    const std::string_view word = firstWord(*line);
    const auto value = wholeWord<int>(word);
    if (!value || *value < 0 || *value > highest) {
        reason = std::string(kMappingNotValid) + onLine(lines.number(), word, notThis);
        return std::nullopt;
    }
    return value;
}

}  // namespace

ScalaResult<ScalaScale> parseScala(std::string_view text) {
    const auto invalid = [](std::string_view what) {
        return refused<ScalaScale>(std::string(kScalaNotValid) + std::string(what));
    };
    LineReader lines(text);
    ScalaScale scale;
    const auto description = lines.next();
    const auto countLine = lines.next();
    if (!countLine) return invalid(kEndsBeforeCount);
    scale.description = std::string(*description);
    const std::string_view countWord = firstWord(*countLine);
    const auto count = wholeWord<std::int64_t>(countWord);
    if (!count || *count < 0) {
        return invalid(onLine(lines.number(), countWord, kIsNotACount));
    }

    for (std::int64_t i = 0; i < *count; ++i) {
        const auto line = lines.next();
        if (!line) return invalid(kTooFewPitches);
        const std::string_view value = firstWord(*line);
        auto [pitch, whatIsWrong] = readPitch(value, *line);
        if (!pitch) {
            return invalid(onLine(lines.number(), value, whatIsWrong));
        }
        scale.pitches.push_back(*pitch);
    }
    return done(std::move(scale));
}

ScalaResult<FittedScale> fitScale(const ScalaScale& scale, int key) {
    const auto& pitches = scale.pitches;
    if (pitches.empty()) return refused<FittedScale>(kScalaNoNotes);
    if (std::abs(pitches.back().cents - kOctaveCents) > kOctaveTolerance) {
        return refused<FittedScale>("This scale's period is " + centsText(pitches.back().cents) +
                                    " cents, not an octave");
    }
    if (pitches.size() > static_cast<std::size_t>(kPitchClassCount)) {
        return refused<FittedScale>("This scale has " + std::to_string(pitches.size()) + " notes");
    }

    key = pitchClassOf(key);
    FittedScale fit;
    fit.marks[static_cast<std::size_t>(key)] = 1;
    // Notes are numbered as the file lists them, from 1; its 1/1 is degree 0.
    ClassOwners owners{};
    owners[static_cast<std::size_t>(key)] = 0;
    for (std::size_t i = 0; i + 1 < pitches.size(); ++i) {
        const FittedScale before = fit;
        if (!placeDegree(pitches[i], key, fit)) {
            const int step = stepOf(std::fmod(pitches[i].cents, kOctaveCents));
            const int other = owners[static_cast<std::size_t>(pitchClassOf(key + step))];
            const std::string note = std::to_string(i + 1);
            return refused<FittedScale>(other == 0 ? "Its 1/1 and note " + note +
                                                         " of this scale fall on one key"
                                                   : "Notes " + std::to_string(other) + " and " +
                                                         note + " of this scale fall on one key");
        }
        for (std::size_t c = 0; c < fit.marks.size(); ++c) {
            if (fit.marks[c] != before.marks[c]) owners[c] = static_cast<int>(i + 1);
        }
    }
    return done(fit);
}

ScalaResult<FittedScale> loadScala(std::string_view sclText, int key) {
    auto scale = parseScala(sclText);
    if (!scale) return refused<FittedScale>(scale.reason);
    return fitScale(*scale.value, key);
}

ScalaResult<KeyboardMapping> parseKeyboardMapping(std::string_view text) {
    LineReader lines(text);
    KeyboardMapping m;
    std::string reason;
    const auto header = [&](int& field, std::string_view name, int highest,
                            std::string_view notThis) {
        if (!reason.empty()) return;
        if (const auto v = readHeaderValue(lines, name, highest, notThis, reason)) field = *v;
    };
    header(m.mapSize, "map size", std::numeric_limits<int>::max(), kIsNotAMapSize);
    header(m.firstNote, "first note", kHighestNote, kIsNotANote);
    header(m.lastNote, "last note", kHighestNote, kIsNotANote);
    header(m.middleNote, "middle note", kHighestNote, kIsNotANote);
    header(m.referenceNote, "reference note", kHighestNote, kIsNotANote);
    if (!reason.empty()) return refused<KeyboardMapping>(reason);

    const auto frequencyLine = lines.next();
    if (!frequencyLine) {
        return refused<KeyboardMapping>(std::string(kMappingNotValid) + std::string(kEndsBefore) +
                                        "reference frequency.");
    }
    const std::string_view frequencyWord = firstWord(*frequencyLine);
    const auto frequency = decimalWord(frequencyWord);
    if (!frequency || *frequency <= 0.0) {
        return refused<KeyboardMapping>(std::string(kMappingNotValid) +
                                        onLine(lines.number(), frequencyWord, kIsNotAFrequency));
    }
    m.referenceFrequency = *frequency;
    header(m.octaveDegree, "formal octave degree", std::numeric_limits<int>::max(), kIsNotADegree);
    if (!reason.empty()) return refused<KeyboardMapping>(reason);

    // Unmapped keys at the end of the map may be left out, so the file may end early.
    for (int i = 0; i < m.mapSize; ++i) {
        const auto line = lines.next();
        if (!line) break;
        const std::string_view word = firstWord(*line);
        const auto degree = wholeWord<int>(word);
        if (word == "x" || word == "X") {
            m.degrees.push_back(kUnmappedKey);
        } else if (degree && *degree >= 0) {
            m.degrees.push_back(*degree);
        } else {
            return refused<KeyboardMapping>(std::string(kMappingNotValid) +
                                            onLine(lines.number(), word, kIsNotADegreeOrX));
        }
    }
    return done(std::move(m));
}

ScalaResult<int> mappedKey(const KeyboardMapping& mapping, const ScalaScale& scale) {
    // A linear mapping plays the scale's own degrees whatever its formal octave says.
    if (mapping.mapSize == 0) return done(mapping.key());
    const auto notes = scale.pitches.size();
    bool identity = static_cast<std::size_t>(mapping.mapSize) == notes &&
                    static_cast<std::size_t>(mapping.octaveDegree) == notes &&
                    mapping.degrees.size() == notes;
    for (std::size_t i = 0; identity && i < notes; ++i) {
        identity = mapping.degrees[i] == static_cast<int>(i);
    }
    if (!identity) return refused<int>(kMappingOtherDegrees);
    return done(mapping.key());
}

ScalaResult<FittedScale> loadScalaWithMapping(std::string_view sclText, std::string_view kbmText) {
    const auto scale = parseScala(sclText);
    if (!scale) return refused<FittedScale>(scale.reason);
    const auto mapping = parseKeyboardMapping(kbmText);
    if (!mapping) return refused<FittedScale>(mapping.reason);
    const auto key = mappedKey(*mapping.value, *scale.value);
    if (!key) return refused<FittedScale>(key.reason);
    return fitScale(*scale.value, *key.value);
}

KeyboardMapping linearMapping(int middleNote) {
    KeyboardMapping m;
    m.middleNote = std::clamp(middleNote, 0, kHighestNote);
    return m;
}

std::optional<std::int64_t> degreeOfKey(const KeyboardMapping& mapping, int key,
                                        std::size_t noteCount) {
    if (key < mapping.firstNote || key > mapping.lastNote) return std::nullopt;
    const std::int64_t fromMiddle = key - mapping.middleNote;
    if (mapping.mapSize == 0) return fromMiddle;
    const std::int64_t size = mapping.mapSize;
    const std::int64_t repeat = floorDiv(fromMiddle, size);
    const auto entry = static_cast<std::size_t>(fromMiddle - repeat * size);
    if (entry >= mapping.degrees.size() || mapping.degrees[entry] == kUnmappedKey) {
        return std::nullopt;
    }
    const std::int64_t octave =
        mapping.octaveDegree == 0 ? static_cast<std::int64_t>(noteCount) : mapping.octaveDegree;
    return mapping.degrees[entry] + repeat * octave;
}

KeyPitches layOnKeys(const ScalaScale& scale, const KeyboardMapping& mapping, bool absolute) {
    const std::size_t notes = scale.pitches.size();
    const auto degreeCents = [&](std::int64_t degree) {
        const auto n = static_cast<std::int64_t>(notes);
        const std::int64_t periods = floorDiv(degree, n);
        const auto within = static_cast<std::size_t>(degree - periods * n);
        return static_cast<double>(periods) * scale.pitches.back().cents +
               (within == 0 ? 0.0 : scale.pitches[within - 1].cents);
    };
    // Where degree 0 sounds.
    double origin = mapping.middleNote * 100.0;
    if (absolute) {
        const double reference =
            6900.0 + kOctaveCents * std::log2(mapping.referenceFrequency / 440.0);
        const auto degree = degreeOfKey(mapping, mapping.referenceNote, notes);
        origin = degree ? reference - degreeCents(*degree)
                        : reference + (mapping.middleNote - mapping.referenceNote) * 100.0;
    }
    KeyPitches keys;
    for (int key = 0; key < TuningValue::kKeys; ++key) {
        const auto k = static_cast<std::size_t>(key);
        keys.cents[k] = key * 100.0;
        const auto degree = degreeOfKey(mapping, key, notes);
        if (!degree) continue;
        const double cents = origin + degreeCents(*degree);
        if (cents < kLowestKeyCents || cents >= kHighestKeyCents) continue;
        keys.cents[k] = cents;
        keys.sounds.set(k);
    }
    return keys;
}

ScalaResult<ScalaTuning> tuneScala(const ScalaScale& scale,
                                   const std::optional<KeyboardMapping>& mapping, int key) {
    // A period of 0 or below is rare but Scala's own: its keys repeat or fall, as the file says.
    if (scale.pitches.empty()) return refused<ScalaTuning>(kScalaNoNotes);
    ScalaTuning tuning;
    tuning.description = scale.description;
    tuning.noteCount = scale.pitches.size();

    key = pitchClassOf(key);
    ScalaResult<int> twelveKey = done(key);
    if (mapping) twelveKey = mappedKey(*mapping, scale);
    if (twelveKey) {
        auto fitted = fitScale(scale, *twelveKey.value);
        if (fitted) {
            tuning.twelve = *fitted.value;
        } else {
            tuning.whyNotTwelve = fitted.reason;
        }
    } else {
        tuning.whyNotTwelve = twelveKey.reason;
    }

    if (!tuning.twelve) {
        tuning.keys = mapping ? layOnKeys(scale, *mapping, true)
                              : layOnKeys(scale, linearMapping(kMiddleC + key), false);
        return done(std::move(tuning));
    }
    if (mapping) {
        const int ref = mapping->referenceNote;
        const double laid =
            ref * 100.0 + tuning.twelve->offsets[static_cast<std::size_t>(pitchClassOf(ref))];
        tuning.referenceShift =
            6900.0 + kOctaveCents * std::log2(mapping->referenceFrequency / 440.0) - laid;
    }
    return done(std::move(tuning));
}

std::string writeScala(const Offsets& offsets, const ScaleMarks& marks, int key,
                       std::string_view description, std::string_view fileName) {
    // Each of these is one line of the file, whatever the caller passed.
    const auto oneLine = [](std::string_view s) {
        std::string line(s);
        for (char& ch : line) {
            if (ch == '\n' || ch == '\r') ch = ' ';
        }
        return line;
    };

    key = pitchClassOf(key);
    std::string degrees;
    int notes = 1;  // the period
    for (int step = 1; step < kPitchClassCount; ++step) {
        const int c = pitchClassOf(key + step);
        if (marks[static_cast<std::size_t>(c)] == 0) continue;
        const int cents = 100 * step + offsets[static_cast<std::size_t>(c)];
        degrees += std::to_string(cents) + ".0";
        if (pitchClassOf(key + stepOf(cents)) != c) {
            degrees += ' ';
            degrees += kSharpNames[static_cast<std::size_t>(c)];
        }
        degrees += '\n';
        ++notes;
    }

    std::string text;
    if (!fileName.empty()) text += "! " + oneLine(fileName) + "\n";
    std::string title = oneLine(description);
    // A description starting with '!' would be read back as a comment.
    if (title.starts_with('!')) title.insert(0, 1, ' ');
    text += title + "\n" + std::to_string(notes) + "\n" + degrees + "2/1\n";
    return text;
}

}  // namespace pitchloom
