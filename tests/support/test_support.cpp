#include "support/test_support.h"

#include "core/bytes.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace ombri::test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "ombri-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

Dib makePatternImage(int32_t width, int32_t height, uint16_t bitCount, uint32_t seed)
{
    Dib dib = Dib::create(width, height, bitCount);
    auto layout = dibGetLayout(dib);
    if (!layout)
        return dib;
    const int bytes = bitCount / 8;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = dib.data() + layout->pixelOffset + static_cast<size_t>(y) * layout->stride;
        for (int32_t i = 0; i < width * bytes; ++i) {
            uint32_t v = static_cast<uint32_t>(i) * 2654435761u ^
                         static_cast<uint32_t>(y) * 40503u ^ seed * 97u;
            row[i] = static_cast<uint8_t>((v >> 13) ^ (v >> 5));
        }
    }
    return dib;
}

NoteLayer makePatternNotes(int32_t width, int32_t height, uint32_t seed)
{
    NoteLayer notes(static_cast<size_t>(width) * static_cast<size_t>(height));
    uint32_t state = seed * 2654435761u + 1;
    for (auto& note : notes) {
        state = state * 1103515245u + 12345u;
        note = ((state >> 16) % 3) == 0 ? 1 : 0;
    }
    return notes;
}

const uint8_t kQuadrantColours[4][3] = {
    {220, 30, 30}, {30, 200, 40}, {30, 40, 220}, {230, 220, 30}};

Dib makeQuadrantImage(int32_t width, int32_t height)
{
    Dib dib = Dib::create(width, height, 24);
    if (dib.isNull())
        return dib;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* rgb = kQuadrantColours[(y >= height / 2 ? 2 : 0) + (x >= width / 2)];
            auto* pixel = const_cast<uint8_t*>(pixelAt(dib, x, y));
            pixel[0] = rgb[2];
            pixel[1] = rgb[1];
            pixel[2] = rgb[0];
        }
    return dib;
}

std::vector<uint8_t> exifOrientationMarker(uint16_t orientation, bool bigEndian)
{
    std::vector<uint8_t> data = {'E', 'x', 'i', 'f', 0, 0};
    auto put16 = [&](uint16_t v) {
        uint8_t b[2];
        bigEndian ? writeBe16(b, v) : writeLe16(b, v);
        data.insert(data.end(), b, b + 2);
    };
    auto put32 = [&](uint32_t v) {
        uint8_t b[4];
        bigEndian ? writeBe32(b, v) : writeLe32(b, v);
        data.insert(data.end(), b, b + 4);
    };
    data.push_back(bigEndian ? 'M' : 'I');
    data.push_back(bigEndian ? 'M' : 'I');
    put16(42);
    put32(8); // IFD0 right after the header
    put16(2);
    put16(0x0100); // image width: one LONG
    put16(4);
    put32(1);
    put32(640);
    put16(0x0112); // orientation: one SHORT, padded to four bytes
    put16(3);
    put32(1);
    put16(orientation);
    put16(0);
    put32(0); // no IFD1
    return data;
}

std::vector<uint8_t> withApp1Marker(const std::vector<uint8_t>& jpeg,
                                    const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> file(jpeg.begin(), jpeg.begin() + std::min<size_t>(2, jpeg.size()));
    const uint8_t marker[4] = {0xFF, 0xE1, static_cast<uint8_t>((data.size() + 2) >> 8),
                               static_cast<uint8_t>(data.size() + 2)};
    file.insert(file.end(), marker, marker + 4);
    file.insert(file.end(), data.begin(), data.end());
    if (jpeg.size() > 2)
        file.insert(file.end(), jpeg.begin() + 2, jpeg.end());
    return file;
}

