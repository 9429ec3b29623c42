#pragma once

namespace ombri {

// --help and --version only print: they must work without a display (over ssh, in scripts), so
// the desktop programs then start on Qt's offscreen platform. Call before the application object.
void allowInfoOptionsWithoutDisplay(int argc, char** argv);

} // namespace ombri
