#pragma once

// The pictures the PNG save is held to its size and time bounds on: twenty of 2 to 24 MP in five
// kinds, drawn from a seed so that a second seed gives pictures of the same kinds that the
// encoder was never tuned with. Nothing is stored: each picture is drawn when it is asked for.
// Drawing text needs Qt's fonts, so a QGuiApplication must exist (the offscreen platform does).

#include "core/dib.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ombri::bench {

enum class CorpusKind { Screenshot, Document, Photo, Flat, Alpha };

const char* corpusKindName(CorpusKind kind);

// The largest size of our file against libpng's default one for the kind: photographs and scans
// may be 2% larger, everything else no larger.
double corpusSizeBound(CorpusKind kind);

struct CorpusEntry {
    std::string name;
    CorpusKind kind;
    int32_t width;
    int32_t height;
};

// The corpus's pictures in a fixed order; their sizes do not depend on the seed.
const std::vector<CorpusEntry>& pngCorpus();

// Draws one picture of the corpus: 24-bit, or 32-bit for the alpha kind. Null when the entry is
// unknown or memory runs out.
Dib makeCorpusPicture(const CorpusEntry& entry, uint64_t seed);

} // namespace ombri::bench
