#include "session/session.h"

#include "convert/convert_command.h"

namespace pitchloom {

bool Session::convert(bool playing, PipeWait pipes) {
    const DeviceType type = deviceType.load();
    return convert(std::span(&type, 1), playing, pipes);
}

bool Session::convert(std::span<const DeviceType> types, bool playing, PipeWait pipes) {
    return convertSong(song, loader, tuning, types, dialogs, playing, pipes);
}

}  // namespace pitchloom
