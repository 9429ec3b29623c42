#include "formats/gif.h"

#include "core/file_io.h"
#include "core/limits.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace ombri {

namespace {

// The file is read in pieces of this size: only one piece, the LZW tables and one row are held
// besides the image.
constexpr size_t kChunkBytes = 32768;
constexpr size_t kHeaderBytes = 6;
constexpr size_t kScreenDescriptorBytes = 7;
constexpr size_t kImageDescriptorBytes = 9;
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kTablePresent = 0x80;
constexpr uint8_t kInterlaced = 0x40;

constexpr unsigned kMaxCodeBits = 12;
constexpr unsigned kMaxCodes = 1u << kMaxCodeBits;
constexpr unsigned kMaxMinimumCodeSize = 8;
// A code never yields more than kMaxCodes pixels, and a data byte holds at most four codes (a
// code is at least two bits wide): a file shorter than its picture could ever fill is refused
// before the picture is allocated.
constexpr uint64_t kMaxPixelsPerDataByte = 4 * kMaxCodes;

// Where the chunks come from: an open file or a block already in memory.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Up to `count` bytes; fewer only at the end of the data or on a read error.
    virtual size_t read(uint8_t* into, size_t count) = 0;
    // Bytes not yet handed out.
    virtual uint64_t remaining() const = 0;
    virtual bool failed() const = 0;
};

class FileSource : public ByteSource {
  public:
    explicit FileSource(std::FILE* file) : m_file(file)
    {
        // The size of anything but a plain file is unknown; it is then taken as unbounded.
        struct stat info {};
        if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode))
            m_remaining = static_cast<uint64_t>(info.st_size);
    }
    size_t read(uint8_t* into, size_t count) override
    {
        const size_t got = std::fread(into, 1, count, m_file);
        m_remaining -= std::min<uint64_t>(m_remaining, got);
        return got;
    }
    uint64_t remaining() const override { return m_remaining; }
    bool failed() const override { return std::ferror(m_file) != 0; }

  private:
    std::FILE* m_file;
    uint64_t m_remaining = UINT64_MAX / 2;
};

// Hands out a block in memory the way the file is read, so that both run the same decoder.
class MemorySource : public ByteSource {
  public:
    explicit MemorySource(ByteView bytes) : m_bytes(bytes) {}
    size_t read(uint8_t* into, size_t count) override
    {
        const size_t n = std::min(count, m_bytes.size - m_offset);
        if (n != 0)
            std::memcpy(into, m_bytes.data + m_offset, n);
        m_offset += n;
        return n;
    }
    uint64_t remaining() const override { return m_bytes.size - m_offset; }
    bool failed() const override { return false; }

  private:
    ByteView m_bytes;
    size_t m_offset = 0; // never beyond m_bytes.size
};

// The file as a stream of bytes, refilled one chunk at a time.
class ChunkedInput {
  public:
    explicit ChunkedInput(ByteSource& source) : m_source(source), m_chunk(kChunkBytes) {}

    bool next(uint8_t& byte)
    {
        if (m_next == m_end && !refill())
            return false;
        byte = *m_next++;
        return true;
    }

    bool read(uint8_t* out, size_t count) { return readSome(out, count) == count; }

    // Fewer than `count` bytes only at the end of the file.
    size_t readSome(uint8_t* out, size_t count)
    {
        size_t done = 0;
        while (done != count) {
            if (m_next == m_end && !refill())
                break;
            const size_t n = std::min(count - done, static_cast<size_t>(m_end - m_next));
            std::memcpy(out + done, m_next, n);
            m_next += n;
            done += n;
        }
        return done;
    }

    bool skip(size_t count)
    {
        while (count != 0) {
            if (m_next == m_end && !refill())
                return false;
            const size_t n = std::min(count, static_cast<size_t>(m_end - m_next));
            m_next += n;
            count -= n;
        }
        return true;
    }

    uint64_t remaining() const
    {
        return m_source.remaining() + static_cast<size_t>(m_end - m_next);
    }
    bool failed() const { return m_source.failed(); }

