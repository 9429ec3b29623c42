#include "formats/cineon_dpx.h"

#include "core/file_io.h"
#include "core/limits.h"
#include "core/printable_name.h"
#include "formats/diagnostics.h"

#include <array>
#include <atomic>
#include <cstring>

namespace ombri {

namespace {

constexpr size_t kDpxHeaderBytes = 1920;
constexpr size_t kCineonHeaderBytes = 1024;
constexpr uint32_t kDpxMagic = 0x53445058; // "SDPX": big-endian; "XPDS" files are little-endian
constexpr uint32_t kCineonMagic = 0x802A5FD7;
constexpr uint32_t kUndefinedFloat = 0x7F800000;
constexpr size_t kNameField = 100;
constexpr size_t kWordBytes = 4;

// What the header of either kind says about the pixel data.
struct FilmLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 0;
    uint32_t dataOffset = 0;
    uint32_t bitSize = 0;
};

// Header problems are traced with the file's name, which the memory variant does not know.
constexpr const char* kMemoryName = "(memory)";

Result<FilmLayout> readDpxHeader(ByteView file, const char* name)
{
    if (file.size < kDpxHeaderBytes) {
        formatDiagnostic("Not enough data for header in \"%s\".\n", name);
        return fail("the file ends inside its DPX header");
    }
    const uint8_t* h = file.data;
    const uint32_t magic = readBe32(h);
    if (magic != kDpxMagic) {
        formatDiagnostic("Bad magic number %8.8X in \"%s\".\n", magic, name);
        return fail("not a DPX file in big-endian byte order");
    }
    const uint16_t packing = readBe16(h + 804);
    if (packing != 1) {
        formatDiagnostic("Unknown packing %d\n", packing);
        return fail("unsupported DPX packing " + std::to_string(packing));
    }
    FilmLayout layout;
    layout.dataOffset = readBe32(h + 4);
    const uint16_t elements = readBe16(h + 770);
    const uint8_t descriptor = h[800];
    layout.width = readBe32(h + 772);
    layout.height = readBe32(h + 776);
    layout.bitSize = h[803];
    if (elements != 1)
        layout.channels = elements;
    else if (descriptor == 50)
        layout.channels = 3;
    else if (descriptor == 51 || descriptor == 52)
        layout.channels = 4;
    // Several image elements are separate pictures or planes, not interleaved samples, and a
    // run-length encoded element does not hold one word per pixel.
    if (elements != 1 || layout.channels != 3)
        return fail("only DPX files with one RGB image element are supported");
    if (readBe16(h + 806) == 1)
        return fail("run-length encoded DPX files are not supported");
    return layout;
}

Result<FilmLayout> readCineonHeader(ByteView file, const char* name)
{
    if (file.size < kCineonHeaderBytes) {
        formatDiagnostic("Not enough data for header in \"%s\".\n", name);
        return fail("the file ends inside its Cineon header");
    }
    const uint8_t* h = file.data;
    const uint32_t magic = readBe32(h);
    if (magic != kCineonMagic) {
        formatDiagnostic("Bad magic number %8.8X in \"%s\".\n", magic, name);
        return fail("not a Cineon file in big-endian byte order");
    }
    const uint8_t packing = h[681];
    if (packing != 5) {
        formatDiagnostic("Can't understand packing %d\n", packing);
        return fail("unsupported Cineon packing " + std::to_string(packing));
    }
    FilmLayout layout;
    layout.dataOffset = readBe32(h + 4);
    layout.channels = h[193];
    layout.bitSize = h[198];
    layout.width = readBe32(h + 200);
    layout.height = readBe32(h + 204);
    if (layout.channels != 3)
        return fail("only Cineon files with 3 channels are supported");
    // Line- or channel-interleaved data does not hold one word per pixel.
    if (h[680] != 0)
        return fail("only pixel-interleaved Cineon files are supported");
    return layout;
}

// Checks what the pixel word layout assumes and that every row is in the file. Allocates nothing.
Result<FilmLayout> readLayout(ByteView file, FilmFormat format, const char* name)
{
    auto parsed =
        format == FilmFormat::Dpx ? readDpxHeader(file, name) : readCineonHeader(file, name);
    if (!parsed)
        return parsed;
    const FilmLayout& layout = parsed.value();
    // One word per pixel: ceil(width x 3 / 3) words per row for three channels.
    const uint64_t rowBytes = uint64_t{layout.width} * kWordBytes;
    formatDiagnostic("size %u x %u x %u\n", layout.width, layout.height, layout.channels);
    formatDiagnostic("ImageStart %u, lineBufferLength %llu, implied length %llu\n",
                     layout.dataOffset, static_cast<unsigned long long>(rowBytes),
                     static_cast<unsigned long long>(layout.dataOffset + rowBytes * layout.height));
    if (layout.bitSize != 10)
        return fail("only 10-bit samples are supported, not " + std::to_string(layout.bitSize));
    if (layout.width == 0 || layout.height == 0)
        return fail("the image has no pixels");
    if (!pixelCountAllowed(layout.width, layout.height))
        return fail("the image is too large");
    if (layout.dataOffset > file.size) {
        formatDiagnostic("Couldn't seek to line %d at %u\n", 0, layout.dataOffset);
        return fail("the pixel data lies beyond the end of the file");
    }
    const uint64_t rowsPresent = (file.size - layout.dataOffset) / rowBytes;
    if (rowsPresent < layout.height) {
        formatDiagnostic("Couldn't read line %llu length %llu\n",
                         static_cast<unsigned long long>(rowsPresent),
                         static_cast<unsigned long long>(rowBytes));
        return fail("the file ends before its last pixel row");
    }
    return parsed;
}

void decodeRows(const uint8_t* data, const FilmLayout& layout, FilmImage& film, size_t stride)
{
    const size_t width = layout.width;
    const size_t height = layout.height;
    uint8_t* pixels = DibPixelStart(film.image);
    for (size_t row = 0; row < height; ++row) {
        const uint8_t* in = data + row * width * kWordBytes;
        uint32_t* words = film.pixelWords.data() + row * width;
        // File row 0 is the top of the picture; the DIB and the note layer start at the bottom.
        const size_t dibRow = height - 1 - row;
        uint8_t* out = pixels + dibRow * stride;
        uint8_t* notes = film.notes.data() + dibRow * width;
        for (size_t x = 0; x < width; ++x, in += kWordBytes, out += 3) {
            const uint32_t word = readBe32(in);
            words[x] = word;
            out[0] = static_cast<uint8_t>(word >> 4);
            out[1] = static_cast<uint8_t>(word >> 14);
            out[2] = static_cast<uint8_t>(word >> 24);
            notes[x] = static_cast<uint8_t>(word & 1);
        }
    }
}

Result<FilmImage> readFilm(ByteView file, FilmFormat format, const char* name)
{
    auto parsed = readLayout(file, format, name);
    if (!parsed)
        return fail(parsed.error());
    const FilmLayout& layout = parsed.value();
    auto stride = checkedRowStride(layout.width, 24);
    if (!stride || !checkedImageBytes(*stride, layout.height))
        return fail("the image is too large");
    FilmImage film;
    film.image =
        Dib::create(static_cast<int32_t>(layout.width), static_cast<int32_t>(layout.height), 24);
    if (film.image.isNull()) {
        formatDiagnostic("Couldn't malloc pixel buffer of size %llu\n",
                         static_cast<unsigned long long>(*stride * layout.height));
        return fail("out of memory");
    }
    // The file holds a word for each of these entries, so they cannot outgrow it.
    const size_t pixelCount = size_t{layout.width} * layout.height;
    film.notes.resize(pixelCount);
    film.pixelWords.resize(pixelCount);
    decodeRows(file.data + layout.dataOffset, layout, film, *stride);
    return film;
}

// Header writing.

std::atomic<FilmClock> g_clock{nullptr};

std::tm localNow()
{
    const FilmClock clock = g_clock.load();
    const std::time_t now = clock ? clock() : std::time(nullptr);
    std::tm local{};
    // Reads the time zone again, so a zone changed while the program runs is the one written.
    tzset();
    localtime_r(&now, &local);
    return local;
}

// The time in the given format cut to maxChars characters. strftime leaves its buffer undefined
// when the text does not fit, so the text is made in a roomy buffer first: a long time-zone name
// must shorten the field, not spoil it.
std::string formatTime(const std::tm& time, const char* format, size_t maxChars)
{
    char text[256];
    const size_t length = std::strftime(text, sizeof text, format, &time);
    return std::string(text, length < maxChars ? length : maxChars);
}

// The file name without its folders, at most 99 characters so the field keeps its zero.
std::string headerFileName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() > kNameField - 1)
        name.resize(kNameField - 1);
    return name;
}

