#include "tuning/tuning_tables.h"

namespace pitchloom {

int tonicOf(int keyRow) {
    if (keyRow < 0 || keyRow >= static_cast<int>(KeyTable.size())) keyRow = kDefaultKeyRow;
    const int t = (7 * (keyRow - kDefaultKeyRow)) % kPitchClassCount;
    return t < 0 ? t + kPitchClassCount : t;
}

}  // namespace pitchloom
