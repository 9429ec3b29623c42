#include "support/exiftool.h"

#include <cstdio>

namespace ombri::test {

namespace {

// What the command printed, and whether it ended well.
struct CommandOutput {
    bool succeeded = false;
    std::string text;
};

CommandOutput runCapturing(const std::string& command)
{
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return {};
    CommandOutput output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output.text += buffer;
    output.succeeded = pclose(pipe) == 0;
    return output;
}

} // namespace

bool haveExiftool()
{
    static const bool installed = runCapturing("exiftool -ver").succeeded;
    return installed;
}

std::string runExiftool(const std::string& arguments)
{
    const CommandOutput output = runCapturing("exiftool " + arguments);
    return output.succeeded ? std::string() : "exiftool " + arguments + ": " + output.text;
}

std::string tagOrientation(const std::vector<std::string>& paths, int orientation)
{
    // -n takes the number as written rather than the tag's printed name.
    std::string arguments =
        "-q -n -Orientation=" + std::to_string(orientation) + " -overwrite_original";
    for (const std::string& path : paths)
        arguments += " '" + path + "'";
    return runExiftool(arguments);
}

std::string orientationTagOf(const std::string& path)
{
    std::string value = runCapturing("exiftool -q -q -n -s3 -Orientation '" + path + "'").text;
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.pop_back();
    return value;
}

} // namespace ombri::test
