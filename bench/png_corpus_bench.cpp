// The writer's PNG save over the corpus (bench/png_corpus.h) against libpng's default encoding of
// the same pixels, in the same run: per picture, and per picture with 2% of its pixels under
// notes as the writer saves them, the time and size ratios and whether they keep the bounds.
//
//   png_corpus_bench [--seed=N] [--only=TEXT] [--repeat=N] [--check] [--keep=FOLDER]
//
// Bounds: size at most 1.00x libpng's (1.02x for photographs and scans); time at most 0.25x on
// the 24 MP pictures. --check also runs pngcheck on each of our files and reads it back, which
// must give the saved pixels exactly. Exits 1 when a bound is missed or a check fails.
// Run it on two processors with taskset -c 0,1 for the time bound.

#include "bench/photo_image.h"
#include "bench/png_corpus.h"

#include "formats/png.h"
#include "notes/carrier.h"

#include <QGuiApplication>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

using namespace ombri;
using namespace ombri::bench;

constexpr double kNoteShare = 0.02;
constexpr double kTimeBound = 0.25;
constexpr int64_t kTimedPixels = 24'000'000;

struct Options {
    uint64_t seed = 1;
    std::string only;
    int repeat = 1;
    bool check = false;
    std::string keep; // a folder to keep our files in, for looking at them
};

double fileBytes(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<double>(info.st_size) : 0;
}

// One run, in seconds; negative when it fails.
template <typename Save> double timed(Save save)
{
    const auto start = std::chrono::steady_clock::now();
    if (!save())
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Our file passes pngcheck and reads back to exactly the pixels saved.
bool checkFile(const std::string& path, const Dib& image, std::string& why)
{
    const std::string command = "pngcheck -q '" + path + "' >/dev/null";
    if (std::system(command.c_str()) != 0) {
        why = "pngcheck";
        return false;
    }
    auto read = ReadPngFile(path);
    const auto saved = dibGetLayout(image);
    const auto back = read ? dibGetLayout(read.value()) : std::nullopt;
    if (!saved || !back || back->width != saved->width || back->height != saved->height ||
        back->bitCount != saved->bitCount) {
        why = "read back";
        return false;
    }
    const size_t rowBytes = static_cast<size_t>(saved->width) * saved->bitCount / 8;
    for (int32_t y = 0; y < saved->height; ++y)
        if (std::memcmp(image.data() + saved->pixelOffset + y * saved->stride,
                        read.value().data() + back->pixelOffset + y * back->stride,
                        rowBytes) != 0) {
            why = "pixels differ";
            return false;
        }
    return true;
}

struct KindSummary {
    double worstSize = 0;
    double worstTime = 0;
    int pictures = 0;
    int missed = 0;
};

bool measure(const Options& options, const CorpusEntry& entry, const std::string& label,
             const Dib& image, const std::string& folder, std::map<CorpusKind, KindSummary>& kinds)
{
    const std::string theirsPath = folder + "/libpng.png";
    const std::string oursPath = folder + "/ours.png";
    std::string error;
    // The two take turns, so that a slow spell of the machine falls on both alike.
    double theirs = -1;
    double ours = -1;
    for (int i = 0; i < options.repeat; ++i) {
        const double one = timed([&] { return encodePngPlain(image, theirsPath, error); });
        const double other = timed([&] { return WritePngFile(oursPath, image).ok(); });
        if (one <= 0 || other <= 0) {
            theirs = ours = -1;
            break;
        }
        theirs = theirs < 0 ? one : std::min(theirs, one);
        ours = ours < 0 ? other : std::min(ours, other);
    }
    if (theirs <= 0 || ours <= 0) {
        std::printf("%-30s failed to save %s\n", label.c_str(), error.c_str());
        return false;
    }
    const double sizeRatio = fileBytes(oursPath) / fileBytes(theirsPath);
    const double timeRatio = ours / theirs;
    const bool timed = int64_t{entry.width} * entry.height >= kTimedPixels;
    bool ok = sizeRatio <= corpusSizeBound(entry.kind) && (!timed || timeRatio <= kTimeBound);
    std::string why;
    if (options.check && !checkFile(oursPath, image, why))
        ok = false;
    std::printf("%-11s %-32s %5.1f %7.0f %8.0f %6.3f%s %7.4f/%.2f %10.0f  %s %s\n",
                corpusKindName(entry.kind), label.c_str(),
                static_cast<double>(entry.width) * entry.height / 1e6, ours * 1e3, theirs * 1e3,
                timeRatio, timed ? "*" : " ", sizeRatio, corpusSizeBound(entry.kind),
                fileBytes(oursPath), ok ? "ok" : "MISSED", why.c_str());
    std::fflush(stdout);
    if (!options.keep.empty())
        (void)WritePngFile(options.keep + "/" + label + ".png", image);
    KindSummary& kind = kinds[entry.kind];
    kind.worstSize = std::max(kind.worstSize, sizeRatio);
    if (timed)
        kind.worstTime = std::max(kind.worstTime, timeRatio);
    ++kind.pictures;
    kind.missed += ok ? 0 : 1;
    return ok;
}

Options parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--seed=", 0) == 0)
            options.seed = std::strtoull(argument.c_str() + 7, nullptr, 0);
        else if (argument.rfind("--only=", 0) == 0)
            options.only = argument.substr(7);
        else if (argument.rfind("--repeat=", 0) == 0)
            options.repeat = std::max(1, std::atoi(argument.c_str() + 9));
        else if (argument.rfind("--keep=", 0) == 0)
            options.keep = argument.substr(7);
        else if (argument == "--check")
            options.check = true;
    }
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    // Text is drawn with Qt's fonts, which need an application but no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const Options options = parse(argc, argv);
    const std::string folder = makeTempFolder("ombri-png-corpus");
    if (folder.empty())
        return 2;
    std::printf("seed %llu; times in ms, the shortest of %d; * marks the time bound\n",
                static_cast<unsigned long long>(options.seed), options.repeat);
    std::printf("%-11s %-32s %5s %7s %8s %7s %12s %10s\n", "kind", "picture", "MP", "ours",
                "libpng", "time", "size/bound", "bytes");
    std::map<CorpusKind, KindSummary> kinds;
    bool ok = true;
    for (const CorpusEntry& entry : pngCorpus()) {
        if (!options.only.empty() && entry.name.find(options.only) == std::string::npos)
            continue;
        const Dib image = makeCorpusPicture(entry, options.seed);
        if (!image) {
            std::printf("%-30s could not be drawn\n", entry.name.c_str());
            ok = false;
            continue;
        }
        ok = measure(options, entry, entry.name, image, folder, kinds) && ok;
        const auto layout = dibGetLayout(image);
        const NoteLayer notes = makeNoteMask(layout->width, layout->height, kNoteShare);
        const Dib carrier = MakeCarrierCopy(
            image, notes, layout->bitCount == 32 ? SaveDepth::Alpha32 : SaveDepth::Bits24);
        ok = measure(options, entry, entry.name + "+notes", carrier, folder, kinds) && ok;
    }
    std::printf("\n%-11s %8s %10s %10s\n", "kind", "pictures", "worst size", "worst time");
    for (const auto& [kind, summary] : kinds)
        std::printf("%-11s %8d %10.4f %10.3f  %d missed\n", corpusKindName(kind), summary.pictures,
                    summary.worstSize, summary.worstTime, summary.missed);
    removeFolder(folder);
    return ok ? 0 : 1;
}
