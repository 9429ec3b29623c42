#include "bench/photo_image.h"

#include "formats/png.h"
#include "platform/scripted_prompt.h"
#include "writer/savable_writer_document.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace ombri::bench {

using writer::SavableWriterDocument;

namespace {

constexpr double kTwoPi = 6.283185307179586;

// Standard deviation of the per-channel noise, in 8-bit levels. Together with the gradients it
// sets how well the picture compresses: about 37 MB for 6000 x 4000 at zlib level 6.
constexpr double kNoiseSigma = 3.2;
constexpr uint64_t kPhotoSeed = 0x0B5E55ED5EEDull;

// 4096 rounded normal samples, looked up with 12 random bits each.
std::vector<int8_t> makeNoiseTable(SplitMix64& random, double sigma)
{
    std::vector<int8_t> table(4096);
    for (size_t i = 0; i < table.size(); i += 2) {
        const double u1 = 1.0 - random.uniform(); // (0, 1]
        const double u2 = random.uniform();
        const double radius = std::sqrt(-2.0 * std::log(u1)) * sigma;
        const double a = radius * std::cos(kTwoPi * u2);
        const double b = radius * std::sin(kTwoPi * u2);
        table[i] = static_cast<int8_t>(std::clamp(std::lround(a), -60l, 60l));
        table[i + 1] = static_cast<int8_t>(std::clamp(std::lround(b), -60l, 60l));
    }
    return table;
}

// An object of the scene: a rectangle or a disc whose colour differs from the background by a
// fixed offset per channel, with a soft shading across it.
struct Shape {
    bool disc = false;
    int left = 0, top = 0, right = 0, bottom = 0; // inclusive bounds
    int offset[3] = {0, 0, 0};
    float shade = 0; // levels added per pixel across the shape
};

std::vector<Shape> makeShapes(SplitMix64& random, int width, int height)
{
    std::vector<Shape> shapes;
    for (int i = 0; i < 24; ++i) {
        Shape shape;
        shape.disc = i % 2 == 1;
        const int w = random.range(width / 20, width / 4);
        const int h = shape.disc ? w : random.range(height / 20, height / 3);
        shape.left = random.range(-w / 2, width - w / 2);
        shape.top = random.range(-h / 2, height - h / 2);
        shape.right = shape.left + w - 1;
        shape.bottom = shape.top + h - 1;
        const int brightness = random.range(-60, 60);
        for (int& offset : shape.offset)
            offset = brightness + random.range(-25, 25);
        shape.shade = static_cast<float>(random.range(-30, 30)) / static_cast<float>(w);
        shapes.push_back(shape);
    }
    return shapes;
}

// x range of a shape on one row, or false when the row misses it.
bool spanOnRow(const Shape& shape, int y, int width, int& first, int& last)
{
    if (y < shape.top || y > shape.bottom)
        return false;
    if (shape.disc) {
        const double radius = (shape.right - shape.left + 1) / 2.0;
        const double centreX = shape.left + radius;
        const double dy = y + 0.5 - (shape.top + radius);
        const double half = std::sqrt(std::max(0.0, radius * radius - dy * dy));
        first = static_cast<int>(std::ceil(centreX - half));
        last = static_cast<int>(std::floor(centreX + half)) - 1;
    } else {
        first = shape.left;
        last = shape.right;
    }
    first = std::max(first, 0);
    last = std::min(last, width - 1);
    return first <= last;
}

struct PngWrite {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWrite() { png_destroy_write_struct(&png, &info); }
};

// Holds nothing to clean up: libpng leaves it by longjmp on any error.
bool encodeRows(png_structp png, png_infop info, std::FILE* file, uint32_t width, uint32_t height,
                int colourType, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

struct PngRead {
    png_structp png = nullptr;
    png_infop info = nullptr;
    uint8_t* pixels = nullptr;
    png_bytep* rows = nullptr;
    ~PngRead()
    {
        png_destroy_read_struct(&png, &info, nullptr);
        std::free(rows);
        std::free(pixels);
    }
};

// Like encodeRows: every buffer belongs to the caller's PngRead.
size_t decodeRows(PngRead& read, std::FILE* file)
{
    if (setjmp(png_jmpbuf(read.png)))
        return 0;
    png_init_io(read.png, file);
    png_read_info(read.png, read.info);
    png_set_bgr(read.png);
    png_read_update_info(read.png, read.info);
    const size_t height = png_get_image_height(read.png, read.info);
    const size_t rowBytes = png_get_rowbytes(read.png, read.info);
    read.pixels = static_cast<uint8_t*>(std::malloc(rowBytes * height));
    read.rows = static_cast<png_bytep*>(std::malloc(height * sizeof(png_bytep)));
    if (!read.pixels || !read.rows)
        return 0;
    for (size_t y = 0; y < height; ++y)
        read.rows[y] = read.pixels + y * rowBytes;
    png_read_image(read.png, read.rows);
    png_read_end(read.png, nullptr);
    return rowBytes * height;
}

} // namespace

Dib makePhotoImage(int32_t width, int32_t height)
{
    return makePhotoImage(width, height, kPhotoSeed, kNoiseSigma);
}

Dib makePhotoImage(int32_t width, int32_t height, uint64_t seed, double noiseSigma)
{
    Dib image = Dib::create(width, height, 24);
    auto layout = dibGetLayout(image);
    if (!layout)
        return Dib();
    SplitMix64 random{seed};
    const std::vector<int8_t> noise = makeNoiseTable(random, noiseSigma);
    const std::vector<Shape> shapes = makeShapes(random, width, height);

    // Smooth light: one term along x, one along y and one along the diagonal, per channel.
    std::vector<float> along[3], down[3], diagonal[3];
    float base[3];
    for (int c = 0; c < 3; ++c) {
        base[c] = static_cast<float>(random.range(95, 150));
        const double p[5] = {random.uniform() * kTwoPi, random.uniform() * kTwoPi,
                             random.uniform() * kTwoPi, random.uniform() * kTwoPi,
                             random.uniform() * kTwoPi};
        along[c].resize(static_cast<size_t>(width));
        for (int x = 0; x < width; ++x) {
            const double u = static_cast<double>(x) / width;
            along[c][x] = static_cast<float>(40 * std::sin(kTwoPi * 1.1 * u + p[0]) +
                                             10 * std::sin(kTwoPi * 4.7 * u + p[1]));
        }
        down[c].resize(static_cast<size_t>(height));
        for (int y = 0; y < height; ++y) {
            const double v = static_cast<double>(y) / height;
            down[c][y] = static_cast<float>(35 * std::cos(kTwoPi * 0.8 * v + p[2]) +
                                            9 * std::sin(kTwoPi * 5.3 * v + p[3]));
        }
        diagonal[c].resize(static_cast<size_t>(width) + height);
        for (int d = 0; d < width + height; ++d) {
            const double t = static_cast<double>(d) / (width + height);
            diagonal[c][d] = static_cast<float>(18 * std::sin(kTwoPi * 2.3 * t + p[4]));
        }
    }

    std::vector<float> row(static_cast<size_t>(width) * 3);
    uint8_t* pixels = image.data() + layout->pixelOffset;
    uint64_t bits = 0;
    int bitsLeft = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c)
                row[3 * x + c] = base[c] + along[c][x] + down[c][y] + diagonal[c][x + y];
        }
        for (const Shape& shape : shapes) {
            int first = 0, last = 0;
            if (!spanOnRow(shape, y, width, first, last))
                continue;
            for (int x = first; x <= last; ++x) {
                const float shading = shape.shade * static_cast<float>(x - shape.left);
                for (int c = 0; c < 3; ++c)
                    row[3 * x + c] += static_cast<float>(shape.offset[c]) + shading;
            }
        }
        // The picture's top row is the last one in memory.
        uint8_t* out = pixels + static_cast<size_t>(height - 1 - y) * layout->stride;
        for (size_t i = 0; i < row.size(); ++i) {
            if (bitsLeft < 12) {
                bits = random.next();
                bitsLeft = 64;
            }
            const int sample = noise[bits & 0xFFF];
            bits >>= 12;
            bitsLeft -= 12;
            const long value = std::lround(row[i]) + sample;
            out[i] = static_cast<uint8_t>(std::clamp(value, 0l, 255l));
        }
    }
    return image;
}

