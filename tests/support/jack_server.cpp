#include "support/jack_server.h"

#include <jack/jack.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace pitchloom::test {

namespace {

bool takesClients() {
    jack_status_t status{};
    jack_client_t* client = jack_client_open("pitchloom-probe", JackNoStartServer, &status);
    if (!client) return false;
    jack_client_close(client);
    return true;
}

}  // namespace

JackServer::JackServer(int frames) {
    const std::string name = "pitchloom-" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    const std::string period = std::to_string(frames);
    pid_ = fork();
    if (pid_ == 0) {
        // Quiet: it reports every client that comes and goes.
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execlp("jackd", "jackd", "-n", name.c_str(), "-r", "-d", "dummy", "-r", "48000", "-p",
               period.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid_ < 0) return;
    for (int i = 0; i < 100 && !running_; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        running_ = takesClients();
    }
}

JackServer::~JackServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

}  // namespace pitchloom::test
