#include "cli/convert_tool.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/file_io.h"
#include "base/messages.h"
#include "cli/batch.h"
#include "cli/interrupt.h"
#include "cli/progress_bar.h"
#include "cli/relay_tool.h"
#include "cli/stream_dialogs.h"
#include "playback/audio/audio_render.h"
#include "playback/inputs/system_midi_input.h"
#include "playback/outputs/synth_output.h"
#include "playback/outputs/system_midi_output.h"
#include "session/session.h"
#include "tuning/dialect.h"
#include "tuning/scale_files.h"
#include "tuning/song_tuning.h"
#include "tuning/tuning_state.h"

namespace pitchloom {

namespace {

// The command-line names of the dialects `pick` takes, in table order, the last two joined by
// `lastJoin`.
template <typename Pick>
std::string namesOf(Pick pick, std::string_view lastJoin = " or ") {
    std::vector<std::string> names;
    for (const Dialect& d : dialects()) {
        if (pick(d)) names.push_back(commandLineName(d.type));
    }
    std::string joined;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) joined += i + 1 == names.size() ? lastJoin : ", ";
        joined += names[i];
    }
    return joined;
}

std::string typeNames(std::string_view lastJoin) {
    return namesOf([](const Dialect&) { return true; }, lastJoin);
}

// The dialects that retune note by note, and those of them that spread notes over channels,
// whose release guard matters.
std::string noteRetunerNames() {
    return namesOf([](const Dialect& d) { return d.noteRetuner != nullptr; });
}

std::string spreadingNames() {
    return namesOf([](const Dialect& d) { return d.reach == TuningReach::PitchPerNote; });
}

std::string usageText() {
    return "Usage: pitchloom-convert --type TYPE[,TYPE] [--key KEY] [--scale SCALE] [--tuning "
           "TUNING] INPUT OUTPUT\n"
           "       pitchloom-convert --type TYPE[,TYPE] --scale-file FILE.sca INPUT OUTPUT\n"
           "       pitchloom-convert --type TYPE[,TYPE] --scale-file FILE.scl [--key KEY | --kbm "
           "FILE.kbm] INPUT OUTPUT\n"
           "       pitchloom-convert --type TYPE [tuning options] --render AUDIO.wav|AUDIO.flac "
           "INPUT\n"
           "       pitchloom-convert --type TYPE[,TYPE] [tuning options] --output-dir DIR [-j N] "
           "INPUT...\n"
           "       pitchloom-convert --analyse [tuning options] INPUT\n"
           "       pitchloom-convert --type TYPE [tuning options] --input PORT [--output PORT]\n"
           "       pitchloom-convert --list-ports\n"
           "       pitchloom-convert --list\n"
           "TYPE is " +
           typeNames(" or ") +
           "; INPUT or OUTPUT - reads standard input or writes standard output.\n"
           "TYPE " +
           noteRetunerNames() + " also takes [--strict]; " + spreadingNames() +
           " also [--release-guard MS].";
}

// CLI11's help with our usage lines in place of its generated one.
class UsageFormatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App* /*app*/, std::string /*name*/) const override {
        return usageText() + "\n";
    }
};

template <typename Table, typename LabelOf>
std::optional<int> rowOf(const Table& table, std::string_view label, LabelOf labelOf) {
    for (std::size_t row = 0; row < table.size(); ++row) {
        const std::optional<std::string_view> candidate = labelOf(table[row]);
        if (candidate && equalIgnoringCase(*candidate, label)) return static_cast<int>(row);
    }
    return std::nullopt;
}

// Custom rows have no table of their own: a custom scale or tuning comes from --scale-file.
template <typename Row>
std::optional<std::string_view> builtInLabel(const Row& row) {
    if (!row.hasRow) return std::nullopt;
    return row.label;
}

struct Options {
    std::string type;
    std::string key = "C";
    std::string scale = "Chromatic";
    std::string tuning = "Just Intonation";
    std::string scaleFile;
    std::string mapping;
    std::string render;
    bool floatSamples = false;
    std::string folder;
    std::string jobs;
    std::string releaseGuard;
    bool strict = false;
    std::vector<std::string> files;
    bool list = false;
    bool analyse = false;
    std::string input;
    std::string output;
    bool listPorts = false;
};

std::string perNoteNames() {
    return namesOf([](const Dialect& d) {
        return d.reach == TuningReach::PitchPerKey || d.reach == TuningReach::PitchPerNote;
    });
}