NoteLayer makeNoteMask(int32_t width, int32_t height)
{
    NoteLayer mask(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    auto set = [&](int x, int y) {
        if (x >= 0 && x < width && y >= 0 && y < height)
            mask[static_cast<size_t>(height - 1 - y) * width + x] = 1; // rows bottom first
    };
    SplitMix64 random{0x4E07E5ull};
    // Lines of cursive words: a wavy pen stroke five pixels thick.
    const int lineGap = std::max(height / 30, 12);
    for (int line = lineGap * 2; line < height - lineGap * 2; line += lineGap) {
        int x = width / 12;
        while (x < width - width / 12) {
            const int wordLength = random.range(width / 60, width / 15);
            const double phase = random.uniform() * kTwoPi;
            for (int i = 0; i < wordLength && x + i < width; ++i) {
                const int centre =
                    line + static_cast<int>(lineGap / 5.0 * std::sin(0.21 * (x + i) + phase));
                for (int t = -2; t <= 2; ++t)
                    set(x + i, centre + t);
            }
            x += wordLength + random.range(width / 200, width / 80);
        }
    }
    // A few rings drawn around things.
    for (int ring = 0; ring < 4; ++ring) {
        const double cx = random.range(width / 5, width * 4 / 5);
        const double cy = random.range(height / 5, height * 4 / 5);
        const double radius = random.range(height / 12, height / 5);
        const int steps = static_cast<int>(kTwoPi * radius * 2);
        for (int s = 0; s < steps; ++s) {
            const double angle = kTwoPi * s / steps;
            const int px = static_cast<int>(cx + radius * std::cos(angle));
            const int py = static_cast<int>(cy + radius * std::sin(angle));
            for (int dy = -4; dy <= 4; ++dy)
                for (int dx = -4; dx <= 4; ++dx)
                    set(px + dx, py + dy);
        }
    }
    return mask;
}

Dib makeScreenshotImage(int32_t width, int32_t height)
{
    std::vector<Dib> shots;
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(OMBRI_SCREENSHOT_DIR))
        if (entry.path().extension() == ".png")
            names.push_back(entry.path());
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        auto shot = ReadPngFile(name.string());
        if (shot && dibGetLayout(shot.value()))
            shots.push_back(shot.take());
    }
    Dib image = Dib::create(width, height, 24);
    auto layout = dibGetLayout(image);
    if (!layout)
        return Dib();
    uint8_t* pixels = image.data() + layout->pixelOffset;
    // A window-grey desktop behind the shots.
    std::fill(pixels, pixels + layout->pixelBytes, uint8_t{0xD6});
    if (shots.empty())
        return image;
    // Shots side by side in rows, top row first, cycling through them until the picture is full.
    int32_t x = 0;
    int32_t top = 0;
    int32_t rowHeight = 0;
    for (size_t next = 0; top < height; ++next) {
        const Dib& shot = shots[next % shots.size()];
        const auto shotLayout = dibGetLayout(shot);
        if (x > 0 && x + shotLayout->width > width) {
            x = 0;
            top += rowHeight;
            rowHeight = 0;
            continue;
        }
        const int32_t shotBytes = shotLayout->bitCount / 8;
        for (int32_t sy = 0; sy < shotLayout->height && top + sy < height; ++sy) {
            // Both are bottom-up: picture row r (from the top) is memory row height-1-r.
            const uint8_t* from =
                shot.data() + shotLayout->pixelOffset +
                static_cast<size_t>(shotLayout->height - 1 - sy) * shotLayout->stride;
            uint8_t* to = pixels + static_cast<size_t>(height - 1 - (top + sy)) * layout->stride;
            for (int32_t sx = 0; sx < shotLayout->width && x + sx < width; ++sx)
                std::copy(from + sx * shotBytes, from + sx * shotBytes + 3, to + (x + sx) * 3);
        }
        x += shotLayout->width;
        rowHeight = std::max(rowHeight, shotLayout->height);
    }
    return image;
}

