#pragma once

// Random journeys: seeded sequences of what a user does with a program's real window, each step
// a key or mouse event sent to the widgets, with the program's promises checked after every
// step. A failing journey is shrunk to the shortest sequence of its steps that still fails and
// printed in a form that can be replayed, and kept as a regression test.

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace ombri::journey {

// One user action: a verb, whole-number arguments and an optional text (typed or pasted).
struct Step {
    std::string verb;
    std::vector<int> args;
    std::string text;

    int arg(size_t index, int fallback = 0) const
    {
        return index < args.size() ? args[index] : fallback;
    }
    bool operator==(const Step& other) const
    {
        return verb == other.verb && args == other.args && text == other.text;
    }
};
using Journey = std::vector<Step>;

// "verb 1 2 3 | text", the text written with C-style escapes so a journey is one line a step.
std::string encodeStep(const Step& step);
std::optional<Step> decodeStep(const std::string& line);
std::string encodeJourney(const Journey& journey);
// Blank lines and lines starting with "#" are left out.
Journey decodeJourney(const std::string& text);

class Rng {
  public:
    explicit Rng(uint64_t seed) : m_engine(seed) {}
    // A number in [0, count).
    int below(int count);
    // A number in [low, high].
    int between(int low, int high);
    // True about numerator times in denominator.
    bool chance(int numerator, int denominator);
    template <typename T> const T& pick(const std::vector<T>& items)
    {
        return items[static_cast<size_t>(below(static_cast<int>(items.size())))];
    }

  private:
    std::mt19937_64 m_engine;
};

// What running a journey showed: the first broken promise, or nothing.
struct Failure {
    size_t step = 0; // index of the step after which the promise was found broken
    std::string message;
};
using Outcome = std::optional<Failure>;
using Runner = std::function<Outcome(const Journey&)>;

// The shortest journey found, by removing ever smaller runs of steps while it still fails with
// the same kind of failure; `failure` holds the last failure seen.
Journey shrinkJourney(Journey journey, const Runner& run, Failure& failure, int maxRuns = 400);

// Settings of a run from the environment: OMBRI_JOURNEYS (journeys per seed block),
// OMBRI_JOURNEY_STEPS, OMBRI_JOURNEY_SEED (the clock's seed), OMBRI_JOURNEY_COUNT and
// OMBRI_JOURNEY_FIRST (more seeds), OMBRI_JOURNEY_SHRINK_RUNS (how many shorter journeys a
// failure may try), OMBRI_JOURNEY_REPLAY and OMBRI_JOURNEY_SHRINK_SEED (journey_main.cpp).
int journeySteps(int fallback);
// The seed of the "clock" journey: OMBRI_JOURNEY_SEED when set, else the time.
uint64_t clockSeed();
// A folder for failing journeys and screenshots, next to the test programs.
std::string failureFolder();
// Writes the journey to failureFolder()/name and answers the path.
std::string keepJourney(const std::string& name, const Journey& journey, const Failure& failure);
std::string readTextFile(const std::string& path);
// The *.journey files in a folder, sorted by name.
std::vector<std::string> journeyFiles(const std::string& folder, const std::string& prefix);

} // namespace ombri::journey