  private:
    bool refill()
    {
        const size_t got = m_source.read(m_chunk.data(), m_chunk.size());
        m_next = m_chunk.data();
        m_end = m_next + got;
        return got != 0;
    }

    ByteSource& m_source;
    std::vector<uint8_t> m_chunk;
    const uint8_t* m_next = nullptr;
    const uint8_t* m_end = nullptr;
};

// Extensions and image data are chains of sub-blocks: a length byte, that many bytes, and so on
// up to a length of 0.
bool skipSubBlocks(ChunkedInput& in)
{
    uint8_t length = 0;
    while (in.next(length) && length != 0) {
        if (!in.skip(length))
            return false;
    }
    return length == 0 && !in.failed();
}

// Eight bytes at once, first byte lowest: the decoder's hot loop moves bit and value groups this
// way rather than byte by byte.
inline uint64_t loadLe64(const uint8_t* p)
{
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    return word;
}

inline void storeLe64(uint8_t* p, uint64_t word)
{
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    std::memcpy(p, &word, sizeof word);
}

// The LZW codes of the image data, read least significant bit first. The sub-block framing is
// stripped a few kilobytes at a time, so that taking a code is a shift and a mask out of a 64-bit
// store that is topped up eight bytes at once.
class CodeReader {
  public:
    explicit CodeReader(ChunkedInput& in) : m_in(in) {}

    // False when the data ends: at the empty sub-block, or where the file ends early.
    bool read(unsigned width, unsigned& code)
    {
        if (m_bitCount < width && !refill(width))
            return false;
        code = static_cast<unsigned>(m_bits) & ((1u << width) - 1);
        m_bits >>= width;
        m_bitCount -= width;
        return true;
    }

  private:
    bool refill(unsigned width)
    {
        if (m_end - m_next >= 8) {
            m_bits |= loadLe64(m_next) << m_bitCount;
            m_next += (63 - m_bitCount) / 8;
            m_bitCount |= 56;
            return true;
        }
        while (m_bitCount <= 56 && (m_next != m_end || unframe())) {
            m_bits |= uint64_t{*m_next++} << m_bitCount;
            m_bitCount += 8;
        }
        return m_bitCount >= width;
    }

    // Moves what is left of the data to the front and appends the payload of following
    // sub-blocks; false when there is nothing more.
    bool unframe()
    {
        const size_t kept = static_cast<size_t>(m_end - m_next);
        std::memmove(m_data.data(), m_next, kept);
        size_t filled = kept;
        while (!m_ended && m_data.size() - filled >= 255) {
            if (m_blockLeft == 0) {
                uint8_t length = 0;
                if (!m_in.next(length) || length == 0) {
                    m_ended = true;
                    break;
                }
                m_blockLeft = length;
            }
            const size_t got = m_in.readSome(m_data.data() + filled, m_blockLeft);
            filled += got;
            m_blockLeft -= static_cast<unsigned>(got);
            if (m_blockLeft != 0)
                m_ended = true; // the file ends inside a sub-block
        }
        m_next = m_data.data();
        m_end = m_next + filled;
        return filled != 0;
    }

    ChunkedInput& m_in;
    std::array<uint8_t, 4096> m_data{};
    const uint8_t* m_next = m_data.data();
    const uint8_t* m_end = m_data.data();
    uint64_t m_bits = 0;
    unsigned m_bitCount = 0;
    unsigned m_blockLeft = 0;
    bool m_ended = false;
};

// What the file says about its first image, read up to the start of the image data.
struct GifImage {
    uint16_t width = 0;
    uint16_t height = 0;
    bool interlaced = false;
    bool hasTable = false;
    unsigned tableBits = 1; // entries = 2^tableBits
    std::array<uint8_t, 768> table{};
    unsigned minimumCodeSize = 0;
};

