#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "base/user_dialogs.h"

namespace pitchloom {

/// Converts one song. Its dialogs answer the open dialog with the input and the save dialog with
/// the output, and keep what goes wrong; true when the output was written.
using ConvertOne = std::function<bool(UserDialogs& dialogs)>;

/// Converts every input into folder (made when missing) under the input's own name, `jobs` at a
/// time. An output that would replace an input, or one written already by an input of the same
/// name, is refused. A bar with the counts shows on a terminal; each failure prints one line,
/// "input: reason", and the run ends with "N converted, M failed". Returns the exit status: 1
/// when any failed.
int convertAll(const std::vector<std::string>& inputs, const std::string& folder, int jobs,
               const ConvertOne& convert, std::ostream& err, bool terminal);

}  // namespace pitchloom
