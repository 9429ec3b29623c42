#pragma once

// Random journeys: seeded sequences of what a user does with a program's real window, each step
// a key or mouse event sent to the widgets, with the program's promises checked after every
// step. A failing journey is shrunk to the shortest sequence of its steps that still fails and
// kept, as the steps it took, to be replayed as a regression test.
//
// A step is one line: a verb and the words that name what it acts on ("drop pics/sub/c.png",
// "tool Rectangle", "press FitWidth"). Steps are drawn from the window as it stands when they
// are taken, so a step never names a target by its position in a list that may grow.

#include "core/result.h"
#include "journeys/gui_events.h"

#include <QElapsedTimer>
#include <QWidget>

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <iostream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace ombri::journey {

// One user action: a verb and its words (names, numbers, answers, typed text).
struct Step {
    std::string verb;
    std::vector<std::string> words;
    int line = 0; // the line of the kept journey that holds it; 0 for a drawn step

    const std::string& word(size_t index) const;
    // The word as a whole number; 0 when it is missing or no number.
    int number(size_t index) const;
    bool operator==(const Step& other) const { return verb == other.verb && words == other.words; }
};
using Journey = std::vector<Step>;

// A word as a step writes it: the number itself.
inline std::string word(int number)
{
    return std::to_string(number);
}

// "verb word word": a word with a space, a quote, a backslash or a byte outside printable ASCII
// is written in double quotes with C-style escapes, so that a journey is one line a step.
std::string encodeStep(const Step& step);
std::string encodeJourney(const Journey& journey);
// Blank lines and lines starting with "#" are left out; any other line that is no step (an
// unclosed quote, an unknown escape) makes the whole journey undecodable, naming the line.
Result<Step> decodeStep(const std::string& line);
Result<Journey> decodeJourney(const std::string& text);
// Where a step stands, for a message: its line in a kept journey or its place in a drawn one,
// and the step itself.
std::string whereIs(const Step& step, size_t index);

class Rng {
  public:
    explicit Rng(uint64_t seed) : m_engine(seed) {}
    // A number in [0, count).
    int below(int count);
    // A number in [low, high].
    int between(int low, int high);
    // True about numerator times in denominator.
    bool chance(int numerator, int denominator);
    template <typename T, size_t N> const T& pick(const T (&items)[N])
    {
        return items[static_cast<size_t>(below(static_cast<int>(std::size(items))))];
    }
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

// One verb of a program's journeys. Each program keeps its verbs in one table; a verb is drawn
// as often as its weight against the other rows' weights.
template <typename Session> struct Verb {
    const char* name;
    int weight; // 0 for a verb that is drawn only where a journey places it
    // The words that follow the verb, checked before a journey is replayed: "n" a number, "w"
    // a word, "a" an answer to a question (yes, no or cancel), each followed by "?" when it may
    // be left out or by "*" when it may come any number of times.
    const char* words;
    // Appends the step, or the few steps a user takes together, as the window stands; appends
    // nothing when the verb has nothing to act on now.
    void (Session::*draw)(Rng& rng, Journey& journey);
    // Takes the step; answers why it cannot be taken when what it names is not there.
    std::optional<std::string> (Session::*run)(const Step& step);
};

// A program's verb table, whatever its length.
template <typename Session> class VerbTable {
  public:
    template <size_t N>
    VerbTable(const Verb<Session> (&rows)[N]) : m_rows(rows), m_count(std::size(rows))
    {
    }
    const Verb<Session>* find(const std::string& name) const
    {
        for (size_t i = 0; i < m_count; ++i) {
            if (name == m_rows[i].name)
                return &m_rows[i];
        }
        return nullptr;
    }
    const Verb<Session>& draw(Rng& rng) const
    {
        int total = 0;
        for (size_t i = 0; i < m_count; ++i)
            total += m_rows[i].weight;
        int roll = rng.below(total);
        for (size_t i = 0; i < m_count; ++i) {
            if (roll < m_rows[i].weight)
                return m_rows[i];
            roll -= m_rows[i].weight;
        }
        return m_rows[m_count - 1];
    }

  private:
    const Verb<Session>* m_rows;
    size_t m_count;
};

// The row of a table of named things (tools, buttons, keys) with that name, or null.
template <typename Row, size_t N>
const Row* findNamed(const Row (&rows)[N], const std::string& name)
{
    for (const Row& row : rows) {
        if (name == row.name)
            return &row;
    }
    return nullptr;
}

// Why the step's words do not fit the verb's pattern, or nothing.
std::optional<std::string> checkWords(const char* pattern, const Step& step);

// Why a journey cannot be replayed at all: a step with an unknown verb or words that do not fit
// it. The failure names the step's line.
template <typename Session>
Outcome checkJourney(const VerbTable<Session>& verbs, const Journey& journey)
{
    for (size_t i = 0; i < journey.size(); ++i) {
        const Step& step = journey[i];
        const Verb<Session>* verb = verbs.find(step.verb);
        if (!verb)
            return Failure{i, whereIs(step, i) + ": no such verb \"" + step.verb + "\""};
        if (auto wrong = checkWords(verb->words, step))
            return Failure{i, whereIs(step, i) + ": " + *wrong};
    }
    return std::nullopt;
}

// The steps of a journey are taken through a session, a program's main window made for the
// journey, which knows what to expect of each step:
//   std::optional<std::string> perform(const Step&, const Verb<Session>&) takes the step (the
//       verb's run between what the session notes before and settles after), answering why it
//       cannot be taken;
//   std::optional<std::string> check(const Step&) answers the first broken promise;
//   std::string state() describes the window in one line; QWidget* window().
void traceStep(const Step& step, const std::string& state, qint64 milliseconds);
bool tracing();

template <typename Session>
Outcome takeStep(Session& session, const VerbTable<Session>& verbs, const Step& step, size_t index)
{
    const Verb<Session>* verb = verbs.find(step.verb);
    if (!verb)
        return Failure{index, whereIs(step, index) + ": no such verb \"" + step.verb + "\""};
    QElapsedTimer took;
    took.start();
    if (auto refused = session.perform(step, *verb))
        return Failure{index, whereIs(step, index) + ": " + *refused};
    saveScreenshot(session.window(), index);
    const auto broken = session.check(step);
    if (tracing())
        traceStep(step, session.state(), took.elapsed());
    if (broken)
        return Failure{index, *broken};
    return std::nullopt;
}

// Takes the steps of a kept or shrunk journey, each as it is written.
template <typename Session>
Outcome replayJourney(const VerbTable<Session>& verbs, const Journey& journey)
{
    if (auto unfit = checkJourney(verbs, journey))
        return unfit;
    Session session;
    for (size_t i = 0; i < journey.size(); ++i) {
        if (auto failure = takeStep(session, verbs, journey[i], i))
            return failure;
    }
    return std::nullopt;
}

// With OMBRI_JOURNEY_RECORD naming a file, each drawn step is added to it before it is taken,
// so that the steps of a journey that kills the program are known.
void recordStep(const Step& step);

// Draws `steps` steps from the seed and takes each as it is drawn: `opening` draws the first
// (it may draw nothing), the verb table the rest. `taken` receives the steps taken.
template <typename Session>
Outcome exploreJourney(const VerbTable<Session>& verbs, void (Session::*opening)(Rng&, Journey&),
                       uint64_t seed, int steps, Journey& taken)
{
    Rng rng(seed);
    Session session;
    taken.clear();
    Journey drawn;
    (session.*opening)(rng, drawn);
    // A verb with nothing to act on draws nothing; a window where no verb can act would loop.
    for (int idle = 0; static_cast<int>(taken.size()) < steps && idle < 1000;) {
        if (drawn.empty()) {
            (session.*verbs.draw(rng).draw)(rng, drawn);
            ++idle;
            continue;
        }
        idle = 0;
        const Step step = drawn.front();
        drawn.erase(drawn.begin());
        recordStep(step);
        taken.push_back(step);
        if (auto failure = takeStep(session, verbs, step, taken.size() - 1))
            return failure;
    }
    return std::nullopt;
}

// The shortest journey found, by removing ever smaller runs of steps while it still fails with
// the same kind of failure; `failure` holds the last failure seen.
using Runner = std::function<Outcome(const Journey&)>;
Journey shrinkJourney(Journey journey, const Runner& run, Failure& failure, int maxRuns = 400);

// Settings of a run from the environment: OMBRI_JOURNEYS (journeys per seed block),
// OMBRI_JOURNEY_STEPS, OMBRI_JOURNEY_SEED (the clock's seed), OMBRI_JOURNEY_COUNT and
// OMBRI_JOURNEY_FIRST (more seeds), OMBRI_JOURNEY_SHRINK_RUNS (how many shorter journeys a
// failure may try), OMBRI_JOURNEY_RECORD, OMBRI_JOURNEY_REPLAY and OMBRI_JOURNEY_SHRINK
// (journey_main.cpp).
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

// Calls visit(path, info) for every entry under `folder` (not the folder itself), with what lstat
// says of it, and goes into each folder for which visit returns true; links are never followed.
// Read with readdir and fstatat: the journeys list their files after every step, and
// std::filesystem's iterator made that a fifth of a journey's time under the sanitizers.
void walkFolder(const std::string& folder,
                const std::function<bool(const std::string& path, const struct stat& info)>& visit);

} // namespace ombri::journey
