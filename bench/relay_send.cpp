// The sending half of bench/relay-heard: plays a MIDI file in time, as a keyboard would, into a
// JACK MIDI port whose name holds PORT.
//   relay_send SONG.mid PORT
#include <rtmidi/RtMidi.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "playback/playing/sequencer.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: relay_send SONG.mid PORT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> song((std::istreambuf_iterator<char>(in)), {});
    RtMidiOut out(RtMidi::UNIX_JACK, "relay sender");
    int port = -1;
    for (unsigned i = 0; i < out.getPortCount(); ++i) {
        if (out.getPortName(i).find(argv[2]) != std::string::npos) port = static_cast<int>(i);
    }
    if (port < 0) {
        std::fprintf(stderr, "relay_send: no port %s\n", argv[2]);
        return 1;
    }
    out.openPort(static_cast<unsigned>(port));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = std::chrono::steady_clock::now();
    int sent = 0;
    const bool played = pitchloom::Sequencer::timeline(
        song, 1, [&](const pitchloom::MidiEvent& e, std::chrono::nanoseconds at) {
            std::vector<std::uint8_t> message;
            if (const auto m = e.channelMessage()) {
                message = {m->status, m->data1};
                if ((m->status & 0xE0) != 0xC0) message.push_back(m->data2);
            } else if (e.isSysEx() && !e.unfinishedSysEx) {
                message.push_back(0xF0);
                message.insert(message.end(), e.payload.begin(), e.payload.end());
            } else {
                return;
            }
            std::this_thread::sleep_until(start + at);
            out.sendMessage(message.data(), message.size());
            ++sent;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::printf("relay_send: %d messages sent\n", sent);
    return played ? 0 : 1;
}
