#include "journeys/picture_fixtures.h"

#include "formats/bmp.h"
#include "formats/cineon_dpx.h"
#include "formats/jpeg.h"
#include "formats/png.h"
#include "notes/carrier.h"
#include "support/test_support.h"

#include <filesystem>
#include <memory>
#include <stdexcept>

namespace ombri::journey {

const std::vector<std::string> kFixturePictures = {
    "p24.bmp",    "p32.png",     "p8.bmp",    "one.bmp",    "column.png", "row.bmp",  "big.bmp",
    "narrow.png", "carrier.png", "photo.jpg", "broken.png", "notes.txt",  "film.dpx",
};

namespace {

void put32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// An 8-bit BMP with a 256-entry colour table of muted colours.
std::vector<uint8_t> paletteBmp(int32_t width, int32_t height)
{
    const uint32_t stride = (static_cast<uint32_t>(width) + 3) & ~3u;
    const uint32_t offset = 14 + 40 + 256 * 4;
    std::vector<uint8_t> bytes = {'B', 'M'};
    put32(bytes, offset + stride * static_cast<uint32_t>(height));
    put32(bytes, 0);
    put32(bytes, offset);
    put32(bytes, 40);
    put32(bytes, static_cast<uint32_t>(width));
    put32(bytes, static_cast<uint32_t>(height));
    bytes.push_back(1), bytes.push_back(0), bytes.push_back(8), bytes.push_back(0);
    for (int i = 0; i < 6; ++i)
        put32(bytes, i == 4 ? 256 : 0);
    for (uint32_t i = 0; i < 256; ++i)
        put32(bytes, ((i * 7) & 0xFF) | (((255 - i) & 0xFF) << 8) | (((i * 3 + 40) & 0xFF) << 16));
    for (int32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < stride; ++x)
            bytes.push_back(x < static_cast<uint32_t>(width) ? static_cast<uint8_t>(x * 5 + y * 3)
                                                             : 0);
    return bytes;
}

Dib withNotes(const Dib& image, const NoteLayer& notes, SaveDepth depth)
{
    Dib carrier = MakeCarrierCopy(image, notes, depth);
    auto layout = dibGetLayout(carrier);
    // Every format but BMP looks for the marker in the last row in memory.
    WriteOmbriSignature(carrier.data() + layout->pixelOffset +
                        layout->stride * static_cast<size_t>(layout->height - 1));
    return carrier;
}

void makeFixtures(const std::string& folder)
{
    using test::makePatternImage;
    const auto file = [&folder](const char* name) { return folder + "/" + name; };
    const auto ok = [](const Status& written) {
        if (!written)
            throw std::runtime_error("cannot make a journey picture: " + written.error());
    };
    ok(WriteBmpFile(file("p24.bmp"), makePatternImage(300, 200, 24, 3)));
    ok(WritePngFile(file("p32.png"), makePatternImage(220, 160, 32, 4)));
    test::writeFileBytes(file("p8.bmp"), paletteBmp(120, 90));
    ok(WriteBmpFile(file("one.bmp"), makePatternImage(1, 1, 24, 5)));
    ok(WritePngFile(file("column.png"), makePatternImage(1, 37, 24, 6)));
    ok(WriteBmpFile(file("row.bmp"), makePatternImage(41, 1, 24, 7)));
    ok(WriteBmpFile(file("big.bmp"), makePatternImage(3000, 2000, 24, 8)));
    ok(WritePngFile(file("narrow.png"), makePatternImage(5, 40, 24, 9)));
    const Dib carrierPicture = makePatternImage(260, 180, 24, 10);
    ok(WritePngFile(
        file("carrier.png"),
        withNotes(carrierPicture, test::makePatternNotes(260, 180, 11), SaveDepth::Bits24)));
    ok(WriteJpegFile(file("photo.jpg"), makePatternImage(200, 150, 24, 12)));
    test::writeFileBytes(file("broken.png"), {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0,
                                              13, 'I', 'H', 'D', 'R', 0xFF, 0xFF});
    test::writeFileBytes(file("notes.txt"), {'n', 'o', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'});
    const NoteLayer filmNotes = test::makePatternNotes(120, 80, 13);
    ok(WriteCineonDpxFile(file("film.dpx"), FilmFormat::Dpx, makePatternImage(120, 80, 24, 14),
                          &filmNotes, nullptr));
}

const std::string& fixtureFolder()
{
    static const auto folder = [] {
        auto dir = std::make_unique<test::TempDir>();
        makeFixtures(dir->path());
        return dir;
    }();
    return folder->path();
}

} // namespace

std::string fixturePicturePath(const std::string& name)
{
    return fixtureFolder() + "/" + name;
}

void copyFixturePictures(const std::string& folder)
{
    namespace fs = std::filesystem;
    for (const std::string& name : kFixturePictures)
        fs::copy_file(fixtureFolder() + "/" + name, folder + "/" + name,
                      fs::copy_options::overwrite_existing);
}

} // namespace ombri::journey