std::vector<uint8_t> withPngChunk(const std::vector<uint8_t>& png, const char* type,
                                  const std::vector<uint8_t>& data, ChunkPlace place)
{
    // The signature and the header chunk take 33 bytes, the end chunk the last 12.
    constexpr size_t kAfterHeader = 33, kEndChunkBytes = 12;
    if (png.size() < kAfterHeader + kEndChunkBytes)
        return png;
    std::vector<uint8_t> chunk(8);
    writeBe32(chunk.data(), static_cast<uint32_t>(data.size()));
    std::memcpy(chunk.data() + 4, type, 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    const uLong crc =
        crc32(crc32(0, nullptr, 0), chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
    uint8_t crcBytes[4];
    writeBe32(crcBytes, static_cast<uint32_t>(crc));
    chunk.insert(chunk.end(), crcBytes, crcBytes + 4);
    std::vector<uint8_t> file = png;
    const size_t at = place == ChunkPlace::AfterHeader ? kAfterHeader : png.size() - kEndChunkBytes;
    file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), chunk.begin(), chunk.end());
    return file;
}

const uint8_t* pixelAt(const Dib& dib, int32_t x, int32_t yFromTop)
{
    auto layout = dibGetLayout(dib);
    if (!layout)
        return nullptr;
    return dib.data() + layout->pixelOffset +
           static_cast<size_t>(layout->height - 1 - yFromTop) * layout->stride +
           static_cast<size_t>(x) * (layout->bitCount / 8);
}

namespace {

bool swapsSides(Orientation orientation)
{
    return orientation >= Orientation::Turned90 && orientation != Orientation::Turned180;
}

// Where pixel (x, y), y from the top, of a width x height picture lands: the mapping written out
// once more, independently of the product's, so that the two check each other.
void orientedPosition(Orientation orientation, int32_t width, int32_t height, int32_t x, int32_t y,
                      int32_t& outX, int32_t& outY)
{
    switch (orientation) {
    case Orientation::Normal:
        outX = x, outY = y;
        return;
    case Orientation::Mirrored:
        outX = width - 1 - x, outY = y;
        return;
    case Orientation::Flipped:
        outX = x, outY = height - 1 - y;
        return;
    case Orientation::Turned180:
        outX = width - 1 - x, outY = height - 1 - y;
        return;
    case Orientation::Turned90: // clockwise: the left column becomes the top row
        outX = height - 1 - y, outY = x;
        return;
    case Orientation::Turned270:
        outX = y, outY = width - 1 - x;
        return;
    case Orientation::Transposed:
        outX = y, outY = x;
        return;
    case Orientation::Transversed:
        outX = height - 1 - y, outY = width - 1 - x;
        return;
    }
}

} // namespace

Dib orientedCopy(const Dib& image, Orientation orientation)
{
    const int32_t width = DibGetWidth(image);
    const int32_t height = DibGetHeight(image);
    const uint16_t bits = DibGetBitCount(image);
    const size_t bytes = bits / 8;
    const bool swap = swapsSides(orientation);
    Dib out = Dib::create(swap ? height : width, swap ? width : height, bits);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            int32_t toX = 0, toY = 0;
            orientedPosition(orientation, width, height, x, y, toX, toY);
            std::memcpy(const_cast<uint8_t*>(pixelAt(out, toX, toY)), pixelAt(image, x, y), bytes);
        }
    }
    return out;
}

NoteLayer orientedNotes(const NoteLayer& notes, int32_t width, int32_t height,
                        Orientation orientation)
{
    const bool swap = swapsSides(orientation);
    const int32_t outWidth = swap ? height : width;
    const int32_t outHeight = swap ? width : height;
    NoteLayer out(notes.size(), 0);
    // Layer rows run bottom first, as the picture's rows in memory.
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            int32_t toX = 0, toY = 0;
            orientedPosition(orientation, width, height, x, y, toX, toY);
            out[static_cast<size_t>(outHeight - 1 - toY) * outWidth + toX] =
                notes[static_cast<size_t>(height - 1 - y) * width + x];
        }
    }
    return out;
}

std::vector<uint8_t> readFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const std::string& path)
{
    return std::filesystem::exists(path);
}

std::string runCommand(const std::string& command)
{
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return "cannot run " + command;
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    return pclose(pipe) == 0 ? std::string() : command + ": " + output;
}

} // namespace ombri::test
