#pragma once

// The other programs the format tests hold our decoders against: whether they are installed,
// and the PNG one of them wrote, read back.

#include "formats/png.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

namespace ombri::test {

std::string runCommand(const std::string& command);

// Whether every one of the programs is on the PATH.
inline bool haveCommands(std::initializer_list<const char*> names)
{
    std::string probe = "true";
    for (const char* name : names)
        probe += std::string(" && command -v ") + name;
    return std::system(("{ " + probe + "; } >/dev/null 2>&1").c_str()) == 0;
}

// Runs the command, which writes the PNG file `png`, and reads that file: the picture another
// program decoded. A null picture, the failure added to the test, when either fails.
inline Dib pngWrittenBy(const std::string& command, const std::string& png)
{
    const std::string error = runCommand(command);
    if (!error.empty()) {
        ADD_FAILURE() << error;
        return {};
    }
    auto read = ReadPngFile(png);
    EXPECT_TRUE(read) << read.error();
    return read ? read.take() : Dib();
}

// The largest difference between samples at the same place; 256 when the counts differ.
inline int largestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size())
        return 256;
    int largest = 0;
    for (size_t i = 0; i < a.size(); ++i)
        largest = std::max(largest, std::abs(int(a[i]) - int(b[i])));
    return largest;
}

} // namespace ombri::test
