#include "support/colour_profiles.h"

#include "core/bytes.h"
#include "support/test_support.h"

#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <memory>

namespace ombri::test {

const char* const kAdobeRgbProfilePath = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
const char* const kAdobeRgbDescription = "Compatible with Adobe RGB (1998)";

std::vector<uint8_t> adobeRgbProfile()
{
    if (!fileExists(kAdobeRgbProfilePath))
        return {};
    return readFileBytes(kAdobeRgbProfilePath);
}

namespace {

void appendBe32(std::vector<uint8_t>& bytes, uint32_t value)
{
    uint8_t field[4];
    writeBe32(field, value);
    bytes.insert(bytes.end(), field, field + 4);
}

std::vector<uint8_t> pngChunk(const char* type, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> chunk;
    appendBe32(chunk, static_cast<uint32_t>(data.size()));
    chunk.insert(chunk.end(), type, type + 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    const uLong crc =
        crc32(crc32(0, nullptr, 0), chunk.data() + 4, static_cast<uInt>(4 + data.size()));
    appendBe32(chunk, static_cast<uint32_t>(crc));
    return chunk;
}

} // namespace

std::vector<uint8_t> withPngColourProfile(const std::vector<uint8_t>& png,
                                          const std::vector<uint8_t>& profile)
{
    static const char kName[] = "ICC Profile";
    std::vector<uint8_t> data(kName, kName + sizeof kName); // the name and its zero
    data.push_back(0);                                      // compressed with deflate
    uLongf packedSize = compressBound(static_cast<uLong>(profile.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress(packed.data(), &packedSize, profile.data(), static_cast<uLong>(profile.size())) !=
        Z_OK)
        return {};
    data.insert(data.end(), packed.begin(), packed.begin() + static_cast<ptrdiff_t>(packedSize));
    // The signature (8 bytes), then the header chunk: length, type, 13 bytes, CRC.
    constexpr size_t kAfterHeader = 8 + 4 + 4 + 13 + 4;
    if (png.size() < kAfterHeader)
        return {};
    std::vector<uint8_t> tagged(png.begin(), png.begin() + kAfterHeader);
    const std::vector<uint8_t> chunk = pngChunk("iCCP", data);
    tagged.insert(tagged.end(), chunk.begin(), chunk.end());
    tagged.insert(tagged.end(), png.begin() + kAfterHeader, png.end());
    return tagged;
}

std::vector<uint8_t> withJpegColourProfile(const std::vector<uint8_t>& jpeg,
                                           const std::vector<uint8_t>& profile, size_t pieceBytes)
{
    static const char kTag[] = "ICC_PROFILE"; // and its zero
    const size_t pieces = (profile.size() + pieceBytes - 1) / pieceBytes;
    if (jpeg.size() < 2 || pieces == 0 || pieces > 255)
        return {};
    std::vector<uint8_t> tagged(jpeg.begin(), jpeg.begin() + 2);
    for (size_t piece = 0; piece < pieces; ++piece) {
        const size_t first = piece * pieceBytes;
        const size_t length = std::min(pieceBytes, profile.size() - first);
        const size_t markerLength = 2 + sizeof kTag + 2 + length;
        tagged.push_back(0xFF);
        tagged.push_back(0xE2);
        tagged.push_back(static_cast<uint8_t>(markerLength >> 8));
        tagged.push_back(static_cast<uint8_t>(markerLength));
        tagged.insert(tagged.end(), kTag, kTag + sizeof kTag);
        tagged.push_back(static_cast<uint8_t>(piece + 1));
        tagged.push_back(static_cast<uint8_t>(pieces));
        tagged.insert(tagged.end(), profile.begin() + static_cast<ptrdiff_t>(first),
                      profile.begin() + static_cast<ptrdiff_t>(first + length));
    }
    tagged.insert(tagged.end(), jpeg.begin() + 2, jpeg.end());
    return tagged;
}

bool writeTiffWithColourProfile(const std::string& path, const Dib& picture,
                                const std::vector<uint8_t>& profile)
{
    const auto layout = dibGetLayout(picture);
    if (!layout || layout->bitCount != 24)
        return false;
    std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(path.c_str(), "w"), TIFFClose);
    if (!tiff)
        return false;
    const auto width = static_cast<uint32_t>(layout->width);
    const auto height = static_cast<uint32_t>(layout->height);
    bool ok = TIFFSetField(tiff.get(), TIFFTAG_IMAGEWIDTH, width) &&
              TIFFSetField(tiff.get(), TIFFTAG_IMAGELENGTH, height) &&
              TIFFSetField(tiff.get(), TIFFTAG_BITSPERSAMPLE, 8) &&
              TIFFSetField(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, 3) &&
              TIFFSetField(tiff.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
              TIFFSetField(tiff.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tiff.get(), TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(tiff.get(), TIFFTAG_ROWSPERSTRIP, uint32_t{1});
    if (ok && !profile.empty())
        ok = TIFFSetField(tiff.get(), TIFFTAG_ICCPROFILE, static_cast<uint32_t>(profile.size()),
                          profile.data());
    std::vector<uint8_t> row(size_t{width} * 3);
    for (uint32_t y = 0; ok && y < height; ++y) {
        const uint8_t* source = pixelAt(picture, 0, static_cast<int32_t>(y));
        for (size_t x = 0; x < width; ++x) {
            row[x * 3] = source[x * 3 + 2];
            row[x * 3 + 1] = source[x * 3 + 1];
            row[x * 3 + 2] = source[x * 3];
        }
        ok = TIFFWriteScanline(tiff.get(), row.data(), y, 0) >= 0;
    }
    return ok;
}

Dib makeColourfulImage(int32_t width, int32_t height)
{
    Dib picture = Dib::create(width, height, 24);
    const auto layout = dibGetLayout(picture);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* pixel = picture.data() + layout->pixelOffset + size_t(y) * layout->stride;
        for (int32_t x = 0; x < width; ++x, pixel += 3) {
            pixel[0] = static_cast<uint8_t>(x * 255 / std::max(1, width - 1));
            pixel[1] = static_cast<uint8_t>(y * 255 / std::max(1, height - 1));
            pixel[2] = static_cast<uint8_t>((x * 7 + y * 13) % 256);
        }
    }
    return picture;
}

} // namespace ombri::test
