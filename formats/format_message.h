#pragma once

#include <string>
#include <vector>

namespace ombri {

// A message a file reader or writer has for the user (the JPEG library's fatal error, say).
// Format code never shows anything itself: the document passes these to its prompt.
struct FormatMessage {
    std::string text;
    std::string caption;
    bool isError = true;
};

using FormatMessages = std::vector<FormatMessage>;

} // namespace ombri
