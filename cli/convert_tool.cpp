#include "cli/convert_tool.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/file_io.h"
#include "base/messages.h"
#include "cli/stream_dialogs.h"
#include "midifile/sysex.h"
#include "session/session.h"
#include "tuning/scale_files.h"
#include "tuning/tuning_state.h"

namespace pitchloom {

namespace {

constexpr std::string_view kUsage =
    "Usage: pitchloom-convert --type TYPE[,TYPE] [--key KEY] [--scale SCALE] [--tuning TUNING] "
    "INPUT OUTPUT\n"
    "       pitchloom-convert --type TYPE[,TYPE] --scale-file FILE.sca INPUT OUTPUT\n"
    "       pitchloom-convert --type TYPE[,TYPE] --scale-file FILE.scl [--key KEY | --kbm "
    "FILE.kbm] "
    "INPUT OUTPUT\n"
    "       pitchloom-convert --list\n"
    "TYPE is GS, XG, GM or MTS; INPUT or OUTPUT - reads standard input or writes standard output.";

// What each device type is for, as --list shows it.
constexpr std::array<std::pair<DeviceType, std::string_view>, 4> kTypeUses = {{
    {DeviceType::GS, "Roland GS modules, TiMidity++"},
    {DeviceType::XG, "Yamaha XG modules"},
    {DeviceType::MTS, "MIDI Tuning Standard: FluidSynth, General MIDI 2 and many current synths"},
    {DeviceType::GM, "no tuning messages: only the scale acts"},
}};

// CLI11's help with our usage lines in place of its generated one.
class UsageFormatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App* /*app*/, std::string /*name*/) const override {
        return std::string(kUsage) + "\n";
    }
};

bool sameLabel(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

template <typename Table, typename LabelOf>
std::optional<int> rowOf(const Table& table, std::string_view label, LabelOf labelOf) {
    for (std::size_t row = 0; row < table.size(); ++row) {
        const std::optional<std::string_view> candidate = labelOf(table[row]);
        if (candidate && sameLabel(*candidate, label)) return static_cast<int>(row);
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
    std::string input;
    std::string output;
    bool list = false;
};

int usageError(std::ostream& err, std::string_view reason) {
    err << reason << '\n' << kUsage << '\n';
    return kExitUsage;
}

bool sameFile(const std::string& a, const std::string& b) {
    if (a == kStandardStream || b == kStandardStream) return false;
    std::error_code ec;
    if (std::filesystem::equivalent(a, b, ec)) return true;
    return std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec) &&
           !ec;
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

std::optional<int> tuningRowOf(std::string_view label) {
    return rowOf(TuningTable, label, builtInLabel<TuningRow>);
}

void printLabels(std::ostream& out) {
    out << "Types:\n";
    for (const auto& [type, use] : kTypeUses)
        out << deviceTypeName(type) << "  " << use << '\n';
    out << "\nKeys:\n";
    for (std::string_view key : KeyTable)
        out << key << '\n';
    out << "\nScales:\n";
    for (const ScaleRow& row : ScaleTable) {
        if (row.hasRow) out << row.label << '\n';
    }
    out << "\nTunings:\n";
    for (const TuningRow& row : TuningTable) {
        if (row.hasRow) out << row.label << '\n';
    }
}

int runConvertTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    Options o;
    CLI::App app{
        "Writes a copy of a MIDI file that carries a scale and tuning: the scale-tuning messages "
        "of its device types before its first note, and every note outside the scale moved up "
        "onto it.",
        "pitchloom-convert"};
    app.formatter(std::make_shared<UsageFormatter>());
    app.add_option("--type", o.type,
                   "Sound module: GS, XG, MTS, or GM where only the scale acts; several with "
                   "commas (GS,MTS) for players of unknown kind")
        ->type_name("TYPE[,TYPE]");
    auto* key =
        app.add_option("--key", o.key, "A label of the Key list (default C)")->type_name("KEY");
    auto* scale =
        app.add_option("--scale", o.scale, "A label of the Scale list (default Chromatic)")
            ->type_name("SCALE");
    auto* tuning = app.add_option("--tuning", o.tuning,
                                  "A label of the Tuning list (default \"Just Intonation\")")
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
    app.add_flag("--list", o.list, "Print the labels that --key, --scale and --tuning take");
    app.add_option("INPUT", o.input,
                   "MIDI file to read, - for standard input; it is left unchanged")
        ->type_name("");
    app.add_option("OUTPUT", o.output,
                   "MIDI file to write, - for standard output; an existing one is replaced, "
                   "keeping its mode and links, unless it is read-only")
        ->type_name("");

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success&) {
        out << app.help();
        return kExitWritten;
    } catch (const CLI::ParseError& e) {
        return usageError(err, e.what());
    }

    if (o.list) {
        printLabels(out);
        return kExitWritten;
    }

    if (o.type.empty()) return usageError(err, "--type is required");
    const auto types = deviceTypesOf(o.type);
    if (!types) {
        return usageError(err, "--type takes GS, XG, GM or MTS, alone or joined by commas, not \"" +
                                   o.type + "\"");
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
    if (o.input.empty() || o.output.empty())
        return usageError(err, "INPUT and OUTPUT are required");
    if (sameFile(o.input, o.output)) {
        return usageError(err, "OUTPUT must not be INPUT: the source file is never changed");
    }

    StreamDialogs dialogs(o.input, o.output, err);
    Session session(dialogs);
    session.deviceType = types->front();
    TuningState& state = session.tuning;
    state.keyIndex = *keyRow;
    if (o.scaleFile.empty()) {
        state.scaleIndex = *scaleRow;
        state.tuningIndex = *tuningRow;
        state.selectScaleRow(*scaleRow, *keyRow);
        state.selectTuningRow(*tuningRow, *keyRow);
    } else {
        const ScaleFileRead read = readScaleFile(
            o.scaleFile, *keyRow, o.mapping.empty() ? std::nullopt : std::optional(o.mapping));
        if (!read.scale) {
            err << read.message << '\n';
            if (!read.detail.empty()) err << read.detail << '\n';
            return kExitFailed;
        }
        // As a load in the window: used as read, the key row only recorded.
        state.setOffsets(read.scale->offsets);
        state.setScaleMarks(read.scale->marks);
        state.savedKeyIndex = read.scale->keyRow;
        state.scaleIndex = kCustomScaleRow;
        state.tuningIndex = kCustomTuningRow;
    }

    if (!session.createSong()) {
        reportError(dialogs, 1001);
        return kExitFailed;
    }
    // In a pipeline the program reading a FIFO may start after this one.
    return session.convert(*types, false, PipeWait::Yes) ? kExitWritten : kExitFailed;
}

}  // namespace pitchloom