void putText(uint8_t* field, const std::string& text)
{
    std::memcpy(field, text.data(), text.size());
}

void putFloat(uint8_t* field, float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    writeBe32(field, bits);
}

std::vector<uint8_t> makeDpxHeader(const std::string& name, uint32_t width, uint32_t height,
                                   const std::tm& now)
{
    std::vector<uint8_t> h(kDpxHeaderBytes);
    putText(&h[0], "SDPX");
    writeBe32(&h[4], kDpxHeaderBytes);
    putText(&h[8], "v1.0");
    writeBe32(&h[16], static_cast<uint32_t>(kDpxHeaderBytes + kWordBytes * width * height));
    writeBe32(&h[20], 0);
    writeBe32(&h[24], 1664);
    writeBe32(&h[28], 256);
    writeBe32(&h[32], 0);
    putText(&h[36], name);
    putText(&h[136], formatTime(now, "%Y:%m:%d:%H:%M:%S%Z", 23));
    putText(&h[160], "Tovin's DPX writer");
    writeBe32(&h[660], 0xFFFFFFFF);
    writeBe16(&h[768], 0);
    writeBe16(&h[770], 1);
    writeBe32(&h[772], width);
    writeBe32(&h[776], height);
    writeBe32(&h[780], 0);
    writeBe32(&h[784], 0);
    putFloat(&h[788], 0.0f);
    writeBe32(&h[792], 1023);
    putFloat(&h[796], 2.046f);
    h[800] = 50; // RGB
    h[801] = 0;
    h[802] = 0;
    h[803] = 10;
    writeBe16(&h[804], 1);
    writeBe16(&h[806], 0);
    writeBe32(&h[808], 0);
    writeBe32(&h[812], 0);
    writeBe32(&h[816], 0);
    return h;
}

