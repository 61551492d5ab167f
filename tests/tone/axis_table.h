// A lookup table whose every channel holds its own axis: red i / (size - 1)
// at red index i, and so on. Shared by the table's and the files' tests.
#pragma once

#include <cstddef>

#include "tone/lut_table.h"

namespace corvanta::testing {

inline LutTable AxisTable(int size) {
    LutTable lut{size, {}};
    const auto n = static_cast<std::size_t>(size);
    for (std::size_t i = 0; i < n * n * n; ++i) {
        for (std::size_t k = 0, at = i; k < 3; ++k, at /= n) {
            lut.channels[k].push_back(static_cast<float>(at % n) / (size - 1));
        }
    }
    return lut;
}

}  // namespace corvanta::testing
