// Throughput of opening and saving a large photograph, measured against libpng on its own, and of
// the pixel passes that find, embed and clear the notes.
//
//   BM_LibpngDecodeOnly / BM_OpenPng          open target: within 1.15x of the decode
//   BM_LibpngEncodeOnly / BM_SavePngCarrier   save target: within 1.10x of the encode
//   BM_ExtractNoteLayer, BM_MakeCarrierCopy/*, BM_ClearCarrier   target: >= 1 GB/s of pixels
//   BM_FindSignatureEveryPlace / BM_OpenPlainPng   target: < 1% (a plain picture is looked at in
//                                             all eight places a turn or mirror can move the
//                                             marker)
//
// bench/ratios.sh runs this program and prints the ratios.

#include "bench/photo_image.h"

#include "platform/scripted_prompt.h"
#include "writer/savable_writer_document.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include <memory>
#include <optional>
#include <string>
#include <zlib.h>

namespace ombri::bench {

using writer::SavableWriterDocument;

namespace {

// Everything the benchmarks share, made once per process on first use.
struct Fixture {
    std::string folder;
    std::string plainPath;   // the picture written by libpng alone
    std::string carrierPath; // the same picture saved by the writer with notes
    std::string encodePath;  // target of the encode baseline
    std::string savePath;    // target of the writer's save
    Dib image;               // the 24-bit picture
    Dib carrier24;           // the picture with the notes embedded at the 24-bit depth
    NoteLayer mask;
    size_t pixelBytes = 0;
    ScriptedPrompt savePrompt;
    std::unique_ptr<SavableWriterDocument> saveDoc; // opened from plainPath, notes merged, Bits24
    std::string error;                              // why the fixture could not be made
};

Fixture* g_fixture = nullptr;

std::unique_ptr<Fixture> makeFixture()
{
    auto f = std::make_unique<Fixture>();
    f->folder = makeTempFolder("ombri-bench");
    if (f->folder.empty()) {
        f->error = "cannot create a temporary folder";
        return f;
    }
    f->plainPath = f->folder + "/photo.png";
    f->carrierPath = f->folder + "/carrier.png";
    f->encodePath = f->folder + "/encoded.png";
    f->savePath = f->folder + "/saved.png";
    f->image = makePhotoImage();
    f->pixelBytes = pixelBytes(f->image);
    f->mask = makeNoteMask(kPhotoWidth, kPhotoHeight);
    f->carrier24 = MakeCarrierCopy(f->image, f->mask, SaveDepth::Bits24);
    if (f->image.isNull() || f->carrier24.isNull()) {
        f->error = "out of memory";
        return f;
    }
    if (!writeCarrierPng(f->image, f->mask, f->plainPath, f->carrierPath, f->error))
        return f;
    // The carrier must open with exactly the notes that went in.
    {
        ScriptedPrompt prompt;
        SavableWriterDocument check(prompt);
        if (!check.OnOpenDocument(f->carrierPath) || !check.noteLayer() ||
            countNotePixels(*check.noteLayer()) != countNotePixels(f->mask)) {
            f->error = "the carrier file does not give back its notes";
            return f;
        }
    }
    f->saveDoc = std::make_unique<SavableWriterDocument>(f->savePrompt);
    if (!f->saveDoc->OnOpenDocument(f->plainPath)) {
        f->error = "cannot open " + f->plainPath;
        return f;
    }
    f->saveDoc->MergeNotes(f->mask.data());
    f->saveDoc->setSaveDepth(SaveDepth::Bits24);
    if (std::FILE* file = std::fopen(f->carrierPath.c_str(), "rb")) {
        std::fseek(file, 0, SEEK_END);
        std::fprintf(stderr, "test picture %dx%d, %zu pixel bytes, carrier PNG %.1f MB in %s\n",
                     kPhotoWidth, kPhotoHeight, f->pixelBytes, std::ftell(file) / 1e6,
                     f->folder.c_str());
        std::fclose(file);
    }
    return f;
}

// The shared fixture, or null after reporting why it is missing.
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

void setBytes(benchmark::State& state, const Fixture& f)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(f.pixelBytes));
}

void BM_LibpngDecodeOnly(benchmark::State& state)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    for (auto _ : state) {
        const size_t decoded = decodePngPlain(f->carrierPath);
        if (decoded == 0) {
            state.SkipWithError("libpng could not decode the file");
            break;
        }
        benchmark::DoNotOptimize(decoded);
    }
    setBytes(state, *f);
}

// Opens the file in the writer's document, as many times as the benchmark runs, and checks that
// it came with notes or without them as expected.
void openRepeatedly(benchmark::State& state, const Fixture& f, const std::string& path,
                    bool withNotes)
{
    for (auto _ : state) {
        ScriptedPrompt prompt;
        SavableWriterDocument doc(prompt);
        if (!doc.OnOpenDocument(path) || doc.hasNoteLayer() != withNotes) {
            state.SkipWithError(withNotes ? "the carrier did not open with its notes"
                                          : "the plain picture did not open without notes");
            break;
        }
        benchmark::DoNotOptimize(doc.image().data());
    }
    setBytes(state, f);
}

