// The counting half of bench/scala-archive: reads every .scl named on standard input, one path a
// line, as the Load button and --scale-file read them (key C, no keyboard mapping), and prints
// how many load, how many of those fit the twelve keys that every device type plays, and the
// reasons the others were refused, most common first.

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "tuning/scale_files.h"
#include "tuning/tuning_tables.h"

int main() {
    int files = 0;
    int loaded = 0;
    int twelve = 0;
    std::map<std::string, int> refused;
    std::map<std::string, int> whyNotTwelve;
    for (std::string path; std::getline(std::cin, path);) {
        if (path.empty()) continue;
        ++files;
        const pitchloom::ScaleFileRead read =
            pitchloom::readScaleFile(path, pitchloom::kDefaultKeyRow);
        if (!read.scale) {
            // The reason without the figures that differ from file to file.
            std::string reason = read.message;
            if (const auto at = reason.find("line "); at != std::string::npos) {
                const auto colon = reason.find(": ", at);
                const auto rest = reason.find(" is ", colon == std::string::npos ? at : colon);
                if (rest != std::string::npos)
                    reason = reason.substr(0, at) + "line N: ..." + reason.substr(rest);
            }
            ++refused[reason];
            std::cerr << path << ": " << read.message << '\n';
            continue;
        }
        ++loaded;
        const auto& scala = read.scale->scala;
        if (scala && scala->twelve) {
            ++twelve;
        } else if (scala) {
            std::string why = scala->whyNotTwelve;
            for (char& c : why) {
                if (c >= '0' && c <= '9') c = '#';
            }
            ++whyNotTwelve[why];
        }
    }
    const auto share = [&](int n) { return files == 0 ? 0.0 : 100.0 * n / files; };
    std::printf("%d files: %d load (%.1f%%), %d of them on twelve keys (%.1f%%), %d refused\n",
                files, loaded, share(loaded), twelve, share(twelve), files - loaded);
    const auto print = [](const std::map<std::string, int>& counts, const char* heading) {
        std::vector<std::pair<int, std::string>> sorted;
        for (const auto& [text, n] : counts)
            sorted.emplace_back(n, text);
        std::sort(sorted.rbegin(), sorted.rend());
        if (!sorted.empty()) std::printf("%s\n", heading);
        for (const auto& [n, text] : sorted)
            std::printf("%6d  %s\n", n, text.c_str());
    };
    print(whyNotTwelve, "Loaded, for MTS keys and Bend only:");
    print(refused, "Refused:");
    return 0;
}