bool isGifHeader(const uint8_t* h)
{
    const auto lower = [](uint8_t c) { return static_cast<char>(std::tolower(c)); };
    if (lower(h[0]) != 'g' || lower(h[1]) != 'i' || lower(h[2]) != 'f')
        return false;
    const char version[3] = {lower(h[3]), lower(h[4]), lower(h[5])};
    return std::memcmp(version, "87a", 3) == 0 || std::memcmp(version, "89a", 3) == 0;
}

// A table replaces the one before it entirely: entries it does not fill are black.
bool readColourTable(ChunkedInput& in, uint8_t flags, GifImage& image)
{
    image.tableBits = (flags & 7u) + 1;
    image.hasTable = true;
    image.table.fill(0);
    return in.read(image.table.data(), size_t{3} << image.tableBits);
}

// Skips extensions and anything that is neither an extension nor an image, up to the first
// image separator. Each extension is skipped by its sub-block chain, which covers the graphic
// control, plain text and application extensions' fixed blocks as well.
bool findImageSeparator(ChunkedInput& in)
{
    uint8_t byte = 0;
    while (in.next(byte)) {
        if (byte == kImageSeparator)
            return true;
        uint8_t label = 0;
        if (byte == kExtensionIntroducer && (!in.next(label) || !skipSubBlocks(in)))
            return false;
    }
    return false;
}

Result<GifImage> readUpToImageData(ChunkedInput& in)
{
    uint8_t header[kHeaderBytes + kScreenDescriptorBytes];
    if (!in.read(header, kHeaderBytes) || !isGifHeader(header))
        return fail(in.failed() ? "cannot read the file" : "not a GIF file");
    if (!in.read(header + kHeaderBytes, kScreenDescriptorBytes))
        return fail("the file ends inside its header");
    GifImage image;
    // Without any table the screen's size code still chooses the default table.
    const uint8_t screenFlags = header[kHeaderBytes + 4];
    image.tableBits = (screenFlags & 7u) + 1;
    if ((screenFlags & kTablePresent) && !readColourTable(in, screenFlags, image))
        return fail("the file ends inside its colour table");
    if (!findImageSeparator(in))
        return fail(in.failed() ? "cannot read the file" : "the file holds no image");

    uint8_t descriptor[kImageDescriptorBytes];
    if (!in.read(descriptor, sizeof descriptor))
        return fail("the file ends inside its image descriptor");
    // The left and top offsets within the logical screen are not used: the picture is the
    // image itself.
    image.width = readLe16(descriptor + 4);
    image.height = readLe16(descriptor + 6);
    const uint8_t flags = descriptor[8];
    image.interlaced = (flags & kInterlaced) != 0;
    if ((flags & kTablePresent) && !readColourTable(in, flags, image))
        return fail("the file ends inside its colour table");
    uint8_t codeSize = 0;
    if (!in.next(codeSize))
        return fail("the file ends before its image data");
    if (codeSize < 1 || codeSize > kMaxMinimumCodeSize)
        return fail("bad LZW code size " + std::to_string(codeSize));
    image.minimumCodeSize = codeSize;
    return image;
}

uint16_t bitCountFor(unsigned tableBits)
{
    return tableBits == 1 ? 1 : tableBits <= 4 ? 4 : 8;
}

// The tables a file without any colour table is shown with: black and white, the 16 standard
// colours, or a grey ramp.
void writeDefaultTable(uint8_t* entries, unsigned colourCount)
{
    static const uint8_t kSixteen[16][3] = {
        {0, 0, 0},     {0, 0, 128},     {0, 128, 0},     {0, 128, 128},  {128, 0, 0}, {128, 0, 128},
        {128, 128, 0}, {128, 128, 128}, {192, 192, 192}, {0, 0, 255},    {0, 255, 0}, {0, 255, 255},
        {255, 0, 0},   {255, 0, 255},   {255, 255, 0},   {255, 255, 255}};
    for (unsigned i = 0; i < colourCount; ++i) {
        uint8_t* entry = entries + 4 * i; // blue, green, red, reserved
        if (colourCount == 2) {
            std::memset(entry, i == 0 ? 0 : 255, 3);
        } else if (colourCount == 16) {
            entry[0] = kSixteen[i][2];
            entry[1] = kSixteen[i][1];
            entry[2] = kSixteen[i][0];
        } else {
            std::memset(entry, static_cast<int>(i), 3);
        }
    }
}

