#pragma once

#include <algorithm>
#include <vector>

namespace trevane {

// The middle value, or the mean of the two middle ones; 0 for none. A median, not a mean: one
// reading far off (a spike, a stuck stretch) does not move it.
inline double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace trevane
