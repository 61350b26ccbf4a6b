#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "base/user_dialogs.h"

namespace pitchloom {

/// What converting one song gave: whether it was written (its output may wait in the group), and
/// a line to say of it either way, empty for none.
struct SongConverted {
    bool written = false;
    std::string remark;
};
/// Converts one song, its output committed through the group.
using ConvertOne = std::function<SongConverted(CommitGroup& group)>;
/// Makes what one worker converts its songs with, called once on each worker's thread. The
/// dialogs answer the open dialog with the song's input and the save dialog with its output, and
/// keep what goes wrong.
using MakeConverter = std::function<ConvertOne(UserDialogs& dialogs)>;

/// Converts every input into folder (made when missing) under the input's own name, `jobs` at a
/// time. An output that would replace an input, or one written already by an input of the same
/// name, is refused. Outputs are made safe on the disk a few dozen at a time. A bar with the
/// counts shows on a terminal; each failure prints one line,
/// "input: reason" (the song's remark, when it has one), each song written with a remark
/// "input: remark", and the run ends with "N converted, M failed". Returns the exit status: 1
/// when any failed.
int convertAll(const std::vector<std::string>& inputs, const std::string& folder, int jobs,
               const MakeConverter& makeConverter, std::ostream& err, bool terminal);

}  // namespace pitchloom
