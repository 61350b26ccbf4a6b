#include "session/session.h"

#include "convert/convert_command.h"

namespace pitchloom {

bool Session::convert(bool playing, PipeWait pipes) {
    return convertSong(song, loader, tuning, deviceType.load(), dialogs, playing, pipes);
}

}  // namespace pitchloom