void writeColourTable(uint8_t* entries, unsigned colourCount, const GifImage& image)
{
    if (!image.hasTable) {
        writeDefaultTable(entries, colourCount);
        return;
    }
    for (unsigned i = 0; i < colourCount; ++i) {
        entries[4 * i] = image.table[3 * i + 2];
        entries[4 * i + 1] = image.table[3 * i + 1];
        entries[4 * i + 2] = image.table[3 * i];
    }
}

// Checked before allocating: a corrupt descriptor can claim 65535 x 65535 pixels.
Result<Dib> allocateImage(const GifImage& image, uint64_t dataBytes)
{
    if (image.width == 0 || image.height == 0)
        return fail("the image has no pixels");
    const uint16_t bitCount = bitCountFor(image.tableBits);
    const unsigned colourCount = 1u << bitCount;
    auto stride = checkedRowStride(image.width, bitCount);
    auto pixelBytes = stride ? checkedImageBytes(*stride, image.height) : std::nullopt;
    if (!pixelBytes || !pixelCountAllowed(image.width, image.height))
        return fail("the image is too large");
    if (uint64_t{image.width} * image.height > dataBytes * kMaxPixelsPerDataByte)
        return fail("the file is too short for the image it describes");

    const size_t tableBytes = size_t{colourCount} * 4;
    Dib dib = Dib::allocate(kInfoHeaderSize + tableBytes + *pixelBytes);
    if (dib.isNull())
        return fail("out of memory");
    auto header = DibMakeHeader(image.width, image.height, bitCount, 0);
    writeLe32(&header[20], static_cast<uint32_t>(*pixelBytes));
    writeLe32(&header[32], colourCount);
    std::memcpy(dib.data(), header.data(), header.size());
    writeColourTable(dib.data() + kInfoHeaderSize, colourCount, image);
    return dib;
}

// The decoder writes the first eight values of a string with one 8-byte store; the row buffer
// has this much room past the row's end for the values beyond the string.
constexpr size_t kRowSlack = 8;

// Takes decoded pixel values one row at a time and puts each row in its place: rows come top
// first (or in the four interlace passes) while the packed DIB keeps the bottom row first.
class RowPlacer {
  public:
    RowPlacer(Dib& image, const DibLayout& layout, bool interlaced)
        : m_pixels(image.data() + layout.pixelOffset), m_stride(layout.stride),
          m_width(static_cast<size_t>(layout.width)), m_height(static_cast<size_t>(layout.height)),
          m_bitCount(layout.bitCount), m_interlaced(interlaced), m_row(m_width + kRowSlack)
    {
    }

    bool done() const { return m_rowsDone == m_height; }
    bool anyPixel() const { return m_rowsDone != 0 || m_x != 0; }
    size_t room() const { return m_width - m_x; }
    // Where the next room() values go; up to room() + kRowSlack bytes may be written there.
    uint8_t* cursor() { return m_row.data() + m_x; }

    // The caller has written `count` values, no more than room(), at cursor().
    void advance(size_t count)
    {
        m_x += count;
        if (m_x == m_width)
            finishRow();
    }

    // Data that ends in the middle of a row keeps the values it delivered.
    void flushPartialRow()
    {
        if (!done() && m_x != 0)
            store(m_x);
    }

  private:
    void finishRow()
    {
        store(m_width);
        m_x = 0;
        if (++m_rowsDone != m_height)
            m_rowNumber = nextRowNumber();
    }

    size_t nextRowNumber()
    {
        if (!m_interlaced)
            return m_rowNumber + 1;
        static constexpr size_t kStep[4] = {8, 8, 4, 2};
        static constexpr size_t kStart[4] = {0, 4, 2, 1};
        size_t row = m_rowNumber + kStep[m_pass];
        // Every row belongs to exactly one pass, so the passes run out only after the last row.
        while (row >= m_height && m_pass < 3)
            row = kStart[++m_pass];
        return row;
    }

