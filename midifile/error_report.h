#pragma once

#include <string>

#include "midifile/user_dialogs.h"

namespace pitchloom {

/// The text of a merge problem: "GENE%08X General Error" (code 100 gives GENE00000064 ...).
std::string fileErrorText(int code);

/// Shows a merge problem in a system-modal box.
void reportFileError(UserDialogs& dialogs, int code);

/// Shows a device, memory or load failure (codes 1001..1008): "Undefined error!", plain box.
void reportError(UserDialogs& dialogs, int code);

}  // namespace pitchloom