std::string figure(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void printPurity(std::ostream& out, std::string_view tuningName, const TuningState& state,
                 std::span<const std::uint8_t> image) {
    const Purity p = purityInForce(state, image);
    out << "Tuning: " << tuningName << '\n';
    out << "Notes: " << p.notes << ", sounding together in pairs for "
        << figure("%.1f", p.pairSeconds) << " s\n";
    out << "Within 2 cents of just: " << figure("%.1f", 100.0 * p.pureShare) << "% of that time\n";
    out << "Mistuning: mean " << figure("%.2f", p.meanCents) << " cents, worst "
        << figure("%.1f", p.worstCents) << " cents\n";
    out << "Drift over 10 s: " << figure("%.2f", p.driftCents) << " cents\n";
    if (state.songTuning.load() == SongTuning::Fitted) {
        out << "Offsets, C to B:";
        for (std::int32_t o : state.offsetValues())
            out << ' ' << o;
        out << '\n';
    }
    if (state.songTuning.load() == SongTuning::Adaptive) {
        out << "Notes re-pitched with nothing changed around them: " << p.repitched << " of "
            << p.notes << '\n';
    }
}

int usageError(std::ostream& err, std::string_view reason) {
    err << oneLine(reason) << '\n' << usageText() << '\n';
    return kExitUsage;
}

// The option given an empty value, as an unset shell variable gives ("--output-dir $OUT" or
// "--output-dir=$OUT"): it would otherwise count as absent, or take the next argument for its
// value, and the files named after it would take other roles.
const CLI::Option* emptyValued(const CLI::App& app, int argc, const char* const* argv) {
    const auto takesValue = [](const CLI::Option* option) {
        return option != nullptr && !option->get_positional() && option->get_type_size() > 0;
    };
    for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i) {
        const std::string_view arg = argv[i];
        if (!arg.starts_with("--") || arg.find('=') != arg.size() - 1) continue;
        const CLI::Option* option =
            app.get_option_no_throw(std::string(arg.substr(0, arg.size() - 1)));
        if (takesValue(option)) return option;
    }
    for (const CLI::Option* option : app.get_options()) {
        const auto& values = option->results();
        if (takesValue(option) && std::find(values.begin(), values.end(), "") != values.end()) {
            return option;
        }
    }
    return nullptr;
}

// The songs converted at once that -j asks for, 1 to kMostJobs.
std::optional<int> jobsOf(std::string_view text) {
    int jobs = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
    if (error != std::errc() || end != text.data() + text.size() || jobs < 1 || jobs > kMostJobs) {
        return std::nullopt;
    }
    return jobs;
}

bool sameFile(const std::string& a, const std::string& b) {
    if (a == kStandardStream || b == kStandardStream) return false;
    std::error_code ec;
    if (std::filesystem::equivalent(a, b, ec)) return true;
    return std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec) &&
           !ec;
}

// The milliseconds of --release-guard, 0 to kLongestReleaseGuard.
std::optional<std::chrono::milliseconds> releaseGuardOf(std::string_view text) {
    int ms = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
    if (error != std::errc() || end != text.data() + text.size() || ms < 0 ||
        ms > kLongestReleaseGuard) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(ms);
}

// What is wrong with the files named for the mode the options choose; empty when nothing.
std::string filesProblem(const Options& o) {
    const std::size_t n = o.files.size();
    if (!o.folder.empty()) {
        if (n == 0) return "--output-dir needs at least one INPUT";
        const bool readsStandardInput =
            std::find(o.files.begin(), o.files.end(), kStandardStream) != o.files.end();
        if (readsStandardInput) return "--output-dir takes named files, not - for standard input";
        return {};
    }
    if (!o.render.empty()) {
        if (n != 1) return "--render takes one INPUT";
        if (sameFile(o.files[0], o.render)) return "--render must not name INPUT";
        return {};
    }
    if (n != 2) {
        return n > 2 ? "several INPUT files need --output-dir" : "INPUT and OUTPUT are required";
    }
    if (sameFile(o.files[0], o.files[1])) {
        return "OUTPUT must not be INPUT: the source file is never changed";
    }
    if (audioFormatOf(o.files[1])) {
        return "OUTPUT is a MIDI file; audio is written with --render " + o.files[1];
    }
    return {};
}

}  // namespace

