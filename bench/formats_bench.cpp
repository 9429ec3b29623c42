// Throughput of opening, decoding and writing the formats other than PNG on a large photograph.
//
//   BM_LibjpegDecodeOnly / BM_OpenJpeg        open target: within 1.10x of libjpeg-turbo alone
//   BM_LibtiffRgbaReadOnly / BM_OpenTiff      open target: within 1.20x of libtiff alone
//   BM_DecodeGif, BM_DecodeSgi, BM_DecodeDpx, BM_DecodePcx (/Bytes from memory, /File from a path)
//                                             target: >= 300 MB/s of decoded pixels
//   BM_WriteSgiRle, BM_WriteDpx               target: >= 300 MB/s of pixels, file written
//   BM_WriteFloor/Sgi, BM_WriteFloor/Dpx      reference only: the same number of bytes written,
//                                             flushed and renamed with nothing encoded
//
// Bytes counted are the decoded pixels: width x height x 3 for 24-bit pictures, width x height
// for the 8-bit GIF. Every file is written once per process, on first use, in a temporary folder.
// bench/formats_ratios.sh runs this program and prints the ratios and speeds.

#include "bench/photo_image.h"

#include "core/file_io.h"
#include "formats/cineon_dpx.h"
#include "formats/gif.h"
#include "formats/jpeg.h"
#include "formats/pcx.h"
#include "formats/sgi.h"
#include "formats/tiff.h"
#include "platform/scripted_prompt.h"
#include "writer/savable_writer_document.h"

#include <benchmark/benchmark.h>

#include <cstdio> // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace ombri::bench {

using writer::SavableWriterDocument;

namespace {

// ---------------------------------------------------------------------------------------------
// A minimal GIF writer: the picture quantised to a 6 x 6 x 6 colour cube, one 8-bit LZW image.

constexpr int kCubeSteps = 6;
constexpr int kCubeLevel = 51; // 255 / (kCubeSteps - 1)

uint8_t cubeStep(uint8_t value)
{
    return static_cast<uint8_t>((value + kCubeLevel / 2) / kCubeLevel);
}

// Codes go out least significant bit first and are cut into sub-blocks at the end.
class GifCodeWriter {
  public:
    void put(unsigned code, unsigned width)
    {
        m_bits |= uint64_t{code} << m_count;
        m_count += width;
        while (m_count >= 8) {
            m_data.push_back(static_cast<uint8_t>(m_bits));
            m_bits >>= 8;
            m_count -= 8;
        }
    }

    void appendBlocks(std::vector<uint8_t>& out)
    {
        if (m_count != 0)
            m_data.push_back(static_cast<uint8_t>(m_bits));
        m_bits = 0;
        m_count = 0;
        for (size_t at = 0; at < m_data.size(); at += 255) {
            const size_t length = std::min<size_t>(255, m_data.size() - at);
            out.push_back(static_cast<uint8_t>(length));
            out.insert(out.end(), m_data.begin() + static_cast<ptrdiff_t>(at),
                       m_data.begin() + static_cast<ptrdiff_t>(at + length));
        }
        out.push_back(0);
    }

