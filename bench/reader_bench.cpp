// The reader's display passes over a large photograph, each measured against a plain memcpy of
// the same picture in the same run:
//
//   BM_BuildDisplayImage          copy, note copy, adjustments, anti-aliased notes   <= 4x
//   BM_AutoColor ... BM_ShowChannels   each colour adjustment                       <= 2x
//   BM_RotateClockwise            a quarter turn of the picture (WithNotes: and its notes)  <= 4x
//                                 into a block used before (FreshBlock: into a new one)
//   BM_AdjustedCopyClockwise      the display copy of a turned picture with its turned notes,
//                                 as the reader builds it (shown for comparison)
//
// The picture is the 6000 x 4000 24-bit photograph of photo_image.h with 2% of its pixels
// carrying notes. The program prints the ratios after the usual table, and then the peak memory
// of one build with a quarter turn (at most the display copy and one note layer).

#include "bench/memory_watch.h"
#include "bench/photo_image.h"
#include "bench/ratio_reporter.h"

#include "notes/render.h"
#include "reader/adjustments.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace ombri::bench {

namespace {

using namespace ombri::reader;

constexpr double kNoteShare = 0.02;

struct Fixture {
    Dib photo;       // the picture as loaded
    Dib dim;         // the same squeezed into 16..239, so that the stretches have work to do
    NoteLayer notes; // 2% note pixels, in lines of handwriting
    std::vector<uint8_t> copyTarget;
    std::string error;
};

// The handwriting of makeNoteMask, with lines taken away from the top until 2% of the pixels
// remain notes.
NoteLayer twoPercentNotes(int32_t width, int32_t height)
{
    NoteLayer notes = makeNoteMask(width, height);
    const size_t wanted = static_cast<size_t>(kNoteShare * static_cast<double>(notes.size()));
    size_t count = countNotePixels(notes);
    const size_t rowLength = static_cast<size_t>(width);
    for (size_t row = static_cast<size_t>(height); row-- > 0 && count > wanted;) {
        uint8_t* line = notes.data() + row * rowLength;
        for (size_t x = 0; x < rowLength && count > wanted; ++x)
            if (line[x] == 1) {
                line[x] = 0;
                --count;
            }
    }
    return notes;
}

std::unique_ptr<Fixture> makeFixture()
{
    auto f = std::make_unique<Fixture>();
    f->photo = makePhotoImage();
    f->dim = f->photo.clone();
    auto layout = dibGetLayout(f->dim);
    if (f->photo.isNull() || !layout) {
        f->error = "out of memory";
        return f;
    }
    uint8_t* pixels = f->dim.data() + layout->pixelOffset;
    for (size_t i = 0; i < layout->pixelBytes; ++i)
        pixels[i] = static_cast<uint8_t>(16 + pixels[i] * 224 / 255);
    f->notes = twoPercentNotes(kPhotoWidth, kPhotoHeight);
    f->copyTarget.assign(f->photo.size(), 1); // touched, so the baseline pays no page faults
    std::fprintf(stderr, "picture %dx%d 24-bit, %zu bytes, %.2f%% note pixels\n", kPhotoWidth,
                 kPhotoHeight, f->photo.size(),
                 100.0 * static_cast<double>(countNotePixels(f->notes)) /
                     static_cast<double>(f->notes.size()));
    return f;
}

Fixture& sharedFixture()
{
    static std::unique_ptr<Fixture> made = makeFixture();
    return *made;
}

Fixture* fixture(benchmark::State& state)
{
    Fixture& made = sharedFixture();
    if (!made.error.empty()) {
        state.SkipWithError(made.error.c_str());
        return nullptr;
    }
    return &made;
}

void setBytes(benchmark::State& state, const Fixture& f)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(f.photo.size()));
}

void BM_Memcpy(benchmark::State& state)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    for (auto _ : state) {
        std::memcpy(f->copyTarget.data(), f->photo.data(), f->photo.size());
        benchmark::DoNotOptimize(f->copyTarget.data());
        benchmark::ClobberMemory();
    }
    setBytes(state, *f);
}

// A copy into a new block, as every build and every quarter turn makes: the new block's pages
// are provided and cleared by the system on first touch, which a memcpy into a buffer it has
// used before does not pay.
void BM_CloneImage(benchmark::State& state)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    for (auto _ : state) {
        Dib copy = f->photo.clone();
        benchmark::DoNotOptimize(copy.data());
    }
    setBytes(state, *f);
}

// What the document does for a paint with notes shown, red, anti-aliased, no adjustment.
void BM_BuildDisplayImage(benchmark::State& state)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    for (auto _ : state) {
        Dib display = f->photo.clone();
        NoteLayer notes = f->notes;
        ApplyAdjustments(display, kCodeOriginal, 0, &notes);
        blendNotesFromLayer(display, makeColourRef(255, 0, 0), notes.data());
        benchmark::DoNotOptimize(display.data());
    }
    setBytes(state, *f);
}

// One colour step on a fresh copy of the squeezed picture each time; the copy is not timed.
void colourStep(benchmark::State& state, void (*step)(Dib&))
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    Dib work = f->dim.clone();
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.data(), f->dim.data(), f->dim.size());
        state.ResumeTiming();
        step(work);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    setBytes(state, *f);
}

void BM_AutoColor(benchmark::State& state)
{
    colourStep(state, AutoColor);
}

void BM_AutoContrast(benchmark::State& state)
{
    colourStep(state, AutoContrast);
}

void BM_InvertColors(benchmark::State& state)
{
    colourStep(state, InvertColors);
}

void BM_Grayscale(benchmark::State& state)
{
    colourStep(state, Grayscale);
}

