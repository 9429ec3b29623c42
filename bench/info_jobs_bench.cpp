// How much faster `ombri info -r` goes through a folder of large carriers when it reads two
// files at a time instead of one:
//
//   BM_InfoFolder/jobs:1 / BM_InfoFolder/jobs:2   speed-up target: >= 1.7 on two cores
//
// The folder holds 200 PNG carriers of 1500 x 1000 pixels in four subfolders, large enough that
// decoding them is nearly all the work. Each run is the whole command, in this process, with its
// output thrown away. On a machine shared with other work the speed-up shows what was free.

#include "bench/photo_image.h"

#include "cli/commands.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace ombri::bench {

namespace {

namespace fs = std::filesystem;

constexpr int32_t kWidth = 1500;
constexpr int32_t kHeight = 1000;
constexpr int kFolders = 4;
constexpr int kPicturesPerFolder = 50;
constexpr int kPictures = kFolders * kPicturesPerFolder;
constexpr double kTargetSpeedUp = 1.7;

struct Fixture {
    std::string folder;
    std::string error; // why the folder could not be made
};

Fixture* g_fixture = nullptr;

// Four carriers, each with its own notes, each under fifty names: the files differ, and the
// disk holds only four of them.
std::unique_ptr<Fixture> makeFixture()
{
    auto f = std::make_unique<Fixture>();
    f->folder = makeTempFolder("ombri-info-jobs");
    if (f->folder.empty()) {
        f->error = "cannot create a temporary folder";
        return f;
    }
    const Dib image = makePhotoImage(kWidth, kHeight);
    std::vector<std::string> carriers;
    for (int i = 0; i < kFolders; ++i) {
        const std::string carrier = f->folder + "/carrier-" + std::to_string(i) + ".png";
        const NoteLayer mask = makeNoteMask(kWidth, kHeight, 0.01 * (i + 1));
        if (!writeCarrierPng(image, mask, f->folder + "/plain.png", carrier, f->error))
            return f;
        carriers.push_back(carrier);
    }
    std::error_code error;
    for (int folder = 0; folder < kFolders; ++folder) {
        const std::string sub = f->folder + "/pictures/" + std::to_string(folder);
        fs::create_directories(sub, error);
        for (int i = 0; i < kPicturesPerFolder && !error; ++i) {
            const std::string name = sub + "/" + std::to_string(1000 + i) + ".png";
            const std::string& from = carriers[static_cast<size_t>(i % kFolders)];
            fs::create_hard_link(from, name, error);
            if (error) {
                error.clear();
                fs::copy_file(from, name, error);
            }
        }
        if (error) {
            f->error = "cannot fill " + sub + ": " + error.message();
            return f;
        }
    }
    std::fprintf(stderr, "%d PNG carriers of %dx%d in %s\n", kPictures, kWidth, kHeight,
                 f->folder.c_str());
    return f;
}

Fixture* fixture(benchmark::State& state)
{
    static std::unique_ptr<Fixture> made = makeFixture();
    g_fixture = made.get();
    if (!made->error.empty()) {
        state.SkipWithError(made->error.c_str());
        return nullptr;
    }
    return made.get();
}

// Standard output that goes nowhere: 200 blocks of text are not what is measured.
class Discard : public std::streambuf {
  protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

void BM_InfoFolder(benchmark::State& state)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    const std::string jobs = std::to_string(state.range(0));
    const std::string folder = f->folder + "/pictures";
    const char* argv[] = {"ombri", "info", "-r", "-j", jobs.c_str(), folder.c_str()};
    const std::string expected = std::to_string(kPictures) + " images, " +
                                 std::to_string(kPictures) + " with notes, 0 " + "unreadable\n";
    for (auto _ : state) {
        Discard discard;
        std::ostream out(&discard);
        std::ostringstream err;
        const int code = cli::run(static_cast<int>(std::size(argv)), argv, out, err);
        if (code != 0 || err.str() != expected) {
            state.SkipWithError(("info did not read every carrier: " + err.str()).c_str());
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPictures);
}

// One run of each takes seconds. Five of each, taken in a random order, so that a busy moment on
// a shared machine falls on both counts alike; the medians are compared.
BENCHMARK(BM_InfoFolder)
    ->ArgName("jobs")
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The console table, then the time of one job over the time of two.
class SpeedUpReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.error_occurred)
                continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && run.repetitions <= 1))
                m_real[run.run_name.function_name + "/" + run.run_name.args] =
                    run.GetAdjustedRealTime();
        }
    }

    // False when the target was missed or nothing was measured.
    bool printSpeedUp() const
    {
        const auto one = m_real.find("BM_InfoFolder/jobs:1");
        const auto two = m_real.find("BM_InfoFolder/jobs:2");
        if (one == m_real.end() || two == m_real.end()) {
            std::printf("\nspeed-up of -j 2 over -j 1: not measured\n");
            return false;
        }
        const double speedUp = one->second / two->second;
        const bool met = speedUp >= kTargetSpeedUp;
        std::printf("\nspeed-up of -j 2 over -j 1: %.2f (%.0f ms / %.0f ms)   target >= %.1f  %s\n",
                    speedUp, one->second, two->second, kTargetSpeedUp, met ? "ok" : "MISSED");
        return met;
    }

  private:
    std::map<std::string, double> m_real;
};

} // namespace

} // namespace ombri::bench

int main(int argc, char** argv)
{
    // Repetitions interleaved unless the command line says otherwise (a later flag wins).
    std::vector<char*> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    argc = static_cast<int>(arguments.size());
    argv = arguments.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    ombri::bench::SpeedUpReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSpeedUp();
    benchmark::Shutdown();
    if (ombri::bench::g_fixture)
        ombri::bench::removeFolder(ombri::bench::g_fixture->folder);
    return 0;
}
