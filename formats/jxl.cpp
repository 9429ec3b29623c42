#include "formats/jxl.h"

#include "core/file_io.h"
#include "core/limits.h"
#include "formats/colour_profile.h"

#include <jxl/decode.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace ombri {

namespace {

struct DecoderDeleter {
    void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};
using DecoderPtr = std::unique_ptr<JxlDecoder, DecoderDeleter>;

// A decoder that reports the events asked for, the picture turned upright by the orientation in
// the header and its alpha straight, as the rest of the programs keep it.
DecoderPtr createdDecoder(int events)
{
    DecoderPtr decoder(JxlDecoderCreate(nullptr));
    if (!decoder || JxlDecoderSubscribeEvents(decoder.get(), events) != JXL_DEC_SUCCESS ||
        JxlDecoderSetKeepOrientation(decoder.get(), JXL_FALSE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetUnpremultiplyAlpha(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS)
        return nullptr;
    return decoder;
}

// The sides as the picture is shown: orientations 5 to 8 turn it by a quarter.
JxlDimensions shownSize(const JxlBasicInfo& info)
{
    if (info.orientation >= JXL_ORIENT_TRANSPOSE)
        return {info.ysize, info.xsize};
    return {info.xsize, info.ysize};
}

// The picture the header announces, made before anything is decoded: our limit refuses it first.
Result<Dib> allocatePicture(const JxlBasicInfo& info)
{
    const JxlDimensions shown = shownSize(info);
    if (shown.width == 0 || shown.height == 0)
        return fail("the file declares an empty picture");
    Dib picture = Dib::create(static_cast<int32_t>(std::min<uint32_t>(shown.width, INT32_MAX)),
                              static_cast<int32_t>(std::min<uint32_t>(shown.height, INT32_MAX)),
                              info.alpha_bits > 0 ? 32 : 24);
    if (picture.isNull())
        return fail("the image is too large");
    return picture;
}

// Eight-bit samples, red first, in rows of the DIB's stride, which is a multiple of four.
JxlPixelFormat pixelFormat(const Dib& picture)
{
    return {static_cast<uint32_t>(DibGetBitCount(picture) / 8), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN,
            4};
}

bool isSrgb(const JxlColorEncoding& encoding)
{
    return (encoding.color_space == JXL_COLOR_SPACE_RGB ||
            encoding.color_space == JXL_COLOR_SPACE_GRAY) &&
           encoding.white_point == JXL_WHITE_POINT_D65 &&
           (encoding.color_space == JXL_COLOR_SPACE_GRAY ||
            encoding.primaries == JXL_PRIMARIES_SRGB) &&
           encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

// The ICC profile of the colours libjxl hands the pixels over in, unless they are plain sRGB,
// which is what a picture without a profile is taken for anyway.
void keepColourProfile(const JxlDecoder& decoder, std::vector<uint8_t>& profile)
{
    JxlColorEncoding encoding{};
    if (JxlDecoderGetColorAsEncodedProfile(&decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                           &encoding) == JXL_DEC_SUCCESS &&
        isSrgb(encoding))
        return;
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(&decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
            JXL_DEC_SUCCESS ||
        size == 0 || size > kMaxColourProfileBytes)
        return;
    try {
        profile.resize(size);
    } catch (const std::bad_alloc&) {
        // Without room for the profile the picture is shown as stored.
        return;
    }
    if (JxlDecoderGetColorAsICCProfile(&decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       profile.data(), size) != JXL_DEC_SUCCESS)
        profile.clear();
}

// libjxl's rows, top row first in red, green, blue (and alpha) order, put bottom row first with
// blue first, as a packed DIB keeps them.
void toDibOrder(Dib& picture)
{
    auto layout = dibGetLayout(picture);
    if (!layout)
        return;
    const size_t channels = layout->bitCount / 8u;
    uint8_t* pixels = DibPixelStart(picture);
    for (size_t y = 0; y < static_cast<size_t>(layout->height); ++y) {
        uint8_t* row = pixels + y * layout->stride;
        for (size_t x = 0; x < static_cast<size_t>(layout->width); ++x)
            std::swap(row[x * channels], row[x * channels + 2]);
    }
    FlipRows(pixels, layout->stride, static_cast<size_t>(layout->height));
}

// What the decoder holds from one run over the file.
struct Decoding {
    Dib picture;
    std::vector<uint8_t> profile;
    bool whole = false;
};

Status giveOutBuffer(JxlDecoder& decoder, Dib& picture)
{
    auto layout = dibGetLayout(picture);
    if (!layout)
        return fail("the file declares no picture before its pixels");
    const JxlPixelFormat format = pixelFormat(picture);
    // Rows of the DIB's stride, the last one with or without its padding.
    const size_t padded = layout->stride * static_cast<size_t>(layout->height);
    const size_t unpadded =
        padded - layout->stride + static_cast<size_t>(layout->width) * format.num_channels;
    size_t needed = 0;
    if (JxlDecoderImageOutBufferSize(&decoder, &format, &needed) != JXL_DEC_SUCCESS ||
        (needed != padded && needed != unpadded))
        return fail("the decoded picture is not the size the file declares");
    if (JxlDecoderSetImageOutBuffer(&decoder, &format, DibPixelStart(picture), needed) !=
        JXL_DEC_SUCCESS)
        return fail("the picture cannot be decoded");
    return {};
}

// Runs the decoder over the whole file until the first frame is complete.
Status decodeFirstFrame(JxlDecoder& decoder, Decoding& out, bool wantProfile)
{
    for (;;) {
        switch (JxlDecoderProcessInput(&decoder)) {
        case JXL_DEC_BASIC_INFO: {
            JxlBasicInfo info{};
            if (JxlDecoderGetBasicInfo(&decoder, &info) != JXL_DEC_SUCCESS)
                return fail("the file's header cannot be read");
            auto picture = allocatePicture(info);
            if (!picture)
                return fail(picture.error());
            out.picture = picture.take();
            break;
        }
        case JXL_DEC_COLOR_ENCODING:
            if (wantProfile)
                keepColourProfile(decoder, out.profile);
            break;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            const Status given = giveOutBuffer(decoder, out.picture);
            if (!given)
                return given;
            break;
        }
        case JXL_DEC_FULL_IMAGE:
            out.whole = true;
            return {};
        case JXL_DEC_SUCCESS:
            return out.whole ? Status{} : fail("the file holds no picture");
        case JXL_DEC_NEED_MORE_INPUT:
            return fail("the file ends before its picture does");
        default:
            return fail("not a JPEG XL file, or a damaged one");
        }
    }
}

} // namespace

Result<Dib> readJxlBytes(ByteView file, bool* declaresAlpha, std::vector<uint8_t>* colourProfile)
{
    if (!file.data || file.size == 0)
        return fail("not a JPEG XL file");
    if (JxlSignatureCheck(file.data, file.size) == JXL_SIG_INVALID)
        return fail("not a JPEG XL file");
    DecoderPtr decoder =
        createdDecoder(JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE);
    if (!decoder || JxlDecoderSetInput(decoder.get(), file.data, file.size) != JXL_DEC_SUCCESS)
        return fail("out of memory");
    JxlDecoderCloseInput(decoder.get());
    Decoding decoding;
    const Status decoded = decodeFirstFrame(*decoder, decoding, colourProfile != nullptr);
    if (!decoded)
        return fail(decoded.error());
    toDibOrder(decoding.picture);
    if (declaresAlpha)
        *declaresAlpha = DibGetBitCount(decoding.picture) == 32;
    if (colourProfile)
        *colourProfile = std::move(decoding.profile);
    return std::move(decoding.picture);
}

Result<Dib> ReadJxlFile(const std::string& path, bool* declaresAlpha,
                        std::vector<uint8_t>* colourProfile)
{
    auto mapped = MappedFile::open(path);
    if (!mapped)
        return fail(mapped.error());
    return readJxlBytes(mapped.value().view(), declaresAlpha, colourProfile);
}

std::optional<JxlDimensions> readJxlDimensions(int file, uint64_t size)
{
    // The header follows at most the boxes a container puts first (an EXIF or XMP block among
    // them); past this much the file is taken for one without a header.
    constexpr size_t kMaxHeaderRead = size_t{16} << 20;
    constexpr size_t kChunk = 4096;
    DecoderPtr decoder = createdDecoder(JXL_DEC_BASIC_INFO);
    if (!decoder)
        return std::nullopt;
    std::vector<uint8_t> pending;
    uint64_t offset = 0;
    while (offset < size && offset < kMaxHeaderRead) {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(kChunk, size - offset));
        const size_t kept = pending.size();
        try {
            pending.resize(kept + count);
        } catch (const std::bad_alloc&) {
            return std::nullopt;
        }
        if (!readExactlyAt(file, pending.data() + kept, count, offset))
            return std::nullopt;
        offset += count;
        if (JxlDecoderSetInput(decoder.get(), pending.data(), pending.size()) != JXL_DEC_SUCCESS)
            return std::nullopt;
        if (offset == size || offset >= kMaxHeaderRead)
            JxlDecoderCloseInput(decoder.get());
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
        if (status == JXL_DEC_BASIC_INFO) {
            JxlBasicInfo info{};
            if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
                return std::nullopt;
            return shownSize(info);
        }
        if (status != JXL_DEC_NEED_MORE_INPUT)
            return std::nullopt;
        // What the decoder has not taken yet comes first in the next round.
        const size_t unread = JxlDecoderReleaseInput(decoder.get());
        pending.erase(pending.begin(), pending.end() - static_cast<std::ptrdiff_t>(unread));
    }
    return std::nullopt;
}

} // namespace ombri