void BM_ShowChannels(benchmark::State& state)
{
    colourStep(state, [](Dib& image) { ShowChannels(image, kFlagRed | kFlagGreen); });
}

// A quarter turn of the picture alone, or with its note copy as the build makes it; each turn
// starts from the last. As in the reader, where every build has the last display copy to reuse,
// the turn is written into a block used before (the one the last turn left); FreshBlock turns
// into a new block each time, which the system must clear first.
void rotate(benchmark::State& state, bool withNotes, bool reuseBlock)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    Dib work = f->photo.clone();
    Dib spare = reuseBlock ? f->photo.clone() : Dib();
    NoteLayer notes = f->notes;
    for (auto _ : state) {
        if (!RotateImage(work, withNotes ? &notes : nullptr, Rotation::Clockwise,
                         reuseBlock ? &spare : nullptr)) {
            state.SkipWithError("the turned block could not be had");
            break;
        }
        benchmark::DoNotOptimize(work.data());
    }
    setBytes(state, *f);
}

void BM_RotateClockwise(benchmark::State& state)
{
    rotate(state, false, true);
}

void BM_RotateClockwiseWithNotes(benchmark::State& state)
{
    rotate(state, true, true);
}

void BM_RotateClockwiseWithNotesFreshBlock(benchmark::State& state)
{
    rotate(state, true, false);
}

// The display copy with a quarter turn in force as the reader builds it: the turned block read
// straight from the picture into the last display copy's block, and the notes turned into the
// last build's note copy.
void BM_AdjustedCopyClockwise(benchmark::State& state)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    Dib last = f->photo.clone();
    NoteLayer turnedNotes;
    for (auto _ : state) {
        Dib copy = makeAdjustedCopy(f->photo, kCodeOriginal, kFlagRotatedClockwise, &f->notes,
                                    &turnedNotes, std::move(last));
        if (copy.isNull()) {
            state.SkipWithError("the turned block could not be had");
            break;
        }
        benchmark::DoNotOptimize(copy.data());
        benchmark::DoNotOptimize(turnedNotes.data());
        last = std::move(copy);
    }
    setBytes(state, *f);
}

// The peak memory of the build the reader makes first after a quarter turn, with nothing to
// reuse: the turned display copy, the turned note copy and the anti-aliased notes. Printed as a
// multiple of the display copy (as mapped, in whole huge pages) and one note layer together,
// which the build may not exceed. Measured before the benchmarks, whose freed memory the
// process would otherwise hand the build without the system seeing it.
std::string measureBuildPeak()
{
    const Fixture& f = sharedFixture();
    if (!f.error.empty())
        return f.error;
    const bool reset = resetHighWaterMark();
    const long long before = statusBytes("VmRSS");
    size_t displayBytes = 0;
    {
        NoteLayer turnedNotes;
        Dib display =
            makeAdjustedCopy(f.photo, kCodeOriginal, kFlagRotatedClockwise, &f.notes, &turnedNotes);
        blendNotesFromLayer(display, makeColourRef(255, 0, 0), turnedNotes.data());
        benchmark::DoNotOptimize(display.data());
        displayBytes = display.capacity();
    }
    const long long peak = statusBytes("VmHWM");
    if (!reset || before < 0 || peak < 0)
        return "build peak: the system does not report it";
    const double allowed = static_cast<double>(displayBytes + f.notes.size());
    const double extra = static_cast<double>(peak - before);
    char line[200];
    std::snprintf(line, sizeof line,
                  "build peak with a quarter turn: %.1f MiB over %.1f MiB before, %.2f x (display "
                  "copy + note layer)   target <= 1.0  %s",
                  mib(peak - before), mib(before), extra / allowed,
                  extra <= allowed ? "ok" : "MISSED");
    return line;
}

constexpr double kMinTime = 1.0;

BENCHMARK(BM_Memcpy)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(kMinTime);
BENCHMARK(BM_CloneImage)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(kMinTime);
BENCHMARK(BM_BuildDisplayImage)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(kMinTime);
BENCHMARK(BM_AutoColor)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(kMinTime);
BENCHMARK(BM_AutoContrast)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(kMinTime);
BENCHMARK(BM_InvertColors)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(kMinTime);
BENCHMARK(BM_Grayscale)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(kMinTime);
BENCHMARK(BM_ShowChannels)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(kMinTime);
BENCHMARK(BM_RotateClockwise)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(kMinTime);
BENCHMARK(BM_RotateClockwiseWithNotes)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(kMinTime);
BENCHMARK(BM_RotateClockwiseWithNotesFreshBlock)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(kMinTime);
BENCHMARK(BM_AdjustedCopyClockwise)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(kMinTime);

} // namespace

} // namespace ombri::bench

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const std::string buildPeak = ombri::bench::measureBuildPeak();
    ombri::bench::RatioReporter reporter("BM_Memcpy",
                                         {{"BM_CloneImage", 0.0},
                                          {"BM_BuildDisplayImage", 4.0},
                                          {"BM_AutoColor", 2.0},
                                          {"BM_AutoContrast", 2.0},
                                          {"BM_InvertColors", 2.0},
                                          {"BM_Grayscale", 2.0},
                                          {"BM_ShowChannels", 2.0},
                                          {"BM_RotateClockwise", 4.0},
                                          {"BM_RotateClockwiseWithNotes", 4.0},
                                          {"BM_RotateClockwiseWithNotesFreshBlock", 0.0},
                                          {"BM_AdjustedCopyClockwise", 0.0}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    std::printf("\n%s\n", buildPeak.c_str());
    benchmark::Shutdown();
    return 0;
}
