#include "cli/batch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "support/midi_builder.h"

namespace pitchloom {
namespace {

TEST(Batch, ManyJobsGetNoMoreWorkersThanTheProcessorsCanKeepBusy) {
    // Each worker holds a song buffer of almost a megabyte: -j 1000 took a gigabyte.
    const std::string dir = test::makeTempDir("batch-workers");
    std::vector<std::string> inputs;
    for (int i = 0; i < 200; ++i)
        inputs.push_back(dir + "/" + std::to_string(i) + ".mid");
    std::atomic<int> workers{0};
    const auto makeConverter = [&](UserDialogs&) -> ConvertOne {
        ++workers;
        return [](CommitGroup&) { return false; };
    };
    std::ostringstream err;
    convertAll(inputs, dir + "/out", 1000, makeConverter, err, false);
    EXPECT_LE(workers, static_cast<int>(std::max(8u, 4 * std::thread::hardware_concurrency())));
}

}  // namespace
}  // namespace pitchloom