  private:
    std::vector<uint8_t> m_data;
    uint64_t m_bits = 0;
    unsigned m_count = 0;
};

// GIF's LZW with 8-bit values: a clear code first, a new clear code whenever the table has used
// every code below 4095, the width growing as the decoder expects.
void encodeLzw(const std::vector<uint8_t>& values, std::vector<uint8_t>& out)
{
    constexpr unsigned kMinimumCodeSize = 8;
    constexpr unsigned kClear = 1u << kMinimumCodeSize;
    constexpr unsigned kEnd = kClear + 1;
    constexpr unsigned kLastCode = 4095;
    constexpr unsigned kMaxWidth = 12;
    // The entry for string s followed by value v is child[s * 256 + v]; 0 means none (codes
    // below kEnd are never made). Only the slots set since the last clear are cleared again.
    std::vector<uint16_t> child(size_t{kLastCode + 1} * 256, 0);
    std::vector<uint32_t> used;
    used.reserve(kLastCode);
    GifCodeWriter writer;
    unsigned width = kMinimumCodeSize + 1;
    unsigned nextCode = kEnd + 1;
    auto emit = [&](unsigned code) {
        writer.put(code, width);
        if (nextCode >= (1u << width) && width < kMaxWidth)
            ++width;
    };

    out.push_back(static_cast<uint8_t>(kMinimumCodeSize));
    emit(kClear);
    unsigned prefix = values.empty() ? 0 : values[0];
    for (size_t i = 1; i < values.size(); ++i) {
        const uint8_t value = values[i];
        const uint32_t slot = prefix * 256u + value;
        if (child[slot] != 0) {
            prefix = child[slot];
            continue;
        }
        emit(prefix);
        if (nextCode >= kLastCode) {
            emit(kClear);
            for (uint32_t s : used)
                child[s] = 0;
            used.clear();
            width = kMinimumCodeSize + 1;
            nextCode = kEnd + 1;
        } else {
            child[slot] = static_cast<uint16_t>(nextCode++);
            used.push_back(slot);
        }
        prefix = value;
    }
    emit(prefix);
    emit(kEnd);
    writer.appendBlocks(out);
}

// The picture's colour-cube indices, one byte a pixel, top row first as a GIF holds them.
std::vector<uint8_t> quantise(const Dib& image)
{
    const auto layout = dibGetLayout(image);
    const size_t width = static_cast<size_t>(layout->width);
    const size_t height = static_cast<size_t>(layout->height);
    std::vector<uint8_t> values(width * height);
    const uint8_t* pixels = image.data() + layout->pixelOffset;
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* in = pixels + (height - 1 - y) * layout->stride;
        uint8_t* index = values.data() + y * width;
        for (size_t x = 0; x < width; ++x, in += 3)
            index[x] = static_cast<uint8_t>(cubeStep(in[2]) * kCubeSteps * kCubeSteps +
                                            cubeStep(in[1]) * kCubeSteps + cubeStep(in[0]));
    }
    return values;
}

