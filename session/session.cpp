#include "session/session.h"

#include "tuning/song_tuning.h"

namespace pitchloom {

Session::Session(UserDialogs& dialogs) : dialogs(dialogs) {
    loader.setLoadedHandler([this](std::span<const std::uint8_t> image) {
        loadedSong.assign(image.begin(), image.end());
        if (tuneToSong(tuning, image) && offsetsFitted) offsetsFitted();
    });
}

bool Session::convert(bool playing, PipeWait pipes, const RenderInstead& render) {
    const DeviceType type = deviceType.load();
    return convertSong(song, loader, tuning, std::span(&type, 1), dialogs, playing, pipes, render);
}

bool Session::convert(std::span<const DeviceType> types, bool playing, WriteMode mode) {
    return convertSong(song, loader, tuning, types, dialogs, playing, mode);
}

Player& Session::attachPlayer(MidiOutputProvider& output, TimerService& timers,
                              PlaybackView& view) {
    player = std::make_unique<Player>(
        Player::Parts{song, tuning, deviceType, dialogs, loader, output, timers, view});
    return *player;
}

}  // namespace pitchloom
