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
                const InterruptScope scope;
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

}  // namespace
}  // namespace pitchloom