    // Values are already below 2^bitCount: the LZW table masks them when it is built.
    void store(size_t count)
    {
        const uint8_t* in = m_row.data();
        uint8_t* out = m_pixels + (m_height - 1 - m_rowNumber) * m_stride;
        if (m_bitCount == 8) {
            std::memcpy(out, in, count);
        } else if (m_bitCount == 4) {
            size_t i = 0;
            for (; i + 1 < count; i += 2)
                *out++ = static_cast<uint8_t>(in[i] << 4 | in[i + 1]);
            if (i < count)
                *out = static_cast<uint8_t>(in[i] << 4);
        } else {
            // Eight values of 0 or 1 gather into one byte, the first in the top bit, by one
            // multiplication: each lands on its own bit and no two sums carry.
            size_t i = 0;
            for (; i + 8 <= count; i += 8)
                *out++ = static_cast<uint8_t>((loadLe64(in + i) * 0x8040201008040201u) >> 56);
            uint8_t byte = 0;
            for (size_t j = i; j < count; ++j)
                byte |= static_cast<uint8_t>(in[j] << (7 - (j - i)));
            if (i < count)
                *out = byte;
        }
    }

    uint8_t* m_pixels;
    size_t m_stride;
    size_t m_width;
    size_t m_height;
    uint16_t m_bitCount;
    bool m_interlaced;
    std::vector<uint8_t> m_row;
    size_t m_x = 0;
    size_t m_rowNumber = 0;
    size_t m_rowsDone = 0;
    size_t m_pass = 0;
};

enum class LzwEnd { ImageFull, EndCode, DataEnded, CodeBeyondTable };

// The GIF flavour of LZW. Besides the usual prefix and last value, each entry keeps its string's
// length and its first eight values packed in one word (first value in the low byte): most
// strings are that short and go to the row with a single store, without walking the chain.
class LzwDecoder {
  public:
    LzwDecoder(unsigned minimumCodeSize, uint16_t bitCount)
        : m_minimumCodeSize(minimumCodeSize), m_clearCode(1u << minimumCodeSize),
          m_endCode(m_clearCode + 1)
    {
        // A value too large for the image's bit count would spill into its neighbours when
        // packed; it is cut to the bit count here, once, rather than for every pixel.
        const unsigned mask = (1u << bitCount) - 1;
        for (unsigned code = 0; code < m_clearCode; ++code) {
            m_prefix[code] = 0;
            m_suffix[code] = static_cast<uint8_t>(code & mask);
            m_head[code] = m_suffix[code];
            m_length[code] = 1;
        }
        reset();
    }

    LzwEnd decode(CodeReader& codes, RowPlacer& rows)
    {
        while (!rows.done()) {
            unsigned code = 0;
            if (!codes.read(m_codeWidth, code))
                return LzwEnd::DataEnded;
            if (code == m_clearCode) {
                reset();
                continue;
            }
            if (code == m_endCode)
                return LzwEnd::EndCode;
            // A code may name the entry being defined by this very step (its string is the
            // previous one plus its own first value), but never one beyond it.
            if (code > m_nextFree || (code == m_nextFree && m_previous == kNoCode))
                return LzwEnd::CodeBeyondTable;
            if (m_previous != kNoCode && m_nextFree < kMaxCodes)
                addEntry(firstValue(code == m_nextFree ? m_previous : code));
            emit(code, rows);
            m_previous = code;
        }
        return LzwEnd::ImageFull;
    }

  private:
    static constexpr unsigned kNoCode = kMaxCodes;
    static constexpr size_t kHeadValues = 8;

    uint8_t firstValue(unsigned code) const { return static_cast<uint8_t>(m_head[code]); }

    void reset()
    {
        m_codeWidth = m_minimumCodeSize + 1;
        m_nextFree = m_clearCode + 2;
        m_previous = kNoCode;
    }

