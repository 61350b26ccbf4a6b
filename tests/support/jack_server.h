#pragma once

#include <sys/types.h>

#include <string>

namespace pitchloom::test {

/// A JACK server of our own on the dummy driver (no sound card needed), running while this
/// lives; the clients of this process reach it and no other. Runs the jackd command.
class JackServer {
public:
    /// A period of `frames` at 48 kHz.
    explicit JackServer(int frames = 64);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    /// Whether it started and takes clients.
    bool running() const { return running_; }

private:
    pid_t pid_ = -1;
    bool running_ = false;
};

}  // namespace pitchloom::test
