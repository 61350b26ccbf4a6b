#pragma once

namespace pitchloom {

/// Makes Ctrl-C and a termination request stop the work in hand the way a cancel does, so that
/// no temporary file stays behind; a second one ends the program at once.
void catchInterrupts();

/// True once an interrupt came.
bool interrupted();

}  // namespace pitchloom