    void addEntry(uint8_t lastValue)
    {
        const size_t length = m_length[m_previous];
        uint64_t head = m_head[m_previous];
        if (length < kHeadValues)
            head |= uint64_t{lastValue} << (8 * length);
        m_prefix[m_nextFree] = static_cast<uint16_t>(m_previous);
        m_suffix[m_nextFree] = lastValue;
        m_head[m_nextFree] = head;
        m_length[m_nextFree] = static_cast<uint16_t>(length + 1);
        ++m_nextFree;
        if (m_nextFree == (1u << m_codeWidth) && m_codeWidth < kMaxCodeBits)
            ++m_codeWidth;
    }

    // Writes the last `count` values of the string backwards from `end`. Every chain uses only
    // entries defined since the last clear code, each one value shorter than the one before.
    void writeTail(unsigned code, size_t count, uint8_t* end) const
    {
        for (; count != 0; --count) {
            *--end = m_suffix[code];
            code = m_prefix[code];
        }
    }

    // Values past the last row are dropped.
    void emit(unsigned code, RowPlacer& rows)
    {
        const size_t length = m_length[code];
        if (length <= rows.room()) {
            // The store may run past the string; what it writes there is overwritten by the
            // next string or lies in the row buffer's slack.
            storeLe64(rows.cursor(), m_head[code]);
            if (length > kHeadValues)
                writeTail(code, length - kHeadValues, rows.cursor() + length);
            rows.advance(length);
            return;
        }
        writeTail(code, length, m_stack.data() + length);
        const uint8_t* next = m_stack.data();
        for (size_t left = length; left != 0 && !rows.done();) {
            const size_t n = std::min(left, rows.room());
            std::memcpy(rows.cursor(), next, n);
            rows.advance(n);
            next += n;
            left -= n;
        }
    }

    const unsigned m_minimumCodeSize;
    const unsigned m_clearCode;
    const unsigned m_endCode;
    unsigned m_codeWidth = 0;
    unsigned m_nextFree = 0;
    unsigned m_previous = kNoCode;
    std::array<uint64_t, kMaxCodes> m_head{};
    std::array<uint16_t, kMaxCodes> m_prefix{};
    std::array<uint16_t, kMaxCodes> m_length{};
    std::array<uint8_t, kMaxCodes> m_suffix{};
    // No string is longer than the table has entries.
    std::array<uint8_t, kMaxCodes> m_stack{};
};

Result<Dib> decodeGif(ByteSource& source)
{
    ChunkedInput in(source);
    auto parsed = readUpToImageData(in);
    if (!parsed)
        return fail(parsed.error());
    const GifImage& image = parsed.value();
    auto allocated = allocateImage(image, in.remaining());
    if (!allocated)
        return allocated;
    Dib dib = allocated.take();
    const auto layout = dibGetLayout(dib);
    if (!layout)
        return fail("the image is too large");

    RowPlacer rows(dib, *layout, image.interlaced);
    CodeReader codes(in);
    // The decoder's tables are 60 KiB: on the heap, not the stack.
    auto lzw = std::make_unique<LzwDecoder>(image.minimumCodeSize, layout->bitCount);
    switch (lzw->decode(codes, rows)) {
    case LzwEnd::ImageFull:
        return dib;
    case LzwEnd::CodeBeyondTable:
        return fail("the image data holds an LZW code beyond its table");
    case LzwEnd::EndCode:
    case LzwEnd::DataEnded:
        break;
    }
    if (in.failed())
        return fail("cannot read the file");
    // Data that stops early keeps the rows decoded so far; the rest of the picture stays the
    // first colour.
    if (!rows.anyPixel())
        return fail("the image data ends before its first pixel");
    rows.flushPartialRow();
    return dib;
}

} // namespace

Result<Dib> ReadGifFile(const std::string& path)
{
    auto file = openRegularStream(path);
    if (!file)
        return fail(file.error());
    FileSource source(file.value().get());
    return decodeGif(source);
}

Result<Dib> readGifBytes(ByteView file)
{
    if (!file.data)
        return fail("not a GIF file");
    MemorySource source(file);
    return decodeGif(source);
}

} // namespace ombri
