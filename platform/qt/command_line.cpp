#include "platform/qt/command_line.h"

#include <QByteArray>

#include <cstring>

namespace ombri {

void allowInfoOptionsWithoutDisplay(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "--") == 0)
            return;
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0 ||
            std::strcmp(argument, "--help-all") == 0 || std::strcmp(argument, "--version") == 0 ||
            std::strcmp(argument, "-v") == 0) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            return;
        }
    }
}

} // namespace ombri