std::vector<uint8_t> makeCineonHeader(const std::string& name, uint32_t width, uint32_t height,
                                      const std::tm& now)
{
    std::vector<uint8_t> h(kCineonHeaderBytes);
    const std::string date = formatTime(now, "%Y:%m:%d", 11);
    const std::string time = formatTime(now, "%H:%M:%S%Z", 11);
    writeBe32(&h[0], kCineonMagic);
    writeBe32(&h[4], kCineonHeaderBytes);
    writeBe32(&h[8], kCineonHeaderBytes);
    writeBe32(&h[12], 0);
    writeBe32(&h[16], 0);
    writeBe32(&h[20], static_cast<uint32_t>(kCineonHeaderBytes + kWordBytes * width * height));
    putText(&h[24], "V4.5");
    putText(&h[32], name);
    putText(&h[132], date);
    putText(&h[144], time);
    h[192] = 0;
    h[193] = 3;
    for (uint8_t channel = 0; channel < 3; ++channel) {
        uint8_t* d = &h[196 + 28 * channel];
        d[0] = 0;
        d[1] = static_cast<uint8_t>(channel + 1); // red, green, blue
        d[2] = 10;
        writeBe32(d + 4, width);
        writeBe32(d + 8, height);
        writeBe32(d + 12, 0);
        putFloat(d + 16, 0.0f);
        writeBe32(d + 20, 1023);
        putFloat(d + 24, 2.046f);
    }
    for (size_t i = 0; i < 8; ++i)
        writeBe32(&h[420 + 4 * i], kUndefinedFloat);
    putText(&h[452], "Tovin's Cineon writer.");
    h[680] = 0;
    h[681] = 5;
    putText(&h[720], name);
    putText(&h[820], date);
    putText(&h[832], time);
    putText(&h[844], "Tovin's Cineon writer");
    putText(&h[908], "Software");
    putText(&h[940], "001");
    writeBe32(&h[972], kUndefinedFloat);
    writeBe32(&h[976], kUndefinedFloat);
    putFloat(&h[980], 1.0f);
    return h;
}

