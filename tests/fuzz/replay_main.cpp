// Stands in for libFuzzer's driver where there is none: feeds every file named on the command
// line, and every file in every folder named, to the target once, in name order.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg(argv[i]);
        if (argv[i][0] == '-') continue;  // libFuzzer's options, which a replay has no use for
        if (fs::is_directory(arg)) {
            for (const auto& entry : fs::directory_iterator(arg)) {
                if (entry.is_regular_file()) inputs.push_back(entry.path());
            }
        } else {
            inputs.push_back(arg);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s corpus-folder-or-file...\n", argv[0]);
        return 2;
    }
    for (const fs::path& input : inputs) {
        const auto file = pitchloom::readFile(input.string(), pitchloom::fuzz::kLargestInput);
        if (!file.status) {
            std::fprintf(stderr, "cannot read %s\n", input.c_str());
            return 2;
        }
        LLVMFuzzerTestOneInput(file.bytes.data(), file.bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