NoteLayer makeNoteMask(int32_t width, int32_t height, double share)
{
    NoteLayer mask = makeNoteMask(width, height);
    size_t marked = 0;
    for (uint8_t bit : mask)
        marked += bit;
    if (mask.empty() || marked <= share * static_cast<double>(mask.size()))
        return mask;
    // Bands of rows are cleared evenly over the picture until the share is left, so what stays
    // is still whole strokes spread over all of it.
    const double keep = share * static_cast<double>(mask.size()) / static_cast<double>(marked);
    constexpr int32_t kBand = 16;
    for (int32_t band = 0; band * kBand < height; ++band) {
        if (std::floor((band + 1) * keep) > std::floor(band * keep))
            continue;
        const size_t first = static_cast<size_t>(band) * kBand * static_cast<size_t>(width);
        const size_t last = std::min(mask.size(), first + kBand * static_cast<size_t>(width));
        std::fill(mask.begin() + static_cast<std::ptrdiff_t>(first),
                  mask.begin() + static_cast<std::ptrdiff_t>(last), uint8_t{0});
    }
    return mask;
}

size_t pixelBytes(const Dib& image)
{
    auto layout = dibGetLayout(image);
    return layout ? layout->pixelBytes : 0;
}

bool encodePngPlain(const Dib& image, const std::string& path, std::string& error)
{
    auto layout = dibGetLayout(image);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32)) {
        error = "not a 24- or 32-bit image";
        return false;
    }
    const size_t height = static_cast<size_t>(layout->height);
    std::vector<png_bytep> rows(height);
    const uint8_t* pixels = image.data() + layout->pixelOffset;
    for (size_t y = 0; y < height; ++y)
        rows[y] = const_cast<png_bytep>(pixels + (height - 1 - y) * layout->stride);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "cannot create " + path;
        return false;
    }
    bool written = false;
    {
        PngWrite write;
        write.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        if (write.png)
            write.info = png_create_info_struct(write.png);
        if (write.png && write.info)
            written =
                encodeRows(write.png, write.info, file, static_cast<uint32_t>(layout->width),
                           static_cast<uint32_t>(height),
                           layout->bitCount == 32 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                           rows.data());
    }
    if (std::fclose(file) != 0)
        written = false;
    if (!written)
        error = "libpng could not write " + path;
    return written;
}