// One file row of words from the DIB row that shows it: each 8-bit value at the top of its
// 10-bit field, bit 0 the note. The pixel step and the presence of notes are fixed per loop, so
// that each loop is straight-line code.
template <size_t Step, bool WithNotes>
void wordsFromPixelsLoop(const uint8_t* pixels, const uint8_t* notes, size_t width, uint8_t* out)
{
    for (size_t x = 0; x < width; ++x) {
        const uint8_t* pixel = pixels + Step * x;
        const uint32_t note = WithNotes ? uint32_t{notes[x] == 1} : 0;
        writeBe32(out + kWordBytes * x, uint32_t{pixel[2]} << 24 | uint32_t{pixel[1]} << 14 |
                                            uint32_t{pixel[0]} << 4 | note);
    }
}

void wordsFromPixels(const uint8_t* pixels, size_t step, const uint8_t* notes, size_t width,
                     uint8_t* out)
{
    if (step == 3)
        notes ? wordsFromPixelsLoop<3, true>(pixels, notes, width, out)
              : wordsFromPixelsLoop<3, false>(pixels, notes, width, out);
    else
        notes ? wordsFromPixelsLoop<4, true>(pixels, notes, width, out)
              : wordsFromPixelsLoop<4, false>(pixels, notes, width, out);
}

// One file row of kept words; bit 0 follows the note layer when there is one.
void wordsFromKept(const uint32_t* words, const uint8_t* notes, size_t width, uint8_t* out)
{
    if (!notes) {
        for (size_t x = 0; x < width; ++x, out += kWordBytes)
            writeBe32(out, words[x]);
        return;
    }
    for (size_t x = 0; x < width; ++x, out += kWordBytes)
        writeBe32(out, (words[x] & ~uint32_t{1}) | (notes[x] == 1 ? 1 : 0));
}

} // namespace

Result<FilmImage> readCineonDpxBytes(ByteView file, FilmFormat format)
{
    return readFilm(file, format, kMemoryName);
}

Result<FilmImage> ReadCineonDpxFile(const std::string& path, FilmFormat format)
{
    auto file = MappedFile::open(path);
    if (!file) {
        formatDiagnostic("Failed to open file \"%s\".\n", printableName(path).c_str());
        return fail(file.error());
    }
    return readFilm(file.value().view(), format, printableName(path).c_str());
}

void setFilmClock(FilmClock clock)
{
    g_clock.store(clock);
}

Status WriteCineonDpxFile(const std::string& path, FilmFormat format, const Dib& image,
                          const NoteLayer* notes, const std::vector<uint32_t>* pixelWords)
{
    auto layout = dibGetLayout(image);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        return fail("only 24- and 32-bit images can be written as DPX or Cineon");
    const size_t width = static_cast<size_t>(layout->width);
    const size_t height = static_cast<size_t>(layout->height);
    // The total file size is a 32-bit field.
    if (!pixelCountAllowed(width, height))
        return fail("the image is too large");
    if (notes && notes->size() != width * height)
        return fail("the note layer does not match the image");
    if (pixelWords && pixelWords->size() != width * height)
        pixelWords = nullptr;

    const std::string name = headerFileName(path);
    const std::tm now = localNow();
    const std::vector<uint8_t> header =
        format == FilmFormat::Dpx ? makeDpxHeader(name, layout->width, layout->height, now)
                                  : makeCineonHeader(name, layout->width, layout->height, now);
    std::vector<uint8_t> row(width * kWordBytes);

    AtomicFile file(path);
    if (!file.open()) {
        formatDiagnostic("Couldn't open file %s\n", printableName(path).c_str());
        return fail(file.error());
    }
    if (!file.write(header.data(), header.size())) {
        formatDiagnostic("Couldn't write image header\n");
        return fail(file.error());
    }
    const size_t step = layout->bitCount / 8;
    const uint8_t* pixels = image.data() + layout->pixelOffset;
    for (size_t fileRow = 0; fileRow < height; ++fileRow) {
        // File row 0 is the top of the picture: the last DIB and note-layer row.
        const size_t dibRow = height - 1 - fileRow;
        const uint8_t* rowNotes = notes ? notes->data() + dibRow * width : nullptr;
        if (pixelWords)
            wordsFromKept(pixelWords->data() + fileRow * width, rowNotes, width, row.data());
        else
            wordsFromPixels(pixels + dibRow * layout->stride, step, rowNotes, width, row.data());
        if (!file.write(row.data(), row.size())) {
            formatDiagnostic("Couldn't write line %zu length %zu\n", fileRow, row.size());
            return fail(file.error());
        }
    }
    if (!file.commit())
        return fail(file.error());
    return {};
}

} // namespace ombri
