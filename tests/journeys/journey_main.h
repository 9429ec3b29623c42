#pragma once

#include "journeys/journey.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ombri::journey {

// One program's journeys: how a seed is explored through a fresh main window, each step drawn
// from the window as it stands, and how a journey of written steps is replayed; both answer the
// first broken promise.
struct JourneyProgram {
    const char* name; // "writer", "reader": the prefix of its kept journeys
    Outcome (*explore)(uint64_t seed, int steps, Journey& taken);
    Outcome (*replay)(const Journey& journey);
    // Kept journeys that no longer fit the program (a misspelt verb, a file that is gone, a
    // button that is not there): each must fail, naming its line.
    std::vector<std::string> unfitJourneys;
};

// Each journey program defines the one it runs.
extern const JourneyProgram kJourneyProgram;

} // namespace ombri::journey
