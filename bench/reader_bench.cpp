// The reader's display passes over a large photograph, each measured against a plain memcpy of
// the same picture in the same run:
//
//   BM_BuildDisplayImage          copy, note copy, adjustments, anti-aliased notes   <= 4x
//   BM_AutoColor ... BM_ShowChannels   each colour adjustment                       <= 2x
//   BM_RotateClockwise            a quarter turn of the picture (WithNotes: and its notes)  <= 4x
//                                 into a block used before (FreshBlock: into a new one)
//   BM_AdjustedCopyClockwise      the display copy of a turned picture with its turned notes,
//                                 as the reader builds it (shown for comparison)
//   BM_JpegThumbnail/Q            the file list's thumbnail of the picture saved as a JPEG of
//                                 quality Q, made into an empty cache, against
//   BM_JpegLoadChecked/Q          the whole picture opened as the programs open it (what the
//                                 thumbnail cost before it was decoded scaled down). Quality 100
//                                 is the writer's; 90 is what cameras commonly save. Decoding the
//                                 entropy-coded data cannot be scaled, so the smaller the file
//                                 the more the thumbnail gains.
//
// The picture is the 6000 x 4000 24-bit photograph of photo_image.h with 2% of its pixels
// carrying notes. The program prints the ratios after the usual table, and then the peak memory
// of one build with a quarter turn (at most the display copy and one note layer).

#include "bench/memory_watch.h"
#include "bench/photo_image.h"
#include "bench/ratio_reporter.h"

#include "formats/dispatch.h"
#include "formats/jpeg.h"
#include "notes/render.h"
#include "reader/adjustments.h"
#include "reader/thumbnails.h"

#include <benchmark/benchmark.h>

#include <cstdio> // jpeglib.h needs FILE and size_t declared first

#include <cstring>
#include <filesystem>
#include <jpeglib.h>
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

// The 24-bit picture as a baseline 4:2:0 JPEG of the quality, written by libjpeg alone.
bool writeJpegOfQuality(const Dib& image, int quality, const std::string& path)
{
    const auto layout = dibGetLayout(image);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!layout || layout->bitCount != 24 || !file) {
        if (file)
            std::fclose(file);
        return false;
    }
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(layout->width);
    info.image_height = static_cast<JDIMENSION>(layout->height);
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    const uint8_t* pixels = image.data() + layout->pixelOffset;
    while (info.next_scanline < info.image_height) {
        // The picture's top row is the last one in memory.
        JSAMPROW row = const_cast<JSAMPROW>(pixels) +
                       size_t{info.image_height - 1 - info.next_scanline} * layout->stride;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

// The photograph saved as JPEG in a folder of its own, with the cache the thumbnails go to
// beside it.
struct JpegFixture {
    std::string folder;
    std::string path;
    std::string cacheRoot;
    std::string error;

    ~JpegFixture()
    {
        if (!folder.empty())
            removeFolder(folder);
    }
};

// Quality 100 is saved by the writer itself, any other by libjpeg alone.
std::unique_ptr<JpegFixture> makeJpegFixture(int quality)
{
    auto f = std::make_unique<JpegFixture>();
    f->folder = makeTempFolder("ombri-thumbnail-bench");
    if (f->folder.empty()) {
        f->error = "no temporary folder";
        return f;
    }
    f->path = f->folder + "/photo.jpg";
    f->cacheRoot = f->folder + "/cache/thumbnails";
    const Dib photo = makePhotoImage();
    if (quality == 100) {
        if (Status written = WriteJpegFile(f->path, photo); !written)
            f->error = written.error();
    } else if (!writeJpegOfQuality(photo, quality, f->path)) {
        f->error = "the JPEG file could not be written";
    }
    if (f->error.empty()) {
        std::error_code ignored;
        std::fprintf(stderr, "JPEG of quality %d: %.1f MiB\n", quality,
                     mib(static_cast<long long>(std::filesystem::file_size(f->path, ignored))));
    }
    return f;
}

const JpegFixture& jpegFixture(int quality)
{
    static std::map<int, std::unique_ptr<JpegFixture>> made;
    auto& f = made[quality];
    if (!f)
        f = makeJpegFixture(quality);
    return *f;
}

void BM_JpegThumbnail(benchmark::State& state)
{
    const JpegFixture& f = jpegFixture(static_cast<int>(state.range(0)));
    if (!f.error.empty()) {
        state.SkipWithError(f.error.c_str());
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        std::error_code ignored;
        std::filesystem::remove_all(f.cacheRoot, ignored);
        state.ResumeTiming();
        auto thumbnail = makeThumbnail(f.cacheRoot, f.path, ThumbnailSize::Normal);
        if (!thumbnail) {
            state.SkipWithError(thumbnail.error().c_str());
            break;
        }
        benchmark::DoNotOptimize(thumbnail.value().data());
    }
}

void BM_JpegLoadChecked(benchmark::State& state)
{
    const JpegFixture& f = jpegFixture(static_cast<int>(state.range(0)));
    if (!f.error.empty()) {
        state.SkipWithError(f.error.c_str());
        return;
    }
    for (auto _ : state) {
        LoadedImage loaded = loadCheckedImage(f.path);
        if (loaded.image.isNull()) {
            state.SkipWithError(loaded.error.c_str());
            break;
        }
        benchmark::DoNotOptimize(loaded.image.data());
    }
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
BENCHMARK(BM_JpegThumbnail)
    ->Arg(100)
    ->Arg(90)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(kMinTime);
BENCHMARK(BM_JpegLoadChecked)
    ->Arg(100)
    ->Arg(90)
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
    // What a thumbnail costs against opening the whole picture it shows, at each quality.
    for (const char* quality : {"/100", "/90"})
        reporter.printRatio(std::string("BM_JpegThumbnail") + quality,
                            std::string("BM_JpegLoadChecked") + quality, 0.0);
    std::printf("\n%s\n", buildPeak.c_str());
    benchmark::Shutdown();
    return 0;
}
