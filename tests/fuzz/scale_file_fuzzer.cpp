// Scale file reading on arbitrary bytes, alone and through the Load command.

#include <cstdint>
#include <span>

#include "fuzz/fuzz_support.h"
#include "tuning/controls_harness.h"
#include "tuning/scale_file.h"

namespace pitchloom::fuzz {
namespace {

// Every note, 127 included, has somewhere on the scale to go, and stays a note.
void checkEveryNoteLands(const TuningState& state) {
    for (int note = 0; note <= 127; ++note) {
        const int moved = state.moveOntoScale(note);
        require(moved >= 0 && moved <= 127, "a moved note stays a note");
        require(state.inScale[static_cast<std::size_t>(moved % 12)].load() != 0,
                "a moved note lies on the scale");
    }
}

}  // namespace
}  // namespace pitchloom::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pitchloom;
    using namespace pitchloom::fuzz;
    static const ScratchFolder folder;
    const std::span<const std::uint8_t> bytes(data, size);

    const auto parsed = parseScaleFile(bytes);
    if (parsed) {
        int members = 0;
        for (std::size_t i = 0; i < 12; ++i) {
            require(parsed->offsets[i] >= -64 && parsed->offsets[i] <= 63,
                    "a read offset fits a tuning data byte");
            require(parsed->marks[i] <= 1, "a read mark is 0 or 1");
            members += parsed->marks[i];
        }
        require(members > 0, "a read scale has a member");
        const auto again = parseScaleFile(serializeScaleFile(*parsed));
        require(again && again->offsets == parsed->offsets && again->marks == parsed->marks &&
                    again->keyRow == parsed->keyRow,
                "a read file saves and reads back the same");
    }

    test::ControlsHarness h;
    h.controls.initTuningControls();
    const Offsets offsetsBefore = h.state.offsetValues();
    const ScaleMarks marksBefore = h.state.scaleMarks();
    h.dialogs.willOpen(folder.write("scale.sca", bytes));
    h.controls.loadScaleFile();

    if (parsed) {
        require(h.state.offsetValues() == parsed->offsets &&
                    h.state.scaleMarks() == parsed->marks &&
                    h.state.savedKeyIndex == parsed->keyRow,
                "a loaded file is in force whole");
    } else {
        require(h.state.offsetValues() == offsetsBefore && h.state.scaleMarks() == marksBefore,
                "a refused file changes nothing");
        require(h.dialogs.texts().size() == 1, "a refused file says so once");
    }
    checkEveryNoteLands(h.state);
    return 0;
}