void BM_OpenPng(benchmark::State& state)
{
    if (Fixture* f = fixture(state))
        openRepeatedly(state, *f, f->carrierPath, true);
}

void BM_OpenPlainPng(benchmark::State& state)
{
    if (Fixture* f = fixture(state))
        openRepeatedly(state, *f, f->plainPath, false);
}

// The plain picture with a gAMA chunk of 1.0 after its header, as an image editor might write it.
std::string withGammaChunk(const Fixture& f)
{
    std::FILE* in = std::fopen(f.plainPath.c_str(), "rb");
    if (!in)
        return {};
    std::vector<uint8_t> file;
    uint8_t buffer[1 << 16];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
        file.insert(file.end(), buffer, buffer + got);
    std::fclose(in);
    constexpr size_t kAfterHeader = 8 + 12 + 13; // signature, then IHDR with its 13 bytes
    if (file.size() < kAfterHeader)
        return {};
    std::vector<uint8_t> chunk = {0, 0, 0, 4, 'g', 'A', 'M', 'A', 0, 1, 0x86, 0xA0}; // 100000
    const uLong crc = crc32(0, chunk.data() + 4, 8);
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk.push_back(static_cast<uint8_t>(crc >> shift));
    file.insert(file.begin() + kAfterHeader, chunk.begin(), chunk.end());
    const std::string path = f.folder + "/gamma.png";
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return {};
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && written ? path : std::string();
}

void BM_OpenPlainPngWithGamma(benchmark::State& state)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    static const std::string path = withGammaChunk(*f);
    if (path.empty()) {
        state.SkipWithError("cannot write the picture with a gamma chunk");
        return;
    }
    openRepeatedly(state, *f, path, false);
}

void BM_FindSignatureEveryPlace(benchmark::State& state)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    for (auto _ : state) {
        const SignatureFind found = findOmbriSignature(f->image, true, SignatureForm::Interleaved);
        if (found.state != SignatureState::None) {
            state.SkipWithError("the plain picture holds a marker");
            break;
        }
        benchmark::DoNotOptimize(found);
    }
}

void BM_ExtractNoteLayer(benchmark::State& state)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    for (auto _ : state) {
        // As in an open: the layer is made afresh.
        std::optional<NoteLayer> notes;
        ExtractNoteLayer(f->carrier24, notes);
        benchmark::DoNotOptimize(notes->data());
    }
    setBytes(state, *f);
}

void BM_MakeCarrierCopy(benchmark::State& state, SaveDepth depth)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    for (auto _ : state) {
        Dib copy = MakeCarrierCopy(f->image, f->mask, depth);
        if (copy.isNull()) {
            state.SkipWithError("MakeCarrierCopy failed");
            break;
        }
        benchmark::DoNotOptimize(copy.data());
    }
    setBytes(state, *f);
}

void BM_ClearCarrier(benchmark::State& state)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    Dib image = f->carrier24.clone();
    for (auto _ : state) {
        ClearCarrier(image);
        benchmark::DoNotOptimize(image.data());
        benchmark::ClobberMemory();
    }
    setBytes(state, *f);
}

void BM_LibpngEncodeOnly(benchmark::State& state)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    std::string error;
    for (auto _ : state) {
        if (!encodePngPlain(f->image, f->encodePath, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    setBytes(state, *f);
}

void BM_SavePngCarrier(benchmark::State& state)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    for (auto _ : state) {
        if (f->saveDoc->SaveImageByExtension(f->savePath) !=
            SavableWriterDocument::SaveOutcome::Saved) {
            state.SkipWithError(f->saveDoc->lastSaveError().c_str());
            break;
        }
    }
    setBytes(state, *f);
}

// Each open or save takes seconds; the pixel passes take tens of milliseconds.
constexpr int kFileIterations = 3;
constexpr double kPassMinTime = 1.0;

BENCHMARK(BM_LibpngDecodeOnly)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kFileIterations);
BENCHMARK(BM_OpenPng)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(kFileIterations);
BENCHMARK(BM_OpenPlainPng)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kFileIterations);
BENCHMARK(BM_OpenPlainPngWithGamma)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kFileIterations);
BENCHMARK(BM_FindSignatureEveryPlace)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(kPassMinTime);
BENCHMARK(BM_ExtractNoteLayer)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(kPassMinTime);
BENCHMARK_CAPTURE(BM_MakeCarrierCopy, Alpha32, SaveDepth::Alpha32)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(kPassMinTime);
BENCHMARK_CAPTURE(BM_MakeCarrierCopy, Bits24, SaveDepth::Bits24)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(kPassMinTime);
BENCHMARK(BM_ClearCarrier)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(kPassMinTime);
BENCHMARK(BM_LibpngEncodeOnly)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kFileIterations);
BENCHMARK(BM_SavePngCarrier)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kFileIterations);

} // namespace

} // namespace ombri::bench

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (ombri::bench::g_fixture)
        ombri::bench::removeFolder(ombri::bench::g_fixture->folder);
    return 0;
}
