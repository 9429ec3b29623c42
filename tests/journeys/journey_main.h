#pragma once

#include "journeys/journey.h"

#include <cstdint>

namespace ombri::journey {

// One program's journeys: how a seed becomes a journey, and how a journey is run through a
// fresh main window, answering the first broken promise.
struct JourneyProgram {
    const char* name; // "writer", "reader": the prefix of its kept journeys
    Journey (*make)(uint64_t seed, int steps);
    Outcome (*run)(const Journey& journey);
};

// Each journey program defines the one it runs.
extern const JourneyProgram kJourneyProgram;

} // namespace ombri::journey
