#include "cli/interrupt.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/file_io.h"
#include "support/midi_builder.h"

namespace pitchloom {
namespace {

using Interrupts = InterruptScope::Interrupts;

// A second interrupt ends the program at once; the files it was writing, one still open and one
// waiting for its group's flush, go with it. A file that was there before stays, and so does one
// that someone else made under the temporary name of a file put in place or dropped earlier.
TEST(Interrupt, ASecondOneEndsTheProgramAndRemovesItsTemporaryFiles) {
    for (const int signal : InterruptScope::kSignals) {
        SCOPED_TRACE(signal);
        const std::string dir = test::makeTempDir("interrupt-" + std::to_string(signal));
        ASSERT_TRUE(writeFile(dir + "/kept.mid", test::Bytes{1, 2, 3}).ok());
        EXPECT_EXIT(
            {
                const auto sameName = [] { return std::string(".pitchloom-AAAAAA"); };
                FileWriter done(sameName);
                FileWriter dropped(sameName);
                if (!done.open(dir + "/done.mid") || !done.commit() ||
                    !dropped.open(dir + "/dropped.mid")) {
                    std::_Exit(2);
                }
                dropped.abort();
                FileWriter open;
                CommitGroup group;
                auto waiting = std::make_unique<FileWriter>();
                if (!writeFile(dir + "/.pitchloom-AAAAAA", test::Bytes{7}) ||
                    !open.open(dir + "/kept.mid") || !open.write(test::Bytes{4}) ||
                    !waiting->open(dir + "/new.mid") || !waiting->write(test::Bytes{5}) ||
                    !group.commit(std::move(waiting))) {
                    std::_Exit(2);
                }
                const InterruptScope scope(Interrupts::StopTheWork);
                std::raise(SIGPIPE);  // a closed standard error stops no work
                std::raise(signal);
                // The first one only asks the work to stop.
                if (!interrupted()) std::_Exit(3);
                std::raise(signal);
                std::_Exit(4);
            },
            testing::KilledBySignal(signal), "");
        EXPECT_EQ(test::namesIn(dir),
                  (std::vector<std::string>{".pitchloom-AAAAAA", "done.mid", "kept.mid"}));
        EXPECT_EQ(readFile(dir + "/kept.mid", 16).bytes, (test::Bytes{1, 2, 3}));
    }
}

// Every signal that ends the program removes the temporary files first, also while workers go on
// making and moving them: none may stay behind, none may be reported failed because it went.
TEST(Interrupt, NoSignalThatEndsTheProgramLeavesATemporaryFileOrAFalseFailure) {
    const std::pair<int, Interrupts> cases[] = {{SIGINT, Interrupts::StopTheWork},
                                                {SIGQUIT, Interrupts::StopTheWork},
                                                {SIGPIPE, Interrupts::EndTheProgram},
                                                {SIGRTMIN, Interrupts::EndTheProgram}};
    for (int run = 0; run < 20; ++run) {
        const auto [signal, interrupts] = cases[run % 4];
        const std::string dir = test::makeTempDir("interrupt-race-" + std::to_string(run));
        EXPECT_EXIT(
            {
                const rlimit noCore{};
                ::setrlimit(RLIMIT_CORE, &noCore);
                const InterruptScope scope(interrupts);
                for (int t = 0; t < 4; ++t) {
                    std::thread([&dir, t] {
                        for (FileWriter file;;) {
                            if (!file.open(dir + "/" + std::to_string(t) + ".mid") ||
                                !file.write(test::Bytes{1}) || !file.commit()) {
                                ::close(::creat((dir + "/failed").c_str(), 0600));
                            }
                        }
                    }).detach();
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2 + run));
                std::raise(signal);
                std::raise(signal);  // a request to stop ends the program the second time
                std::_Exit(4);
            },
            testing::KilledBySignal(signal), "");
        for (const std::string& name : test::namesIn(dir))
            EXPECT_TRUE(name.size() == 5 && name.ends_with(".mid")) << run << ' ' << name;
    }
}

}  // namespace
}  // namespace pitchloom
