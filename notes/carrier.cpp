#include "notes/carrier.h"

#include <cstring>

namespace ombri {

namespace {

inline void forceOdd(uint8_t& byte)
{
    byte |= 0x01;
}

bool isCarrierDepth(uint16_t bitCount)
{
    return bitCount == 24 || bitCount == 32;
}

} // namespace

void WriteOmbriSignature(uint8_t* row)
{
    std::memcpy(row, kSignatureLead, 3);
    for (size_t k = 3; k < kSignatureBytes; ++k)
        forceOdd(row[k]);
}

void WritePlanarOmbriSignature(uint8_t* blue, uint8_t* green, uint8_t* red)
{
    blue[0] = kSignatureLead[0];
    green[0] = kSignatureLead[1];
    red[0] = kSignatureLead[2];
    for (int i = 1; i < 7; ++i) {
        forceOdd(blue[i]);
        forceOdd(green[i]);
        forceOdd(red[i]);
    }
    forceOdd(blue[7]);
    forceOdd(green[7]);
}

bool rowHoldsSignature(int32_t width, uint16_t bitCount)
{
    return width > 0 && isCarrierDepth(bitCount) &&
           static_cast<size_t>(width) * (bitCount / 8) >= kSignatureBytes;
}

namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "pixels are assembled as little-endian words");

void copy24To32(const uint8_t* source, const uint8_t* notes, size_t width, uint8_t* target)
{
    // Four bytes are read per pixel and the fourth replaced by the alpha (the layout is the
    // same on every little-endian machine this runs on); the row's last pixel is copied
    // bytewise, as its fourth byte may lie past the end of the block.
    size_t x = 0;
    for (; x + 1 < width; ++x) {
        uint32_t pixel;
        std::memcpy(&pixel, source + 3 * x, 4);
        const uint32_t alpha = notes[x] == 1 ? 254u : 255u;
        pixel = (pixel & 0x00FFFFFFu) | (alpha << 24);
        std::memcpy(target + 4 * x, &pixel, 4);
    }
    for (; x < width; ++x) {
        std::memcpy(target + 4 * x, source + 3 * x, 3);
        target[4 * x + 3] = notes[x] == 1 ? 254 : 255;
    }
}

// The 24-bit copy is already an exact duplicate of the picture: only the blue bytes change.
void mark24InPlace(const uint8_t*, const uint8_t* notes, size_t width, uint8_t* target)
{
    for (size_t x = 0; x < width; ++x)
        SetNoteBit(notes[x], target[3 * x]);
}

void copy32To32(const uint8_t* source, const uint8_t* notes, size_t width, uint8_t* target)
{
    std::memcpy(target, source, width * 4);
    for (size_t x = 0; x < width; ++x)
        SetNoteBit(notes[x], target[4 * x + 3]);
}

void copy32To24(const uint8_t* source, const uint8_t* notes, size_t width, uint8_t* target)
{
    for (size_t x = 0; x < width; ++x) {
        target[3 * x] = source[4 * x];
        SetNoteBit(notes[x], target[3 * x]);
        target[3 * x + 1] = source[4 * x + 1];
        target[3 * x + 2] = source[4 * x + 2];
    }
}

} // namespace

Dib MakeCarrierCopy(const Dib& image, const NoteLayer& notes, SaveDepth depth)
{
    auto source = dibGetLayout(image);
    if (!source || !isCarrierDepth(source->bitCount))
        return Dib();
    const size_t width = static_cast<size_t>(source->width);
    const size_t height = static_cast<size_t>(source->height);
    if (notes.size() != width * height)
        return Dib();
    const uint16_t targetBits = bitCountOf(depth);
    Dib copy;
    if (source->bitCount == 24 && targetBits == 24) {
        // The exact duplicate of the whole block, header and all, as the 24-bit save keeps it.
        copy = image.clone();
    } else {
        copy = Dib::create(source->width, source->height, targetBits);
    }
    auto target = dibGetLayout(copy);
    if (!target)
        return Dib();
    auto rowCopy = source->bitCount == 24 ? (targetBits == 32 ? copy24To32 : mark24InPlace)
                                          : (targetBits == 32 ? copy32To32 : copy32To24);
    const uint8_t* in = image.data() + source->pixelOffset;
    uint8_t* out = copy.data() + target->pixelOffset;
    for (size_t row = 0; row < height; ++row)
        rowCopy(in + row * source->stride, notes.data() + row * width, width,
                out + row * target->stride);
    return copy;
}