// The whole GIF file: screen, 256-entry global table (216 used), one image, trailer.
std::vector<uint8_t> makeGif(const std::vector<uint8_t>& values, size_t width, size_t height)
{
    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    auto put16 = [&out](size_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    put16(width);
    put16(height);
    out.push_back(0xF7); // global table of 256 entries, 8 bits of colour resolution
    out.push_back(0);    // background
    out.push_back(0);    // aspect
    for (int i = 0; i < 256; ++i) {
        const int r = i / (kCubeSteps * kCubeSteps), g = i / kCubeSteps % kCubeSteps,
                  b = i % kCubeSteps;
        const bool inCube = i < kCubeSteps * kCubeSteps * kCubeSteps;
        out.push_back(static_cast<uint8_t>(inCube ? r * kCubeLevel : 0));
        out.push_back(static_cast<uint8_t>(inCube ? g * kCubeLevel : 0));
        out.push_back(static_cast<uint8_t>(inCube ? b * kCubeLevel : 0));
    }
    out.push_back(0x2C);
    put16(0);
    put16(0);
    put16(width);
    put16(height);
    out.push_back(0); // no local table, not interlaced
    encodeLzw(values, out);
    out.push_back(0x3B);
    return out;
}

// True when the rows of a decoded 8- or 24-bit image (bottom first) hold the expected plain rows
// (top first).
bool rowsMatch(const Dib& decoded, const uint8_t* expected, size_t rowBytes)
{
    const auto layout = dibGetLayout(decoded);
    if (!layout || layout->width != kPhotoWidth || layout->height != kPhotoHeight)
        return false;
    const size_t height = static_cast<size_t>(layout->height);
    const uint8_t* pixels = decoded.data() + layout->pixelOffset;
    for (size_t y = 0; y < height; ++y) {
        if (std::memcmp(pixels + (height - 1 - y) * layout->stride, expected + y * rowBytes,
                        rowBytes) != 0)
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// A minimal 24-bit PCX writer: three plane lines (red, green, blue) per scan line, each run-length
// encoded on its own.

void encodePcxLine(const uint8_t* line, size_t length, std::vector<uint8_t>& out)
{
    size_t at = 0;
    while (at < length) {
        const uint8_t value = line[at];
        size_t count = 1;
        while (count < 63 && at + count < length && line[at + count] == value)
            ++count;
        if (count > 1 || value >= 0xC0)
            out.push_back(static_cast<uint8_t>(0xC0 | count));
        out.push_back(value);
        at += count;
    }
}

std::vector<uint8_t> makePcx(const Dib& image)
{
    const auto layout = dibGetLayout(image);
    const size_t width = static_cast<size_t>(layout->width);
    const size_t height = static_cast<size_t>(layout->height);
    const size_t lineBytes = (width + 1) & ~size_t{1}; // even, as writers make it
    std::vector<uint8_t> out(128, 0);
    out[0] = 10; // manufacturer
    out[1] = 5;  // version 3.0
    out[2] = 1;  // run-length encoded
    out[3] = 8;  // bits per plane
    writeLe16(&out[8], static_cast<uint16_t>(width - 1));
    writeLe16(&out[10], static_cast<uint16_t>(height - 1));
    writeLe16(&out[12], 300);
    writeLe16(&out[14], 300);
    out[65] = 3;
    writeLe16(&out[66], static_cast<uint16_t>(lineBytes));
    writeLe16(&out[68], 1);
    out.reserve(128 + width * height * 3 * 11 / 10);

    std::vector<uint8_t> plane(lineBytes, 0);
    const uint8_t* pixels = image.data() + layout->pixelOffset;
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* row = pixels + (height - 1 - y) * layout->stride;
        for (int channel = 2; channel >= 0; --channel) { // red, green, blue
            for (size_t x = 0; x < width; ++x)
                plane[x] = row[3 * x + static_cast<size_t>(channel)];
            encodePcxLine(plane.data(), lineBytes, out);
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// The libraries alone: the baselines the document's open is measured against.

struct JpegPlainErrors {
    jpeg_error_mgr library;
    std::jmp_buf jump;
};

[[noreturn]] void jpegPlainExit(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegPlainErrors*>(info->err)->jump, 1);
}

struct JpegPlainRead {
    JpegPlainErrors errors;
    jpeg_decompress_struct info{};
    uint8_t* pixels = nullptr;
    JSAMPROW* rows = nullptr;
    ~JpegPlainRead()
    {
        jpeg_destroy_decompress(&info);
        std::free(rows);
        std::free(pixels);
    }
};

// Holds nothing with a destructor: the library may leave it by longjmp.
size_t decodeJpegPlain(JpegPlainRead& read, std::FILE* file)
{
    read.info.err = jpeg_std_error(&read.errors.library);
    read.errors.library.error_exit = jpegPlainExit;
    if (setjmp(read.errors.jump))
        return 0;
    jpeg_create_decompress(&read.info);
    jpeg_stdio_src(&read.info, file);
    jpeg_read_header(&read.info, TRUE);
    jpeg_start_decompress(&read.info);
    const size_t rowBytes = size_t{read.info.output_width} * read.info.output_components;
    const size_t height = read.info.output_height;
    read.pixels = static_cast<uint8_t*>(std::malloc(rowBytes * height));
    read.rows = static_cast<JSAMPROW*>(std::malloc(height * sizeof(JSAMPROW)));
    if (!read.pixels || !read.rows)
        return 0;
    for (size_t y = 0; y < height; ++y)
        read.rows[y] = read.pixels + y * rowBytes;
    while (read.info.output_scanline < read.info.output_height) {
        const JDIMENSION line = read.info.output_scanline;
        if (jpeg_read_scanlines(&read.info, read.rows + line, read.info.output_height - line) == 0)
            return 0;
    }
    jpeg_finish_decompress(&read.info);
    return rowBytes * height;
}

// libjpeg-turbo alone: the whole file decoded to RGB into one malloc'd buffer.
size_t decodeJpegPlain(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return 0;
    size_t decoded = 0;
    {
        JpegPlainRead read;
        decoded = decodeJpegPlain(read, file);
    }
    std::fclose(file);
    return decoded;
}

// libtiff alone: the whole picture through its RGBA interface into one malloc'd raster.
size_t readTiffRgbaPlain(const std::string& path)
{
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff)
        return 0;
    uint32_t width = 0, height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    const size_t bytes = size_t{width} * height * 4;
    auto* raster = static_cast<uint32_t*>(std::malloc(bytes));
    size_t decoded = 0;
    if (raster && TIFFReadRGBAImage(tiff, width, height, raster, 1))
        decoded = bytes;
    benchmark::DoNotOptimize(raster);
    std::free(raster);
    TIFFClose(tiff);
    return decoded;
}

// The floor under any writer: the bytes written, flushed, synced and renamed over the target,
// as the product's saves do, with nothing to encode.
bool writePlain(const std::string& path, const std::vector<uint8_t>& bytes)
{
    AtomicFile file(path);
    return file.open() && file.write(bytes.data(), bytes.size()) && file.commit();
}

// ---------------------------------------------------------------------------------------------
// The shared picture and the files made from it.

enum class Kind { Jpeg, Tiff, Gif, Sgi, Dpx, Pcx, Count };

constexpr const char* kExtension[] = {"jpg", "tif", "gif", "rgb", "dpx", "pcx"};

struct FormatFile {
    bool tried = false;
    std::string path;
    std::vector<uint8_t> bytes; // the whole file, for the decoders that take bytes
    std::string error;
};

struct Fixture {
    std::string folder;
    Dib image;     // the 24-bit picture
    Dib carrier24; // the picture with the notes embedded at the 24-bit depth
    NoteLayer mask;
    int64_t pixelBytes = 0; // width x height x 3
    std::array<FormatFile, static_cast<size_t>(Kind::Count)> files;
    std::string error; // why the fixture could not be made
};

Fixture* g_fixture = nullptr;

std::unique_ptr<Fixture> makeFixture()
{
    auto f = std::make_unique<Fixture>();
    f->folder = makeTempFolder("ombri-formats-bench");
    if (f->folder.empty()) {
        f->error = "cannot create a temporary folder";
        return f;
    }
    f->image = makePhotoImage();
    f->mask = makeNoteMask(kPhotoWidth, kPhotoHeight);
    f->carrier24 = MakeCarrierCopy(f->image, f->mask, SaveDepth::Bits24);
    if (f->image.isNull() || f->carrier24.isNull()) {
        f->error = "out of memory";
        return f;
    }
    f->pixelBytes = int64_t{kPhotoWidth} * kPhotoHeight * 3;
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

bool saveBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error)
{
    if (!writePlain(path, bytes)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

// Writes the file of one kind on first use and keeps its bytes in memory.
bool makeFile(Fixture& f, Kind kind, FormatFile& file)
{
    file.path = f.folder + "/photo." + kExtension[static_cast<size_t>(kind)];
    std::string& error = file.error;
    switch (kind) {
    case Kind::Jpeg:
        if (Status written = WriteJpegFile(file.path, f.image); !written) {
            error = written.error();
            return false;
        }
        break;
    case Kind::Tiff:
        if (Status written = WriteTiffFile(file.path, f.image); !written) {
            error = written.error();
            return false;
        }
        break;
    case Kind::Gif: {
        // The benchmark's own encoder is checked once: the file must decode to the indices.
        const std::vector<uint8_t> values = quantise(f.image);
        const std::vector<uint8_t> gif = makeGif(values, kPhotoWidth, kPhotoHeight);
        auto decoded = readGifBytes(ByteView{gif.data(), gif.size()});
        if (!decoded || !rowsMatch(decoded.value(), values.data(), kPhotoWidth)) {
            error = "the GIF written here does not decode to its pixels";
            return false;
        }
        if (!saveBytes(file.path, gif, error))
            return false;
        break;
    }
    case Kind::Sgi:
        if (Status written = WriteSgiFile(file.path, f.carrier24, SgiSignature::Write); !written) {
            error = written.error();
            return false;
        }
        break;
    case Kind::Dpx:
        if (Status written =
                WriteCineonDpxFile(file.path, FilmFormat::Dpx, f.image, &f.mask, nullptr);
            !written) {
            error = written.error();
            return false;
        }
        break;
    case Kind::Pcx: {
        const std::vector<uint8_t> pcx = makePcx(f.image);
        const std::vector<uint8_t> plain = DibToPlainRows(f.image, 3); // bottom first
        std::vector<uint8_t> topFirst(plain.size());
        const size_t rowBytes = size_t{kPhotoWidth} * 3;
        for (size_t y = 0; y < kPhotoHeight; ++y)
            std::memcpy(topFirst.data() + y * rowBytes,
                        plain.data() + (kPhotoHeight - 1 - y) * rowBytes, rowBytes);
        auto decoded = readPcxBytes(ByteView{pcx.data(), pcx.size()});
        if (!decoded || !rowsMatch(decoded.value(), topFirst.data(), rowBytes)) {
            error = "the PCX written here does not decode to its pixels";
            return false;
        }
        if (!saveBytes(file.path, pcx, error))
            return false;
        break;
    }
    case Kind::Count:
        return false;
    }
    auto bytes = readWholeFile(file.path);
    if (!bytes) {
        error = "cannot read back " + file.path + ": " + bytes.error();
        return false;
    }
    file.bytes = bytes.take();
    std::fprintf(stderr, "%s: %.1f MB\n", file.path.c_str(), file.bytes.size() / 1e6);
    return true;
}

const FormatFile* formatFile(benchmark::State& state, Fixture& f, Kind kind)
{
    FormatFile& file = f.files[static_cast<size_t>(kind)];
    if (!file.tried) {
        file.tried = true;
        if (!makeFile(f, kind, file) && file.error.empty())
            file.error = "cannot write the test file";
    }
    if (!file.error.empty()) {
        state.SkipWithError(file.error.c_str());
        return nullptr;
    }
    return &file;
}

void setBytes(benchmark::State& state, int64_t bytesPerIteration)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytesPerIteration);
}

// Decoded images are checked once, outside the timing, for the size of the picture.
bool sameSize(const Dib& image)
{
    return DibGetWidth(image) == kPhotoWidth && DibGetHeight(image) == kPhotoHeight;
}

// ---------------------------------------------------------------------------------------------
// Opening as the document does, against the library alone.

void BM_LibjpegDecodeOnly(benchmark::State& state)
{
    Fixture* f = fixture(state);
    const FormatFile* file = f ? formatFile(state, *f, Kind::Jpeg) : nullptr;
    if (!file)
        return;
    for (auto _ : state) {
        const size_t decoded = decodeJpegPlain(file->path);
        if (decoded != static_cast<size_t>(f->pixelBytes)) {
            state.SkipWithError("libjpeg could not decode the file");
            break;
        }
        benchmark::DoNotOptimize(decoded);
    }
    setBytes(state, f->pixelBytes);
}

void openDocument(benchmark::State& state, Kind kind)
{
    Fixture* f = fixture(state);
    const FormatFile* file = f ? formatFile(state, *f, kind) : nullptr;
    if (!file)
        return;
    for (auto _ : state) {
        ScriptedPrompt prompt;
        SavableWriterDocument doc(prompt);
        if (!doc.OnOpenDocument(file->path) || !sameSize(doc.image())) {
            state.SkipWithError(("the document did not open: " + doc.lastOpenError()).c_str());
            break;
        }
        benchmark::DoNotOptimize(doc.image().data());
    }
    setBytes(state, f->pixelBytes);
}

void BM_OpenJpeg(benchmark::State& state)
{
    openDocument(state, Kind::Jpeg);
}

void BM_LibtiffRgbaReadOnly(benchmark::State& state)
{
    Fixture* f = fixture(state);
    const FormatFile* file = f ? formatFile(state, *f, Kind::Tiff) : nullptr;
    if (!file)
        return;
    for (auto _ : state) {
        const size_t decoded = readTiffRgbaPlain(file->path);
        if (decoded == 0) {
            state.SkipWithError("libtiff could not read the file");
            break;
        }
        benchmark::DoNotOptimize(decoded);
    }
    setBytes(state, f->pixelBytes);
}

void BM_OpenTiff(benchmark::State& state)
{
    openDocument(state, Kind::Tiff);
}

// ---------------------------------------------------------------------------------------------
// The decoders on their own, from bytes already in memory or from the path.

enum class Source { Bytes, File };

// Runs read(bytes) or read(path) and hands the result to check, which answers whether the
// picture came back whole.
template <typename ReadBytes, typename ReadFile, typename Check>
void decode(benchmark::State& state, Kind kind, Source source, int64_t bytesPerIteration,
            ReadBytes readBytes, ReadFile readFile, Check check)
{
    Fixture* f = fixture(state);
    const FormatFile* file = f ? formatFile(state, *f, kind) : nullptr;
    if (!file)
        return;
    const ByteView view{file->bytes.data(), file->bytes.size()};
    for (auto _ : state) {
        auto result = source == Source::Bytes ? readBytes(view) : readFile(file->path);
        if (!result || !check(result.value())) {
            state.SkipWithError(result ? "the picture came back with the wrong size"
                                       : result.error().c_str());
            break;
        }
        benchmark::DoNotOptimize(&result.value());
    }
    setBytes(state, bytesPerIteration == 0 ? f->pixelBytes : bytesPerIteration);
}

void BM_DecodeGif(benchmark::State& state, Source source)
{
    const int64_t values = int64_t{kPhotoWidth} * kPhotoHeight; // one byte a pixel
    decode(state, Kind::Gif, source, values, readGifBytes, ReadGifFile,
           [](const Dib& image) { return sameSize(image) && DibGetBitCount(image) == 8; });
}

void BM_DecodeSgi(benchmark::State& state, Source source)
{
    decode(state, Kind::Sgi, source, 0, readSgiBytes, ReadSgiFile,
           [](const Dib& image) { return sameSize(image); });
}

void BM_DecodeDpx(benchmark::State& state, Source source)
{
    decode(
        state, Kind::Dpx, source, 0,
        [](ByteView bytes) { return readCineonDpxBytes(bytes, FilmFormat::Dpx); },
        [](const std::string& path) { return ReadCineonDpxFile(path, FilmFormat::Dpx); },
        [](const FilmImage& film) { return sameSize(film.image); });
}

void BM_DecodePcx(benchmark::State& state, Source source)
{
    decode(state, Kind::Pcx, source, 0, readPcxBytes, ReadPcxFile,
           [](const Dib& image) { return sameSize(image); });
}

// ---------------------------------------------------------------------------------------------
// The writers, the file included.

void BM_WriteSgiRle(benchmark::State& state)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    const std::string path = f->folder + "/written.rgb";
    for (auto _ : state) {
        // The carrier copy, as the document hands it over when the picture has notes.
        if (Status written = WriteSgiFile(path, f->carrier24, SgiSignature::Write); !written) {
            state.SkipWithError(written.error().c_str());
            break;
        }
    }
    setBytes(state, f->pixelBytes);
}

void BM_WriteDpx(benchmark::State& state)
{
    Fixture* f = fixture(state);
    if (!f)
        return;
    const std::string path = f->folder + "/written.dpx";
    for (auto _ : state) {
        if (Status written = WriteCineonDpxFile(path, FilmFormat::Dpx, f->image, &f->mask, nullptr);
            !written) {
            state.SkipWithError(written.error().c_str());
            break;
        }
    }
    setBytes(state, f->pixelBytes);
}

// The bytes of the file the writer makes, written with nothing to encode.
void BM_WriteFloor(benchmark::State& state, Kind kind)
{
    Fixture* f = fixture(state);
    const FormatFile* file = f ? formatFile(state, *f, kind) : nullptr;
    if (!file)
        return;
    const std::string path =
        f->folder + "/floor." + std::string(kExtension[static_cast<size_t>(kind)]);
    for (auto _ : state) {
        if (!writePlain(path, file->bytes)) {
            state.SkipWithError("cannot write the file");
            break;
        }
    }
    setBytes(state, f->pixelBytes);
}

// An open takes about a second; a decode or a write a fraction of one.
constexpr int kOpenIterations = 3;
constexpr int kCodecIterations = 5;

BENCHMARK(BM_LibjpegDecodeOnly)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kOpenIterations);
BENCHMARK(BM_OpenJpeg)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(kOpenIterations);
BENCHMARK(BM_LibtiffRgbaReadOnly)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kOpenIterations);
BENCHMARK(BM_OpenTiff)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(kOpenIterations);
BENCHMARK_CAPTURE(BM_DecodeGif, Bytes, Source::Bytes)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kCodecIterations);
BENCHMARK_CAPTURE(BM_DecodeGif, File, Source::File)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kCodecIterations);
BENCHMARK_CAPTURE(BM_DecodeSgi, Bytes, Source::Bytes)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kCodecIterations);
BENCHMARK_CAPTURE(BM_DecodeSgi, File, Source::File)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kCodecIterations);
BENCHMARK_CAPTURE(BM_DecodeDpx, Bytes, Source::Bytes)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kCodecIterations);
BENCHMARK_CAPTURE(BM_DecodeDpx, File, Source::File)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kCodecIterations);
BENCHMARK_CAPTURE(BM_DecodePcx, Bytes, Source::Bytes)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kCodecIterations);
BENCHMARK_CAPTURE(BM_DecodePcx, File, Source::File)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kCodecIterations);
BENCHMARK(BM_WriteSgiRle)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kCodecIterations);
BENCHMARK(BM_WriteDpx)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(kCodecIterations);
BENCHMARK_CAPTURE(BM_WriteFloor, Sgi, Kind::Sgi)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kCodecIterations);
BENCHMARK_CAPTURE(BM_WriteFloor, Dpx, Kind::Dpx)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kCodecIterations);

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
