// Saving a large PNG: the writer's own save (WritePngFile: filters, libdeflate, the save that
// replaces the file only when complete) against libpng's default encoding of the same pixels,
// on a photograph-like and a screenshot-like picture of 6000 x 4000, each also as the carrier
// the writer saves with 2% of its pixels under notes. bench/png_ratios.sh prints the ratios.
//
// Targets: the save at most 0.25x libpng's time; the file no larger than libpng's on the
// screenshot, at most 2% larger on the photograph.

#include "bench/memory_watch.h"
#include "bench/photo_image.h"

#include "formats/png.h"
#include "notes/carrier.h"

#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <array>
#include <string>

namespace {

using namespace ombri;
using namespace ombri::bench;

constexpr double kNoteShare = 0.02;
constexpr int kIterations = 3;

struct Picture {
    const char* name;
    Dib image;
};

// Photo, photo with notes, screenshot, screenshot with notes; made on first use.
const Picture& picture(int64_t index)
{
    static const std::array<Picture, 4> pictures = [] {
        const Dib photo = makePhotoImage();
        const Dib screen = makeScreenshotImage();
        const NoteLayer notes = makeNoteMask(kPhotoWidth, kPhotoHeight, kNoteShare);
        return std::array<Picture, 4>{
            Picture{"photo", photo.clone()},
            Picture{"photo_notes", MakeCarrierCopy(photo, notes, SaveDepth::Bits24)},
            Picture{"screen", screen.clone()},
            Picture{"screen_notes", MakeCarrierCopy(screen, notes, SaveDepth::Bits24)}};
    }();
    return pictures[static_cast<size_t>(index)];
}

const std::string& folder()
{
    static const std::string made = makeTempFolder("ombri-png-save");
    return made;
}

double fileBytes(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<double>(info.st_size) : 0;
}

template <typename Save> void measure(benchmark::State& state, Save save)
{
    const Picture& p = picture(state.range(0));
    state.SetLabel(p.name);
    const std::string path = folder() + "/" + p.name + ".png";
    long long peak = 0;
    for (auto _ : state) {
        const long long before = statusBytes("VmRSS");
        resetHighWaterMark();
        std::string error;
        if (!save(path, p.image, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        peak = std::max(peak, statusBytes("VmHWM") - before);
    }
    state.counters["file_bytes"] = fileBytes(path);
    state.counters["peak_MiB"] = mib(peak);
}

void BM_LibpngDefault(benchmark::State& state)
{
    measure(state, [](const std::string& path, const Dib& image, std::string& error) {
        return encodePngPlain(image, path, error);
    });
}

void BM_WritePngFile(benchmark::State& state)
{
    measure(state, [](const std::string& path, const Dib& image, std::string& error) {
        const Status written = WritePngFile(path, image);
        error = written.error();
        return written.ok();
    });
}

BENCHMARK(BM_LibpngDefault)
    ->DenseRange(0, 3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kIterations);
BENCHMARK(BM_WritePngFile)
    ->DenseRange(0, 3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kIterations);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removeFolder(folder());
    return 0;
}