size_t decodePngPlain(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return 0;
    size_t decoded = 0;
    {
        PngRead read;
        read.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        if (read.png)
            read.info = png_create_info_struct(read.png);
        if (read.png && read.info)
            decoded = decodeRows(read, file);
    }
    std::fclose(file);
    return decoded;
}

bool writeCarrierPng(const Dib& image, const NoteLayer& mask, const std::string& plainPath,
                     const std::string& carrierPath, std::string& error)
{
    if (!encodePngPlain(image, plainPath, error))
        return false;
    ScriptedPrompt prompt;
    SavableWriterDocument doc(prompt);
    if (!doc.OnOpenDocument(plainPath)) {
        error = "cannot open " + plainPath + ": " + doc.lastOpenError();
        return false;
    }
    if (mask.size() != static_cast<size_t>(doc.width()) * static_cast<size_t>(doc.height())) {
        error = "the note mask does not fit the picture";
        return false;
    }
    doc.MergeNotes(mask.data());
    doc.setSaveDepth(SaveDepth::Bits24);
    if (doc.SaveImageByExtension(carrierPath) != SavableWriterDocument::SaveOutcome::Saved) {
        error = "cannot save " + carrierPath + ": " + doc.lastSaveError();
        return false;
    }
    return true;
}

std::string makeTempFolder(const char* prefix)
{
    const char* root = std::getenv("TMPDIR");
    std::string pattern = std::string(root && *root ? root : "/tmp") + "/" + prefix + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data()))
        return std::string();
    return std::string(name.data());
}

void removeFolder(const std::string& folder)
{
    if (folder.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

} // namespace ombri::bench
