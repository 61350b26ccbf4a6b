#pragma once

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pitchloom {

/// The MIDI systems whose ports are offered, in the order they are listed: the ALSA sequencer,
/// then JACK's when a JACK server runs.
inline constexpr std::array kMidiApis{RtMidi::LINUX_ALSA, RtMidi::UNIX_JACK};

/// A client of RtMidi (RtMidiIn or RtMidiOut) on one MIDI system; nothing where that system
/// cannot start (no sequencer device, no JACK server). Quiet: RtMidi's warnings are dropped, as
/// a port that cannot be had shows as one that does not open.
template <typename Client>
std::unique_ptr<Client> makeMidiClient(RtMidi::Api api) {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    if (std::find(apis.begin(), apis.end(), api) == apis.end()) return nullptr;
    // alsa-lib reports a missing sequencer on standard error before RtMidi can be asked not to.
    if (api == RtMidi::LINUX_ALSA && !std::filesystem::exists("/dev/snd/seq")) return nullptr;
    if (api == RtMidi::UNIX_JACK) {
        // JACK's library says on standard error that it found no server; so do we, as no port.
        static std::once_flag quiet;
        std::call_once(quiet, [] {
            jack_set_error_function([](const char*) {});
            jack_set_info_function([](const char*) {});
        });
    }
    // RtMidi warns of a missing JACK server on std::cerr while it is made.
    std::streambuf* const cerr = std::cerr.rdbuf(nullptr);
    try {
        auto client = std::make_unique<Client>(api, "Pitchloom Pro");
        // A JACK client is made even without a server, and then fails on its first port: the
        // count of ports, which connects it, warns when there is none.
        bool warned = false;
        client->setErrorCallback(
            [](RtMidiError::Type, const std::string&, void* flag) { *static_cast<bool*>(flag) = true; },
            &warned);
        (void)client->getPortCount();
        client->setErrorCallback([](RtMidiError::Type, const std::string&, void*) {}, nullptr);
        std::cerr.rdbuf(cerr);
        if (warned) return nullptr;
        return client;
    } catch (const RtMidiError&) {
        std::cerr.rdbuf(cerr);
        return nullptr;
    }
}

/// The names of the ports a client sees, port i at index i; none when it cannot list them.
template <typename Client>
std::vector<std::string> midiPortNames(Client& client) {
    std::vector<std::string> names;
    try {
        const unsigned count = client.getPortCount();
        for (unsigned i = 0; i < count; ++i)
            names.push_back(client.getPortName(i));
    } catch (const RtMidiError&) {
        names.clear();
    }
    return names;
}

/// The names of the ports of every MIDI system that starts, in the order of kMidiApis.
template <typename Client>
std::vector<std::string> allMidiPortNames() {
    std::vector<std::string> names;
    for (const RtMidi::Api api : kMidiApis) {
        if (auto client = makeMidiClient<Client>(api)) {
            const auto more = midiPortNames(*client);
            names.insert(names.end(), more.begin(), more.end());
        }
    }
    return names;
}

/// Port `index` of the list allMidiPortNames gives: a client of its system, its number there
/// and its name; nothing when there is no such port.
template <typename Client>
struct MidiPortAt {
    std::unique_ptr<Client> client;
    unsigned port;
    std::string name;
};

template <typename Client>
std::optional<MidiPortAt<Client>> midiPortAt(unsigned index) {
    for (const RtMidi::Api api : kMidiApis) {
        auto client = makeMidiClient<Client>(api);
        if (!client) continue;
        const auto names = midiPortNames(*client);
        if (index < names.size()) return MidiPortAt<Client>{std::move(client), index, names[index]};
        index -= static_cast<unsigned>(names.size());
    }
    return std::nullopt;
}

}  // namespace pitchloom
