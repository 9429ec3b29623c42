#include "notes/carrier.h"

#include <algorithm>
#include <cstdlib>
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

void writeCarrierSignature(uint8_t* row, int32_t width, uint16_t bitCount)
{
    WriteOmbriSignature(row);
    constexpr int32_t kPixelPastMarker = 6;
    if (bitCount == 32 && width > kPixelPastMarker)
        row[4 * kPixelPastMarker] &= 0xFE;
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

// A row of the 24-bit copy made apart from the whole one: the picture's row, then its blue bytes.
void copy24To24(const uint8_t* source, const uint8_t* notes, size_t width, uint8_t* target)
{
    std::memcpy(target, source, width * 3);
    mark24InPlace(source, notes, width, target);
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

std::optional<CarrierRows> CarrierRows::of(const Dib& image, const NoteLayer& notes,
                                           SaveDepth depth)
{
    auto source = dibGetLayout(image);
    if (!source || !isCarrierDepth(source->bitCount))
        return std::nullopt;
    if (notes.size() != static_cast<size_t>(source->width) * static_cast<size_t>(source->height))
        return std::nullopt;
    return CarrierRows(image, *source, notes, bitCountOf(depth));
}

CarrierRows::CarrierRows(const Dib& image, const DibLayout& source, const NoteLayer& notes,
                         uint16_t bitCount)
    : m_pixels(image.data() + source.pixelOffset), m_source(source), m_notes(notes.data()),
      m_bitCount(bitCount),
      m_rowCopy(source.bitCount == 24 ? (bitCount == 32 ? copy24To32 : copy24To24)
                                      : (bitCount == 32 ? copy32To32 : copy32To24))
{
}

void CarrierRows::markRow(size_t row)
{
    m_markedRow = row;
}

void CarrierRows::copyRow(size_t row, uint8_t* out) const
{
    const size_t width = static_cast<size_t>(m_source.width);
    m_rowCopy(m_pixels + row * m_source.stride, m_notes + row * width, width, out);
    if (m_markedRow == row && rowHoldsSignature(m_source.width, m_bitCount))
        writeCarrierSignature(out, m_source.width, m_bitCount);
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

const char* orientationName(Orientation orientation)
{
    static constexpr const char* kNames[kOrientationCount] = {
        "normal",     "mirrored",   "flipped",    "turned-90",
        "turned-180", "turned-270", "transposed", "transversed"};
    return kNames[static_cast<int>(orientation)];
}

const char* turnedPictureDescription(Orientation orientation)
{
    switch (orientation) {
    case Orientation::Mirrored:
        return "a mirrored picture";
    case Orientation::Flipped:
        return "a flipped picture";
    case Orientation::Turned90:
        return "a picture turned 90\u00B0 clockwise";
    case Orientation::Turned180:
        return "a picture turned 180\u00B0";
    case Orientation::Turned270:
        return "a picture turned 90\u00B0 anticlockwise";
    case Orientation::Transposed:
        return "a transposed picture";
    case Orientation::Transversed:
        return "a transversed picture";
    case Orientation::Normal:
        break;
    }
    return "the picture";
}

const char* carrierByteName(CarrierByte carrier)
{
    return carrier == CarrierByte::Alpha ? "alpha" : "blue";
}

const char* signatureStateName(SignatureState state)
{
    switch (state) {
    case SignatureState::Intact:
        return "intact";
    case SignatureState::Damaged:
        return "damaged";
    case SignatureState::None:
        break;
    }
    return "none";
}

namespace {

struct Point {
    int64_t x;
    int64_t y;
};

// Where pixel (x, y) of a picture originalWidth x originalHeight (y counted from the top) lands
// when the picture is given the orientation.
Point orient(Orientation orientation, Point p, int64_t originalWidth, int64_t originalHeight)
{
    const int64_t right = originalWidth - 1;
    const int64_t bottom = originalHeight - 1;
    switch (orientation) {
    case Orientation::Normal:
        return p;
    case Orientation::Mirrored:
        return {right - p.x, p.y};
    case Orientation::Flipped:
        return {p.x, bottom - p.y};
    case Orientation::Turned180:
        return {right - p.x, bottom - p.y};
    case Orientation::Turned90:
        return {bottom - p.y, p.x};
    case Orientation::Turned270:
        return {p.y, right - p.x};
    case Orientation::Transposed:
        return {p.y, p.x};
    case Orientation::Transversed:
        return {bottom - p.y, right - p.x};
    }
    return p;
}

bool swapsSides(Orientation orientation)
{
    return orientation >= Orientation::Turned90 && orientation != Orientation::Turned180;
}

// The marker's pixels as they lie in memory for one orientation: the first pixel, and the step
// in bytes from one to the next.
struct MarkerRun {
    const uint8_t* first;
    ptrdiff_t step;
};

std::optional<MarkerRun> markerRun(const Dib& image, const DibLayout& layout, bool signatureRowFlag,
                                   Orientation orientation, size_t pixels)
{
    const int64_t width = layout.width;
    const int64_t height = layout.height;
    const int64_t originalWidth = swapsSides(orientation) ? height : width;
    const int64_t originalHeight = swapsSides(orientation) ? width : height;
    if (originalWidth < static_cast<int64_t>(pixels))
        return std::nullopt;
    // The format's writer puts the marker at the left end of the top row (signature-row flag set)
    // or of the bottom row (BMP); y counts from the top here, rows in memory from the bottom.
    const int64_t row = signatureRowFlag ? 0 : originalHeight - 1;
    const Point first = orient(orientation, {0, row}, originalWidth, originalHeight);
    const Point second = orient(orientation, {1, row}, originalWidth, originalHeight);
    const auto address = [&](Point p) {
        return static_cast<ptrdiff_t>(layout.pixelOffset) +
               static_cast<ptrdiff_t>(height - 1 - p.y) * static_cast<ptrdiff_t>(layout.stride) +
               static_cast<ptrdiff_t>(p.x * (layout.bitCount / 8));
    };
    return MarkerRun{image.data() + address(first), address(second) - address(first)};
}

// Byte k of the marker: channel k % 3 of pixel k / 3 when laid over planes, else the k-th byte
// of the run of whole pixels.
uint8_t markerByte(const MarkerRun& run, size_t k, size_t channels)
{
    return run.first[static_cast<ptrdiff_t>(k / channels) * run.step +
                     static_cast<ptrdiff_t>(k % channels)];
}

} // namespace

namespace {

// The marker laid over runs of `channels` bytes per pixel (3: the colour bytes alone, 4: whole
// 32-bit pixels), looked for in each orientation in turn.
// What the search over one form found: the marker, and whether the colour bytes hold a 32-bit
// carrier's marker whose alpha channel was dropped (the run broken just past it by the even blue
// byte the writer leaves there).
struct MarkerSearch {
    SignatureFind found;
    bool alphaDropped = false;
};

MarkerSearch searchMarker(const Dib& image, const DibLayout& layout, bool signatureRowFlag,
                          size_t channels)
{
    // The colour bytes of a 32-bit marker: the lead, five more pixels, then pixel 6's blue.
    constexpr size_t kPastFourByteMarker = 18;
    MarkerSearch search;
    SignatureFind& found = search.found;
    const size_t pixels = (kSignatureBytes + channels - 1) / channels;
    for (int o = 0; o < kOrientationCount; ++o) {
        const auto orientation = static_cast<Orientation>(o);
        const auto run = markerRun(image, layout, signatureRowFlag, orientation, pixels);
        if (!run)
            continue;
        const auto byte = [&](size_t k) { return markerByte(*run, k, channels); };
        if (byte(0) != kSignatureLead[0] || byte(1) != kSignatureLead[1] ||
            byte(2) != kSignatureLead[2])
            continue;
        size_t k = 3;
        while (k < kSignatureBytes && (byte(k) & 1) != 0)
            ++k;
        if (channels == 3 && k == kPastFourByteMarker)
            search.alphaDropped = true;
        if (k == kSignatureBytes && found.state != SignatureState::Intact)
            found = {SignatureState::Intact, orientation};
        if (found.state == SignatureState::None)
            found = {SignatureState::Damaged, orientation};
    }
    return search;
}

// Whether every alpha byte of a 32-bit picture is 255: no note in alpha, and no transparency.
bool alphaOpaque(const Dib& image, const DibLayout& layout)
{
    const size_t width = static_cast<size_t>(layout.width);
    for (int32_t row = 0; row < layout.height; ++row) {
        const uint8_t* alpha =
            image.data() + layout.pixelOffset + static_cast<size_t>(row) * layout.stride + 3;
        uint8_t all = 255;
        for (size_t x = 0; x < width; ++x)
            all &= alpha[4 * x];
        if (all != 255)
            return false;
    }
    return true;
}

SignatureFind withCarrier(SignatureFind found, CarrierByte carrier)
{
    found.carrier = carrier;
    return found;
}

} // namespace

bool blueBitsLookLikeNotes(const Dib& image)
{
    auto layout = dibGetLayout(image);
    if (!layout || !isCarrierDepth(layout->bitCount) || layout->width <= 0 || layout->height <= 0)
        return false;
    const size_t step = layout->bitCount / 8;
    const size_t width = static_cast<size_t>(layout->width);
    // About two million pixels from rows spread over the picture are plenty for the shares
    // compared, and keep the look at a few milliseconds on any picture.
    constexpr size_t kSampledPixels = size_t{1} << 21;
    const size_t rows = static_cast<size_t>(layout->height);
    const size_t rowStep = std::max<size_t>(1, width * rows / kSampledPixels);
    size_t sampled = 0;
    size_t evenBlue = 0;
    size_t evenGreenRed = 0;
    size_t evenAll = 0;
    size_t pairs = 0;
    size_t changes = 0;
    for (size_t row = 0; row < rows; row += rowStep) {
        const uint8_t* p = image.data() + layout->pixelOffset + row * layout->stride;
        bool lastTextured = false;
        bool lastEven = false;
        for (size_t x = 0; x < width; ++x, p += step) {
            const bool blue = (p[0] & 1) == 0;
            evenBlue += blue;
            // Only where blue changes by more than a carrier's step: flat colour says nothing
            // about where its low bits came from, and a note beside a plain pixel of the same
            // colour differs from it by one. Nor do blues at the ends of the range, where colours
            // are clipped.
            const bool textured = x > 0 && p[0] >= 2 && p[0] <= 253 &&
                                  std::abs(int{p[0]} - int{p[-static_cast<ptrdiff_t>(step)]}) >= 2;
            if (textured && lastTextured) {
                ++pairs;
                changes += blue != lastEven;
            }
            lastTextured = textured;
            lastEven = blue;
            if (!textured)
                continue;
            const bool greenRed = ((p[1] | p[2]) & 1) == 0;
            evenGreenRed += greenRed;
            evenAll += blue && greenRed;
        }
        sampled += width;
    }
    constexpr size_t kEnoughToJudge = 256;
    if (evenGreenRed < kEnoughToJudge)
        return evenBlue * 10 <= sampled * 9;
    if (evenAll * 5 <= evenGreenRed * 2)
        return true;
    // Notes drawn over much of a picture: strokes and patches are whole, where the picture's own
    // low bits in texture change from one pixel to the next as often as not.
    return evenAll * 10 <= evenGreenRed * 9 && pairs >= kEnoughToJudge && changes * 10 <= pairs * 3;
}

namespace {

SignatureFind findMarker(const Dib& image, bool signatureRowFlag, SignatureForm form)
{
    auto layout = dibGetLayout(image);
    if (!layout || !isCarrierDepth(layout->bitCount) || layout->width <= 0 || layout->height <= 0)
        return SignatureFind();
    const MarkerSearch colourSearch = searchMarker(image, *layout, signatureRowFlag, 3);
    // A 32-bit carrier whose alpha channel another program dropped leaves its marker in the
    // colour bytes over the picture's own blue low bits: no notes are read from those. The
    // run along the picture's edge may still pass as a marker turned the other way.
    SignatureFind colour = colourSearch.found;
    if (colour.intact() && (colourSearch.alphaDropped || !blueBitsLookLikeNotes(image)))
        colour = SignatureFind();
    if (layout->bitCount == 24)
        return colour;
    // SGI lays the marker of its 32-bit carriers over the colour planes; other programs' copies
    // of the interleaved carriers carry it over whole pixels, as BMP, PNG and TIFF do.
    const SignatureFind whole = searchMarker(image, *layout, signatureRowFlag, 4).found;
    const SignatureFind planar = colourSearch.found;
    // Of two intact forms the one lying where the writer puts it wins: a white left edge lets
    // the colour bytes pass for a marker running down the column from an interleaved one's
    // lead.
    const bool planarFirst =
        planar.intact() && (!whole.intact() || planar.orientation <= whole.orientation);
    const SignatureFind alphaMarker = form == SignatureForm::Planar && planarFirst ? planar : whole;
    if (alphaMarker.intact()) {
        // Alpha of 255 everywhere passes the four-byte marker of a 24-bit carrier too, in the
        // same place; its notes are then in blue, where the blue bits look like notes.
        if (colour.intact() && colour.orientation == alphaMarker.orientation &&
            alphaOpaque(image, *layout))
            return withCarrier(colour, CarrierByte::Blue);
        return withCarrier(alphaMarker, CarrierByte::Alpha);
    }
    if (colour.intact())
        return withCarrier(colour, CarrierByte::Blue);
    return withCarrier(form == SignatureForm::Planar ? planar : whole, CarrierByte::Alpha);
}

} // namespace

SignatureFind findOmbriSignature(const Dib& image, bool signatureRowFlag, SignatureForm form)
{
    SignatureFind found = findMarker(image, signatureRowFlag, form);
    // A BMP keeps its bottom row first, and every other program's copy of a carrier in BMP has
    // the marker along the top row, where the other formats keep it: that is no flip.
    if (!signatureRowFlag && found.orientation == Orientation::Flipped)
        found.orientation = Orientation::Normal;
    return found;
}

void ExtractNoteLayer(const Dib& image, std::optional<NoteLayer>& notes, CarrierByte carrierByte)
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
    const size_t carrier = step == 4 && carrierByte == CarrierByte::Alpha ? 3 : 0;
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

void eraseOmbriSignatures(Dib& image)
{
    auto layout = dibGetLayout(image);
    if (!layout || !isCarrierDepth(layout->bitCount) || layout->width <= 0 || layout->height <= 0)
        return;
    const size_t pixelBytes = layout->bitCount / 8;
    uint8_t* pixels = image.data() + layout->pixelOffset;
    const size_t lastRow = layout->stride * static_cast<size_t>(layout->height - 1);
    const size_t lastPixel = pixelBytes * static_cast<size_t>(layout->width - 1);
    for (size_t offset : {size_t{0}, lastPixel, lastRow, lastRow + lastPixel}) {
        uint8_t* corner = pixels + offset;
        if (std::memcmp(corner, kSignatureLead, 3) == 0)
            corner[1] = kSignatureLead[1] - 1;
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
