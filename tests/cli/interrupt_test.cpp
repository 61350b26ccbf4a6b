#include "cli/interrupt.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "support/midi_builder.h"

namespace pitchloom {
namespace {

// A second interrupt ends the program at once; the files it was writing, one still open and one
// waiting for its group's flush, go with it, and a file that was there before stays.
TEST(Interrupt, ASecondOneEndsTheProgramAndRemovesItsTemporaryFiles) {
    for (const int signal : InterruptScope::kSignals) {
        SCOPED_TRACE(signal);
        const std::string dir = test::makeTempDir("interrupt-" + std::to_string(signal));
        ASSERT_TRUE(writeFile(dir + "/kept.mid", test::Bytes{1, 2, 3}).ok());
        EXPECT_EXIT(
            {
                FileWriter open;
                if (!open.open(dir + "/kept.mid") || !open.write(test::Bytes{4})) std::_Exit(2);
                CommitGroup group;
                auto waiting = std::make_unique<FileWriter>();
                if (!waiting->open(dir + "/new.mid") || !waiting->write(test::Bytes{5}) ||
                    !group.commit(std::move(waiting))) {
                    std::_Exit(2);
                }
                const InterruptScope scope;
                std::raise(signal);
                // The first one only asks the work to stop.
                if (!interrupted()) std::_Exit(3);
                std::raise(signal);
                std::_Exit(4);
            },
            testing::KilledBySignal(signal), "");
        EXPECT_EQ(test::namesIn(dir), std::vector<std::string>{"kept.mid"});
        EXPECT_EQ(readFile(dir + "/kept.mid", 16).bytes, (test::Bytes{1, 2, 3}));
    }
}

// A file put in place or dropped is no longer the handler's: a file that someone else made later
// under the same temporary name stays.
TEST(Interrupt, TemporaryNamesOfFilesDoneWithAreLeftAlone) {
    const std::string dir = test::makeTempDir("interrupt-done");
    const auto sameName = [] { return std::string(".pitchloom-AAAAAA"); };
    const std::string planted = dir + "/.pitchloom-AAAAAA";
    FileWriter done(sameName);
    ASSERT_TRUE(done.open(dir + "/done.mid").ok());
    ASSERT_TRUE(done.commit().ok());
    FileWriter dropped(sameName);
    ASSERT_TRUE(dropped.open(dir + "/dropped.mid").ok());
    dropped.abort();
    ASSERT_TRUE(writeFile(planted, test::Bytes{7}).ok());
    removeTemporaryFiles();
    EXPECT_EQ(test::namesIn(dir), (std::vector<std::string>{".pitchloom-AAAAAA", "done.mid"}));
}

}  // namespace
}  // namespace pitchloom
