#pragma once

#include "core/dib.h"

#include <string>

namespace ombri::test {

// Empty when both blocks hold the same bytes; otherwise where they first differ, short enough to
// read in a failure message.
inline std::string dibDifference(const Dib& actual, const Dib& expected)
{
    if (actual.size() != expected.size())
        return "size " + std::to_string(actual.size()) + " instead of " +
               std::to_string(expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        if (actual.data()[i] != expected.data()[i])
            return "byte " + std::to_string(i) + " is " + std::to_string(actual.data()[i]) +
                   " instead of " + std::to_string(expected.data()[i]);
    }
    return {};
}

} // namespace ombri::test
