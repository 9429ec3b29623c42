// The test program of one program's journeys: a fixed set of seeds, one seed from the clock, the
// journeys kept from earlier failures replayed step for step, and on request more seeds, one
// kept journey replayed, or the steps of a journey that killed the program shrunk in child
// processes.
#include "journeys/journey_main.h"

#include <QApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>

namespace ombri::journey {
namespace {

constexpr int kBlocks = 10;
constexpr int kStepsPerJourney = 60;

int envInt(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

const JourneyProgram& program()
{
    return kJourneyProgram;
}

std::string describe(const Journey& journey, const Failure& failure)
{
    return "failed after step " + std::to_string(failure.step + 1) + " of " +
           std::to_string(journey.size()) + ": " + failure.message + "\n" + encodeJourney(journey);
}

// Runs one seed; a failing journey is shrunk, kept under build/tests/journeys-failed and
// reported with the steps that replay it.
void runSeed(uint64_t seed, int steps)
{
    std::cout << "journey " << program().name << " seed " << seed << std::endl;
    if (const char* record = std::getenv("OMBRI_JOURNEY_RECORD"); record && *record)
        std::ofstream(record, std::ios::trunc)
            << "# " << program().name << " seed " << seed << "\n";
    Journey journey;
    const Outcome outcome = program().explore(seed, steps, journey);
    if (!outcome)
        return;
    Failure failure = *outcome;
    const std::string before = failure.message;
    const Journey shrunk =
        shrinkJourney(journey, program().replay, failure, envInt("OMBRI_JOURNEY_SHRINK_RUNS", 400));
    const std::string kept =
        keepJourney(std::string(program().name) + "-seed-" + std::to_string(seed) + ".journey",
                    shrunk, failure);
    ADD_FAILURE() << program().name << " journey seed " << seed << " " << before << "\nshrunk to "
                  << shrunk.size() << " steps, kept in " << kept << ", "
                  << describe(shrunk, failure);
}

// A kept journey's steps, or the failure of one that cannot be read.
Outcome replayFile(const std::string& file)
{
    auto journey = decodeJourney(readTextFile(file));
    if (!journey)
        return Failure{0, journey.error()};
    return program().replay(journey.value());
}

class Journeys : public ::testing::TestWithParam<int> {};

// CI runs a fixed set: kBlocks blocks of OMBRI_JOURNEYS journeys (10 by default), block N
// taking the seeds N * OMBRI_JOURNEYS + 1 on, so that builds can share the blocks out by name.
TEST_P(Journeys, FixedSeeds)
{
    const int perBlock = envInt("OMBRI_JOURNEYS", 10);
    const int steps = journeySteps(kStepsPerJourney);
    for (int i = 0; i < perBlock; ++i)
        runSeed(static_cast<uint64_t>(GetParam() * perBlock + i + 1), steps);
}

INSTANTIATE_TEST_SUITE_P(Blocks, Journeys, ::testing::Range(0, kBlocks));

TEST(JourneySeeds, SeedFromTheClock)
{
    const uint64_t seed = clockSeed();
    std::cout << "seed from the clock: " << seed << " (replay: OMBRI_JOURNEY_SEED=" << seed << ")"
              << std::endl;
    runSeed(seed, journeySteps(kStepsPerJourney));
}

// scripts/journeys.sh: OMBRI_JOURNEY_COUNT more seeds from OMBRI_JOURNEY_FIRST on.
TEST(JourneySeeds, MoreSeeds)
{
    const int count = envInt("OMBRI_JOURNEY_COUNT", 0);
    if (count <= 0)
        GTEST_SKIP() << "OMBRI_JOURNEY_COUNT is not set";
    const auto first = static_cast<uint64_t>(envInt("OMBRI_JOURNEY_FIRST", 1000));
    for (int i = 0; i < count; ++i)
        runSeed(first + static_cast<uint64_t>(i), journeySteps(kStepsPerJourney));
}

// Every journey kept from an earlier failure keeps passing, replaying the steps it holds.
TEST(JourneySeeds, KeptJourneys)
{
    const auto files = journeyFiles(OMBRI_SOURCE_DIR "/tests/journeys/regressions",
                                    std::string(program().name) + "-");
    EXPECT_FALSE(files.empty());
    for (const std::string& file : files) {
        if (const Outcome outcome = replayFile(file))
            ADD_FAILURE() << file << " failed after step " << outcome->step + 1 << ": "
                          << outcome->message;
    }
}

// A kept journey written for another fixture or another verb table cannot pass by doing nothing.
TEST(JourneySeeds, KeptJourneysThatNoLongerFitFail)
{
    QTemporaryDir folder;
    const std::string file = folder.filePath(QStringLiteral("kept.journey")).toStdString();
    const auto replayed = [&file](const std::string& text) {
        std::ofstream(file, std::ios::trunc) << text;
        return replayFile(file);
    };
    std::vector<std::string> unfit = program().unfitJourneys;
    // A line that is no step at all.
    unfit.push_back("# a quote left open\ntype \"abc\n");
    unfit.push_back("type \"a\\q\"\n");
    for (const std::string& text : unfit) {
        const Outcome outcome = replayed(text);
        if (!outcome) {
            ADD_FAILURE() << "passed:\n" << text;
            continue;
        }
        EXPECT_NE(outcome->message.find("line "), std::string::npos) << outcome->message;
    }
}

// Names with spaces, quotes, line ends and bytes beyond ASCII (a folder a journey made, text a
// user typed) come back from a kept journey as they were written, each step on one line.
TEST(JourneySteps, WordsComeBackAsWritten)
{
    const Journey journey = {
        Step{"rename", {"tree", "more/New Folder (2)", "a \"b\" \\c", "yes"}},
        Step{"paste", {"one\r\ntwo\tthree\n"}},
        Step{"type", {"caf\xe9"}},
        Step{"erasersize", {""}},
        Step{"drag", {"-3", "40", "0", "0", "ctrl", "-1"}},
        Step{"undo", {}},
    };
    const std::string text = encodeJourney(journey);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(journey.size()));
    auto decoded = decodeJourney("# kept\n\n" + text);
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(decoded.value(), journey);
    EXPECT_EQ(decoded.value()[0].line, 3);
    EXPECT_EQ(decoded.value()[4].number(0), -3);
}

TEST(JourneySteps, ALineThatIsNoStepNamesItsLine)
{
    for (const char* broken :
         {"type \"abc", "type \"a\\qb\"", "type \"a\"b", "type a\"b", "type \"\\x4\""}) {
        const auto decoded = decodeJourney(std::string("open pics/p24.bmp\n\n") + broken + "\n");
        ASSERT_FALSE(decoded) << broken;
        EXPECT_EQ(decoded.error().rfind("line 3 ", 0), 0u) << decoded.error();
    }
}

TEST(JourneySteps, WordsMustFitTheVerb)
{
    const auto fits = [](const char* pattern, std::vector<std::string> words) {
        return !checkWords(pattern, Step{"verb", std::move(words)});
    };
    EXPECT_TRUE(fits("w n n a*", {"pics/a.png", "1", "-2"}));
    EXPECT_TRUE(fits("w n n a*", {"pics/a.png", "1", "-2", "yes", "cancel"}));
    EXPECT_FALSE(fits("w n n a*", {"pics/a.png", "1"}));
    EXPECT_FALSE(fits("w n n a*", {"pics/a.png", "1", "2x"}));
    EXPECT_FALSE(fits("w n n a*", {"pics/a.png", "1", "2", "maybe"}));
    EXPECT_TRUE(fits("w a?", {"Delete"}));
    EXPECT_TRUE(fits("w a? n*", {"Selected", "1", "2", "3"}));
    EXPECT_FALSE(fits("w a?", {"Delete", "yes", "no"}));
    EXPECT_FALSE(fits("", {"extra"}));
    EXPECT_TRUE(fits("", {}));
}

// One journey from a file, for a child process of the shrinker or a developer.
TEST(JourneySeeds, Replay)
{
    const char* file = std::getenv("OMBRI_JOURNEY_REPLAY");
    if (!file || !*file)
        GTEST_SKIP() << "OMBRI_JOURNEY_REPLAY is not set";
    if (const Outcome outcome = replayFile(file)) {
        std::cerr << "JOURNEY FAILURE " << outcome->step << ": " << outcome->message << std::endl;
        ADD_FAILURE() << "failed after step " << outcome->step + 1 << ": " << outcome->message;
    }
}

// A failure that ends the process (a crash found by the sanitizers) cannot be shrunk inside it:
// each shorter journey runs in a child process instead.
Outcome runInChild(const Journey& journey)
{
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("candidate.journey"));
    std::ofstream(file.toStdString()) << encodeJourney(journey);
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("OMBRI_JOURNEY_REPLAY"), file);
    environment.remove(QStringLiteral("OMBRI_JOURNEY_SHRINK"));
    environment.remove(QStringLiteral("OMBRI_JOURNEY_RECORD"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=JourneySeeds.Replay")});
    child.waitForFinished(600000);
    if (child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0)
        return std::nullopt;
    const QString errors = QString::fromLocal8Bit(child.readAllStandardError());
    Failure failure{journey.empty() ? 0 : journey.size() - 1, "the program died"};
    for (const QString& line : errors.split('\n')) {
        if (line.startsWith(QStringLiteral("JOURNEY FAILURE "))) {
            const QString rest = line.mid(16);
            failure.step = rest.section(':', 0, 0).toULongLong();
            failure.message = rest.section(": ", 1).toStdString();
            break;
        }
        const auto sanitizer = line.indexOf(QStringLiteral("ERROR: "));
        if (sanitizer >= 0) {
            failure.message = "the program died: " + line.mid(sanitizer + 7).toStdString();
            break;
        }
    }
    return failure;
}

// The steps a journey took before it killed the program are in the file OMBRI_JOURNEY_RECORD
// named while it ran (scripts/journeys.sh); OMBRI_JOURNEY_SHRINK names that file here and
// OMBRI_JOURNEY_SHRINK_SEED the seed, which names the kept journey.
TEST(JourneySeeds, ShrinkInChildProcesses)
{
    const char* file = std::getenv("OMBRI_JOURNEY_SHRINK");
    if (!file || !*file)
        GTEST_SKIP() << "OMBRI_JOURNEY_SHRINK is not set";
    const char* seed = std::getenv("OMBRI_JOURNEY_SHRINK_SEED");
    auto journey = decodeJourney(readTextFile(file));
    ASSERT_TRUE(journey) << journey.error();
    const Outcome outcome = runInChild(journey.value());
    if (!outcome) {
        std::cout << "the steps of " << file << " pass" << std::endl;
        return;
    }
    Failure failure = *outcome;
    const Journey shrunk = shrinkJourney(journey.value(), runInChild, failure,
                                         envInt("OMBRI_JOURNEY_SHRINK_RUNS", 200));
    const std::string kept =
        keepJourney(std::string(program().name) + "-seed-" + (seed ? seed : "unknown") + ".journey",
                    shrunk, failure);
    ADD_FAILURE() << "shrunk to " << shrunk.size() << " steps, kept in " << kept << ", "
                  << describe(shrunk, failure);
}

} // namespace
} // namespace ombri::journey

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