void MarkAlphaNotes(uint8_t* buffer, size_t width, size_t height, size_t rowLength,
                    const uint8_t* notes)
{
    for (size_t row = 0; row < height; ++row) {
        uint8_t* pixels = buffer + row * rowLength;
        const uint8_t* rowNotes = notes + row * width;
        for (size_t x = 0; x < width; ++x)
            SetNoteBit(rowNotes[x], pixels[4 * x + 3]);
    }
}

bool HasOmbriSignature(const Dib& image, bool signatureRowFlag)
{
    auto layout = dibGetLayout(image);
    if (!layout || !rowHoldsSignature(layout->width, layout->bitCount))
        return false;
    const uint8_t* p = image.data() + layout->pixelOffset;
    if (signatureRowFlag)
        p += layout->stride * static_cast<size_t>(layout->height - 1);
    if (std::memcmp(p, kSignatureLead, 3) != 0)
        return false;
    for (size_t k = 3; k < kSignatureBytes; ++k) {
        if ((p[k] & 1) == 0)
            return false;
    }
    return true;
}

bool hasPlanarOmbriSignature(const Dib& image)
{
    auto layout = dibGetLayout(image);
    if (!layout || layout->bitCount != 32)
        return HasOmbriSignature(image, true);
    if (layout->width < 8)
        return false;
    const uint8_t* p = image.data() + layout->pixelOffset +
                       layout->stride * static_cast<size_t>(layout->height - 1);
    if (std::memcmp(p, kSignatureLead, 3) != 0)
        return false;
    // Byte k of the marker is channel k % 3 of pixel k / 3, as the writer lays it over the planes.
    for (size_t k = 3; k < kSignatureBytes; ++k) {
        if ((p[(k / 3) * 4 + k % 3] & 1) == 0)
            return false;
    }
    return true;
}

void ExtractNoteLayer(const Dib& image, std::optional<NoteLayer>& notes)
{
    auto layout = dibGetLayout(image);
    if (!layout)
        return;
    const size_t width = static_cast<size_t>(layout->width);
    const size_t height = static_cast<size_t>(layout->height);
    if (!notes || notes->size() != width * height)
        notes.emplace(width * height, uint8_t{0});
    if (!isCarrierDepth(layout->bitCount))
        return;
    const size_t step = layout->bitCount / 8;
    const size_t carrier = step == 3 ? 0 : 3;
    const uint8_t* pixels = image.data() + layout->pixelOffset;
    uint8_t* out = notes->data();
    for (size_t row = 0; row < height; ++row) {
        const uint8_t* in = pixels + row * layout->stride + carrier;
        uint8_t* rowNotes = out + row * width;
        // An even carrier byte is a note; existing notes stay set.
        for (size_t x = 0; x < width; ++x)
            rowNotes[x] |= static_cast<uint8_t>(~in[x * step] & 1);
    }
}

void ClearCarrier(Dib& image)
{
    auto layout = dibGetLayout(image);
    if (!layout || !isCarrierDepth(layout->bitCount))
        return;
    const size_t width = static_cast<size_t>(layout->width);
    const size_t step = layout->bitCount / 8;
    const size_t carrier = step == 3 ? 0 : 3;
    uint8_t* pixels = image.data() + layout->pixelOffset;
    for (int32_t row = 0; row < layout->height; ++row) {
        uint8_t* in = pixels + static_cast<size_t>(row) * layout->stride + carrier;
        for (size_t x = 0; x < width; ++x)
            in[x * step] |= 1;
    }
}

size_t countNotePixels(const NoteLayer& notes)
{
    size_t count = 0;
    for (uint8_t note : notes)
        count += note == 1;
    return count;
}

} // namespace ombri