std::optional<std::vector<DeviceType>> deviceTypesOf(std::string_view list) {
    std::vector<DeviceType> types;
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        std::string name(list.substr(at, comma - at));
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        const auto type = deviceTypeFromName(name);
        if (!type || std::find(types.begin(), types.end(), *type) != types.end()) {
            return std::nullopt;
        }
        types.push_back(*type);
        at = comma + 1;
    }
    return types;
}

std::optional<int> keyRowOf(std::string_view label) {
    return rowOf(KeyTable, label, [](std::string_view key) { return std::optional(key); });
}

std::optional<int> scaleRowOf(std::string_view label) {
    return rowOf(ScaleTable, label, builtInLabel<ScaleRow>);
}

// The tunings that follow the song are chosen by their labels or in a word.
std::optional<std::string_view> tuningLabel(const TuningRow& row) {
    const int index = static_cast<int>(&row - TuningTable.data());
    if (songTuningOfRow(index) != SongTuning::None) return row.label;
    return builtInLabel(row);
}

std::optional<int> tuningRowOf(std::string_view label) {
    if (equalIgnoringCase(label, "fitted")) return kFittedTuningRow;
    if (equalIgnoringCase(label, "adaptive")) return kAdaptiveTuningRow;
    return rowOf(TuningTable, label, tuningLabel);
}

void printLabels(std::ostream& out) {
    out << "Types:\n";
    for (const Dialect& d : dialects())
        out << d.name << "  " << d.description << '\n';
    out << "\nKeys:\n";
    for (std::string_view key : KeyTable)
        out << key << '\n';
    out << "\nScales:\n";
    for (const ScaleRow& row : ScaleTable) {
        if (row.hasRow) out << row.label << '\n';
    }
    out << "\nTunings:\n";
    for (const TuningRow& row : TuningTable) {
        if (const auto label = tuningLabel(row)) out << *label << '\n';
    }
}

int runConvertTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                   bool errIsTerminal) {
    Options o;
    CLI::App app{
        "Writes a copy of a MIDI file that carries a scale and tuning: the scale-tuning messages "
        "of its device types before its first note, and every note outside the scale moved up "
        "onto it. Or plays the song so retuned into an audio file, or converts many songs at "
        "once.",
        "pitchloom-convert"};
    app.formatter(std::make_shared<UsageFormatter>());
    app.add_option("--type", o.type,
                   "Sound module: " + typeNames(" or ") +
                       " (see --list); several joined by commas for players of unknown kind")
        ->type_name("TYPE[,TYPE]");
    auto* key =
        app.add_option("--key", o.key, "A label of the Key list (default C)")->type_name("KEY");
    auto* scale =
        app.add_option("--scale", o.scale, "A label of the Scale list (default Chromatic)")
            ->type_name("SCALE");
    auto* tuning = app.add_option("--tuning", o.tuning,
                                  "A label of the Tuning list (default \"Just Intonation\"); "
                                  "fitted for \"Fitted to song\", the twelve offsets that suit "
                                  "each song best, and adaptive for \"Adaptive just\", a pure "
                                  "pitch for every note (with " +
                                      perNoteNames() + ")")
                       ->type_name("TUNING");
    app.add_option("--scale-file", o.scaleFile,
                   "Custom offsets and scale from a scale file: a 64-byte .sca, in the key it "
                   "was saved in, or a Scala .scl, laid on the keys from --key")
        ->type_name("FILE")
        ->excludes(scale)
        ->excludes(tuning);
    app.add_option("--kbm", o.mapping,
                   "A Scala keyboard mapping that sets the key of a .scl (its middle note)")
        ->type_name("FILE.kbm")
        ->excludes(key);
    auto* render = app.add_option("--render", o.render,
                                  "Play the retuned song through the built-in synthesizer into "
                                  "an audio file, .wav (16-bit, 44.1 kHz, stereo) or .flac")
                       ->type_name("AUDIO");
    app.add_flag("--float", o.floatSamples, "With --render: a WAV file of 32-bit float samples")
        ->needs(render);
    auto* folder = app.add_option("--output-dir", o.folder,
                                  "Convert every INPUT into this folder under its own name")
                       ->type_name("DIR")
                       ->excludes(render);
    app.add_option("-j,--jobs", o.jobs,
                   "With --output-dir: songs converted at once, 1 to 1024 (default: "
                   "one for each processor)")
        ->type_name("N")
        ->needs(folder);
    app.add_option("--release-guard", o.releaseGuard,
                   "With " + spreadingNames() +
                       ": milliseconds after a channel's last Note Off before its "
                       "bend may change, 0 to " +
                       std::to_string(kLongestReleaseGuard) +
                       " (default 300): synthesizers go on bending a released note")
        ->type_name("MS");
    app.add_flag("--strict", o.strict,
                 "With " + noteRetunerNames() +
                     ": a song with a note played off its tuning, as when a part needs more "
                     "channels than are free, or a note on a key the scale leaves unmapped, is "
                     "an error and is not written");
    app.add_flag("--list", o.list, "Print the labels that --key, --scale and --tuning take");
    app.add_flag("--analyse,--analyze", o.analyse,
                 "Print how pure INPUT sounds in the tuning: the share of the time notes sound "
                 "together within 2 cents of just intervals, the mean and worst distance from "
                 "them, the drift, and the notes an adaptive tuning re-pitched");
    auto* input = app.add_option("--input", o.input,
                                 "Play what a MIDI input sends (a keyboard), retuned, to "
                                 "--output until Ctrl-C: its number or name from --list-ports, "
                                 "or \"Pitchloom Pro in\", a port of our own for programs")
                      ->type_name("PORT");
    app.add_option("--output", o.output,
                   "With --input: where the retuned notes go, a number or name from "
                   "--list-ports (default \"MIDI MAPPER\", the built-in synthesizer)")
        ->type_name("PORT")
        ->needs(input);
    app.add_flag("--list-ports", o.listPorts, "Print the ports that --input and --output take");
    app.add_option("FILES", o.files,
                   "INPUT OUTPUT; INPUT alone with --render; INPUT... with --output-dir. A "
                   "MIDI file to read (- for standard input) is left unchanged; an existing "
                   "OUTPUT is replaced, keeping its mode and links, unless it is read-only")
        ->type_name("");

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success&) {
        out << app.help();
        return kExitWritten;
    } catch (const CLI::ParseError& e) {
        return usageError(err, e.what());
    }
    if (const CLI::Option* option = emptyValued(app, argc, argv)) {
        return usageError(
            err, option->get_name() + " needs " + option->get_type_name() + ", not an empty value");
    }
    std::optional<int> jobs;
    if (!o.jobs.empty() && !(jobs = jobsOf(o.jobs))) {
        return usageError(err, "-j takes a whole number from 1 to " + std::to_string(kMostJobs));
    }
    ConvertSettings settings;
    settings.strict = o.strict;
    settings.notice = OffTuningNotice::Caller;
    if (!o.releaseGuard.empty()) {
        const auto ms = releaseGuardOf(o.releaseGuard);
        if (!ms) {
            return usageError(err, "--release-guard takes whole milliseconds from 0 to " +
                                       std::to_string(kLongestReleaseGuard));
        }
        settings.retune.releaseGuard = *ms;
    }

    if (o.list) {
        printLabels(out);
        return kExitWritten;
    }
    if (o.listPorts) {
        SystemMidiInput inputs;
        SystemMidiOutput outputs;
        printPorts(out, inputs, outputs);
        return kExitWritten;
    }
    const bool relay = !o.input.empty();
    if (relay && (!o.files.empty() || !o.render.empty() || !o.folder.empty() || o.analyse ||
                  o.strict)) {
        return usageError(err, "--input relays a MIDI input and takes no files");
    }

    if (o.analyse) {
        if (!o.type.empty() || !o.render.empty() || !o.folder.empty() || o.strict ||
            !o.releaseGuard.empty()) {
            return usageError(err, "--analyse takes tuning options and one INPUT only");
        }
        o.type = "GM";
    }
    if (o.type.empty()) return usageError(err, "--type is required");
    const auto types = deviceTypesOf(o.type);
    if (!types) {
        return usageError(err, "--type takes " + typeNames(" or ") +
                                   ", alone or joined by commas, not \"" + o.type + "\"");
    }
    const auto byNotes = [](DeviceType type) { return dialectOf(type).noteRetuner != nullptr; };
    const bool retunesNotes = std::any_of(types->begin(), types->end(), byNotes);
    // The other dialects tune the notes the retuner bends: each would add its tuning to the other.
    if (retunesNotes && types->size() > 1) {
        const DeviceType alone = *std::find_if(types->begin(), types->end(), byNotes);
        return usageError(err, commandLineName(alone) +
                                   " retunes every note itself and goes alone in --type, not "
                                   "with another type");
    }
    if (!retunesNotes && o.strict) {
        return usageError(err, "--strict goes with --type " + noteRetunerNames());
    }
    const auto spreadsNotes = [](DeviceType type) {
        return dialectOf(type).reach == TuningReach::PitchPerNote;
    };
    if (!o.releaseGuard.empty() && !std::any_of(types->begin(), types->end(), spreadsNotes)) {
        return usageError(err, "--release-guard goes with --type " + spreadingNames());
    }
    const auto keyRow = keyRowOf(o.key);
    if (!keyRow) return usageError(err, "unknown key \"" + o.key + "\" (see --list)");
    const auto scaleRow = scaleRowOf(o.scale);
    if (!scaleRow) return usageError(err, "unknown scale \"" + o.scale + "\" (see --list)");
    const auto tuningRow = tuningRowOf(o.tuning);
    if (!tuningRow) return usageError(err, "unknown tuning \"" + o.tuning + "\" (see --list)");
    const bool scala = !o.scaleFile.empty() && isScalaPath(o.scaleFile);
    // A .sca holds its offsets and marks with the key already applied.
    if (!o.scaleFile.empty() && !scala && app.count("--key") > 0) {
        return usageError(err, "--key does not go with a .sca scale file, which has its own key");
    }
    if (!o.mapping.empty() && !scala) return usageError(err, "--kbm needs a .scl --scale-file");
    if (o.analyse && o.files.size() != 1) return usageError(err, "--analyse takes one INPUT");
    if (const std::string problem = o.analyse || relay ? std::string() : filesProblem(o);
        !problem.empty()) {
        return usageError(err, problem);
    }
    const std::optional<AudioFormat> audio = audioFormatOf(o.render, o.floatSamples);
    if (!o.render.empty()) {
        if (o.render == kStandardStream) {
            return usageError(err,
                              "--render needs a file name: audio cannot go to standard output");
        }
        if (!audio) return usageError(err, "--render writes a .wav or a .flac file");
        if (o.floatSamples && audio != AudioFormat::WavFloat) {
            return usageError(err, "--float makes WAV files only");
        }
        if (types->size() > 1) return usageError(err, "--render plays through one --type");
    }

    // Read once, applied to the session of every song.
    std::optional<LoadedScale> custom;
    if (!o.scaleFile.empty()) {
        ScaleFileRead read = readScaleFile(
            o.scaleFile, *keyRow, o.mapping.empty() ? std::nullopt : std::optional(o.mapping));
        if (!read.scale) {
            err << oneLine(read.message) << '\n';
            if (!read.detail.empty()) err << oneLine(read.detail) << '\n';
            return kExitFailed;
        }
        custom = std::move(read.scale);
    }
    if (!o.analyse) {
        TuningState probe;
        if (custom) probe.setScala(custom->scala);
        if (!custom) setSongTuning(probe, songTuningOfRow(*tuningRow));
        for (DeviceType type : *types) {
            if (const auto why = whyCannotPlay(type, probe)) {
                err << *why << '\n';
                return kExitFailed;
            }
        }
    }
    const auto setUp = [&](Session& session) {
        session.deviceType = types->front();
        TuningState& state = session.tuning;
        state.keyIndex = *keyRow;
        if (!custom) {
            state.scaleIndex = *scaleRow;
            state.tuningIndex = *tuningRow;
            state.selectScaleRow(*scaleRow, *keyRow);
            state.selectTuningRow(*tuningRow, *keyRow);
            // Fitted to each song as it loads.
            setSongTuning(state, songTuningOfRow(*tuningRow));
            return;
        }
        // As a load in the window: used as read, the key row only recorded.
        state.setOffsets(custom->offsets);
        state.setScaleMarks(custom->marks);
        state.setScala(custom->scala);
        state.savedKeyIndex = custom->keyRow;
        state.scaleIndex = kCustomScaleRow;
        state.tuningIndex = kCustomTuningRow;
    };
    // A session with its song buffer, or nothing (the failure shown) when there is no memory.
    const auto makeSession = [&](UserDialogs& dialogs) {
        auto session = std::make_shared<Session>(dialogs);
        if (session->createSong()) return session;
        reportError(dialogs, 1001);
        return std::shared_ptr<Session>();
    };
    const auto convertIn = [&](Session& session, WriteMode mode) {
        setUp(session);
        return convertSong(session.song, session.loader, session.tuning, *types, session.dialogs,
                           false, settings, mode);
    };
    // What is said of a song whose notes did not all get their tuning; empty when they did.
    const auto remarkOn = [](const ConvertOutcome& outcome) {
        if (!outcome.retune || !outcome.retune->missed()) return std::string();
        return describeOffTuning(*outcome.retune);
    };

    if (relay) {
        if (types->size() > 1) return usageError(err, "--input plays through one --type");
        const InterruptScope interrupts(InterruptScope::Interrupts::StopTheWork);
        SystemMidiInput inputs;
        SystemMidiOutput outputs([] { return openBuiltInSynth(); });
        return runRelay({o.input, o.output.empty() ? std::string(kMidiMapperName) : o.output,
                         setUp, settings.retune, [] { return interrupted(); }},
                        inputs, outputs, err);
    }
    if (!o.folder.empty()) {
        if (!jobs) {
            jobs = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u,
                                               static_cast<unsigned>(kMostJobs)));
        }
        const auto makeConverter = [&](UserDialogs& dialogs) -> ConvertOne {
            auto session = makeSession(dialogs);
            // Without its song buffer, each song the worker takes says why it failed.
            if (!session) {
                return [&dialogs](CommitGroup&) {
                    reportError(dialogs, 1001, "not enough memory for the song");
                    return SongConverted{};
                };
            }
            // A FIFO among the outputs is no pipeline's end: refused at once, as the window does,
            // it cannot hold a worker for ever.
            return [session, &convertIn, &remarkOn](CommitGroup& group) {
                const ConvertOutcome outcome = convertIn(*session, WriteMode(PipeWait::No, &group));
                return SongConverted{outcome.written, remarkOn(outcome)};
            };
        };
        const InterruptScope interrupts(InterruptScope::Interrupts::StopTheWork);
        return convertAll(o.files, o.folder, *jobs, makeConverter, err, errIsTerminal);
    }
    if (o.analyse) {
        StreamDialogs dialogs(o.files[0], {}, err);
        const auto session = makeSession(dialogs);
        if (!session) return kExitFailed;
        setUp(*session);
        if (!session->loader.loadSongByDialog()) return kExitFailed;
        const std::string name =
            custom ? std::filesystem::path(o.scaleFile).filename().string()
                   : std::string(TuningTable[static_cast<std::size_t>(*tuningRow)].label);
        printPurity(out, name, session->tuning, session->song.image());
        return kExitWritten;
    }
    ProgressBar bar(err, errIsTerminal);
    StreamDialogs dialogs(o.files[0], o.render.empty() ? o.files[1] : o.render, err);
    dialogs.setBeforeLine([&bar] { bar.finish(); });
    const auto session = makeSession(dialogs);
    if (!session) return kExitFailed;
    if (o.render.empty()) {
        // Over in a moment: nothing to stop, only the temporary file to remove.
        const InterruptScope interrupts(InterruptScope::Interrupts::EndTheProgram);
        // In a pipeline the program reading a FIFO may start after this one.
        const ConvertOutcome outcome = convertIn(*session, PipeWait::Yes);
        if (const std::string remark = remarkOn(outcome); !remark.empty()) {
            const std::string& input = o.files[0];
            err << (input == kStandardStream ? "standard input" : oneLine(input)) << ": " << remark
                << '\n';
        }
        return outcome.written ? kExitWritten : kExitFailed;
    }

    setUp(*session);
    if (!session->loader.loadSongByDialog()) return kExitFailed;
    const InterruptScope interrupts(InterruptScope::Interrupts::StopTheWork);
    const auto [outcome, retune] =
        renderSong({session->song, session->tuning, types->front(), dialogs, session->loader,
                    settings.retune, settings.strict},
                   o.render, *audio, [&bar](double done) {
                       bar.show(done);
                       return !interrupted();
                   });
    bar.finish();
    if (retune && retune->missed()) {
        err << oneLine(o.files[0]) << ": " << describeOffTuning(*retune) << '\n';
    }
    if (outcome == RenderOutcome::Cancelled) {
        err << oneLine(o.render) << ": interrupted, not written\n";
        return kExitInterrupted;
    }
    return outcome == RenderOutcome::Written ? kExitWritten : kExitFailed;
}

}  // namespace pitchloom
