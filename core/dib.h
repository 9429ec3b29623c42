#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace ombri {

constexpr uint32_t kInfoHeaderSize = 40; // BITMAPINFOHEADER
constexpr uint32_t kCoreHeaderSize = 12; // BITMAPCOREHEADER

// Large blocks are mapped straight from the system (see Dib::allocate); the deleter remembers
// how each block was had.
struct DibBlockDeleter {
    size_t mappedBytes = 0; // 0: from calloc
    void operator()(uint8_t* p) const;
};

// A packed DIB: one zero-filled block holding the bitmap header, the colour table and the pixel
// rows, bottom row first, each padded to a multiple of four bytes. Move-only; a copy is asked
// for by name (clone) because images are large.
class Dib {
  public:
    Dib() = default;
    // A moved-from Dib is null: its size goes with its block.
    Dib(Dib&& other) noexcept
        : m_data(std::move(other.m_data)), m_size(std::exchange(other.m_size, 0))
    {
    }
    Dib& operator=(Dib&& other) noexcept
    {
        m_data = std::move(other.m_data);
        m_size = std::exchange(other.m_size, 0);
        return *this;
    }
    Dib(const Dib&) = delete;
    Dib& operator=(const Dib&) = delete;

    // A zero-filled block of the given size; a null Dib when the size is 0 or memory is short.
    static Dib allocate(size_t bytes);
    // A 40-byte header (planes 1, compression 0) with zeroed rows and no colour table; a null
    // Dib when the size is out of range.
    static Dib create(int32_t width, int32_t height, uint16_t bitCount);

    Dib clone() const;
    bool isNull() const { return m_size == 0; }
    explicit operator bool() const { return !isNull(); }
    size_t size() const { return m_size; }
    // What the block can hold: a block mapped from the system is whole huge pages, so a picture
    // a little larger than the last one (a turned picture's rows padded differently) still fits.
    size_t capacity() const
    {
        return isNull() ? 0 : std::max(m_size, m_data.get_deleter().mappedBytes);
    }
    // Makes the block's size bytes when its capacity holds them, keeping what it holds: the
    // caller writes every byte it needs. False (nothing changed) for a null block, 0 bytes or
    // more than the capacity.
    bool refit(size_t bytes);
    uint8_t* data() { return m_data.get(); }
    const uint8_t* data() const { return m_data.get(); }
    void reset();

  private:
    std::unique_ptr<uint8_t, DibBlockDeleter> m_data;
    size_t m_size = 0;
};

// Where everything lies in a block whose header, colour table and pixel rows all fit inside it.
struct DibLayout {
    uint32_t headerSize = 0; // 40 or 12
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitCount = 0;
    uint32_t colourCount = 0;
    size_t colourTableBytes = 0;
    size_t pixelOffset = 0; // header + colour table
    size_t stride = 0;
    size_t pixelBytes = 0; // stride x height
};

// The layout of a usable image, or nothing for a null block, an unknown header size, a width or
// height below 1, or a block too small for what its header claims.
std::optional<DibLayout> dibGetLayout(const Dib& dib);

// A bitmap's pixel rows as plain memory, for the loops that walk them: bottom row first, each
// row followed by its padding.
struct PixelRows {
    uint8_t* first = nullptr; // bottom row
    size_t stride = 0;
    size_t width = 0;
    size_t height = 0;
    size_t bytesPerPixel = 0;

    uint8_t* row(size_t y) const { return first + y * stride; }
    // The bytes of a row that hold pixels; the padding behind them is never touched.
    size_t rowBytes() const { return width * bytesPerPixel; }
};

// The rows of a bitmap whose layout has been read; bit counts below 8 give no whole bytes per
// pixel and are not walked this way.
inline PixelRows pixelRowsOf(Dib& image, const DibLayout& layout)
{
    PixelRows rows;
    rows.first = image.data() + layout.pixelOffset;
    rows.stride = layout.stride;
    rows.width = static_cast<size_t>(layout.width);
    rows.height = static_cast<size_t>(layout.height);
    rows.bytesPerPixel = layout.bitCount / 8u;
    return rows;
}

// Pixels made row by row as a writer takes them, so that a save need not hold a second whole
// picture: 24- or 32-bit rows, blue first, each width x bitCount / 8 bytes without padding, in
// memory order (0 is the bottom row). copyRow may be called from several threads at once.
struct RowSource {
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitCount = 0;
    std::function<void(size_t row, uint8_t* out)> copyRow;
};

// Header fields read straight from the block, with the rules of the 40- and 12-byte headers.
// A null block reads as width 0, height 0.
int32_t DibGetWidth(const Dib& dib);
int32_t DibGetHeight(const Dib& dib);
uint16_t DibGetBitCount(const Dib& dib);
uint32_t DibGetColorCount(const Dib& dib);
size_t DibGetColorTableBytes(const Dib& dib);

// First (bottom) pixel row, or null when the block does not hold a usable image.
uint8_t* DibPixelStart(Dib& dib);
const uint8_t* DibPixelStart(const Dib& dib);

// ((width x bitCount + 31) / 32) x 4.
size_t DibRowStride(uint32_t width, uint32_t bitCount);

std::array<uint8_t, kInfoHeaderSize> DibMakeHeader(int32_t width, int32_t height, uint16_t bitCount,
                                                   uint32_t coloursImportant);

// Pixel rows without padding, in the block's row order (bottom first) and byte order (blue
// first). bytesPerPixel 3 out of a 32-bit image drops the fourth byte. Empty on failure.
std::vector<uint8_t> DibToPlainRows(const Dib& dib, int bytesPerPixel);

// A new 24- or 32-bit image from plain rows already bottom-first and blue-first.
Dib DibFromPlainRows(const uint8_t* rows, size_t rowsSize, int32_t width, int32_t height,
                     uint16_t bitCount);

// Exchanges the first and third byte of each of width x height pixels.
bool SwapRedBlue(uint8_t* buffer, size_t width, size_t height, int bytesPerPixel);
// Reverses the order of rowCount rows of rowLength bytes in place.
bool FlipRows(uint8_t* buffer, size_t rowLength, size_t rowCount);
// Three equal bytes per grey byte.
void ExpandGrayRow(const uint8_t* grey, size_t width, uint8_t* destination);

// The image as a new 24- or 32-bit image of the same size: palette pixels looked up, 16-bit
// pixels (5-5-5) widened, a fourth byte dropped or an alpha of 255 added. A clone when the bit
// count already matches. Null for an unusable image or another target bit count.
// The display palette of a picture with a colour table: one 0xffRRGGBB entry per colour (the
// low 16 bits of the colour count), as the table gives it. Empty for pictures without one, which
// are drawn without a palette.
std::vector<uint32_t> DibBuildPalette(const Dib& dib);

Dib dibConvertToBitCount(const Dib& dib, uint16_t bitCount);

// One row of `width` pixels of a 24- or 32-bit picture brought to 24 or 32 bits, as
// dibConvertToBitCount brings it: alpha 255 where the source has none, dropped where the target
// has none.
void dibConvertTrueColourRow(const uint8_t* source, uint16_t sourceBitCount, int32_t width,
                             uint8_t* target, uint16_t targetBitCount);

} // namespace ombri
